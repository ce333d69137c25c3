#include "Resource/component/MIRT_TimetableFVDetector.hh"
#include "Resource/base/Limits.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "Utils/base/Debug.hh"

namespace KORVAN {
namespace MIRT {

TimetableFVDetector::TimetableFVDetector(Id<Resource> res)
  : FVDetector(res), m_lowerLimit(res->getLowerLimit()), m_upperLimit(res->getUpperLimit()),
    m_maxInstConsumption(res->getMaxInstConsumption()),
    m_maxInstProduction(res->getMaxInstProduction()),
    m_maxCumulativeConsumption(res->getMaxConsumption()),
    m_maxCumulativeProduction(res->getMaxProduction()) {
  debugMsg("TimetableFVDetector:TimetableFVDetector",
           "Created FVDetector for " << res->toString() << std::endl
           << "Got values: lower limit(" << m_lowerLimit << ") upper limit(" << m_upperLimit
           << ") max instantaneous consumption(" << m_maxInstConsumption
           << ") max instantaneous production(" << m_maxInstProduction << ") max consumption("
           << m_maxCumulativeConsumption << ") max production(" << m_maxCumulativeProduction << ")");
}

TimetableFVDetector::~TimetableFVDetector() {}

ResourceProblem::Type TimetableFVDetector::getResourceProblem(const InstantId& inst) const {
  if (exceeds(inst, inst->getMinCumulativeConsumption(), m_maxCumulativeConsumption, true))
    return ResourceProblem::ConsumptionSumExceeded;
  if (exceeds(inst, inst->getMinCumulativeProduction(), m_maxCumulativeProduction, false))
    return ResourceProblem::ProductionSumExceeded;
  if (exceeds(inst, inst->getMinInstantConsumption(), m_maxInstConsumption, true))
    return ResourceProblem::ConsumptionRateExceeded;
  if (exceeds(inst, inst->getMinInstantProduction(), m_maxInstProduction, false))
    return ResourceProblem::ProductionRateExceeded;
  // Even all the production still allowed would not lift the highest level to the limit.
  if (belowWith(inst, inst->getUpperLevel() + remainingOf(m_maxCumulativeProduction, inst->getMinCumulativeProduction()), m_lowerLimit,
                m_maxCumulativeProduction))
    return ResourceProblem::LevelTooLow;
  if (aboveWith(inst, inst->getLowerLevel() - remainingOf(m_maxCumulativeConsumption, inst->getMinCumulativeConsumption()), m_upperLimit,
                m_maxCumulativeConsumption))
    return ResourceProblem::LevelTooHigh;
  return ResourceProblem::NoProblem;
}

bool TimetableFVDetector::detect(InstantId inst) {
  debugMsg("TimetableFVDetector:detect", "Detecting flaws and violations at time " << inst->getTime());
  condDebugMsg(exceeds(inst, inst->getMinCumulativeConsumption(), m_maxCumulativeConsumption, true), "TimetableFVDetector:detect",
               "Cumulative consumption violation. Limit: " << m_maxCumulativeConsumption
               << " Minimum cumulative consumption: " << inst->getMinCumulativeConsumption());
  condDebugMsg(exceeds(inst, inst->getMinCumulativeProduction(), m_maxCumulativeProduction, false), "TimetableFVDetector:detect",
               "Cumulative production violation. Limit: " << m_maxCumulativeProduction
               << " Minimum cumulative production: " << inst->getMinCumulativeProduction());
  condDebugMsg(exceeds(inst, inst->getMinInstantConsumption(), m_maxInstConsumption, true), "TimetableFVDetector:detect",
               "Instantaneous consumption violation. Limit: " << m_maxInstConsumption
               << " Minimum instantaneous consumption: " << inst->getMinInstantConsumption());
  condDebugMsg(exceeds(inst, inst->getMinInstantProduction(), m_maxInstProduction, false), "TimetableFVDetector:detect",
               "Instantaneous production violation. Limit: " << m_maxInstProduction
               << " Minimum instantaneous production: " << inst->getMinInstantProduction());
  condDebugMsg(belowWith(inst, inst->getUpperLevel() + remainingOf(m_maxCumulativeProduction, inst->getMinCumulativeProduction()), m_lowerLimit,
                m_maxCumulativeProduction),
               "TimetableFVDetector:detect",
               "Lower limit violation.  Limit: " << m_lowerLimit << " Upper level: " << inst->getUpperLevel()
               << " Maximum remaining production: "
               << remainingOf(m_maxCumulativeProduction, inst->getMinCumulativeProduction()));
  condDebugMsg(aboveWith(inst, inst->getLowerLevel() - remainingOf(m_maxCumulativeConsumption, inst->getMinCumulativeConsumption()), m_upperLimit,
                m_maxCumulativeConsumption),
               "TimetableFVDetector:detect",
               "Upper limit violation.  Limit: " << m_upperLimit << " Lower level: " << inst->getLowerLevel()
               << " Maxumum remaining consumption: "
               << remainingOf(m_maxCumulativeConsumption, inst->getMinCumulativeConsumption()));

  const bool wasViolated = inst->isViolated();
  inst->setViolated(false);
  inst->setFlawed(false);

  ResourceProblem::Type problem = getResourceProblem(inst);
  if (problem != ResourceProblem::NoProblem) {
    inst->setViolated(true);
    notifyOfViolation(inst, problem);
    return !allowViolations();
  }
  if (wasViolated)
    notifyNoLongerViolated(inst);
  return false;
}

}
}
