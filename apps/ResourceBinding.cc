// Links the resource module into korvan-run: the host initialises
// ModuleResource with its engine, and prints each resource's limits and level
// envelope (one line per instant) after the plan.

#include <list>
#include <memory>
#include <ostream>

#include "PlanDatabase/base/Object.hh"
#include "Resource/ModuleResource.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "Resource/base/ApResource.hh"
#include "Resource/base/Instant.hh"
#include "Resource/base/Resource.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"
#include "apps/KorvanRun.hh"

namespace KORVAN {
namespace HOST {

namespace {

std::string level(double value) {
  if (value >= g_infiniteTimeAsDouble())
    return "+inf";
  if (value <= -g_infiniteTimeAsDouble())
    return "-inf";
  return toString(value == 0.0 ? 0.0 : value);
}

std::string time(TimePoint t) {
  if (t >= g_infiniteTime())
    return "+inf";
  if (t <= -g_infiniteTime())
    return "-inf";
  return std::to_string(t);
}

// The instant-based resource reports through its own instants.
void printInstantEnvelope(std::ostream& out, KORVAN::Resource& resource) {
  out << "    limits [" << level(resource.getLimitMin()) << " " << level(resource.getLimitMax()) << "]"
      << std::endl;
  std::list<InstantId> instants;
  resource.getInstants(instants, -g_infiniteTime() - 1, g_infiniteTime());
  if (instants.empty())
    out << "    level: no instants" << std::endl;
  for (const InstantId& instant : instants) {
    IntervalDomain bounds;
    resource.getLevelAt(instant->getTime(), bounds);
    out << "    level at " << time(instant->getTime()) << " [" << level(bounds.getLowerBound()) << " "
        << level(bounds.getUpperBound()) << "]" << std::endl;
  }
}

void printEnvelope(std::ostream& out, const ObjectId& object) {
  ApResource* resource = ApResource::asApResource(static_cast<Object*>(object));
  KORVAN::Resource* instantBased = dynamic_cast<KORVAN::Resource*>(static_cast<Object*>(object));
  if (resource == nullptr && instantBased == nullptr)
    return;
  try {
    if (instantBased != nullptr) {
      printInstantEnvelope(out, *instantBased);
      return;
    }
    std::unique_ptr<ApResourceProfile> limits(resource->getLimits());
    out << "    limits [" << level(limits->getLowerBound(-g_infiniteTime())) << " "
        << level(limits->getUpperBound(-g_infiniteTime())) << "]" << std::endl;
    std::unique_ptr<ApResourceProfile> levels(resource->getLevels());
    const ApList<TimePoint>& times = levels->getTimes();
    if (times.size() == 0)
      out << "    level: no instants" << std::endl;
    for (int i = 0; i < times.size(); i++) {
      TimePoint t = times.get(i);
      out << "    level at " << time(t) << " [" << level(levels->getLowerBound(t)) << " "
          << level(levels->getUpperBound(t)) << "]" << std::endl;
    }
  } catch (const Error& e) {
    // An uninitialised resource (say, one left open) has no envelope to print.
    out << "    level: unavailable (" << (e.getMsg().empty() ? e.getCondition() : e.getMsg()) << ")"
        << std::endl;
  }
}

struct ResourceBinding {
  ResourceBinding() {
    registerModule([]() -> Module* { return new ModuleResource(); });
    for (const char* type : {"Resource", "Reservoir", "Reusable", "Unary"})
      registerObjectPrinter(type, printEnvelope);
  }
};

const ResourceBinding sl_binding;

}

}
}
