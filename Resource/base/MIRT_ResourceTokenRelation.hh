#ifndef KORVAN_MIRT_RESOURCETOKENRELATION_HH
#define KORVAN_MIRT_RESOURCETOKENRELATION_HH

#include "ConstraintEngine/base/Constraint.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_ResourceProblem.hh"

#include <string>
#include <vector>

namespace KORVAN {
namespace MIRT {

class Resource;

// The standard constraint of every resource token, over its state and object
// variables: the one road by which a token reaches a profile-based resource.
// It narrows nothing; it watches every change of its two variables (and asks
// never to be scheduled), handing the token to its resource once the token is
// active and its object variable names one resource, and taking it back when
// a reset or relaxation ends that. A resource also marks it violated, with
// the problem and the time, when the token is on the side of a violation.
class ResourceTokenRelation : public Constraint {
public:
  static const int STATE_VAR = 0;
  static const int OBJECT_VAR = 1;

  static const LabelStr& CONSTRAINT_NAME();
  static const LabelStr& PROPAGATOR_NAME();

  ResourceTokenRelation(const ConstraintEngineId& constraintEngine,
                        const std::vector<ConstrainedVariableId>& scope, const TokenId& tok);
  virtual ~ResourceTokenRelation();

  // "<problem> for resource <name> at instant <time>".
  std::string getViolationExpl() const override;

  // The resource that holds the token, or the empty handle.
  const Id<Resource>& getResource() const { return m_resource; }

protected:
  friend class Resource;
  void notifyViolated(ResourceProblem::Type problem, InstantId inst);

private:
  static const std::vector<ConstrainedVariableId>& checkScope(const std::vector<ConstrainedVariableId>& scope,
                                                              const TokenId& tok);

  void handleExecute() override;
  bool canIgnore(const ConstrainedVariableId& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;
  // Binds to the one resource of the object domain and hands the token to it.
  void handOver(bool fromConstructor);

  TokenId m_token;
  Id<Resource> m_resource;
  int m_violationTime;
  ResourceProblem::Type m_violationProblem;
  // The name of the resource of the last violation, kept so that the
  // explanation still reads after the token has left that resource.
  std::string m_violationResourceName;
};

}
}

#endif
