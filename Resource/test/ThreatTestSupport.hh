#ifndef KORVAN_RESOURCE_TEST_THREATTESTSUPPORT_HH
#define KORVAN_RESOURCE_TEST_THREATTESTSUPPORT_HH

// An engine with everything the resource solver components need: constraint
// engine with the profile propagator, schema, plan database, profile and
// detector factories, the solver's component and
// match finder managers with the module's components registered; resources
// whose flaw record a test can write directly.

#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "Resource/component/MIRT_Reservoir.hh"
#include "Resource/component/MIRT_Reusable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Solvers/base/Component.hh"
#include "Solvers/base/MatchingEngine.hh"
#include "Utils/base/Engine.hh"
#include "Utils/base/Error.hh"

#include <functional>
#include <memory>
#include <string>
#include <tinyxml.h>
#include <vector>

namespace KORVAN {
namespace MIRT {

// The Error that f raised; one with an empty condition when it raised none.
Error errorOf(const std::function<void()>& f);

// A configuration element parsed from text.
std::unique_ptr<TiXmlElement> xml(const std::string& text);

// Judges nothing, so that the flaw marks stay as a test set them.
class SilentFVDetector : public FVDetector {
public:
  explicit SilentFVDetector(Id<Resource> res) : FVDetector(res) {}
  bool detect(InstantId) override { return false; }
};

template <class Base>
class Flawable : public Base {
public:
  template <class... Args>
  Flawable(Args... args) : Base(args...) {}
  using Base::notifyFlawed;
  using Base::notifyNoLongerFlawed;
};

typedef Flawable<Reservoir> ThreatReservoir;
typedef Flawable<Reusable> ThreatReusable;

class ThreatWorld {
public:
  ThreatWorld();
  ~ThreatWorld();

  ThreatReservoir* reservoir(const std::string& name, double initLevel, double lowerLimit, double upperLimit,
                             const std::string& profile = "TimetableProfile",
                             const std::string& detector = "SilentFVDetector");
  ThreatReusable* reusable(const std::string& name, double capacity, const std::string& profile = "FlowProfile",
                           const std::string& detector = "ReusableFVDetector", const std::string& type = "Reusable");

  TokenId consumer(const std::string& object, int lb, int ub, double quantity);
  TokenId producer(const std::string& object, int lb, int ub, double quantity);
  TokenId uses(const std::string& object, int startLb, int startUb, int duration, double quantity);

  // Marks the instant of the resource at time flawed with the given flags and
  // magnitudes and records it with the resource, as a detector would.
  InstantId flaw(ThreatReservoir* res, int time, bool lower, bool upper, double lowerMagnitude = 0,
                 double upperMagnitude = 0);

  static InstantId instantAt(const Id<Profile>& profile, int time);

  Engine engine;
  ConstraintEngine* ce;
  Schema* schema;
  PlanDatabase* db;
  SOLVERS::ComponentFactoryMgr* factories;
  SOLVERS::MatchFinderMgr* finders;
};

}
}

#endif
