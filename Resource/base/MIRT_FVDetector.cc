#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_Transaction.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "Utils/base/Utils.hh"

#include <cmath>
#include "PlanDatabase/base/PlanDatabase.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"

namespace KORVAN {
namespace MIRT {

FVDetector::FVDetector(Id<Resource> res)
  : FactoryObj(), m_id(this), m_res(res), m_walkEnd(g_infiniteTime()), m_rounding(Rounding::none()) {}

FVDetector::~FVDetector() {
  m_id.remove();
}

void FVDetector::initialize(InstantId inst) {
  measureRounding();
  if (m_res.isValid())
    m_res->resetViolations(inst, m_walkEnd);
}

void FVDetector::initialize() {
  measureRounding();
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

void FVDetector::measureRounding() {
  m_rounding = Rounding::none();
  if (!m_res.isValid())
    return;
  m_rounding.add(std::max(std::fabs(m_res->getInitCapacityLb()), std::fabs(m_res->getInitCapacityUb())));
  for (double total : {m_res->getMaxProduction(), m_res->getMaxConsumption()})
    if (std::fabs(total) < g_infiniteTimeAsDouble())
      m_rounding.add(total);
  const ProfileId& profile = m_res->getProfile();
  if (!profile.isValid())
    return;
  for (const TransactionId& tx : profile->getTransactions())
    m_rounding.add(finiteMagnitude(tx->quantity()->lastDomain()));
}

Rounding FVDetector::roundingOf(const ProfileId& profile) {
  if (!profile.isValid() || !profile->m_detector.isValid())
    return Rounding();
  return profile->m_detector->getRounding();
}

Rounding roundingAt(const InstantId& inst) {
  return FVDetector::roundingOf(inst->getProfile());
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
