#include "Resource/component/MIRT_TimetableProfile.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_Transaction.hh"
#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace KORVAN {
namespace MIRT {

namespace {

const unsigned long long STARTS = 1;
const unsigned long long ENDS = 2;
// Leaves room for the two kind bits below the index in an event's low half.
const std::size_t MAX_SWEPT = std::size_t(1) << 30;
const std::size_t PREFETCH_DISTANCE = 8;
const std::size_t MAX_MEMBER_EDITS = 8;

// Orders times as unsigned keys.
inline unsigned long long timeKey(int time) {
  return (unsigned long long) ((unsigned int) time ^ 0x80000000u);
}

inline bool wholeTime(double bound) {
  return bound >= (double) std::numeric_limits<int>::min() && bound <= (double) std::numeric_limits<int>::max() &&
         bound == (double) (int) bound;
}

// Tracks whether a set of finite doubles sums exactly in any order: true
// when all are multiples of one power of two 2^g and their count times the
// largest magnitude stays below 2^(53+g), so that every partial sum, with
// any signs, is a multiple of 2^g with fewer than 54 significant bits.
class ExactSums {
public:
  ExactSums() : m_count(0), m_lowBit(std::numeric_limits<int>::max()), m_highBit(std::numeric_limits<int>::min()) {}
  void add(double v) {
    if (v == 0.0)
      return;
    int e;
    const double m = std::frexp(v, &e);  // |v| = |m| 2^e, 0.5 <= |m| < 1
    const unsigned long long digits = (unsigned long long) std::ldexp(std::fabs(m), 53);
    m_lowBit = std::min(m_lowBit, e - 53 + __builtin_ctzll(digits));
    m_highBit = std::max(m_highBit, e);
    ++m_count;
  }
  bool exact() const {
    if (m_count == 0)
      return true;
    int countBits = 0;
    while ((std::size_t(1) << countBits) < m_count)
      ++countBits;
    return m_highBit + countBits <= 53 + m_lowBit && m_highBit + countBits <= 1023;
  }

private:
  std::size_t m_count;
  int m_lowBit;
  int m_highBit;
};

}

TimetableProfile::TimetableProfile(Id<PlanDatabase> db, Id<FVDetector> flawDetector,
                                   double initCapacityLb, double initCapacityUb)
  : Profile(db, flawDetector, initCapacityLb, initCapacityUb),
    m_lowerLevelMin(0.0), m_lowerLevelMax(0.0), m_upperLevelMin(0.0), m_upperLevelMax(0.0),
    m_minPrevConsumption(0.0), m_maxPrevConsumption(0.0), m_minPrevProduction(0.0),
    m_maxPrevProduction(0.0), m_prevConsumptions(0), m_prevProductions(0), m_nextEvent(0), m_sweepAllowed(true),
    m_sweeping(false), m_heldMaxConsumption(0.0), m_heldMaxProduction(0.0), m_heldCount(0), m_heldConsumptions(0),
    m_exactSums(false), m_instantsSwept(0), m_memberEdits(0), m_membersKnown(false),
    m_timesKnown(false), m_windowLo(-g_infiniteTime()), m_windowHi(g_infiniteTime()), m_exactLevels(false),
    m_exactLevelsKnown(false), m_lastWalked(std::numeric_limits<int>::max()) {}

TimetableProfile::~TimetableProfile() {}

void TimetableProfile::getTransactionsToOrder(const InstantId& inst, std::vector<TransactionId>& results) {
  check_error(inst.isValid());
  check_error(results.empty());
  // Every held transaction, in the order of the instant's set: the profile's vector holds them so,
  // and reading it builds no tree.
  Profile::getTransactionsToOrder(inst, results);
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
  m_prevConsumptions = inst->getPrevChanges(true);
  m_prevProductions = inst->getPrevChanges(false);
  // The instant's sums leave out what ends there; the walk carried it on in the order of its set.
  for (const TransactionId& t : inst->getEndingTransactions())
    carryEnded(contributionOf(t));
  // The sweep's running totals exist only from the first instant on.
  m_sweeping = false;
  m_lastWalked = inst->getTime();
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
  m_prevConsumptions = 0;
  m_prevProductions = 0;
  m_lastWalked = std::numeric_limits<int>::min();
  m_sweeping = !windowWalkCheaper() && prepareSweep();
  debugMsg("TimetableProfile:initRecompute",
           (!m_sweeping ? "Walking " : m_exactSums ? "Sweeping with running sums " : "Sweeping with ordered sums ")
           << getTransactions().size() << " transactions");
}

// A sweep keeps running sums of the held transactions' quantity upper bounds
// only when those sums are exact in any order; otherwise it adds the held
// ones at each instant in the walk's order. The other sums are taken over the
// transactions starting or ending at the instant, in the walk's order. Empty
// or odd time domains leave the pass to the walk, and so does `setSweep(false)`.
// What only time bounds decide (the events and their order) is kept from pass
// to pass until a transaction comes, goes or moves.
bool TimetableProfile::prepareSweep() {
  if (!m_sweepAllowed || getTransactions().size() >= MAX_SWEPT)
    return false;
  if (!m_membersKnown) {
    m_members.assign(getTransactions().begin(), getTransactions().end());
    m_membersKnown = true;
    m_timesKnown = false;
  }
  m_memberEdits = 0;
  if (!m_timesKnown) {
    if (!readTimes())
      return false;
    m_timesKnown = true;
  }
  transactionsPrepared() += m_members.size();
  ExactSums exact;
  std::vector<Bounds>::iterator b = m_bounds.begin();
  for (std::vector<TransactionId>::const_iterator it = m_members.begin(); it != m_members.end(); ++it, ++b) {
    const AbstractDomain& quantityDom = (*it)->quantity()->lastDomain();
    const double qub = quantityDom.getUpperBound();
    // Domains keep their bounds finite; anything else is left to the walk.
    if (!std::isfinite(qub))
      return false;
    exact.add(qub);
    b->qlb = quantityDom.getLowerBound();
    b->qub = qub;
  }
  m_exactSums = exact.exact();
  if (!m_exactSums) {
    m_heldBits.assign((m_members.size() + 63) / 64, 0);
    m_heldWords.assign((m_heldBits.size() + 63) / 64, 0);
  }
  m_nextEvent = 0;
  m_instantsSwept = 0;
  m_heldMaxConsumption = 0.0;
  m_heldMaxProduction = 0.0;
  m_heldCount = 0;
  m_heldConsumptions = 0;
  return true;
}

// A pass over a window that begins at the first instant (a fix near the start of the horizon)
// need not read every transaction, as preparing a sweep does: walking the window's instants reads
// what they hold, fewer unless the window holds about as many.
bool TimetableProfile::windowWalkCheaper() const {
  if (!m_recomputeInterval.isValid() || m_recomputeInterval->getEndTime() >= g_infiniteTime())
    return false;
  const int end = m_recomputeInterval->getEndTime();
  std::size_t budget = getTransactions().size();
  for (std::map<int, InstantId>::const_iterator it = m_instants.begin(); it != m_instants.end() && it->first <= end;
       ++it) {
    const std::size_t held = it->second->heldCount();
    if (held >= budget)
      return false;
    budget -= held;
  }
  return true;
}

bool TimetableProfile::readTimes() {
  transactionsPrepared() += m_members.size();
  m_bounds.resize(m_members.size());
  m_events.clear();
  m_events.reserve(2 * m_members.size());
  unsigned long long index = 0;
  for (std::vector<TransactionId>::const_iterator it = m_members.begin(); it != m_members.end(); ++it, ++index) {
    const TransactionId& t = *it;
    const AbstractDomain& timeDom = t->time()->lastDomain();
    if (timeDom.isEmpty())
      return false;
    const double tlb = timeDom.getLowerBound();
    const double tub = timeDom.getUpperBound();
    const bool singleton = timeDom.isSingleton();
    if (!wholeTime(tlb) || !wholeTime(tub) || singleton != (tlb == tub))
      return false;
    m_bounds[index].consumer = t->isConsumer();
    m_bounds[index].singleton = singleton;
    if (singleton)
      m_events.push_back(timeKey((int) tlb) << 32 | index << 2 | STARTS | ENDS);
    else {
      m_events.push_back(timeKey((int) tlb) << 32 | index << 2 | STARTS);
      m_events.push_back(timeKey((int) tub) << 32 | index << 2 | ENDS);
    }
  }
  std::sort(m_events.begin(), m_events.end());
  // Instants come and go only with the members' time bounds.
  m_instantAddresses.clear();
  m_instantAddresses.reserve(2 * m_instants.size());
  for (std::map<int, InstantId>::const_iterator it = m_instants.begin(); it != m_instants.end(); ++it) {
    m_instantAddresses.push_back(&*it);
    m_instantAddresses.push_back((Instant*) it->second);
  }
  return true;
}

unsigned long long& TimetableProfile::transactionsPrepared() {
  static unsigned long long sl_prepared = 0;
  return sl_prepared;
}

// A few changes between passes are followed in place, cheaper than walking
// the profile's set again; many (building a plan) are not.
void TimetableProfile::handleTransactionAdded(TransactionId t) {
  if (m_membersKnown && ++m_memberEdits > MAX_MEMBER_EDITS)
    m_membersKnown = false;
  if (m_membersKnown) {
    std::vector<TransactionId>::iterator pos = std::lower_bound(m_members.begin(), m_members.end(), t);
    m_members.insert(pos, t);
  }
  m_timesKnown = false;
  const AbstractDomain& timeDom = t->time()->lastDomain();
  if (!timeDom.isEmpty() && wholeTime(timeDom.getLowerBound()) && wholeTime(timeDom.getUpperBound()))
    m_timeBounds[t] = std::make_pair((int) timeDom.getLowerBound(), (int) timeDom.getUpperBound());
  m_exactLevelsKnown = false;
  wholeWindow();
  Profile::handleTransactionAdded(t);
}

void TimetableProfile::handleTransactionRemoved(TransactionId t) {
  if (m_membersKnown && ++m_memberEdits > MAX_MEMBER_EDITS)
    m_membersKnown = false;
  if (m_membersKnown) {
    std::vector<TransactionId>::iterator pos = std::lower_bound(m_members.begin(), m_members.end(), t);
    if (pos != m_members.end() && *pos == t)
      m_members.erase(pos);
    else
      m_membersKnown = false;
  }
  m_timesKnown = false;
  m_timeBounds.erase(t);
  wholeWindow();
  Profile::handleTransactionRemoved(t);
}

void TimetableProfile::handleTransactionTimeChanged(TransactionId t, const DomainListener::ChangeType& change) {
  m_timesKnown = false;
  const AbstractDomain& timeDom = t->time()->lastDomain();
  const bool bounded =
      !timeDom.isEmpty() && wholeTime(timeDom.getLowerBound()) && wholeTime(timeDom.getUpperBound());
  std::map<TransactionId, std::pair<int, int>>::iterator known = m_timeBounds.find(t);
  if (!bounded || known == m_timeBounds.end() || !levelsExact()) {
    if (bounded)
      m_timeBounds[t] = std::make_pair((int) timeDom.getLowerBound(), (int) timeDom.getUpperBound());
    else if (known != m_timeBounds.end())
      m_timeBounds.erase(known);
    wholeWindow();
    Profile::handleTransactionTimeChanged(t, change);
    return;
  }
  const int lb = (int) timeDom.getLowerBound(), ub = (int) timeDom.getUpperBound();
  m_windowLo = std::min(m_windowLo, std::min(known->second.first, lb));
  m_windowHi = std::max(m_windowHi, std::max(known->second.second, ub));
  known->second = std::make_pair(lb, ub);
  // A pass starts from the values of its first instant, which it does not compute: the instant
  // before the window.
  const std::map<int, InstantId>::const_iterator after = m_instants.lower_bound(m_windowLo);
  const int start = after == m_instants.begin() ? -g_infiniteTime() : std::prev(after)->first;
  debugMsg("TimetableProfile:handleTransactionTimeChanged",
           "Recomputing [" << m_windowLo << " " << m_windowHi << "] from " << start);
  if (m_recomputeInterval.isValid())
    delete (ProfileIterator*) m_recomputeInterval;
  m_recomputeInterval = (new ProfileIterator(getId(), start, m_windowHi))->getId();
}

void TimetableProfile::handleTemporalConstraintAdded(TransactionId predecessor, int preArgIndex,
                                                     TransactionId successor, int sucArgIndex) {
  wholeWindow();
  Profile::handleTemporalConstraintAdded(predecessor, preArgIndex, successor, sucArgIndex);
}

void TimetableProfile::handleTemporalConstraintRemoved(TransactionId predecessor, int preArgIndex,
                                                       TransactionId successor, int sucArgIndex) {
  wholeWindow();
  Profile::handleTemporalConstraintRemoved(predecessor, preArgIndex, successor, sucArgIndex);
}

void TimetableProfile::handleTransactionQuantityChanged(TransactionId t, const DomainListener::ChangeType& change) {
  m_exactLevelsKnown = false;
  wholeWindow();
  Profile::handleTransactionQuantityChanged(t, change);
}

void TimetableProfile::wholeWindow() {
  m_windowLo = -g_infiniteTime();
  m_windowHi = g_infiniteTime();
}

// Every running sum adds each transaction's quantity bound at most once to
// an initial level: exact in any order when all of those are.
bool TimetableProfile::levelsExact() {
  if (m_exactLevelsKnown)
    return m_exactLevels;
  m_exactLevelsKnown = true;
  m_exactLevels = false;
  ExactSums exact;
  for (const double init : {m_initLevelLb, m_initLevelUb}) {
    if (!std::isfinite(init))
      return false;
    exact.add(init);
  }
  for (const TransactionId& t : getTransactions()) {
    const AbstractDomain& quantityDom = t->quantity()->lastDomain();
    for (const double bound : {quantityDom.getLowerBound(), quantityDom.getUpperBound()}) {
      if (!std::isfinite(bound))
        return false;
      exact.add(bound);
    }
  }
  m_exactLevels = exact.exact();
  return m_exactLevels;
}

// The window is done once the pass has computed its last instant; a pass cut
// short leaves the rest to the next, and a change during the pass has taken
// the window into its own.
void TimetableProfile::postHandleRecompute() {
  if (!needsRecompute()) {
    const std::map<int, InstantId>::const_iterator next = m_instants.upper_bound(m_lastWalked);
    if (next == m_instants.end() || next->first > m_windowHi) {
      m_windowLo = g_infiniteTime();
      m_windowHi = -g_infiniteTime();
    }
  }
  m_lastWalked = std::numeric_limits<int>::max();
}

void TimetableProfile::recomputeLevels(InstantId /* prev */, InstantId inst) {
  check_error(inst.isValid());
  m_lastWalked = inst->getTime();
  if (m_sweeping && sweepInstant(inst))
    return;
  // Once an instant has been walked, the running totals are behind.
  m_sweeping = false;
  walkInstant(inst);
}

bool TimetableProfile::sweepInstant(const InstantId& inst) {
  prefetchAhead();
  ++m_instantsSwept;
  const std::size_t first = m_nextEvent;
  std::size_t last = first;
  if (!readEvents(inst, last))
    return false;

  debugMsg("TimetableProfile:recomputeLevels", "Transactions at " << inst->getTime() << ":");
  // The listing the walk writes, so that debug output reads the same whichever way the pass goes.
  static DebugMessage* sl_listing = DebugMessage::addMsg(__FILE__, __LINE__, "TimetableProfile:recomputeLevels");
  if (sl_listing->isEnabled())
    for (const TransactionId& t : inst->getTransactions())
      listTransaction(t->time()->lastDomain(), t->quantity()->lastDomain(), t->isConsumer());
  double minInstantProduction = 0.0, minInstantConsumption = 0.0;
  double minCumulativeProduction = m_minPrevProduction;
  double minCumulativeConsumption = m_minPrevConsumption;
  // Each sum below but the held totals is taken in the walk's order.
  for (std::size_t i = first; i < last; ++i) {
    const unsigned long long event = m_events[i];
    const Bounds& b = m_bounds[(event & 0xffffffffull) >> 2];
    const LevelContribution c = b.contribution();
    if (b.singleton)
      c.total(minInstantConsumption, minInstantProduction) += c.qlb;
    if (event & STARTS) {
      if (m_exactSums)
        c.total(m_heldMaxConsumption, m_heldMaxProduction) += c.qub;
      else
        hold((event & 0xffffffffull) >> 2);
      m_heldConsumptions += c.consumer;
      mayStartHere(c);
    }
    if (event & ENDS)
      mustHaveHappened(c, minCumulativeConsumption, minCumulativeProduction);
  }

  double maxInstantConsumption = m_heldMaxConsumption;
  double maxInstantProduction = m_heldMaxProduction;
  if (!m_exactSums)
    sumHeld(maxInstantConsumption, maxInstantProduction);
  const double maxCumulativeConsumption = m_maxPrevConsumption + maxInstantConsumption;
  const double maxCumulativeProduction = m_maxPrevProduction + maxInstantProduction;
  publish(inst, minInstantConsumption, maxInstantConsumption, minInstantProduction, maxInstantProduction,
          minCumulativeConsumption, maxCumulativeConsumption, minCumulativeProduction,
          maxCumulativeProduction, m_heldConsumptions, m_heldCount - m_heldConsumptions);
  releaseEnded(first, last);
  return true;
}

// The walk is bound by fetching the instants and their map entries from
// memory: ask for those a few steps ahead. Only a hint; the addresses are
// never read here.
void TimetableProfile::prefetchAhead() const {
  const std::size_t ahead = 2 * (m_instantsSwept + PREFETCH_DISTANCE);
  if (ahead >= m_instantAddresses.size())
    return;
  const char* entry = (const char*) m_instantAddresses[ahead];
  __builtin_prefetch(entry - 32);
  __builtin_prefetch(entry + 32);
  const char* instant = (const char*) m_instantAddresses[ahead + 1];
  for (int line = 0; line < 6; ++line)
    __builtin_prefetch(instant + 64 * line, 1);
}

// Nothing may lie between the instants, and the instant must hold exactly
// what the bounds read for the pass put there.
bool TimetableProfile::readEvents(const InstantId& inst, std::size_t& last) {
  const unsigned long long key = timeKey(inst->getTime());
  const std::size_t first = m_nextEvent;
  if (first < m_events.size() && (m_events[first] >> 32) < key)
    return false;
  std::size_t starting = 0, ending = 0;
  for (last = first; last < m_events.size() && (m_events[last] >> 32) == key; ++last) {
    starting += m_events[last] & STARTS;
    ending += (m_events[last] & ENDS) >> 1;
  }
  if (inst->getStartingTransactions().size() != starting || inst->getEndingTransactions().size() != ending ||
      inst->heldCount() != m_heldCount + starting)
    return false;
  m_heldCount += starting;
  return true;
}

// What ends at the instant is carried into the sums of every later one.
void TimetableProfile::releaseEnded(std::size_t first, std::size_t last) {
  for (std::size_t i = first; i < last; ++i) {
    const unsigned long long event = m_events[i];
    if (!(event & ENDS))
      continue;
    const LevelContribution c = m_bounds[(event & 0xffffffffull) >> 2].contribution();
    carryEnded(c);
    if (m_exactSums)
      c.total(m_heldMaxConsumption, m_heldMaxProduction) -= c.qub;
    else
      release((event & 0xffffffffull) >> 2);
    --m_heldCount;
    m_heldConsumptions -= c.consumer;
  }
  m_nextEvent = last;
}

// May start here: the earliest a consumer can lower, or a producer raise, the level.
void TimetableProfile::mayStartHere(const LevelContribution& c) {
  double& min = c.consumer ? m_lowerLevelMin : m_upperLevelMin;
  double& max = c.consumer ? m_lowerLevelMax : m_upperLevelMax;
  min += c.toLowerBound();
  max += c.toUpperBound();
}

// Cannot happen later than here: from now on it certainly counts.
void TimetableProfile::mustHaveHappened(const LevelContribution& c, double& minCumulativeConsumption,
                                        double& minCumulativeProduction) {
  double& min = c.consumer ? m_upperLevelMin : m_lowerLevelMin;
  double& max = c.consumer ? m_upperLevelMax : m_lowerLevelMax;
  min += c.toLowerBound();
  max += c.toUpperBound();
  c.total(minCumulativeConsumption, minCumulativeProduction) += c.qlb;
}

void TimetableProfile::carryEnded(const LevelContribution& c) {
  c.total(m_maxPrevConsumption, m_maxPrevProduction) += c.qub;
  c.total(m_minPrevConsumption, m_minPrevProduction) += c.qlb;
  ++(c.consumer ? m_prevConsumptions : m_prevProductions);
}

void TimetableProfile::listTransaction(const AbstractDomain& time, const AbstractDomain& quantity, bool consumer) {
  debugMsg("TimetableProfile:recomputeLevels",
           "Time: [" << time.getLowerBound() << " " << time.getUpperBound() << "] Quantity: "
                     << (consumer ? "-" : "+") << "[" << quantity.getLowerBound() << " "
                     << quantity.getUpperBound() << "]");
}

void TimetableProfile::publish(const InstantId& inst, double minInstantConsumption, double maxInstantConsumption,
                               double minInstantProduction, double maxInstantProduction,
                               double minCumulativeConsumption, double maxCumulativeConsumption,
                               double minCumulativeProduction, double maxCumulativeProduction,
                               std::size_t heldConsumptions, std::size_t heldProductions) {
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
  inst->setChangeCounts(m_prevConsumptions, m_prevProductions, m_prevConsumptions + heldConsumptions,
                        m_prevProductions + heldProductions);
}

void TimetableProfile::hold(std::size_t member) {
  m_heldBits[member / 64] |= 1ull << (member % 64);
  m_heldWords[member / 4096] |= 1ull << (member / 64 % 64);
}

void TimetableProfile::release(std::size_t member) {
  unsigned long long& bits = m_heldBits[member / 64];
  bits &= ~(1ull << (member % 64));
  if (bits == 0)
    m_heldWords[member / 4096] &= ~(1ull << (member / 64 % 64));
}

// In the members' order, which is the order of every instant's set: the
// walk's sums to the last bit.
void TimetableProfile::sumHeld(double& consumption, double& production) const {
  consumption = 0.0;
  production = 0.0;
  for (std::size_t top = 0; top < m_heldWords.size(); ++top) {
    for (unsigned long long words = m_heldWords[top]; words != 0; words &= words - 1) {
      const std::size_t word = top * 64 + __builtin_ctzll(words);
      for (unsigned long long bits = m_heldBits[word]; bits != 0; bits &= bits - 1) {
        const Bounds& b = m_bounds[word * 64 + __builtin_ctzll(bits)];
        (b.consumer ? consumption : production) += b.qub;
      }
    }
  }
}

void TimetableProfile::walkInstant(const InstantId& inst) {

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
  std::size_t heldConsumptions = 0;
  for (std::set<TransactionId>::const_iterator it = transactions.begin(); it != transactions.end(); ++it) {
    const TransactionId& t = *it;
    const AbstractDomain& timeDom = t->time()->lastDomain();
    const AbstractDomain& quantityDom = t->quantity()->lastDomain();
    const double tlb = timeDom.getLowerBound();
    const double tub = timeDom.getUpperBound();
    const LevelContribution c{quantityDom.getLowerBound(), quantityDom.getUpperBound(), t->isConsumer()};
    listTransaction(timeDom, quantityDom, c.consumer);
    if (endIt != ending.end() && *endIt == t) {
      const TransactionId& trans = *endIt;
      check_error(trans.isValid());
      m_ending.push_back(c);
      ++endIt;
    }
    if (timeDom.isSingleton())
      c.total(minInstantConsumption, minInstantProduction) += c.qlb;
    c.total(maxInstantConsumption, maxInstantProduction) += c.qub;
    heldConsumptions += c.consumer;
    if (tlb == time)
      mayStartHere(c);
    if (tub == time)
      mustHaveHappened(c, minCumulativeConsumption, minCumulativeProduction);
  }
  checkError(endIt == ending.end(), "Instant at " << inst->getTime() << " ends a transaction it does not hold.");

  maxCumulativeConsumption += maxInstantConsumption;
  maxCumulativeProduction += maxInstantProduction;

  publish(inst, minInstantConsumption, maxInstantConsumption, minInstantProduction, maxInstantProduction,
          minCumulativeConsumption, maxCumulativeConsumption, minCumulativeProduction,
          maxCumulativeProduction, heldConsumptions, transactions.size() - heldConsumptions);

  // What ends here is carried into the sums of every later instant.
  for (std::vector<LevelContribution>::const_iterator it = m_ending.begin(); it != m_ending.end(); ++it)
    carryEnded(*it);
}

}
}
