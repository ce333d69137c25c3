#include "Resource/component/MIRT_ClosedWorldFVDetector.hh"
#include "Resource/base/Limits.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Utils/base/Debug.hh"

#include <cmath>

namespace KORVAN {
namespace MIRT {

ClosedWorldFVDetector::ClosedWorldFVDetector(Id<Resource> res) : GenericFVDetector(res) {}

ClosedWorldFVDetector::~ClosedWorldFVDetector() {}

ResourceProblem::Type ClosedWorldFVDetector::getResourceLevelViolation(InstantId inst) const {
  if (below(inst, inst->getUpperLevel(), m_lowerLimit)) {
    debugMsg("ClosedWorldFVDetector:detect", "Lower limit violation.  Limit: " << m_lowerLimit << " Upper level: "
             << inst->getUpperLevel());
    return ResourceProblem::LevelTooLow;
  }
  if (above(inst, inst->getLowerLevel(), m_upperLimit)) {
    debugMsg("ClosedWorldFVDetector:detect", "Upper limit violation.  Limit: " << m_upperLimit << " Lower level: "
             << inst->getLowerLevel());
    return ResourceProblem::LevelTooHigh;
  }
  return ResourceProblem::NoProblem;
}

void ClosedWorldFVDetector::handleResourceLevelFlaws(InstantId inst) {
  if (below(inst, inst->getLowerLevel(), m_lowerLimit)) {
    inst->setFlawed(true);
    inst->setLower(true);
    inst->setLowerMagnitude(std::fabs(m_lowerLimit - inst->getLowerLevel()));
    debugMsg("ClosedWorldFVDetector:detect", "Lower limit flaw.");
  }
  if (above(inst, inst->getUpperLevel(), m_upperLimit)) {
    inst->setFlawed(true);
    inst->setUpper(true);
    inst->setUpperMagnitude(std::fabs(m_upperLimit - inst->getUpperLevel()));
    debugMsg("ClosedWorldFVDetector:detect", "Upper limit flaw.");
  }
}

}
}
