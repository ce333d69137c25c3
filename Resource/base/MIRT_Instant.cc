#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_Transaction.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/AbstractDomain.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <algorithm>
#include <atomic>
#include <sstream>

namespace KORVAN {
namespace MIRT {

namespace {
std::uint64_t nextStamp() {
  static std::atomic<std::uint64_t> sl_stamps(0);
  return ++sl_stamps;
}
}

Instant::Instant(int time, Id<Profile> profile)
  : Entity(), m_id(this), m_time(time), m_profile(profile),
    m_lowerLevel(0.0), m_lowerLevelMax(0.0), m_upperLevelMin(0.0), m_upperLevel(0.0),
    m_maxInstProduction(0.0), m_maxInstConsumption(0.0), m_minInstProduction(0.0),
    m_minInstConsumption(0.0), m_maxCumulativeProduction(0.0), m_maxCumulativeConsumption(0.0),
    m_minCumulativeProduction(0.0), m_minCumulativeConsumption(0.0), m_maxPrevProduction(0.0),
    m_maxPrevConsumption(0.0), m_minPrevProduction(0.0), m_minPrevConsumption(0.0),
    m_upperFlawMagnitude(0.0), m_lowerFlawMagnitude(0.0),
    m_violated(false), m_flawed(false), m_upperFlaw(false), m_lowerFlaw(false),
    m_transactionsKept(false), m_overlappingStale(false), m_gone(0), m_heldStamp(nextStamp()) {}

Instant::~Instant() {
  m_id.remove();
}

unsigned long long& Instant::heldClosed() {
  static unsigned long long sl_closed = 0;
  return sl_closed;
}

unsigned long long& Instant::setEntries() {
  static unsigned long long sl_entries = 0;
  return sl_entries;
}

unsigned long long& Instant::placesRead() {
  static unsigned long long sl_read = 0;
  return sl_read;
}

unsigned long long& Instant::placesSought() {
  static unsigned long long sl_sought = 0;
  return sl_sought;
}

unsigned long long& Instant::heldCopied() {
  static unsigned long long sl_copied = 0;
  return sl_copied;
}

unsigned long long& Instant::heldShared() {
  static unsigned long long sl_shared = 0;
  return sl_shared;
}

const std::shared_ptr<HeldVector::Vector>& HeldVector::none() {
  static const std::shared_ptr<Vector> sl_none = std::make_shared<Vector>();
  return sl_none;
}

HeldVector::Vector& HeldVector::own() {
  if (m_vector.use_count() > 1) {
    Instant::heldCopied() += m_vector->size();
    std::shared_ptr<Vector> mine = std::make_shared<Vector>();
    mine->reserve(m_vector->size() + 1);
    mine->assign(m_vector->begin(), m_vector->end());
    m_vector = std::move(mine);
  }
  return *m_vector;
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
  // The profile's readers look again only at instants whose values moved.
  if (m_lowerLevel != lowerLevelMin || m_lowerLevelMax != lowerLevelMax || m_upperLevelMin != upperLevelMin ||
      m_upperLevel != upperLevelMax || m_minInstConsumption != minInstConsumption ||
      m_maxInstConsumption != maxInstConsumption || m_minInstProduction != minInstProduction ||
      m_maxInstProduction != maxInstProduction || m_minCumulativeConsumption != minCumulativeConsumption ||
      m_maxCumulativeConsumption != maxCumulativeConsumption || m_minCumulativeProduction != minCumulativeProduction ||
      m_maxCumulativeProduction != maxCumulativeProduction || m_minPrevConsumption != minPrevConsumption ||
      m_maxPrevConsumption != maxPrevConsumption || m_minPrevProduction != minPrevProduction ||
      m_maxPrevProduction != maxPrevProduction)
    noteRewritten();
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

void Instant::setChangeCounts(std::size_t prevConsumptions, std::size_t prevProductions, std::size_t consumptions,
                              std::size_t productions) {
  if (m_prevChanges[0] != prevConsumptions || m_prevChanges[1] != prevProductions ||
      m_changesByThen[0] != consumptions || m_changesByThen[1] != productions)
    noteRewritten();
  m_prevChanges[0] = prevConsumptions;
  m_prevChanges[1] = prevProductions;
  m_changesByThen[0] = consumptions;
  m_changesByThen[1] = productions;
}

void Instant::noteRewritten() {
  if (!m_profile.isNoId())
    m_profile->noteRewritten(m_time);
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
  checkNotHeld(t);
  const AbstractDomain& dom = t->time()->lastDomain();
  checkError(t->time()->lastDomain().isMember(m_time),
             "Attempted to add a transaction spanning time " << t->time()->toString()
             << " to instant for " << m_time);
  writeAddition(t);
  hold(t, filingOf(dom.getLowerBound() == (double) m_time, dom.getUpperBound() == (double) m_time));
}

void Instant::writeAddition(const TransactionId& t) const {
  debugMsg("Instant:addTransaction", "Adding transaction to instant (" << m_id << ") for time "
           << t->time()->toString() << " with quantity " << t->quantity()->toString());
}

void Instant::updateTransaction(TransactionId t, std::size_t at) {
  const AbstractDomain& dom = t->time()->lastDomain();
  checkError(t->time()->lastDomain().isMember(m_time),
             "Attempted to update a transaction spanning time " << t->time()->toString()
             << " to instant for " << m_time);
  debugMsg("Instant:updateTransaction", "Updating transaction to instant (" << m_id << ") for time "
           << t->time()->toString() << " with quantity " << t->quantity()->toString());
  const bool starts = dom.getLowerBound() == (double) m_time, ends = dom.getUpperBound() == (double) m_time;
  if (at < m_held.size() && m_held[at] == t && m_filing[at] != GONE)
    fileHeld(at, filingOf(starts, ends));
  else
    fileTransaction(t, starts, ends);
}

void Instant::addTransactionWithin(TransactionId t, int lb, int ub) {
  checkNotHeld(t);
  checkError(lb <= m_time && m_time <= ub,
             "Attempted to file a transaction spanning [" << lb << " " << ub << "] at instant for " << m_time);
  hold(t, filingOf(lb == m_time, ub == m_time));
}

void Instant::checkNotHeld(const TransactionId& t) const {
  // The vector answers first, and cheaply where t comes after every held one; the set, brought
  // up to date, is read only to raise the error.
  if ((m_held.empty() || m_held.back() < t) || !holds(t))
    return;
  getTransactions();
  checkError(m_transactions.find(t) == m_transactions.end(),
             "Instant for time " << m_time << " already has transaction " << t);
}

void Instant::hold(const TransactionId& t, unsigned char filing) {
  // What can run out of memory comes first, each step undone if a later one does: the vectors
  // grow together before either takes t, so they never differ in length, and nothing after the
  // sets allocates.
  std::vector<TransactionId>& held = m_held.own();
  const std::size_t want = held.size() + 1;
  if (held.capacity() < want || m_filing.capacity() < want) {
    const std::size_t room = std::max(want, 2 * held.size());
    held.reserve(room);
    m_filing.reserve(room);
  }
  std::set<TransactionId>::iterator kept = m_transactions.end();
  // Instants are filled in address order as often as not: appending at the end is the cheap case.
  const bool atEnd = m_held.empty() || m_held.back() < t;
  if (m_transactionsKept) {
    const std::size_t had = m_transactions.size();
    kept = atEnd ? m_transactions.insert(m_transactions.end(), t) : m_transactions.insert(t).first;
    if (m_transactions.size() == had)
      kept = m_transactions.end();
  }
  unsigned char from = NOT_FILED;
  std::map<TransactionId, unsigned char>::iterator unheld = m_unheldFiling.end();
  if (!m_unheldFiling.empty()) {
    unheld = m_unheldFiling.find(t);
    if (unheld != m_unheldFiling.end())
      from = unheld->second;
  }
  try {
    refile(t, from, filing);
  } catch (...) {
    if (kept != m_transactions.end())
      m_transactions.erase(kept);
    throw;
  }
  if (m_transactionsKept)
    ++setEntries();
  if (atEnd) {
    held.push_back(t);
    m_filing.push_back(filing);
  }
  else {
    const std::vector<TransactionId>::iterator at = std::lower_bound(held.begin(), held.end(), t);
    const std::size_t i = at - held.begin();
    if (at != held.end() && !(t < *at)) {
      // Back in its own place (or, at the same address, one made since in the place of one gone).
      check_error(m_filing[i] == GONE);
      *at = t;
      m_filing[i] = filing;
      --m_gone;
    }
    else {
      m_filing.insert(m_filing.begin() + i, filing);
      held.insert(at, t);
    }
  }
  if (unheld != m_unheldFiling.end())
    m_unheldFiling.erase(unheld);
  restamp();
}

void Instant::fileTransaction(TransactionId t, bool starts, bool ends) {
  const unsigned char filing = filingOf(starts, ends);
  const std::vector<TransactionId>::const_iterator held = std::lower_bound(m_held.begin(), m_held.end(), t);
  if (held != m_held.end() && !(t < *held) && m_filing[held - m_held.begin()] != GONE) {
    fileHeld(held - m_held.begin(), filing);
    return;
  }
  const std::map<TransactionId, unsigned char>::iterator unheld = m_unheldFiling.find(t);
  if (unheld == m_unheldFiling.end()) {
    // Recorded first: where the sets cannot take t, the record goes and nothing is left filed.
    const std::map<TransactionId, unsigned char>::iterator record =
      m_unheldFiling.insert(std::make_pair(t, filing)).first;
    try {
      refile(t, NOT_FILED, filing);
    } catch (...) {
      m_unheldFiling.erase(record);
      throw;
    }
  }
  else if (unheld->second != filing) {
    refile(t, unheld->second, filing);
    unheld->second = filing;
  }
}

void Instant::fileHeld(std::size_t i, unsigned char filing) {
  unsigned char& known = m_filing[i];
  if (known != filing) {
    refile(m_held[i], known, filing);
    known = filing;
  }
}

void Instant::refile(const TransactionId& t, unsigned char from, unsigned char to) {
  const bool wasStarting = from != NOT_FILED && (from & STARTS) != 0;
  const bool isStarting = to != NOT_FILED && (to & STARTS) != 0;
  const bool wasEnding = from != NOT_FILED && (from & ENDS) != 0;
  const bool isEnding = to != NOT_FILED && (to & ENDS) != 0;
  // The insertions, which can run out of memory, before the erasures, which cannot: a failed
  // second insertion takes back the first and leaves t filed as it was.
  bool startAdded = false;
  if (isStarting && !wasStarting)
    startAdded = m_startingTransactions.insert(t).second;
  if (isEnding && !wasEnding) {
    try {
      m_endingTransactions.insert(t);
    } catch (...) {
      if (startAdded)
        m_startingTransactions.erase(t);
      throw;
    }
  }
  if (wasStarting && !isStarting)
    m_startingTransactions.erase(t);
  if (wasEnding && !isEnding)
    m_endingTransactions.erase(t);
  const bool wasOverlapping = from != NOT_FILED && (from & ENDS) == 0;
  const bool isOverlapping = to != NOT_FILED && (to & ENDS) == 0;
  if (wasOverlapping != isOverlapping)
    m_overlappingStale = true;
}

void Instant::restamp() {
  m_heldStamp = nextStamp();
}

void Instant::closeGaps() const {
  if (m_gone == 0)
    return;
  heldClosed() += m_held.size();
  if (m_held.isShared()) {
    // Another instant reads the gaps' places through its own filings: the kept ones go to a
    // vector of this instant's own.
    std::vector<TransactionId> kept;
    kept.reserve(m_held.size() - m_gone + 1);
    for (std::size_t i = 0; i < m_held.size(); ++i)
      if (m_filing[i] != GONE)
        kept.push_back(m_held[i]);
    heldCopied() += kept.size();
    m_filing.erase(std::remove(m_filing.begin(), m_filing.end(), GONE), m_filing.end());
    m_held.adopt(std::move(kept));
    m_gone = 0;
    return;
  }
  std::vector<TransactionId>& held = m_held.own();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < held.size(); ++i) {
    if (m_filing[i] == GONE)
      continue;
    if (kept != i) {
      held[kept] = held[i];
      m_filing[kept] = m_filing[i];
    }
    ++kept;
  }
  held.resize(kept);
  m_filing.resize(kept);
  m_gone = 0;
}

const std::set<TransactionId>& Instant::getTransactions() const {
  if (!m_transactionsKept) {
    closeGaps();
    m_transactions.clear();
    for (const TransactionId& t : m_held)
      m_transactions.insert(m_transactions.end(), t);
    setEntries() += m_held.size();
    m_transactionsKept = true;
  }
  return m_transactions;
}

const std::set<TransactionId>& Instant::getOverlappingTransactions() const {
  if (m_overlappingStale) {
    closeGaps();
    m_overlappingTransactions.clear();
    for (std::size_t i = 0; i < m_held.size(); ++i)
      if (overlapsFiled(i))
        m_overlappingTransactions.insert(m_overlappingTransactions.end(), m_held[i]);
    for (std::map<TransactionId, unsigned char>::const_iterator it = m_unheldFiling.begin();
         it != m_unheldFiling.end(); ++it)
      if ((it->second & ENDS) == 0)
        m_overlappingTransactions.insert(it->first);
    m_overlappingStale = false;
  }
  return m_overlappingTransactions;
}

void Instant::removeTransaction(TransactionId t, std::size_t at) {
  const std::vector<TransactionId>::const_iterator held =
    at < m_held.size() && m_held[at] == t ? m_held.begin() + at : std::lower_bound(m_held.begin(), m_held.end(), t);
  const std::size_t i = held - m_held.begin();
  if (held == m_held.end() || t < *held || m_filing[i] == GONE) {
    // Not held: the set's own check raises the error (the vector and the set are kept equal).
    getTransactions();
    checkError(m_transactions.find(t) != m_transactions.end(),
               "Instant for time " << m_time << " has no transaction " << t);
    return;
  }
  if (m_transactionsKept)
    m_transactions.erase(m_transactions.find(t));
  const unsigned char filing = m_filing[i];
  m_filing[i] = GONE;
  // Closed when read, or once they are half the vector: the vector stays within twice the set.
  if (2 * ++m_gone > m_held.size())
    closeGaps();
  refile(t, filing, NOT_FILED);
  restamp();
}

bool Instant::holds(const TransactionId& t) const {
  std::vector<TransactionId>::const_iterator it = std::lower_bound(m_held.begin(), m_held.end(), t);
  return it != m_held.end() && !(t < *it) && m_filing[it - m_held.begin()] != GONE;
}

std::size_t Instant::placeOf(const TransactionId& t, std::size_t near) const {
  ++placesSought();
  const std::size_t n = m_held.size();
  if (n == 0)
    return NOWHERE;
  near = std::min(near, n - 1);
  // The first place not before t lies in [lo, hi]; steps double away from near until they pass it.
  std::size_t lo = 0, hi = n, read = 1;
  if (m_held[near] < t) {
    lo = near + 1;
    for (std::size_t step = 1;; step *= 2) {
      const std::size_t probe = lo + step - 1;
      if (probe >= n)
        break;
      ++read;
      if (!(m_held[probe] < t)) {
        hi = probe;
        break;
      }
      lo = probe + 1;
    }
  }
  else {
    hi = near;
    for (std::size_t step = 1;; step *= 2) {
      if (hi < step)
        break;
      const std::size_t probe = hi - step;
      ++read;
      if (m_held[probe] < t) {
        lo = probe + 1;
        break;
      }
      hi = probe;
    }
  }
  const std::size_t i = std::lower_bound(m_held.begin() + lo, m_held.begin() + hi, t) - m_held.begin();
  for (std::size_t span = hi - lo; span > 0; span /= 2)
    ++read;
  placesRead() += read;
  return i < n && !(t < m_held[i]) && m_filing[i] != GONE ? i : NOWHERE;
}

std::size_t Instant::placeOrGap(const TransactionId& t) const {
  std::size_t gap = NOWHERE;
  for (std::size_t i = std::lower_bound(m_held.begin(), m_held.end(), t) - m_held.begin();
       i < m_held.size() && !(t < m_held[i]); ++i) {
    if (m_filing[i] != GONE)
      return i;
    if (gap == NOWHERE)
      gap = i;
  }
  return gap;
}

bool Instant::containsStartOrEnd() const {
  // Those filed as starting or ending here nearly always answer, and there are few of them.
  if (marksHere(m_startingTransactions) || marksHere(m_endingTransactions))
    return true;
  // One filed as under way may have been narrowed onto this time and not be refiled yet.
  const double time = (double) m_time;
  std::vector<TransactionId> unrefiled;
  if (!m_profile.isNoId() && m_profile->listUnrefiled(unrefiled))
    return narrowedHere(unrefiled);
  for (std::size_t i = 0; i < m_held.size(); ++i) {
    if (m_filing[i] == GONE || startsFiled(i) || endsFiled(i))
      continue;
    const AbstractDomain& dom = m_held[i]->time()->lastDomain();
    if (!dom.isEmpty() && (dom.getLowerBound() == time || dom.getUpperBound() == time))
      return true;
  }
  return false;
}

bool Instant::narrowedHere(const std::vector<TransactionId>& unrefiled) const {
  const double time = (double) m_time;
  for (const TransactionId& t : unrefiled) {
    const AbstractDomain& dom = t->time()->lastDomain();
    if (dom.isEmpty() || (dom.getLowerBound() != time && dom.getUpperBound() != time))
      continue;
    // Held here, in its place or in a gap that one put back since left.
    for (std::size_t i = std::lower_bound(m_held.begin(), m_held.end(), t) - m_held.begin();
         i < m_held.size() && !(t < m_held[i]); ++i)
      if (m_filing[i] != GONE && !startsFiled(i) && !endsFiled(i))
        return true;
  }
  return false;
}

bool Instant::marksHere(const std::set<TransactionId>& filed) const {
  // Each one filed starting or ending is either held or filed without being held (refile keeps
  // the sets so): the few of the latter answer without a search of the held vector.
  for (std::set<TransactionId>::const_iterator it = filed.begin(); it != filed.end(); ++it) {
    if (!m_unheldFiling.empty() && m_unheldFiling.count(*it) != 0)
      continue;
    // Filed while its domain had bounds: an emptied domain keeps that window.
    const AbstractDomain& dom = (*it)->time()->lastDomain();
    if (dom.isEmpty() || dom.getLowerBound() == (double) m_time || dom.getUpperBound() == (double) m_time)
      return true;
    // Narrowed away from here by a change the profile has not heard yet: its refiling will.
    if (!m_profile.isNoId() && m_profile->filedWithBoundAt(*it, m_time))
      return true;
  }
  return false;
}

std::string Instant::toString() const {
  std::ostringstream str;
  for (std::set<TransactionId>::const_iterator it = getTransactions().begin(); it != getTransactions().end(); ++it) {
    const TransactionId& t = *it;
    str << " " << m_time << ": " << t << " " << t->time()->toString() << " "
        << t->quantity()->toString() << (t->isConsumer() ? " (C)" : " (P)") << std::endl;
  }
  return str.str();
}

}
}
