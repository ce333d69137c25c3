#include "Resource/component/MIRT_TimetableProfile.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_Transaction.hh"
#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace MIRT {

TimetableProfile::TimetableProfile(Id<PlanDatabase> db, Id<FVDetector> flawDetector,
                                   double initCapacityLb, double initCapacityUb)
  : Profile(db, flawDetector, initCapacityLb, initCapacityUb),
    m_lowerLevelMin(0.0), m_lowerLevelMax(0.0), m_upperLevelMin(0.0), m_upperLevelMax(0.0),
    m_minPrevConsumption(0.0), m_maxPrevConsumption(0.0), m_minPrevProduction(0.0),
    m_maxPrevProduction(0.0) {}

TimetableProfile::~TimetableProfile() {}

void TimetableProfile::getTransactionsToOrder(const InstantId& inst, std::vector<TransactionId>& results) {
  check_error(inst.isValid());
  check_error(results.empty());
  const std::set<TransactionId>& transactions = inst->getTransactions();
  results.insert(results.end(), transactions.begin(), transactions.end());
}

void TimetableProfile::initRecompute(InstantId inst) {
  check_error(m_recomputeInterval.isValid(),
              "Attempted to initialize recomputation without a valid starting point!");
  m_lowerLevelMin = inst->getLowerLevel();
  m_lowerLevelMax = inst->getLowerLevelMax();
  m_upperLevelMin = inst->getUpperLevelMin();
  m_upperLevelMax = inst->getUpperLevel();
  m_minPrevConsumption = inst->getMinPrevConsumption();
  m_maxPrevConsumption = inst->getMaxPrevConsumption();
  m_minPrevProduction = inst->getMinPrevProduction();
  m_maxPrevProduction = inst->getMaxPrevProduction();
}

void TimetableProfile::initRecompute() {
  m_lowerLevelMin = m_initLevelLb;
  m_lowerLevelMax = m_initLevelLb;
  m_upperLevelMin = m_initLevelUb;
  m_upperLevelMax = m_initLevelUb;
  m_minPrevConsumption = 0.0;
  m_maxPrevConsumption = 0.0;
  m_minPrevProduction = 0.0;
  m_maxPrevProduction = 0.0;
}

void TimetableProfile::recomputeLevels(InstantId /* prev */, InstantId inst) {
  check_error(inst.isValid());

  double maxInstantProduction = 0.0, minInstantProduction = 0.0;
  double maxInstantConsumption = 0.0, minInstantConsumption = 0.0;
  double maxCumulativeProduction = m_maxPrevProduction;
  double minCumulativeProduction = m_minPrevProduction;
  double maxCumulativeConsumption = m_maxPrevConsumption;
  double minCumulativeConsumption = m_minPrevConsumption;

  const double time = static_cast<double>(inst->getTime());
  debugMsg("TimetableProfile:recomputeLevels", "Transactions at " << inst->getTime() << ":");

  // The ending transactions are a subset of the held ones, in the same order:
  // one merged walk reads each domain once.
  const std::set<TransactionId>& transactions = inst->getTransactions();
  const std::set<TransactionId>& ending = inst->getEndingTransactions();
  std::set<TransactionId>::const_iterator endIt = ending.begin();
  m_ending.clear();
  for (std::set<TransactionId>::const_iterator it = transactions.begin(); it != transactions.end(); ++it) {
    const TransactionId& t = *it;
    const AbstractDomain& timeDom = t->time()->lastDomain();
    const AbstractDomain& quantityDom = t->quantity()->lastDomain();
    const double tlb = timeDom.getLowerBound();
    const double tub = timeDom.getUpperBound();
    const double qlb = quantityDom.getLowerBound();
    const double qub = quantityDom.getUpperBound();
    const bool consumer = t->isConsumer();
    debugMsg("TimetableProfile:recomputeLevels",
             "Time: [" << tlb << " " << tub << "] Quantity: "
                       << (consumer ? "-" : "+") << "[" << qlb << " " << qub << "]");
    if (endIt != ending.end() && *endIt == t) {
      m_ending.push_back(Ending{qlb, qub, consumer});
      ++endIt;
    }

    if (timeDom.isSingleton()) {
      if (consumer)
        minInstantConsumption += qlb;
      else
        minInstantProduction += qlb;
    }
    if (consumer)
      maxInstantConsumption += qub;
    else
      maxInstantProduction += qub;

    // May start here: the earliest a consumer can lower, or a producer raise, the level.
    if (tlb == time) {
      if (consumer) {
        m_lowerLevelMin -= qub;
        m_lowerLevelMax -= qlb;
      }
      else {
        m_upperLevelMin += qlb;
        m_upperLevelMax += qub;
      }
    }
    // Cannot happen later than here: from now on it certainly counts.
    if (tub == time) {
      if (consumer) {
        m_upperLevelMax -= qlb;
        m_upperLevelMin -= qub;
        minCumulativeConsumption += qlb;
      }
      else {
        m_lowerLevelMin += qlb;
        m_lowerLevelMax += qub;
        minCumulativeProduction += qlb;
      }
    }
  }
  checkError(endIt == ending.end(), "Instant at " << inst->getTime() << " ends a transaction it does not hold.");

  maxCumulativeConsumption += maxInstantConsumption;
  maxCumulativeProduction += maxInstantProduction;

  debugMsg("TimetableProfile:recompute",
           "Computed values for time " << inst->getTime() << ":" << std::endl
           << "    Lower level (min, max): (" << m_lowerLevelMin << ", " << m_lowerLevelMax << ")" << std::endl
           << "    Upper level (min, max): (" << m_upperLevelMin << ", " << m_upperLevelMax << ")" << std::endl
           << "    Instantaneous consumption (min, max): (" << minInstantConsumption << ", "
           << maxInstantConsumption << ")" << std::endl
           << "    Instantaneous production (min, max): (" << minInstantProduction << ", "
           << maxInstantProduction << ")" << std::endl
           << "    Cumulative consumption (min, max): (" << minCumulativeConsumption << ", "
           << maxCumulativeConsumption << ")" << std::endl
           << "    Cumulative production (min, max): (" << minCumulativeProduction << ", "
           << maxCumulativeProduction << ")");

  inst->update(m_lowerLevelMin, m_lowerLevelMax, m_upperLevelMin, m_upperLevelMax,
               minInstantConsumption, maxInstantConsumption, minInstantProduction, maxInstantProduction,
               minCumulativeConsumption, maxCumulativeConsumption, minCumulativeProduction,
               maxCumulativeProduction, m_minPrevConsumption, m_maxPrevConsumption,
               m_minPrevProduction, m_maxPrevProduction);

  // What ends here is carried into the sums of every later instant.
  for (std::vector<Ending>::const_iterator it = m_ending.begin(); it != m_ending.end(); ++it) {
    if (it->consumer) {
      m_maxPrevConsumption += it->qub;
      m_minPrevConsumption += it->qlb;
    }
    else {
      m_maxPrevProduction += it->qub;
      m_minPrevProduction += it->qlb;
    }
  }
}

}
}
