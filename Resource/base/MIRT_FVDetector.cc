#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"

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
