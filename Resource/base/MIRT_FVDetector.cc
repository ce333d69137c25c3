#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_Transaction.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Utils.hh"

#include <cmath>

namespace KORVAN {
namespace MIRT {

FVDetector::FVDetector(Id<Resource> res) : FactoryObj(), m_id(this), m_res(res), m_walkEnd(g_infiniteTime()) {}

FVDetector::~FVDetector() {
  m_id.remove();
}

void FVDetector::initialize(InstantId inst) {
  if (m_res.isValid())
    m_res->resetViolations(inst, m_walkEnd);
}

void FVDetector::initialize() {
  if (m_res.isValid())
    m_res->resetViolations(m_walkEnd);
}

namespace {

// The larger finite magnitude of a domain's bounds.
double finiteMagnitude(const AbstractDomain& dom) {
  double m = 0.0;
  if (dom.isEmpty())
    return m;
  for (double bound : {dom.getLowerBound(), dom.getUpperBound()})
    if (std::isfinite(bound) && std::fabs(bound) < g_infiniteTimeAsDouble())
      m = std::max(m, std::fabs(bound));
  return m;
}

}

// A total limit is summed into a level only where what it still allows is added to it: a limit
// of a hundred million widens nothing on a level of one.
Rounding FVDetector::levelRounding(const Resource& res) {
  Rounding r = Rounding::none();
  r.add(unboundedAtHorizon(std::max(std::fabs(res.getInitCapacityLb()), std::fabs(res.getInitCapacityUb()))));
  return r;
}

// Reached through the profile's detector; handles are checked for being set only, as the
// profile's own queries do: these run for every flaw the solver compares.
bool FVDetector::hasResource(const ProfileId& profile) {
  return !profile.isNoId() && !profile->m_detector.isNoId() && !profile->m_detector->getResource().isNoId();
}

Rounding FVDetector::roundingOf(const ProfileId& profile) {
  if (!hasResource(profile))
    return Rounding();
  Rounding r = levelRounding(*profile->getResource());
  Rounding changes = Rounding::none();
  for (const TransactionId& tx : profile->getTransactions())
    changes.add(finiteMagnitude(tx->quantity()->lastDomain()));
  // A use's take and give-back are one value of the model.
  if (profile->getResource()->givesBack()) {
    changes.terms /= 2;
    changes.magnitude /= 2;
  }
  return r.merge(changes);
}

Rounding FVDetector::roundingAt(const InstantId& inst) {
  const ProfileId& profile = inst->getProfile();
  if (!hasResource(profile))
    return Rounding();
  const Resource& res = *profile->getResource();
  Rounding r = levelRounding(res);
  // The level here sums what may have happened by now, not what can only come later. A use's
  // take and give-back are one value: what it gives back it took before.
  double summed[2] = {0.0, 0.0};
  int i = 0;
  for (double total : {inst->getMaxCumulativeProduction(), inst->getMaxCumulativeConsumption()}) {
    if (std::fabs(total) < g_infiniteTimeAsDouble())
      summed[i] = std::fabs(total);
    i++;
  }
  r.magnitude += res.givesBack() ? std::max(summed[0], summed[1]) : summed[0] + summed[1];
  const double consumptions = (double) inst->getChangesByThen(true);
  const double productions = (double) inst->getChangesByThen(false);
  r.terms += res.givesBack() ? std::max(consumptions, productions) : consumptions + productions;
  return r;
}

Rounding FVDetector::roundingWith(const InstantId& inst, double total) {
  Rounding r = roundingAt(inst);
  r.add(unboundedAtHorizon(total));
  return r;
}

Rounding FVDetector::sumRounding(const InstantId& inst, bool consumer) {
  Rounding r = Rounding::none();
  r.terms = (double) inst->getChangesByThen(consumer);
  return r;
}

Rounding roundingAt(const InstantId& inst) {
  return FVDetector::roundingAt(inst);
}

void FVDetector::notifyOfViolation(InstantId inst, ResourceProblem::Type problem) {
  if (m_res.isValid())
    m_res->notifyViolated(inst, problem);
}

void FVDetector::notifyNoLongerViolated(InstantId inst) {
  if (m_res.isValid())
    m_res->notifyNoLongerViolated(inst);
}

void FVDetector::notifyOfFlaw(InstantId inst) {
  if (m_res.isValid())
    m_res->notifyFlawed(inst);
}

void FVDetector::notifyNoLongerFlawed(InstantId inst) {
  if (m_res.isValid())
    m_res->notifyNoLongerFlawed(inst);
}

void FVDetector::notifyDeleted(InstantId inst) {
  if (m_res.isValid())
    m_res->notifyDeleted(inst);
}

bool FVDetector::allowViolations() const {
  if (!m_res.isValid())
    return false;
  return m_res->getPlanDatabase()->getConstraintEngine()->getAllowViolations();
}

}
}
