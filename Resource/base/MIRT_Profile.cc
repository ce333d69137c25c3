#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <sstream>

namespace KORVAN {
namespace MIRT {

namespace {

// Time bounds are whole numbers within the infinite time; anything else is a
// fault upstream, not something to round.
int toTime(double bound) {
  checkError(bound >= -(double) g_infiniteTime() && bound <= (double) g_infiniteTime() &&
             bound == (double) (int) bound,
             "Time bound " << bound << " is not a whole time within the infinite time.");
  return (int) bound;
}

inline int lowerTime(const TransactionId& t) {
  return toTime(t->time()->lastDomain().getLowerBound());
}

inline int upperTime(const TransactionId& t) {
  return toTime(t->time()->lastDomain().getUpperBound());
}

std::vector<Id<ConstrainedVariable>> makeScope(const Id<ConstrainedVariable>& var) {
  return std::vector<Id<ConstrainedVariable>>(1, var);
}

// One checked conversion from a handle to the class its object really is.
template <class To, class From>
To* checkedCast(const Id<From>& id, const char* what) {
  To* result = id.isNoId() ? 0 : dynamic_cast<To*>((From*) id);
  checkError(result != 0, "Expected " << what << " but got " << id);
  return result;
}

// Whether the lines of each transaction a new instant takes are wanted: listFilled writes them.
bool fillingWritesLines() {
  static DebugMessage* const sl_sites[] = {
      DebugMessage::addMsg(__FILE__, __LINE__, "Profile:addInstant"),
      DebugMessage::addMsg(__FILE__, __LINE__, "Instant:addTransaction")};
  return DebugMessage::anyEnabled(sl_sites);
}

// Whether a restriction's refiling lists its run of instants.
bool refilingWritesLines() {
  static DebugMessage* const sl_sites[] = {DebugMessage::addMsg(__FILE__, __LINE__, "Profile:handleTimeChanged")};
  return DebugMessage::anyEnabled(sl_sites);
}

// Whether refiling a transaction at an instant writes a line.
bool updateWritesLines() {
  static DebugMessage* const sl_sites[] = {DebugMessage::addMsg(__FILE__, __LINE__, "Instant:updateTransaction")};
  return DebugMessage::anyEnabled(sl_sites);
}

// Whether a profile iterator and its instant look-ups write lines.
bool iteratorWritesLines() {
  static DebugMessage* const sl_sites[] = {
      DebugMessage::addMsg(__FILE__, __LINE__, "ProfileIterator:ProfileIterator"),
      DebugMessage::addMsg(__FILE__, __LINE__, "ProfileIterator:isStale"),
      DebugMessage::addMsg(__FILE__, __LINE__, "ProfileIterator:done"),
      DebugMessage::addMsg(__FILE__, __LINE__, "ProfileIterator:next"),
      DebugMessage::addMsg(__FILE__, __LINE__, "Profile:getLeastInstant"),
      DebugMessage::addMsg(__FILE__, __LINE__, "Profile:getGreatestInstant")};
  return DebugMessage::anyEnabled(sl_sites);
}

}

/*
 * Construction and destruction
 */

Profile::Profile(Id<PlanDatabase> db, Id<FVDetector> flawDetector, double initLevelLb, double initLevelUb)
  : FactoryObj(), m_id(this), m_changeCount(0), m_needsRecompute(false), m_constraintKeyLb(0),
    m_recomputing(false), m_initLevelLb(unboundedAtHorizon(initLevelLb)),
    m_initLevelUb(unboundedAtHorizon(initLevelUb)), m_planDatabase(db),
    m_detector(flawDetector), m_recomputeInterval() {}

Profile::~Profile() {
  DebugMessage::Teardown quiet;
  debugMsg("Profile:~Profile", "In profile destructor for " << m_id);
  // Discarding a listener may relax an inconsistent engine, which would tell
  // the listeners still to go of transactions their owner may have deleted:
  // every listener stops listening before any is discarded.
  for (std::multimap<TransactionId, Id<Constraint>>::iterator it = m_variableListeners.begin();
       it != m_variableListeners.end(); ++it)
    if (it->second.isValid())
      checkedCast<VariableListener>(it->second, "a profile variable listener")->detach();
  for (std::map<TransactionId, Id<ConstrainedVariableListener>>::iterator it = m_otherListeners.begin();
       it != m_otherListeners.end(); ++it)
    if (it->second.isValid())
      checkedCast<ConstraintAdditionListener>(it->second, "a constraint addition listener")->detach();

  debugMsg("Profile:~Profile", "Cleaning up instants...");
  dropAllInstants();

  debugMsg("Profile:~Profile", "Cleaning up variable listeners...");
  for (std::multimap<TransactionId, Id<Constraint>>::iterator it = m_variableListeners.begin();
       it != m_variableListeners.end(); ++it) {
    // The engine may have gone first and taken its constraints with it.
    if (it->second.isValid())
      it->second->discard(true);
  }
  m_variableListeners.clear();

  debugMsg("Profile:~Profile", "Cleaning up constraint addition listeners...");
  for (std::map<TransactionId, Id<ConstrainedVariableListener>>::iterator it = m_otherListeners.begin();
       it != m_otherListeners.end(); ++it) {
    if (it->second.isValid())
      delete (ConstrainedVariableListener*) it->second;
  }
  m_otherListeners.clear();

  if (m_recomputeInterval.isValid()) {
    debugMsg("Profile:~Profile", "Deleting profile iterator " << m_recomputeInterval);
    delete (ProfileIterator*) m_recomputeInterval;
  }
  m_id.remove();
}

const Id<Resource>& Profile::getResource() const {
  return m_detector->getResource();
}

/*
 * Instants
 */

void Profile::addInstantsForBounds(TransactionId t) {
  // The upper bound after the lower: where both are one time, the instant
  // just made there is the one the second round refiles t at.
  for (const int time : {lowerTime(t), upperTime(t)}) {
    std::map<int, InstantId>::iterator it = m_instants.find(time);
    if (it != m_instants.end())
      it->second->updateTransaction(t);
    else
      addInstant(time);
  }
}

void Profile::addInstant(const int time) {
  checkError(m_instants.find(time) == m_instants.end(),
             "Attempted to add a redundant instant for time " << time);
  debugMsg("Profile:addInstant", "Adding instant for time " << time);
  // Filled before the profile takes it: memory running out on the way leaves the profile as it
  // was, with no instant half filled for a reader (or the unwinding's removals) to find.
  std::unique_ptr<Instant> made(new Instant(time, m_id));
  Instant* inst = made.get();
  const std::map<int, InstantId>::iterator next = m_instants.lower_bound(time);
  // Every filed window has instants at its bounds and none is at this time,
  // so only what is filed across the instant before can span it, besides a
  // transaction being refiled right now. Looking at no other transaction
  // keeps building a profile linear.
  if (next != m_instants.begin()) {
    // The held ones filed as overlapping, in the order of the sets.
    const Instant& before = *std::prev(next)->second;
    fillFrom(inst, before, next == m_instants.end() ? nullptr : (const Instant*) next->second);
  }
  if (!m_refiling.isNoId() && !inst->holds(m_refiling))
    addIfSpanning(inst, m_refiling);
  const std::map<int, InstantId>::iterator pos = m_instants.insert(next, std::make_pair(time, inst->getId()));
  made.release();
  try {
    noteRewritten(time);
  } catch (...) {
    m_instants.erase(pos);
    delete inst;
    throw;
  }
  // Listed once all are held: the transaction being refiled is written in its place in the set.
  if (fillingWritesLines())
    listFilled(*inst);
}

void Profile::fillFrom(Instant* inst, const Instant& before, const Instant* after) {
  // One whose domain is still the window it was filed in (or was emptied) has instants at both
  // bounds, neither of them at this time: filed as under way before, it is under way here too.
  // Only those that may have moved since their filing have their domains read, found by their
  // places in the vector, which is ordered as the list; the runs between are copied unread.
  std::vector<TransactionId> unrefiled;
  const bool listed = listUnrefiled(unrefiled);
  // Where all a neighbour holds but those listed is under way here, its vector serves.
  if (listed && (shareHeld(inst, before, before, Instant::ENDS, unrefiled) ||
                 (after != nullptr && shareHeld(inst, *after, before, Instant::STARTS, unrefiled))))
    return;
  // addIfSpanning for each one filed as overlapping before, appended in the order of the vector.
  const std::vector<TransactionId>& held = before.heldInOrder();
  const std::size_t count = held.size();
  std::vector<TransactionId>& mine = inst->m_held.own();
  mine.reserve(count + 1);
  inst->m_filing.reserve(count + 1);
  if (listed) {
    const unsigned char* const filing = before.m_filing.data();
    std::size_t from = 0;
    for (std::size_t k = 0; k <= unrefiled.size(); ++k) {
      const std::size_t to = k == unrefiled.size()
                                 ? count
                                 : std::lower_bound(held.begin() + from, held.end(), unrefiled[k]) - held.begin();
      for (std::size_t i = from; i < to;) {
        // Most are under way: eight filings at a time are looked over for an end.
        std::size_t end = i;
        for (std::uint64_t word; end + 8 <= to; end += 8) {
          std::memcpy(&word, filing + end, 8);
          if ((word & (0x0101010101010101ULL * Instant::ENDS)) != 0)
            break;
        }
        while (end < to && (filing[end] & Instant::ENDS) == 0)
          ++end;
        if (end > i) {
          Instant::heldCopied() += end - i;
          mine.insert(mine.end(), held.begin() + i, held.begin() + end);
          inst->m_filing.insert(inst->m_filing.end(), end - i, Instant::filingOf(false, false));
          inst->refile(held[i], Instant::NOT_FILED, Instant::filingOf(false, false));
        }
        i = end + 1;
      }
      from = to;
      if (to < count && held[to] == unrefiled[k]) {
        if (before.overlapsFiled(to))
          fillByDomain(inst, held[to]);
        from = to + 1;
      }
    }
    inst->restamp();
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    // Each transaction, its time variable and its domain lie apart in memory, and a long chain's
    // thousands of them outgrow the cache: each is fetched some steps before it is read.
    if (i + 24 < count)
      __builtin_prefetch((const Transaction*) held[i + 24]);
    if (i + 16 < count && before.overlapsFiled(i + 16))
      __builtin_prefetch((const ConstrainedVariable*) held[i + 16]->time());
    if (i + 8 < count && before.overlapsFiled(i + 8))
      __builtin_prefetch(&held[i + 8]->time()->lastDomain());
    if (before.overlapsFiled(i))
      fillByDomain(inst, held[i]);
  }
  inst->restamp();
}

bool Profile::spanningFiling(const TransactionId& trans, int time, unsigned char& filing) const {
  bool spans = false, starts = false, ends = false;
  check_error(trans.isValid());
  check_error(trans->time().isValid());
  const AbstractDomain& dom = trans->time()->lastDomain();
  if (dom.isEmpty()) {
    // An emptied domain keeps the window it was filed in.
    const std::map<TransactionId, std::pair<int, int>>::const_iterator filed = m_filed.find(trans);
    spans = filed != m_filed.end() && filed->second.first <= time && time <= filed->second.second;
    if (spans) {
      starts = filed->second.first == time;
      ends = filed->second.second == time;
    }
  }
  else if (dom.isMember((double) time)) {
    spans = true;
    starts = dom.getLowerBound() == (double) time;
    ends = dom.getUpperBound() == (double) time;
  }
  filing = Instant::filingOf(starts, ends);
  return spans;
}

void Profile::fillByDomain(Instant* inst, const TransactionId& trans) {
  ++domainsFilled();
  unsigned char filing;
  if (!spanningFiling(trans, inst->getTime(), filing))
    return;
  inst->m_held.own().push_back(trans);
  inst->m_filing.push_back(filing);
  inst->refile(trans, Instant::NOT_FILED, filing);
}

bool Profile::shareHeld(Instant* inst, const Instant& from, const Instant& before, unsigned char leaves,
                        const std::vector<TransactionId>& unrefiled) {
  if (!filingsShared())
    return false;
  const std::vector<TransactionId>& held = from.m_held.get();
  const std::vector<unsigned char>& filing = from.m_filing;
  const std::size_t count = held.size();
  // Gaps are carried over, and each listed one may leave one more: the vector stays within twice
  // the set, and a neighbour whose gaps are half its vector is copied from instead.
  if (count == 0 || 2 * (from.m_gone + unrefiled.size()) > count)
    return false;
  // Every one held at from and filed as beginning there (after) or ending there (before) is not
  // under way here: unless it is listed, the vector cannot serve.
  const std::set<TransactionId>& marked = leaves == Instant::ENDS ? from.m_endingTransactions
                                                                   : from.m_startingTransactions;
  std::size_t heldMarked = marked.size();
  for (const std::pair<const TransactionId, unsigned char>& unheld : from.m_unheldFiling)
    if ((unheld.second & leaves) != 0)
      --heldMarked;
  // What each listed one is here, as the copy would file it: read from its domain where it is
  // held at before and not filed as ending there, and the one being refiled wherever it spans.
  // One under way here takes its place in the vector, held at from or left as a gap.
  struct Listed {
    std::size_t at;
    bool held, spans, read;
    unsigned char filing;
  };
  std::vector<Listed> listed;
  listed.reserve(unrefiled.size());
  const int time = inst->getTime();
  for (const TransactionId& t : unrefiled) {
    Listed l = {from.placeOrGap(t), false, false, false, 0};
    l.held = l.at != Instant::NOWHERE && filing[l.at] != Instant::GONE;
    if (l.held && (filing[l.at] & leaves) != 0)
      --heldMarked;
    const std::size_t was = &from == &before ? l.at : before.placeOrGap(t);
    l.read = was != Instant::NOWHERE && before.m_filing[was] != Instant::GONE &&
             (before.m_filing[was] & Instant::ENDS) == 0;
    if (l.read || t == m_refiling)
      l.spans = spanningFiling(t, time, l.filing);
    if (l.spans && l.at == Instant::NOWHERE)
      return false;
    listed.push_back(l);
  }
  if (heldMarked != 0)
    return false;
  inst->m_held.share(from.m_held);
  ++Instant::heldShared();
  // Under way here, but for the gaps carried over and the listed ones not under way.
  inst->m_filing.assign(count, Instant::filingOf(false, false));
  if (from.m_gone != 0) {
    // A filing is 0 to 3 or GONE, the only one with its high bit: eight at a time.
    static_assert(Instant::GONE == 0xFE && (Instant::STARTS | Instant::ENDS) < 0x80, "filings as read here");
    const unsigned char* const src = filing.data();
    unsigned char* const dst = inst->m_filing.data();
    std::size_t i = 0;
    for (std::uint64_t word; i + 8 <= count; i += 8) {
      std::memcpy(&word, src + i, 8);
      word = ((word & 0x8080808080808080ULL) >> 7) * Instant::GONE;
      std::memcpy(dst + i, &word, 8);
    }
    for (; i < count; ++i)
      dst[i] = src[i] == Instant::GONE ? Instant::GONE : 0;
  }
  std::size_t gone = from.m_gone;
  for (const Listed& l : listed) {
    domainsFilled() += l.read ? 1 : 0;
    if (!l.spans) {
      if (l.held) {
        inst->m_filing[l.at] = Instant::GONE;
        ++gone;
      }
      continue;
    }
    gone -= l.held ? 0 : 1;
    inst->m_filing[l.at] = l.filing;
    inst->refile(held[l.at], Instant::NOT_FILED, l.filing);
  }
  inst->m_gone = gone;
  // The overlapping set is built when read from the filings, as after a copy.
  inst->m_overlappingStale = true;
  inst->restamp();
  return true;
}

bool& Profile::filingsCopied() {
  static bool sl_copied = true;
  return sl_copied;
}

bool& Profile::filingsShared() {
  static bool sl_shared = true;
  return sl_shared;
}

unsigned long long& Profile::domainsFilled() {
  static unsigned long long sl_filled = 0;
  return sl_filled;
}

bool Profile::listUnrefiled(std::vector<TransactionId>& out) const {
  if (!filingsCopied() || m_sharedTimes || m_planDatabase.isNoId())
    return false;
  // Refiled as soon as its variable tells its listeners, which may come after a listener that
  // changed others: until then, its change is the engine's news, not yet the profile's.
  for (ConstrainedVariable* var : m_planDatabase->getConstraintEngine()->notifying()) {
    const std::map<Id<ConstrainedVariable>, TransactionId>::const_iterator found =
      m_transactionsByTime.find(var->getId());
    if (found != m_transactionsByTime.end())
      out.push_back(found->second);
  }
  if (!m_refiling.isNoId())
    out.push_back(m_refiling);
  out.insert(out.end(), m_unrefiled.begin(), m_unrefiled.end());
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return true;
}

bool Profile::filedWithBoundAt(const TransactionId& t, int time) const {
  const std::map<TransactionId, std::pair<int, int>>::const_iterator filed = m_filed.find(t);
  return filed != m_filed.end() && (filed->second.first == time || filed->second.second == time);
}

void Profile::listFilled(const Instant& inst) const {
  for (const TransactionId& trans : inst.heldInOrder()) {
    writeSpanning(inst, trans);
    if (!trans->time()->lastDomain().isEmpty())
      inst.writeAddition(trans);
  }
}

void Profile::writeSpanning(const Instant& inst, const TransactionId& trans) const {
  debugMsg("Profile:addInstant", "Adding transaction " << trans << " spanning " << trans->time()->toString()
           << " to instant at time " << inst.getTime());
}

void Profile::addIfSpanning(Instant* inst, const TransactionId& trans) {
  const int time = inst->getTime();
  check_error(trans.isValid());
  check_error(trans->time().isValid());
  const AbstractDomain& dom = trans->time()->lastDomain();
  // An emptied domain keeps the window it was filed in.
  std::map<TransactionId, std::pair<int, int>>::const_iterator filed = m_filed.end();
  if (dom.isEmpty()) {
    filed = m_filed.find(trans);
    if (filed == m_filed.end() || time < filed->second.first || filed->second.second < time)
      return;
  }
  else if (!dom.isMember((double) time))
    return;
  if (filed == m_filed.end())
    inst->hold(trans, Instant::filingOf(dom.getLowerBound() == (double) time, dom.getUpperBound() == (double) time));
  else
    inst->addTransactionWithin(trans, filed->second.first, filed->second.second);
}

void Profile::retireInstant(std::map<int, InstantId>::iterator pos) {
  InstantId inst = pos->second;
  m_rewritten.insert(pos->first);
  m_instants.erase(pos);
  m_detector->notifyDeleted(inst);
  delete (Instant*) inst;
}

void Profile::deleteEmptyInstants(const std::vector<int>& emptyInstants) {
  for (std::vector<int>::const_iterator it = emptyInstants.begin(); it != emptyInstants.end(); ++it) {
    std::map<int, InstantId>::iterator instIt = m_instants.find(*it);
    checkError(instIt != m_instants.end(),
               "Computed empty instant at time " << *it << " but no such instant exists.");
    debugMsg("Profile:handleTimeChanged", "Removing instant at time " << *it);
    condDebugMsg(instIt->second->heldCount() == 0, "Profile:handleTimeChanged",
                 "because it has no transactions.");
    condDebugMsg(!instIt->second->containsStartOrEnd(), "Profile:handleTimeChanged",
                 "because it does not mark a change.");
    retireInstant(instIt);
  }
}

void Profile::dropAllInstants() {
  for (std::map<int, InstantId>::iterator it = m_instants.begin(); it != m_instants.end(); ++it)
    if (!it->second.isNoId())
      delete (Instant*) it->second;
  m_instants.clear();
}

std::map<int, InstantId>::iterator Profile::getGreatestInstant(int time) {
  debugMsg("Profile:getGreatestInstant", "Greatest Instant not greater than " << time);
  if (m_instants.empty())
    return m_instants.end();
  std::map<int, InstantId>::iterator it = m_instants.lower_bound(time);
  if (it != m_instants.end() && it->first == time) {
    debugMsg("Profile:getGreatestInstant", "Got instant at time " << it->first);
    return it;
  }
  if (it == m_instants.begin())
    return m_instants.end();
  --it;
  debugMsg("Profile:getGreatestInstant", "Got instant at time " << it->first);
  return it;
}

std::map<int, InstantId>::iterator Profile::getLeastInstant(int time) {
  debugMsg("Profile:getLeastInstant", "Least Instant not less than " << time);
  if (m_instants.empty())
    return m_instants.end();
  std::map<int, InstantId>::iterator it = m_instants.lower_bound(time);
  if (it == m_instants.end())
    --it;
  debugMsg("Profile:getLeastInstant", "Got instant at time " << it->first);
  return it;
}

/*
 * Adding and removing transactions
 */

void Profile::addTransaction(TransactionId t) {
  checkError(m_transactions.find(t) == m_transactions.end(), "Attempted to insert a transaction twice!");
  checkError(m_variableListeners.find(t) == m_variableListeners.end(),
             "Already have time and/or quantity listeners for this transaction.");
  checkError(m_otherListeners.find(t) == m_otherListeners.end(),
             "Already a constraint addition listener for this transaction.");
  // Filing spans instants, listeners and envelopes: a lost debug line is reported at the end of
  // the run rather than raised half-way through.
  DebugMessage::Teardown recordOnly;
  debugMsg("Profile:addTransaction", "Adding " << (t->isConsumer() ? "consumer " : "producer ")
           << "transaction " << t << " for time " << t->time()->toString() << " with quantity "
           << t->quantity()->toString());

  // Added while its time domain is empty, it has no bounds to file by: it is
  // filed once the domain has bounds again.
  if (!t->time()->lastDomain().isEmpty()) {
    const int startTime = lowerTime(t);
    const int endTime = upperTime(t);
    addInstantsForBounds(t);
    ProfileIterator it(m_id, startTime, endTime);
    while (!it.done()) {
      InstantId inst = it.getInstant();
      debugMsg("Profile:addTransaction", "Adding transaction " << t << " to instant for time " << inst->getTime());
      inst->addTransaction(t);
      it.next();
    }
    m_filed[t] = std::make_pair(startTime, endTime);
  }

  const Id<ConstraintEngine>& ce = m_planDatabase->getConstraintEngine();
  Constraint* timeListener = new VariableListener(ce, m_id, t, makeScope(t->time()), false);
  m_variableListeners.insert(std::make_pair(t, timeListener->getId()));
  Constraint* quantityListener = new VariableListener(ce, m_id, t, makeScope(t->quantity()), true);
  m_variableListeners.insert(std::make_pair(t, quantityListener->getId()));
  ConstraintAdditionListener* additionListener = new ConstraintAdditionListener(t->time(), t, m_id);
  m_otherListeners.insert(std::make_pair(t, additionListener->getId()));

  m_transactions.insert(t);
  m_requantified.insert(t);
  if (!m_transactionsByTime.insert(std::make_pair(t->time(), t)).second)
    m_sharedTimes = true;
  ++m_changeCount;
  m_needsRecompute = true;
  handleTransactionAdded(t);
  judgeAgain();
}

void Profile::takeChanged(std::vector<int>& times, std::vector<TransactionId>& transactions) {
  times.insert(times.end(), m_rewritten.begin(), m_rewritten.end());
  m_rewritten.clear();
  transactions.insert(transactions.end(), m_requantified.begin(), m_requantified.end());
  m_requantified.clear();
}

InstantId Profile::instantAt(int time) const {
  const std::map<int, InstantId>::const_iterator found = m_instants.find(time);
  return found == m_instants.end() ? InstantId::noId() : found->second;
}

void Profile::removeTransaction(TransactionId t) {
  checkError(m_transactions.find(t) != m_transactions.end(),
             "Attempted to remove a transaction that isn't present!");
  DebugMessage::Teardown recordOnly;
  debugMsg("Profile:removeTransaction", "Removing transaction " << t << " for time "
           << t->time()->toString() << " with quantity " << t->quantity()->toString());
  // addTransaction gave every present transaction its two listeners.
  checkError(m_variableListeners.find(t) != m_variableListeners.end(),
             "Bizarre.  No listeners for transaction.");
  std::pair<std::multimap<TransactionId, Id<Constraint>>::iterator,
            std::multimap<TransactionId, Id<Constraint>>::iterator> range = m_variableListeners.equal_range(t);
  // Discarding t's listeners may relax an inconsistent engine and move the
  // other transactions: t is out of every record before that happens, and
  // hears nothing of it.
  for (std::multimap<TransactionId, Id<Constraint>>::iterator it = range.first; it != range.second; ++it)
    checkedCast<VariableListener>(it->second, "a profile variable listener")->detach();

  // t is held over the window it was last filed in, which an emptied domain
  // keeps.
  std::vector<int> emptyInstants;
  std::map<TransactionId, std::pair<int, int>>::iterator filed = m_filed.find(t);
  if (filed != m_filed.end()) {
    ProfileIterator profIt(m_id, filed->second.first, filed->second.second);
    while (!profIt.done()) {
      InstantId inst = profIt.getInstant();
      debugMsg("Profile:removeTransaction", "Removing transaction " << t << " from instant for time "
               << inst->getTime());
      inst->removeTransaction(t);
      if (inst->heldCount() == 0 || !inst->containsStartOrEnd()) {
        emptyInstants.push_back(inst->getTime());
        debugMsg("Profile:removeTransaction", "Instant for time " << inst->getTime() << " is empty.");
      }
      profIt.next();
    }
    m_filed.erase(filed);
  }
  m_transactions.erase(t);
  m_unrefiled.erase(t);
  m_requantified.insert(t);
  m_transactionsByTime.erase(t->time());

  std::vector<Id<Constraint>> listeners;
  for (std::multimap<TransactionId, Id<Constraint>>::iterator it = range.first; it != range.second; ++it)
    listeners.push_back(it->second);
  m_variableListeners.erase(range.first, range.second);
  for (std::vector<Id<Constraint>>::const_iterator it = listeners.begin(); it != listeners.end(); ++it) {
    debugMsg("Profile:removeTransaction", "Discarding " << (*it)->toString());
    (*it)->discard(true);
  }

  handleTransactionVariableDeletion(TransactionId(t));

  for (std::vector<int>::const_iterator it = emptyInstants.begin(); it != emptyInstants.end(); ++it) {
    std::map<int, InstantId>::iterator instIt = m_instants.find(*it);
    // Judged again: the relaxations above may have filed others here.
    if (instIt == m_instants.end() || instIt->second->containsStartOrEnd())
      continue;
    debugMsg("Profile:removeTransaction", "Removing instant at time " << *it);
    condDebugMsg(instIt->second->heldCount() == 0, "Profile:removeTransaction",
                 "because it has no transactions.");
    condDebugMsg(!instIt->second->containsStartOrEnd(), "Profile:removeTransaction",
                 "because it does not mark a change.");
    InstantId inst = instIt->second;
    m_rewritten.insert(instIt->first);
    m_instants.erase(instIt);
    m_detector->notifyDeleted(inst);
    inst->discard(true);
  }

  ++m_changeCount;
  m_needsRecompute = true;
  handleTransactionRemoved(t);
  judgeAgain();
}

void Profile::judgeAgain() {
  if (m_detector.isValid() && m_detector->getResource().isValid())
    m_detector->getResource()->relaxEmptiedQuantity();
}

void Profile::getTransactionsToOrder(const InstantId& inst, std::vector<TransactionId>& results) {
  check_error(inst.isValid());
  check_error(results.empty());
  results.insert(results.end(), inst->heldInOrder().begin(), inst->heldInOrder().end());
}

/*
 * Reaction to transaction changes
 */

// Invariant kept by every change: a transaction whose time domain is not
// empty is held by exactly the instants within its bounds, each knowing
// whether it starts or ends there, and there is an instant at each of its
// bounds; every instant marks the start or end of some transaction. An
// emptied domain has no bounds, so its transaction stays where it was filed
// until the domain has bounds again, whatever they are then.
void Profile::transactionTimeChanged(TransactionId e, const DomainListener::ChangeType& change) {
  checkError(e.isValid(), "Invalid transaction.");
  checkError(m_transactions.find(e) != m_transactions.end(),
             "Unknown transaction " << e->time()->toString() << " " << e->quantity()->toString());
  // Refiling moves e between instants, and runs inside the engine's own change (a constraint
  // being taken out, say): a lost debug line is reported at the end of the run, not raised here.
  DebugMessage::Teardown recordOnly;

  if (!e->time()->lastDomain().isEmpty()) {
    const int startTime = lowerTime(e);
    const int endTime = upperTime(e);
    bool restriction = false;
    bool relaxation = false;
    switch (change) {
    case DomainListener::UPPER_BOUND_DECREASED:
    case DomainListener::LOWER_BOUND_INCREASED:
    case DomainListener::BOUNDS_RESTRICTED:
    case DomainListener::RESTRICT_TO_SINGLETON:
    case DomainListener::SET_TO_SINGLETON:
      restriction = true;
      break;
    case DomainListener::RESET:
    case DomainListener::RELAXED:
      relaxation = true;
      break;
    default:
      break;
    }
    if (restriction || relaxation) {
      std::vector<int> emptyInstants;
      {
        Refiling refiling(m_refiling, e);
        if (restriction)
          handleRestriction(e, startTime, endTime, emptyInstants);
        else
          handleRelaxation(e, startTime, endTime, emptyInstants);
      }
      m_filed[e] = std::make_pair(startTime, endTime);
      m_unrefiled.erase(e);
      deleteEmptyInstants(emptyInstants);
    }
    else {
      const std::map<TransactionId, std::pair<int, int>>::const_iterator filed = m_filed.find(e);
      if (filed != m_filed.end() && filed->second != std::make_pair(startTime, endTime))
        m_unrefiled.insert(e);
    }
  }

  ++m_changeCount;
  m_needsRecompute = true;
  handleTransactionTimeChanged(e, change);
}

void Profile::handleRestriction(TransactionId e, int startTime, int endTime, std::vector<int>& emptyInstants) {
  debugMsg("Profile:handleTimeChanged", "Handling restriction of transaction " << e << " at time "
           << e->time()->toString() << " with quantity " << e->quantity()->toString());
  // The run of instants holding e begins where it was last filed: start
  // looking there rather than at the earliest instant.
  std::map<TransactionId, std::pair<int, int>>::const_iterator filed = m_filed.find(e);
  std::map<int, InstantId>::iterator it = m_instants.begin();
  if (filed != m_filed.end()) {
    const std::map<int, InstantId>::iterator at = m_instants.find(filed->second.first);
    if (at != m_instants.end())
      it = at;
  }
  while (it != m_instants.end() && !it->second->holds(e))
    ++it;
  checkError(it != m_instants.end(), "No instant containing this transaction.");
  const AbstractDomain& dom = e->time()->lastDomain();
  auto refile = [&](const InstantId& inst, std::size_t at) {
    if (!dom.isMember((double) inst->getTime())) {
      debugMsg("Profile:handleTimeChanged", "Removing transaction " << e << " from Instant at time "
               << inst->getTime());
      inst->removeTransaction(e, at);
      if (inst->heldCount() == 0 || !inst->containsStartOrEnd())
        emptyInstants.push_back(inst->getTime());
    }
    else
      inst->updateTransaction(e, at);
  };
  const int first = it->first;
  int last = first;
  // Refiling e at one instant changes neither the instants nor whether e is held at the
  // others, so the run is refiled as it is found. While their lines are wanted, a profile
  // iterator over the run, found beforehand, steps beside the refiling to write what a walk
  // of the run writes; it only reads the profile.
  std::unique_ptr<ProfileIterator> listing;
  if (iteratorWritesLines() || refilingWritesLines()) {
    for (std::map<int, InstantId>::iterator at = std::next(it); at != m_instants.end() && at->second->holds(e); ++at)
      last = at->first;
    debugMsg("Profile:handleTimeChanged", "Possibly removing transaction " << e
             << " from Instants in range [" << first << " " << last << "]");
    listing.reset(new ProfileIterator(m_id, first, last));
  }
  // Strictly inside the new window, an instant lies strictly inside the window e was filed in
  // too, and e stays filed there as under way: unless its lines are wanted, the walk leaves it
  // unread and goes from the first instant of the new window on to the new end. In a long chain
  // those are most of the run, each a vector of thousands of which a refiling reads a few lines.
  bool skipInside = !listing && !updateWritesLines() && filed != m_filed.end() && first == filed->second.first &&
                    filed->second.first <= startTime && endTime <= filed->second.second;
  // Each instant's search starts where e lay in the one before.
  std::size_t near = 0, at = Instant::NOWHERE;
  for (; it != m_instants.end() && (at = it->second->placeOf(e, near)) != Instant::NOWHERE; ++it) {
    near = at;
    last = it->first;
    // The instants of a run lie apart in memory: the next two are fetched while this one is
    // refiled.
    const std::map<int, InstantId>::iterator next = std::next(it);
    if (next != m_instants.end()) {
      next->second->prefetchPlace(near);
      const std::map<int, InstantId>::iterator after = std::next(next);
      if (after != m_instants.end())
        __builtin_prefetch((const Instant*) after->second);
    }
    if (listing) {
      listing->done();
      const InstantId listed = listing->getInstant();
      checkError(listed == it->second, "The listing of a run left the run.");
    }
    refile(it->second, at);
    if (listing)
      listing->next();
    if (skipInside && it->first >= startTime) {
      skipInside = false;
      const std::map<int, InstantId>::iterator end = m_instants.lower_bound(endTime);
      if (end != m_instants.end() && end->first > it->first)
        it = std::prev(end);
    }
  }
  if (listing) {
    const bool ended = listing->done();
    checkError(ended, "The listing of a run went past the run.");
  }
  // An instant made while e's restriction was unheard, in the window e was filed in but outside
  // its new one, was filled without e: e is still held beyond it, up to the end of that window.
  // Those made after it inside the new window were filled from it, without e too.
  const bool gap = filed != m_filed.end() && it != m_instants.end() && it->first <= filed->second.second;
  if (gap)
    for (; it != m_instants.end() && it->first <= filed->second.second; ++it)
      if ((at = it->second->placeOf(e, near)) != Instant::NOWHERE) {
        near = at;
        last = it->first;
        refile(it->second, at);
      }
  addInstantsForBounds(e);
  // A domain that moved rather than shrank (the engine reports none such)
  // still has e over its whole window; so has one whose run had a gap.
  if (startTime < first || endTime > last || gap) {
    for (it = m_instants.lower_bound(startTime); it != m_instants.end() && it->first <= endTime; ++it)
      if (!it->second->holds(e))
        it->second->addTransaction(e);
  }
}

void Profile::handleTransactionVariableDeletion(const TransactionId& t) {
  std::map<TransactionId, Id<ConstrainedVariableListener>>::iterator listIt = m_otherListeners.find(t);
  checkError(listIt != m_otherListeners.end(),
             "Attempted to remove variable listener for transaction at time " << t->time()->toString()
             << " with quantity " << t->quantity()->toString() << ".");
  // t may live inside the listener deleted here: it is not read afterwards.
  if (!listIt->second.isNoId()) {
    ConstraintAdditionListener* listener =
      checkedCast<ConstraintAdditionListener>(listIt->second, "a constraint addition listener");
    purgeConstraintMessages(listener->getWatchedVariable());
    delete listener;
  }
  m_otherListeners.erase(listIt);
}

/*
 * Temporal constraint messages
 */

void Profile::handleConstraintMessage(Id<Constraint> c, Id<ConstrainedVariable> var, int argIndex, bool addition) {
  check_error(c->getScope().size() == 2 || c->getScope().size() == 3);
  if (c->getScope().size() == 3 && argIndex == 1)
    return;
  checkError((c->getScope().size() == 2 && (argIndex == 0 || argIndex == 1)) ||
             (c->getScope().size() == 3 && (argIndex == 0 || argIndex == 2)),
             "Invalid argument index: " << argIndex);

  std::map<Id<Constraint>, ConstraintMessage>::iterator msgIt = m_constraintsForNotification.find(c);
  // An entry left by an earlier constraint at the same address is not this one's.
  if (msgIt != m_constraintsForNotification.end() && msgIt->second.constraintKey != c->getKey()) {
    m_constraintsForNotification.erase(msgIt);
    msgIt = m_constraintsForNotification.end();
  }
  if (msgIt == m_constraintsForNotification.end()) {
    m_constraintsForNotification.insert(std::make_pair(c, ConstraintMessage(var, argIndex, addition, c->getKey())));
  }
  else {
    const int existingIndex = msgIt->second.index;
    const bool existingAddition = msgIt->second.addition;
    checkError(!(existingAddition == false && addition == true),
               "Got a removal message before an addition message for constraint " << c->toString());
    if (existingAddition != addition)
      m_constraintsForNotification.erase(msgIt);
    else {
      checkError(existingIndex != argIndex, "Got two " << (addition ? "addition" : "removal")
                 << " notifications for index " << argIndex << " of constraint " << c->toString());
      checkError(m_transactionsByTime.find(c->getScope()[existingIndex]) != m_transactionsByTime.end(),
                 "No transaction stored for time " << c->getScope()[existingIndex]->toString());
      checkError(m_transactionsByTime.find(c->getScope()[argIndex]) != m_transactionsByTime.end(),
                 "No transaction stored for time " << c->getScope()[argIndex]->toString());
      const int firstIndex = existingIndex < argIndex ? existingIndex : argIndex;
      const int secondIndex = existingIndex < argIndex ? argIndex : existingIndex;
      std::map<Id<ConstrainedVariable>, TransactionId>::iterator transIt =
        m_transactionsByTime.find(c->getScope()[firstIndex]);
      checkError(transIt != m_transactionsByTime.end(),
                 "No transaction stored for time " << c->getScope()[firstIndex]->toString());
      TransactionId first = transIt->second;
      transIt = m_transactionsByTime.find(c->getScope()[secondIndex]);
      checkError(transIt != m_transactionsByTime.end(),
                 "No transaction stored for time " << c->getScope()[secondIndex]->toString());
      TransactionId second = transIt->second;

      m_constraintsForNotification.erase(msgIt);
      ++m_changeCount;
      m_needsRecompute = true;
      if (addition)
        handleTemporalConstraintAdded(first, firstIndex, second, secondIndex);
      else {
        handleTemporalConstraintRemoved(first, firstIndex, second, secondIndex);
        judgeAgain();
      }
    }
  }

  if (m_needsRecompute) {
    Id<Propagator> prop = m_planDatabase->getConstraintEngine()->getPropagatorByName(
      VariableListener::PROPAGATOR_NAME());
    checkError(prop.isValid(), "No propagator named " << VariableListener::PROPAGATOR_NAME().toString()
               << " to tell of a temporal constraint.");
    checkedCast<ProfilePropagator>(prop, "the profile propagator")->setUpdateRequired(true);
  }
}

/*
 * Recomputation and level queries
 */

namespace {

// Owns the recompute interval while a walk runs, so that a change arriving
// during the walk (through the listeners) can install a new interval without
// deleting the one in use. On an error the interval goes back to the profile
// unless a new one has taken its place.
class WalkGuard {
public:
  WalkGuard(Id<ProfileIterator>& slot, bool& recomputing)
    : m_slot(slot), m_recomputing(recomputing), m_interval(slot) {
    m_slot = Id<ProfileIterator>::noId();
    m_recomputing = true;
  }
  ~WalkGuard() {
    m_recomputing = false;
    if (m_interval.isNoId())
      return;
    if (m_slot.isValid())
      delete (ProfileIterator*) m_interval;
    else
      m_slot = m_interval;
  }
  ProfileIterator* interval() const { return (ProfileIterator*) m_interval; }
  // While a subclass sets the walk up, the interval is back in its place,
  // so that the subclass can tell it has one: nothing it does then changes
  // the window.
  class Lend {
  public:
    explicit Lend(WalkGuard& guard) : m_guard(guard) { m_guard.m_slot = m_guard.m_interval; }
    ~Lend() {
      if (m_guard.m_slot == m_guard.m_interval)
        m_guard.m_slot = Id<ProfileIterator>::noId();
    }

  private:
    WalkGuard& m_guard;
  };
  void release() {
    delete (ProfileIterator*) m_interval;
    m_interval = Id<ProfileIterator>::noId();
  }

private:
  Id<ProfileIterator>& m_slot;
  bool& m_recomputing;
  Id<ProfileIterator> m_interval;
};

}

void Profile::handleRecompute() {
  checkError(m_recomputeInterval.isValid(), "Attempted to recompute levels over an invalid interval.");
  WalkGuard guard(m_recomputeInterval, m_recomputing);
  ProfileIterator* interval = guard.interval();
  checkError(!interval->isStale(), "Stale profile iterator.");
  const unsigned int startCount = m_changeCount;

  condDebugMsg(interval->done(), "Profile:recompute", "No instants over which to recompute.");
  debugMsg("Profile:handleRecompute", "Invoked");
  debugMsg("Profile:recompute:prePrint", std::endl << toString());

  if (!interval->done()) {
    InstantId prev;
    bool violation = false;
    // Marks after the window stand: the walk will not judge them again.
    m_detector->m_walkEnd = interval->getEndTime();
    if (interval->getTime() == m_instants.begin()->first) {
      {
        WalkGuard::Lend lend(guard);
        initRecompute();
      }
      m_detector->initialize();
    }
    else {
      InstantId inst = interval->getInstant();
      {
        WalkGuard::Lend lend(guard);
        initRecompute(inst);
      }
      m_detector->initialize(inst);
      violation = m_detector->detect(inst);
      prev = inst;
      if (!violation && m_changeCount == startCount)
        interval->next();
    }
    // A change during the walk (a detector narrowing a variable) ends it: the
    // change has installed an interval of its own for the next recomputation.
    // Until then the interval checked above stays current, and the instants it
    // passes are the profile's own, so no step checks them again.
    while (!violation && m_changeCount == startCount && !interval->done()) {
      InstantId inst = interval->currentUnchecked();
      debugMsg("Profile:recompute", "Recomputing levels at instant " << inst->getTime());
      check_error(inst.isValid());
      recomputeLevels(prev, inst);
      prev = inst;
      violation = m_detector->detect(inst);
      if (!violation && m_changeCount == startCount)
        interval->advanceUnchecked();
    }
  }

  debugMsg("Profile:recompute:postPrint", std::endl << toString());
  debugMsg("Profile:handleRecompute", "Deleting profile iterator " << interval->getId());
  guard.release();
  if (m_changeCount == startCount)
    m_needsRecompute = false;
  if (m_detector.isValid() && m_detector->getResource().isValid())
    m_detector->getResource()->fileFlawRecords();
  postHandleRecompute();
}

Profile::Totals Profile::computeTotals(const InstantId& inst) {
  Totals totals = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0, 0, 0, 0};
  std::map<int, InstantId>::const_iterator pos = m_instants.find(inst->getTime());
  check_error(pos != m_instants.end() && pos->second == inst);
  if (pos != m_instants.begin()) {
    --pos;
    const InstantId& prev = pos->second;
    totals.minPrevConsumption = prev->getMinPrevConsumption();
    totals.maxPrevConsumption = prev->getMaxPrevConsumption();
    totals.minPrevProduction = prev->getMinPrevProduction();
    totals.maxPrevProduction = prev->getMaxPrevProduction();
    totals.prevConsumptions = prev->getPrevChanges(true);
    totals.prevProductions = prev->getPrevChanges(false);
    const std::set<TransactionId>& ended = prev->getEndingTransactions();
    for (std::set<TransactionId>::const_iterator it = ended.begin(); it != ended.end(); ++it) {
      const LevelContribution c = contributionOf(*it);
      c.total(totals.minPrevConsumption, totals.minPrevProduction) += c.qlb;
      c.total(totals.maxPrevConsumption, totals.maxPrevProduction) += c.qub;
      ++(c.consumer ? totals.prevConsumptions : totals.prevProductions);
    }
  }
  totals.consumptions = totals.prevConsumptions;
  totals.productions = totals.prevProductions;
  totals.minCumulativeConsumption = totals.minPrevConsumption;
  totals.minCumulativeProduction = totals.minPrevProduction;
  // The ending set is ordered as the held one, so the sums over what ends
  // here add the same values in the same order as a walk of the held set
  // that picked them out; one walk serves every sum, each in that order.
  const std::vector<TransactionId>& held = inst->heldInOrder();
  for (std::size_t i = 0; i < held.size(); ++i) {
    const LevelContribution c = contributionOf(held[i]);
    c.total(totals.maxInstConsumption, totals.maxInstProduction) += c.qub;
    ++(c.consumer ? totals.consumptions : totals.productions);
    if (!inst->endsFiled(i))
      continue;
    if (inst->startsFiled(i))
      c.total(totals.minInstConsumption, totals.minInstProduction) += c.qlb;
    c.total(totals.minCumulativeConsumption, totals.minCumulativeProduction) += c.qlb;
  }
  totals.maxCumulativeConsumption = totals.maxPrevConsumption + totals.maxInstConsumption;
  totals.maxCumulativeProduction = totals.maxPrevProduction + totals.maxInstProduction;
  return totals;
}

}
}
