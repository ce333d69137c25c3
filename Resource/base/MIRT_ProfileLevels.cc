#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "Utils/base/Utils.hh"

#include <sstream>

namespace KORVAN {
namespace MIRT {

// Level queries, the entry to a recomputation, and what a walk writes into an instant.

void Profile::recompute() {
  if (!m_recomputing)
    noteOutsideChanges();
  if (needsRecompute() && !m_recomputing)
    handleRecompute();
}

void Profile::getLevel(int time, IntervalDomain& dest) {
  if (!m_recomputing)
    noteOutsideChanges();
  if (needsRecompute() && !m_recomputing)
    handleRecompute();
  std::map<int, InstantId>::iterator it = getGreatestInstant(time);
  IntervalDomain result;
  if (it == m_instants.end())
    result.intersect(m_initLevelLb, m_initLevelUb);
  else
    result.intersect(it->second->getLowerLevel(), it->second->getUpperLevel());
  dest = result;
}

bool Profile::isValid() {
  return true;
}

void Profile::updateWithTotals(const InstantId& inst, double lowerLevel, double upperLevel) {
  const Totals t = computeTotals(inst);
  inst->update(lowerLevel, lowerLevel, upperLevel, upperLevel, t.minInstConsumption, t.maxInstConsumption,
               t.minInstProduction, t.maxInstProduction, t.minCumulativeConsumption, t.maxCumulativeConsumption,
               t.minCumulativeProduction, t.maxCumulativeProduction, t.minPrevConsumption, t.maxPrevConsumption,
               t.minPrevProduction, t.maxPrevProduction);
  inst->setChangeCounts(t.prevConsumptions, t.prevProductions, t.consumptions, t.productions);
}

std::string Profile::toString() const {
  std::ostringstream str;
  str << "Profile " << m_id << std::endl;
  for (std::map<int, InstantId>::const_iterator it = m_instants.begin(); it != m_instants.end(); ++it)
    str << it->second->toString() << std::endl;
  return str.str();
}

}
}
