#include "Resource/component/MIRT_GenericFVDetector.hh"
#include "Resource/base/Limits.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "Utils/base/Debug.hh"

namespace KORVAN {
namespace MIRT {

GenericFVDetector::GenericFVDetector(Id<Resource> res)
  : FVDetector(res), m_lowerLimit(res->getLowerLimit()), m_upperLimit(res->getUpperLimit()),
    m_maxInstConsumption(res->getMaxInstConsumption()), m_maxInstProduction(res->getMaxInstProduction()),
    m_maxCumulativeConsumption(res->getMaxConsumption()), m_maxCumulativeProduction(res->getMaxProduction()) {
  debugMsg("GenericFVDetector:GenericFVDetector", "Created FVDetector for " << res->toString());
  debugMsg("GenericFVDetector:GenericFVDetector", "Got values: lower limit(" << m_lowerLimit << ") upper limit("
           << m_upperLimit << ") max instantaneous consumption(" << m_maxInstConsumption
           << ") max instantaneous production(" << m_maxInstProduction << ") max consumption("
           << m_maxCumulativeConsumption << ") max production(" << m_maxCumulativeProduction << ")");
}

GenericFVDetector::~GenericFVDetector() {}

ResourceProblem::Type GenericFVDetector::getResourceViolation(InstantId inst) const {
  if (exceeds(inst, inst->getMinCumulativeConsumption(), m_maxCumulativeConsumption, true)) {
    debugMsg("GenericFVDetector:detect", "Cumulative consumption violation.");
    return ResourceProblem::ConsumptionSumExceeded;
  }
  if (exceeds(inst, inst->getMinCumulativeProduction(), m_maxCumulativeProduction, false)) {
    debugMsg("GenericFVDetector:detect", "Cumulative production violation.");
    return ResourceProblem::ProductionSumExceeded;
  }
  if (exceeds(inst, inst->getMinInstantConsumption(), m_maxInstConsumption, true)) {
    debugMsg("GenericFVDetector:detect", "Instantaneous consumption violation.");
    return ResourceProblem::ConsumptionRateExceeded;
  }
  if (exceeds(inst, inst->getMinInstantProduction(), m_maxInstProduction, false)) {
    debugMsg("GenericFVDetector:detect", "Instantaneous production violation.");
    return ResourceProblem::ProductionRateExceeded;
  }
  return getResourceLevelViolation(inst);
}

void GenericFVDetector::handleResourceFlaws(InstantId inst) {
  if (exceeds(inst, inst->getMaxCumulativeConsumption(), m_maxCumulativeConsumption, true)) {
    inst->setFlawed(true);
    debugMsg("GenericFVDetector:detect", "Cumulative consumption flaw.");
  }
  if (exceeds(inst, inst->getMaxCumulativeProduction(), m_maxCumulativeProduction, false)) {
    inst->setFlawed(true);
    debugMsg("GenericFVDetector:detect", "Cumulative production flaw.");
  }
  if (exceeds(inst, inst->getMaxInstantConsumption(), m_maxInstConsumption, true)) {
    inst->setFlawed(true);
    debugMsg("GenericFVDetector:detect", "Instantaneous consumption flaw.");
  }
  if (exceeds(inst, inst->getMaxInstantProduction(), m_maxInstProduction, false)) {
    inst->setFlawed(true);
    debugMsg("GenericFVDetector:detect", "Instantaneous production flaw.");
  }
  handleResourceLevelFlaws(inst);
}

bool GenericFVDetector::detect(InstantId inst) {
  debugMsg("GenericFVDetector:detect", "Detecting flaws and violations at time " << inst->getTime());
  debugMsg("GenericFVDetector:detect", "Max cumulative consumption: " << m_maxCumulativeConsumption
           << ".  At instant: " << inst->getMaxCumulativeConsumption() << ".");
  debugMsg("GenericFVDetector:detect", "Max cumulative production: " << m_maxCumulativeProduction
           << ".  At instant: " << inst->getMaxCumulativeProduction() << ".");
  debugMsg("GenericFVDetector:detect", "Max instantaneous consumption: " << m_maxInstConsumption
           << ".  At instant: " << inst->getMaxInstantConsumption() << ".");
  debugMsg("GenericFVDetector:detect", "Max instantaneous production: " << m_maxInstProduction
           << ".  At instant: " << inst->getMaxInstantProduction() << ".");

  const bool wasViolated = inst->isViolated();
  inst->setViolated(false);
  const ResourceProblem::Type problem = getResourceViolation(inst);
  if (problem == ResourceProblem::NoProblem) {
    if (wasViolated) {
      notifyNoLongerViolated(inst);
      debugMsg("GenericFVDetector:detect", "Clearing Violation");
    }
  }
  else {
    debugMsg("GenericFVDetector:detect", "Flagging violation at instant " << inst->getTime() << " : ");
    inst->setViolated(true);
    notifyOfViolation(inst, problem);
  }

  const bool wasFlawed = inst->isFlawed();
  inst->setFlawed(false);
  handleResourceFlaws(inst);
  if (inst->isFlawed()) {
    debugMsg("GenericFVDetector:detect", "Flagging (at least one) flaw:");
    notifyOfFlaw(inst);
  }
  else if (wasFlawed) {
    debugMsg("GenericFVDetector:detect", "Clearing flaw.");
    notifyNoLongerFlawed(inst);
  }

  return inst->isViolated() && !allowViolations();
}

}
}
