#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_Transaction.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/AbstractDomain.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <algorithm>
#include <sstream>

namespace KORVAN {
namespace MIRT {

Instant::Instant(int time, Id<Profile> profile)
  : Entity(), m_id(this), m_time(time), m_profile(profile),
    m_lowerLevel(0.0), m_lowerLevelMax(0.0), m_upperLevelMin(0.0), m_upperLevel(0.0),
    m_maxInstProduction(0.0), m_maxInstConsumption(0.0), m_minInstProduction(0.0),
    m_minInstConsumption(0.0), m_maxCumulativeProduction(0.0), m_maxCumulativeConsumption(0.0),
    m_minCumulativeProduction(0.0), m_minCumulativeConsumption(0.0), m_maxPrevProduction(0.0),
    m_maxPrevConsumption(0.0), m_minPrevProduction(0.0), m_minPrevConsumption(0.0),
    m_upperFlawMagnitude(0.0), m_lowerFlawMagnitude(0.0),
    m_violated(false), m_flawed(false), m_upperFlaw(false), m_lowerFlaw(false) {}

Instant::~Instant() {
  m_id.remove();
}

const LabelStr& Instant::entityTypeName() {
  static const LabelStr sl_type("MIRT_Instant");
  return sl_type;
}

const LabelStr& Instant::entityType() const {
  return entityTypeName();
}

void Instant::update(double lowerLevelMin, double lowerLevelMax, double upperLevelMin, double upperLevelMax,
                     double minInstConsumption, double maxInstConsumption,
                     double minInstProduction, double maxInstProduction,
                     double minCumulativeConsumption, double maxCumulativeConsumption,
                     double minCumulativeProduction, double maxCumulativeProduction,
                     double minPrevConsumption, double maxPrevConsumption,
                     double minPrevProduction, double maxPrevProduction) {
  m_lowerLevel = lowerLevelMin;
  m_lowerLevelMax = lowerLevelMax;
  m_upperLevelMin = upperLevelMin;
  m_upperLevel = upperLevelMax;
  m_minInstConsumption = minInstConsumption;
  m_maxInstConsumption = maxInstConsumption;
  m_minInstProduction = minInstProduction;
  m_maxInstProduction = maxInstProduction;
  m_minCumulativeConsumption = minCumulativeConsumption;
  m_maxCumulativeConsumption = maxCumulativeConsumption;
  m_minCumulativeProduction = minCumulativeProduction;
  m_maxCumulativeProduction = maxCumulativeProduction;
  m_minPrevConsumption = minPrevConsumption;
  m_maxPrevConsumption = maxPrevConsumption;
  m_minPrevProduction = minPrevProduction;
  m_maxPrevProduction = maxPrevProduction;
}

void Instant::setFlawed(bool flawed) {
  m_flawed = flawed;
  if (!flawed) {
    m_upperFlaw = false;
    m_lowerFlaw = false;
    m_upperFlawMagnitude = 0.0;
    m_lowerFlawMagnitude = 0.0;
  }
}

void Instant::setUpperMagnitude(double m) {
  check_error(m_upperFlaw);
  m_upperFlawMagnitude = m;
}

void Instant::setLowerMagnitude(double m) {
  check_error(m_lowerFlaw);
  m_lowerFlawMagnitude = m;
}

void Instant::addTransaction(TransactionId t) {
  checkError(m_transactions.find(t) == m_transactions.end(),
             "Instant for time " << m_time << " already has transaction " << t);
  const AbstractDomain& dom = t->time()->lastDomain();
  checkError(t->time()->lastDomain().isMember(m_time),
             "Attempted to add a transaction spanning time " << t->time()->toString()
             << " to instant for " << m_time);
  debugMsg("Instant:addTransaction", "Adding transaction to instant (" << m_id << ") for time "
           << t->time()->toString() << " with quantity " << t->quantity()->toString());
  m_transactions.insert(t);
  const std::vector<TransactionId>::iterator at = std::lower_bound(m_held.begin(), m_held.end(), t);
  m_filing.insert(m_filing.begin() + (at - m_held.begin()), UNFILED);
  m_held.insert(at, t);
  fileTransaction(t, dom.getLowerBound() == (double) m_time, dom.getUpperBound() == (double) m_time);
}

void Instant::updateTransaction(TransactionId t) {
  const AbstractDomain& dom = t->time()->lastDomain();
  checkError(t->time()->lastDomain().isMember(m_time),
             "Attempted to update a transaction spanning time " << t->time()->toString()
             << " to instant for " << m_time);
  debugMsg("Instant:updateTransaction", "Updating transaction to instant (" << m_id << ") for time "
           << t->time()->toString() << " with quantity " << t->quantity()->toString());
  fileTransaction(t, dom.getLowerBound() == (double) m_time, dom.getUpperBound() == (double) m_time);
}

void Instant::addTransactionWithin(TransactionId t, int lb, int ub) {
  checkError(m_transactions.find(t) == m_transactions.end(),
             "Instant for time " << m_time << " already has transaction " << t);
  checkError(lb <= m_time && m_time <= ub,
             "Attempted to file a transaction spanning [" << lb << " " << ub << "] at instant for " << m_time);
  m_transactions.insert(t);
  const std::vector<TransactionId>::iterator at = std::lower_bound(m_held.begin(), m_held.end(), t);
  m_filing.insert(m_filing.begin() + (at - m_held.begin()), UNFILED);
  m_held.insert(at, t);
  fileTransaction(t, lb == m_time, ub == m_time);
}

void Instant::fileTransaction(TransactionId t, bool starts, bool ends) {
  const unsigned char filing = (starts ? 1 : 0) | (ends ? 2 : 0);
  unsigned char* known = nullptr;
  const std::vector<TransactionId>::const_iterator held = std::lower_bound(m_held.begin(), m_held.end(), t);
  if (held != m_held.end() && !(t < *held)) {
    known = &m_filing[held - m_held.begin()];
    if (*known == filing)
      return;
  }
  if (starts)
    m_startingTransactions.insert(t);
  else
    m_startingTransactions.erase(t);
  if (ends) {
    m_endingTransactions.insert(t);
    m_overlappingTransactions.erase(t);
  }
  else {
    m_endingTransactions.erase(t);
    m_overlappingTransactions.insert(t);
  }
  if (known != nullptr)
    *known = filing;
}

void Instant::removeTransaction(TransactionId t) {
  checkError(m_transactions.find(t) != m_transactions.end(),
             "Instant for time " << m_time << " has no transaction " << t);
  m_transactions.erase(t);
  // A known filing names the sets that hold t; only those need a removal.
  unsigned char filing = UNFILED;
  std::vector<TransactionId>::iterator held = std::lower_bound(m_held.begin(), m_held.end(), t);
  if (held != m_held.end() && !(t < *held)) {
    filing = m_filing[held - m_held.begin()];
    m_filing.erase(m_filing.begin() + (held - m_held.begin()));
    m_held.erase(held);
  }
  if (filing == UNFILED || (filing & 2) != 0)
    m_endingTransactions.erase(t);
  if (filing == UNFILED || (filing & 1) != 0)
    m_startingTransactions.erase(t);
  if (filing == UNFILED || (filing & 2) == 0)
    m_overlappingTransactions.erase(t);
}

bool Instant::startsFiled(std::size_t i) const {
  if (m_filing[i] != UNFILED)
    return (m_filing[i] & 1) != 0;
  return m_startingTransactions.count(m_held[i]) != 0;
}

bool Instant::endsFiled(std::size_t i) const {
  if (m_filing[i] != UNFILED)
    return (m_filing[i] & 2) != 0;
  return m_endingTransactions.count(m_held[i]) != 0;
}

bool Instant::overlapsFiled(std::size_t i) const {
  if (m_filing[i] != UNFILED)
    return (m_filing[i] & 2) == 0;
  return m_overlappingTransactions.count(m_held[i]) != 0;
}

bool Instant::holds(const TransactionId& t) const {
  std::vector<TransactionId>::const_iterator it = std::lower_bound(m_held.begin(), m_held.end(), t);
  return it != m_held.end() && !(t < *it);
}

bool Instant::containsStartOrEnd() const {
  return marksHere(m_startingTransactions) || marksHere(m_endingTransactions);
}

bool Instant::marksHere(const std::set<TransactionId>& filed) const {
  for (std::set<TransactionId>::const_iterator it = filed.begin(); it != filed.end(); ++it) {
    if (m_transactions.find(*it) == m_transactions.end())
      continue;
    // Filed while its domain had bounds: an emptied domain keeps that window.
    const AbstractDomain& dom = (*it)->time()->lastDomain();
    if (dom.isEmpty() || dom.getLowerBound() == (double) m_time || dom.getUpperBound() == (double) m_time)
      return true;
  }
  return false;
}

std::string Instant::toString() const {
  std::ostringstream str;
  for (std::set<TransactionId>::const_iterator it = m_transactions.begin(); it != m_transactions.end(); ++it) {
    const TransactionId& t = *it;
    str << " " << m_time << ": " << t << " " << t->time()->toString() << " "
        << t->quantity()->toString() << (t->isConsumer() ? " (C)" : " (P)") << std::endl;
  }
  return str.str();
}

}
}
