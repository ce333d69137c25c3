#ifndef KORVAN_TEMPORALNETWORK_TEMPORALADVISOR_HH
#define KORVAN_TEMPORALNETWORK_TEMPORALADVISOR_HH

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "Utils/base/Id.hh"

namespace KORVAN {

class TemporalAdvisor;
typedef Id<TemporalAdvisor> TemporalAdvisorId;
class Token;
typedef Id<Token> TokenId;
class TemporalPropagator;

/// Answers questions about time variables from the "Temporal" propagator's network: the
/// bounds on the distance between two time variables, and whether one can precede another.
/// Variables that are not time points of the network (or an engine without that propagator)
/// are answered from the difference of their present bounds.
class TemporalAdvisor {
public:
  explicit TemporalAdvisor(const ConstraintEngineId& constraintEngine);
  virtual ~TemporalAdvisor();

  const TemporalAdvisorId& getId() const { return m_id; }
  const ConstraintEngineId& getConstraintEngine() const { return m_constraintEngine; }

  /// Bounds on second - first in every solution. With exact true, the shortest-path distances
  /// of the network (every temporal constraint and every present domain counts); otherwise the
  /// difference of the present bounds. Bounds are clipped to plus or minus the infinite time.
  virtual IntervalIntDomain getTemporalDistanceDomain(const ConstrainedVariableId& first,
                                                      const ConstrainedVariableId& second,
                                                      bool exact);

  /// True when first <= second is still possible.
  virtual bool canPrecede(const ConstrainedVariableId& first, const ConstrainedVariableId& second);

  /// True when first's end may still lie at or before second's start. Defined with the plan
  /// database, the layer that knows tokens.
  bool canPrecede(const TokenId& first, const TokenId& second);

private:
  TemporalAdvisor(const TemporalAdvisor&) = delete;
  TemporalAdvisor& operator=(const TemporalAdvisor&) = delete;

  TemporalAdvisorId m_id;
  ConstraintEngineId m_constraintEngine;
  /// The propagator found under the temporal name at the last question, and its cast.
  PropagatorId m_temporalId;
  TemporalPropagator* m_temporal;
};

} // namespace KORVAN

#endif
