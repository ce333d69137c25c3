#include "Resource/component/MIRT_ReusableFVDetector.hh"
#include "Resource/base/Limits.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "Utils/base/Debug.hh"

#include <cmath>

namespace KORVAN {
namespace MIRT {

ReusableFVDetector::ReusableFVDetector(Id<Resource> res)
  : FVDetector(res), m_upperLimit(res->getUpperLimit()), m_lowerLimit(res->getLowerLimit()),
    m_maxInstConsumption(res->getMaxInstConsumption()),
    m_maxCumulativeConsumption(res->getMaxConsumption()) {}

ReusableFVDetector::~ReusableFVDetector() {}

// A violation is what happens in every completion: the totals that must be
// reached, not the ones that may be.
ResourceProblem::Type ReusableFVDetector::getResourceProblem(const InstantId& inst) const {
  if (exceeds(inst, inst->getMinCumulativeConsumption(), m_maxCumulativeConsumption, true))
    return ResourceProblem::ConsumptionSumExceeded;
  if (exceeds(inst, inst->getMinCumulativeProduction(), m_maxCumulativeConsumption, false))
    return ResourceProblem::ProductionSumExceeded;
  if (exceeds(inst, inst->getMinInstantConsumption(), m_maxInstConsumption, true))
    return ResourceProblem::ConsumptionRateExceeded;
  if (exceeds(inst, inst->getMinInstantProduction(), m_maxInstConsumption, false))
    return ResourceProblem::ProductionRateExceeded;
  if (below(inst, inst->getUpperLevel(), m_lowerLimit))
    return ResourceProblem::LevelTooLow;
  if (above(inst, inst->getLowerLevel(), m_upperLimit))
    return ResourceProblem::LevelTooHigh;
  return ResourceProblem::NoProblem;
}

bool ReusableFVDetector::detect(InstantId inst) {
  debugMsg("ReusableFVDetector:detect", "Detecting flaws and violations at time " << inst->getTime());
  debugMsg("ReusableFVDetector:detect", "Max cumulative consumption: " << m_maxCumulativeConsumption
           << ".  At instant: " << inst->getMaxCumulativeConsumption() << ".");
  debugMsg("ReusableFVDetector:detect", "Max cumulative production: " << m_maxCumulativeConsumption
           << ".  At instant: " << inst->getMaxCumulativeProduction() << ".");
  debugMsg("ReusableFVDetector:detect", "Max instantaneous consumption: " << m_maxInstConsumption
           << ".  At instant: " << inst->getMaxInstantConsumption() << ".");
  debugMsg("ReusableFVDetector:detect", "Max instantaneous production: " << m_maxInstConsumption
           << ".  At instant: " << inst->getMaxInstantProduction() << ".");
  debugMsg("ReusableFVDetector:detect", "Lower limit: " << m_lowerLimit << ".  Level: ["
           << inst->getLowerLevel() << " " << inst->getUpperLevel() << "]");
  debugMsg("ReusableFVDetector:detect", "Upper limit: " << m_upperLimit << ".  Level: ["
           << inst->getLowerLevel() << " " << inst->getUpperLevel() << "]");

  const bool wasFlawed = inst->isFlawed();
  const bool wasViolated = inst->isViolated();
  inst->setViolated(false);

  ResourceProblem::Type problem = getResourceProblem(inst);
  if (problem != ResourceProblem::NoProblem) {
    debugMsg("ReusableFVDetector:detect", "Flagging violation at instant " << inst->getTime() << " : ");
    condDebugMsg(problem == ResourceProblem::ConsumptionSumExceeded, "ReusableFVDetector:detect",
                 "Cumulative consumption violation.");
    condDebugMsg(problem == ResourceProblem::ProductionSumExceeded, "ReusableFVDetector:detect",
                 "Cumulative production violation.");
    condDebugMsg(problem == ResourceProblem::ConsumptionRateExceeded, "ReusableFVDetector:detect",
                 "Instantaneous consumption violation.");
    condDebugMsg(problem == ResourceProblem::ProductionRateExceeded, "ReusableFVDetector:detect",
                 "Instantaneous production violation.");
    condDebugMsg(problem == ResourceProblem::LevelTooLow, "ReusableFVDetector:detect",
                 "Upper level below limit violation.");
    condDebugMsg(problem == ResourceProblem::LevelTooHigh, "ReusableFVDetector:detect",
                 "Lower level above limit violation.");
    inst->setViolated(true);
    // A violated instant is no flaw to resolve by ordering: out of the flaw record.
    if (wasFlawed) {
      inst->setFlawed(false);
      notifyNoLongerFlawed(inst);
    }
    notifyOfViolation(inst, problem);
    if (allowViolations()) {
      debugMsg("ReusableFVDetector:detect", "Violations allowed, continuing detection");
      return false;
    }
    debugMsg("ReusableFVDetector:detect", "Violations not allowed, stopping detection");
    return true;
  }

  const bool lowerFlaw = below(inst, inst->getLowerLevel(), m_lowerLimit);
  const bool upperFlaw = above(inst, inst->getUpperLevel(), m_upperLimit);
  if (lowerFlaw || upperFlaw) {
    inst->setFlawed(true);
    inst->setLower(lowerFlaw);
    inst->setUpper(upperFlaw);
    if (inst->hasLowerLevelFlaw())
      inst->setLowerMagnitude(std::fabs(m_lowerLimit - inst->getLowerLevel()));
    if (inst->hasUpperLevelFlaw())
      inst->setUpperMagnitude(std::fabs(m_upperLimit - inst->getUpperLevel()));
    debugMsg("ReusableFVDetector:detect", "Flagging flaw:");
    condDebugMsg(lowerFlaw, "ReusableFVDetector:detect", "Lower limit flaw.");
    condDebugMsg(upperFlaw, "ReusableFVDetector:detect", "Upper limit flaw.");
    notifyOfFlaw(inst);
  }
  else {
    inst->setFlawed(false);
    if (wasFlawed) {
      debugMsg("ReusableFVDetector:detect", "Clearing flaw.");
      notifyNoLongerFlawed(inst);
    }
  }

  if (wasViolated) {
    notifyNoLongerViolated(inst);
    debugMsg("ReusableFVDetector:detect", "Clearing Violation");
  }
  return false;
}

}
}
