#include "Resource/component/MIRT_OpenWorldFVDetector.hh"
#include "Resource/base/Limits.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Utils/base/Debug.hh"

#include <cmath>

namespace KORVAN {
namespace MIRT {

OpenWorldFVDetector::OpenWorldFVDetector(Id<Resource> res) : GenericFVDetector(res) {}

OpenWorldFVDetector::~OpenWorldFVDetector() {}

ResourceProblem::Type OpenWorldFVDetector::getResourceLevelViolation(InstantId inst) const {
  const double remainingProduction = remainingOf(m_maxCumulativeProduction, inst->getMinCumulativeProduction());
  const double remainingConsumption = remainingOf(m_maxCumulativeConsumption, inst->getMinCumulativeConsumption());
  if (belowWith(inst, inst->getUpperLevel() + remainingProduction, m_lowerLimit, m_maxCumulativeProduction)) {
    debugMsg("OpenWorldFVDetector:detect", "Lower limit violation.  Limit: " << m_lowerLimit << " Upper level: "
             << inst->getUpperLevel() << " Maximum remaining production: " << remainingProduction);
    return ResourceProblem::LevelTooLow;
  }
  if (aboveWith(inst, inst->getLowerLevel() - remainingConsumption, m_upperLimit, m_maxCumulativeConsumption)) {
    debugMsg("OpenWorldFVDetector:detect", "Upper limit violation.  Limit: " << m_upperLimit << " Lower level: "
             << inst->getLowerLevel() << " Maxumum remaining consumption: " << remainingConsumption);
    return ResourceProblem::LevelTooHigh;
  }
  return ResourceProblem::NoProblem;
}

void OpenWorldFVDetector::handleResourceLevelFlaws(InstantId inst) {
  if (below(inst, inst->getLowerLevelMax(), m_lowerLimit)) {
    inst->setFlawed(true);
    inst->setLower(true);
    inst->setLowerMagnitude(std::fabs(m_lowerLimit - inst->getLowerLevelMax()));
    debugMsg("OpenWorldFVDetector:detect", "Lower limit flaw.");
  }
  if (above(inst, inst->getUpperLevelMin(), m_upperLimit)) {
    inst->setFlawed(true);
    inst->setUpper(true);
    inst->setUpperMagnitude(std::fabs(m_upperLimit - inst->getUpperLevelMin()));
    debugMsg("OpenWorldFVDetector:detect", "Upper limit flaw.");
  }
}

}
}
