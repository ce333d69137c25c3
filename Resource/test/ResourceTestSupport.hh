#ifndef KORVAN_RESOURCE_TEST_RESOURCETESTSUPPORT_HH
#define KORVAN_RESOURCE_TEST_RESOURCETESTSUPPORT_HH

// An engine with a plan database, the profile propagator, the profile and
// detector factories and, on request, the solver's managers with the module's
// components; resources that expose and record what their detector and the
// plan database see of them.

#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "Resource/base/MIRT_ResourceTokenRelation.hh"
#include "Resource/component/MIRT_DurativeTokens.hh"
#include "Resource/component/MIRT_InstantTokens.hh"
#include "Resource/component/MIRT_Reservoir.hh"
#include "Resource/component/MIRT_Reusable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Resource/test/TestHelpers.hh"
#include "Solvers/base/Component.hh"
#include "Solvers/base/MatchingEngine.hh"
#include "Utils/base/Engine.hh"

#include <memory>
#include <string>
#include <tinyxml.h>
#include <vector>

namespace KORVAN {
namespace MIRT {

// A configuration element parsed from text.
std::unique_ptr<TiXmlElement> xml(const std::string& text);

// Judges nothing: leaves every mark as the test set it.
class QuietFVDetector : public FVDetector {
public:
  explicit QuietFVDetector(Id<Resource> res) : FVDetector(res) {}
  bool detect(InstantId) override { return false; }
};

// What a resource announces to the plan database, in order: "+key" for an
// ordering required, "-key" for one no longer required.
typedef std::vector<std::string> Announcements;

// Test access to the resource operations that the detector and the
// token-to-resource constraint use.
inline std::string timeOf(const InstantId& inst) {
  return inst.isValid() ? std::to_string(inst->getTime()) : std::string("?");
}

template <class Base>
class Open : public Base {
public:
  template <class... Args>
  Open(Args... args) : Base(args...) {}

  void notifyOrderingRequired(const TokenId& token) override {
    announcements.push_back("+" + std::to_string(token->getKey()));
    Base::notifyOrderingRequired(token);
  }
  void notifyOrderingNoLongerRequired(const TokenId& token) override {
    announcements.push_back("-" + std::to_string(token->getKey()));
    Base::notifyOrderingNoLongerRequired(token);
  }

  // The detector's reports, in order: "violated(t,problem)", "noLongerViolated(t)", "flawed(t)",
  // "noLongerFlawed(t)".
  void notifyViolated(InstantId inst, ResourceProblem::Type problem) override {
    if (muted)
      return;
    calls.push_back("violated(" + timeOf(inst) + "," + ResourceProblem::getString(problem) + ")");
    Base::notifyViolated(inst, problem);
  }
  void notifyNoLongerViolated(InstantId inst) override {
    if (muted)
      return;
    calls.push_back("noLongerViolated(" + timeOf(inst) + ")");
    Base::notifyNoLongerViolated(inst);
  }
  void notifyFlawed(InstantId inst) override {
    if (muted)
      return;
    calls.push_back("flawed(" + timeOf(inst) + ")");
    Base::notifyFlawed(inst);
  }
  void notifyNoLongerFlawed(InstantId inst) override {
    if (muted)
      return;
    calls.push_back("noLongerFlawed(" + timeOf(inst) + ")");
    Base::notifyNoLongerFlawed(inst);
  }

  // Marks the instant flawed or not and tells the resource, as a detector would.
  void markFlawed(const InstantId& inst, bool flawed) {
    inst->setFlawed(flawed);
    if (flawed)
      notifyFlawed(inst);
    else
      notifyNoLongerFlawed(inst);
  }

  using Base::init;
  using Base::resetViolations;
  void notifyDeleted(InstantId inst) override {
    if (onDeleted)
      onDeleted(inst);
    if (!muted)
      Base::notifyDeleted(inst);
  }
  // Runs first when the profile deletes an instant, which is still valid then.
  std::function<void(const InstantId&)> onDeleted;
  using Base::getRTRConstraint;
  using Base::m_flawedTokens;
  using Base::m_flawedInstants;
  using Base::m_transactionsToTokens;

  Announcements announcements;
  std::vector<std::string> calls;
  // While set, the detector's reports go nowhere: a second walk may run
  // beside the profile's without touching the resource.
  bool muted = false;
};

typedef Open<Reservoir> TestReservoir;
typedef Open<Reusable> TestReusable;

class ResourceWorld {
public:
  explicit ResourceWorld(bool allowViolations = false, bool withSolvers = false);
  ~ResourceWorld();

  // A reservoir or reusable resource with the given profile and detector.
  TestReservoir* reservoir(const std::string& name, double initLevel, double lowerLimit, double upperLimit,
                           const std::string& profile = "TimetableProfile",
                           const std::string& detector = "TimetableFVDetector",
                           double maxInst = 1000, double maxTotal = 1000);
  TestReusable* reusable(const std::string& name, double capacity, const std::string& profile = "TimetableProfile",
                         const std::string& detector = "ReusableFVDetector", const std::string& type = "Reusable");

  // Closed and activated tokens on the named object ("" for any object of the type).
  TokenId consumer(const std::string& object, int lb, int ub, double qlb, double qub);
  TokenId producer(const std::string& object, int lb, int ub, double qlb, double qub);
  TokenId uses(const std::string& object, int startLb, int startUb, int duration, double quantity);

  bool propagate() { return ce->propagate(); }
  // "precedes" from a's variable to b's; the caller discards it, or the tokens take it along.
  ConstraintId precedes(const ConstrainedVariableId& a, const ConstrainedVariableId& b);

  // Marks the instant at time flawed with the given sides and magnitudes and
  // records it with the resource, as a detector would.
  InstantId flaw(TestReservoir* res, int time, bool lower, bool upper, double lowerMagnitude = 0,
                 double upperMagnitude = 0);

  // The instants of a profile, by time.
  static std::vector<InstantId> instants(const Id<Profile>& profile);
  static InstantId instantAt(const Id<Profile>& profile, int time);

  Engine engine;
  ConstraintEngine* ce;
  Schema* schema;
  PlanDatabase* db;
  SOLVERS::ComponentFactoryMgr* factories = nullptr;
  SOLVERS::MatchFinderMgr* finders = nullptr;
};

}
}

#endif
