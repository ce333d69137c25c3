#include "Resource/test/ProfileTestSupport.hh"
#include "Resource/component/MIRT_Types.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "ConstraintEngine/base/CESchema.hh"
#include "Resource/test/TestHelpers.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <sstream>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

// Runs the statement and checks the framework error it raises, from the profile core's files.
#define EXPECT_ERROR_MSG(stmt, cond, msgPrefix)                                   \
  do {                                                                            \
    try {                                                                         \
      stmt;                                                                       \
      ADD_FAILURE() << "no error from " #stmt;                                    \
    }                                                                             \
    catch (const Error& e) {                                                      \
      EXPECT_EQ(std::string(cond), e.getCondition());                             \
      EXPECT_EQ(0u, e.getMsg().find(msgPrefix)) << e.getMsg();                    \
      EXPECT_EQ(0u, std::string(e.getFile()).find("Resource/base/MIRT_Profile"))  \
        << e.getFile();                                                           \
    }                                                                             \
  } while (0)

class ProfileTest : public ::testing::Test {
protected:
  void SetUp() override {
    detector = new RecordingDetector();
    detector->log = &log;
    profile = new RecordingProfile(world.db->getId(), detector->getId(), 0, 10);
    profile->log = &log;
    detector->instants = &profile->instants();
  }
  void TearDown() override {
    delete profile;
    delete detector;
  }
  TransactionId add(int lb, int ub, const std::string& name = "", bool consumer = false) {
    TransactionId t = world.make(lb, ub, consumer, 0, 5);
    profile->names[t] = name;
    profile->addTransaction(t);
    return t;
  }

  ProfileWorld world;
  CallLog log;
  RecordingDetector* detector;
  RecordingProfile* profile;
};

}

TEST_F(ProfileTest, AdditionFilesTransactionsAndInstants) {
  // Filing across instants is the oracle's; here the counts and the listeners.
  TransactionId s = add(5, 5);
  EXPECT_EQ(1u, profile->changeCount());
  EXPECT_TRUE(profile->needsRecompute());
  EXPECT_EQ(2u, s->time()->constraintCount() + s->quantity()->constraintCount());
  EXPECT_EQ(1u, s->time()->listenerCount());

  add(0, 10);
  TransactionId c = add(5, 15);
  EXPECT_EQ(std::vector<int>({0, 5, 10, 15}), profile->times());
  EXPECT_EQ(3u, profile->changeCount());

  // Bounds on existing instants create none; duplicates change nothing.
  TransactionId d = add(5, 10);
  EXPECT_EQ(4u, profile->times().size());
  EXPECT_ERROR_MSG(profile->addTransaction(d), "m_transactions.find(t) == m_transactions.end()",
                   "Attempted to insert a transaction twice!");
  EXPECT_EQ(4u, profile->changeCount());

  // Instant text and entity type.
  std::ostringstream expected;
  expected << " 15: " << c << " " << c->time()->toString() << " " << c->quantity()->toString() << " (P)\n";
  EXPECT_EQ(expected.str(), profile->instants().find(15)->second->toString());
}

TEST_F(ProfileTest, ChangeKindsAndUnknownTransactions) {
  // Instants under restriction and relaxation are the oracle's; here the kinds that move no
  // instant, which still count and reach the hook.
  TransactionId a = add(0, 10, "A");
  add(10, 10, "B");
  unsigned int count = profile->changeCount();
  std::vector<int> before = profile->times();
  for (DomainListener::ChangeType k : {DomainListener::VALUE_REMOVED, DomainListener::CLOSED,
                                       DomainListener::OPENED, DomainListener::EMPTIED})
    profile->transactionTimeChanged(a, k);
  EXPECT_EQ(count + 4, profile->changeCount());
  EXPECT_EQ(before, profile->times());
  EXPECT_EQ(std::vector<int>({3, 8, 9, 10}),
            std::vector<int>(profile->timeChanges.end() - 4, profile->timeChanges.end()));
  profile->transactionQuantityChanged(TransactionId(), DomainListener::RELAXED);
  EXPECT_EQ(count + 5, profile->changeCount());

  TransactionId stranger = world.make(0, 1);
  EXPECT_ERROR_MSG(profile->transactionTimeChanged(stranger, DomainListener::RELAXED),
                   "m_transactions.find(e) != m_transactions.end()", "Unknown transaction ");
  EXPECT_ERROR_MSG(profile->handleTransactionVariableDeletion(stranger), "listIt != m_otherListeners.end()",
                   "Attempted to remove variable listener for transaction at time ");
}

TEST_F(ProfileTest, RemovalDeletesInstantsInTheWindowOnly) {
  TransactionId a = add(10, 20, "A"), b = add(15, 30, "B");
  ProfileIterator before(profile->getId(), -g_infiniteTime(), g_infiniteTime());
  profile->removeTransaction(a);
  EXPECT_EQ(std::vector<int>({15, 30}), profile->times());
  EXPECT_TRUE(before.isStale());
  EXPECT_ERROR_MSG(before.getInstant(), "!isStale()", "Stale profile iterator.");
  EXPECT_TRUE(profile->needsRecompute());
  EXPECT_EQ(0u, a->time()->constraintCount() + a->quantity()->constraintCount() + a->time()->listenerCount());
  EXPECT_ERROR_MSG(profile->removeTransaction(a), "m_transactions.find(t) != m_transactions.end()",
                   "Attempted to remove a transaction that isn't present!");

  TransactionId twin = add(15, 30);
  profile->removeTransaction(twin);
  EXPECT_EQ(std::vector<int>({15, 30}), profile->times());
  std::vector<TransactionId> order;
  profile->getTransactionsToOrder(profile->instants().begin()->second, order);
  EXPECT_EQ(std::vector<TransactionId>({b}), order);
  try {
    profile->getTransactionsToOrder(profile->instants().begin()->second, order);
    ADD_FAILURE();
  }
  catch (const Error& e) {
    EXPECT_EQ("results.empty()", e.getCondition());
  }
  profile->removeTransaction(b);
  EXPECT_TRUE(profile->instants().empty());
  IntervalDomain level;
  profile->getLevel(5, level);
  EXPECT_EQ(0.0, level.getLowerBound());
  EXPECT_EQ(10.0, level.getUpperBound());
}

// Narrows a second variable as soon as its own changes, before the constraints added after it on
// that variable (a profile's listener, say) hear of the change.
class Relay : public Constraint {
public:
  Relay(const ConstraintEngineId& ce, const ConstrainedVariableId& from, const ConstrainedVariableId& to, int lb,
        int ub)
    : Constraint(LabelStr("Relay"), LabelStr("TestProp"), ce, std::vector<ConstrainedVariableId>(1, from)),
      m_to(to), m_lb(lb), m_ub(ub) {}
  bool canIgnore(const ConstrainedVariableId&, int, const DomainListener::ChangeType&) override {
    m_to->restrictBaseDomain(IntervalIntDomain(m_lb, m_ub));
    return true;
  }

private:
  void handleExecute() override {}
  ConstrainedVariableId m_to;
  int m_lb, m_ub;
};

// A start or end is judged on current bounds, not on how a transaction was last filed: B leaves
// the instant at 15 while A, filed there as under way, already starts there but is not refiled.
TEST_F(ProfileTest, InstantMarksAChangeByCurrentBounds) {
  TransactionId a = world.make(10, 30, false, 0, 5), b = world.make(15, 20, false, 0, 5);
  Relay relay(world.ce->getId(), a->time(), b->time(), 16, 20);
  profile->addTransaction(a);
  profile->addTransaction(b);
  const InstantId at15 = profile->instants().at(15);
  a->time()->restrictBaseDomain(IntervalIntDomain(15, 30));
  EXPECT_TRUE(at15.isValid());
  EXPECT_EQ(std::vector<int>({15, 16, 20, 30}), profile->times());
  EXPECT_EQ(std::set<TransactionId>({a}), profile->instants().at(15)->getStartingTransactions());
}

// B specified off the instant at 0 and reset onto it again before anything reads the instant
// takes back its own place there: the instant counts it once, as its set does.
TEST_F(ProfileTest, TransactionPutBackInItsPlaceIsCountedOnce) {
  add(0, 10);
  TransactionId b = add(0, 10);
  add(0, 10);
  add(5, 5);
  const InstantId first = profile->instants().at(0);
  b->time()->specify(10);
  EXPECT_EQ(2u, first->heldCount());
  b->time()->reset();
  const std::size_t held = first->heldCount();
  EXPECT_EQ(3u, first->getTransactions().size());
  EXPECT_EQ(3u, held);
}

TEST_F(ProfileTest, IteratorWindowsAndStaleness) {
  ProfileIterator none(profile->getId(), -g_infiniteTime(), g_infiniteTime());
  EXPECT_TRUE(none.done());
  EXPECT_EQ(g_infiniteTime(), none.getEndTime());
  EXPECT_ERROR_MSG(none.getInstant(), "!done()", "Attempted to get Instant of a done iterator.");

  add(0, 0);
  add(10, 10);
  add(20, 20);
  EXPECT_EQ(20, profile->getLeastInstant(15)->first);
  EXPECT_EQ(20, profile->getLeastInstant(25)->first);
  EXPECT_EQ(0, profile->getLeastInstant(-5)->first);
  EXPECT_EQ(10, profile->getGreatestInstant(15)->first);
  EXPECT_EQ(20, profile->getGreatestInstant(25)->first);
  EXPECT_TRUE(profile->getGreatestInstant(-5) == profile->instants().end());
  EXPECT_EQ(0, profile->getLeastInstant(-5)->first);

  auto walk = [&](int s, int e) {
    std::vector<int> times;
    ProfileIterator it(profile->getId(), s, e);
    for (; !it.done(); it.next())
      times.push_back(it.getTime());
    return times;
  };
  EXPECT_EQ(std::vector<int>({0, 10, 20}), walk(-g_infiniteTime(), g_infiniteTime()));
  EXPECT_EQ(std::vector<int>({10}), walk(10, 10));
  EXPECT_EQ(std::vector<int>(), walk(12, 18));
  EXPECT_EQ(std::vector<int>({20}), walk(25, 30));
  EXPECT_EQ(std::vector<int>(), walk(-10, -5));

  ProfileIterator all(profile->getId(), -g_infiniteTime(), g_infiniteTime());
  EXPECT_EQ(0, all.getStartTime());
  EXPECT_EQ(20, all.getEndTime());
  EXPECT_TRUE(all.next());
  EXPECT_TRUE(all.next());
  EXPECT_FALSE(all.next());
  EXPECT_ERROR_MSG(all.next(), "!done()", "Attempted to iterate off the end.");
  ProfileIterator late(profile->getId(), 25, 30);
  EXPECT_EQ(20, late.getStartTime());

  ProfileIterator stale(profile->getId(), -g_infiniteTime(), g_infiniteTime());
  profile->transactionQuantityChanged(TransactionId(), DomainListener::RELAXED);
  EXPECT_TRUE(stale.isStale());
  EXPECT_EQ(20, stale.getEndTime());
  EXPECT_ERROR_MSG(stale.getTime(), "!isStale()", "Stale profile iterator.");
  EXPECT_ERROR_MSG(stale.next(), "!isStale()", "Stale profile iterator.");
  EXPECT_ERROR_MSG(stale.getLowerBound(), "!isStale()", "Stale profile iterator.");
  EXPECT_TRUE(profile->needsRecompute());

  // Two handler calls leave one live interval; the old one is gone.
  Id<ProfileIterator> first = profile->interval();
  profile->transactionQuantityChanged(TransactionId(), DomainListener::RELAXED);
  EXPECT_FALSE(first.isValid());
  EXPECT_TRUE(profile->interval().isValid());

  // Bound getters recompute first.
  ProfileIterator fresh(profile->getId(), 10, 10);
  EXPECT_EQ(10.0, fresh.getLowerBound());
  EXPECT_EQ(110.0, fresh.getUpperBound());
  EXPECT_FALSE(profile->needsRecompute());
}

TEST_F(ProfileTest, WindowsCoverExactlyTheirInstants) {
  add(0, 0);
  add(10, 10);
  add(20, 20);
  // Against the instants whose times lie in [s, e]; a window past every
  // instant clamps to the last one, and a window before every instant covers
  // none (not all of them).
  for (int s = -12; s <= 24; ++s) {
    for (int e = s; e <= 26; ++e) {
      std::vector<int> expected;
      for (int t : {0, 10, 20})
        if (s <= t && t <= e)
          expected.push_back(t);
      if (s > 20)
        expected.push_back(20);
      std::vector<int> times;
      for (ProfileIterator it(profile->getId(), s, e); !it.done(); it.next())
        times.push_back(it.getTime());
      ASSERT_EQ(expected, times) << "[" << s << " " << e << "]";
    }
  }
}

// The lines a new instant writes for each transaction it takes, in the order of the sets: the
// one made at 10 takes A and B, filed across 7, and not D, which ends there; the one at 12 takes
// them from 10, before C itself is given to both.
TEST_F(ProfileTest, NewInstantsWriteEachTransactionTheyTake) {
  const TransactionId a = add(0, 20, "A"), b = add(5, 30, "B");
  add(0, 7, "D");
  TransactionId c;
  std::string text;
  {
    DebugCapture capture("Profile:addInstant");
    DebugMessage::enable("Instant:addTransaction");
    c = add(10, 12, "C");
    DebugMessage::disable("Instant:addTransaction");
    text = capture.text();
  }
  auto added = [&](int time, const TransactionId& t) {
    std::ostringstream line;
    line << "[Instant:addTransaction]Adding transaction to instant (" << profile->instants().find(time)->second
         << ") for time " << t->time()->toString() << " with quantity " << t->quantity()->toString() << "\n";
    return line.str();
  };
  std::ostringstream expected;
  for (int time : {10, 12}) {
    expected << "[Profile:addInstant]Adding instant for time " << time << "\n";
    for (const TransactionId& t : std::set<TransactionId>({a, b}))
      expected << "[Profile:addInstant]Adding transaction " << t << " spanning " << t->time()->toString()
               << " to instant at time " << time << "\n" << added(time, t);
  }
  expected << added(10, c) << added(12, c);
  EXPECT_EQ(expected.str(), text);

  // An instant made by a time change writes the changed transaction in its place in the set too:
  // one of seven over [0, 10] is narrowed to [3, 10] after the six others to [1, 10], at each of
  // the seven places in the set's order (each seven in a window of its own, each narrowing kept
  // until the end, so that no relaxation writes lines in a later round).
  std::vector<std::unique_ptr<NarrowConstraint>> narrowings;
  for (int place = 0; place < 7; ++place) {
    const int base = 100 * (place + 1);
    std::set<TransactionId> seven;
    for (int i = 0; i < 7; ++i)
      seven.insert(world.make(base, base + 10, false, 0, 5));
    const TransactionId e = *std::next(seven.begin(), place);
    for (const TransactionId& t : seven) {
      if (t != e)
        t->time()->restrictBaseDomain(IntervalIntDomain(base + 1, base + 10));
      profile->addTransaction(t);
    }
    narrowings.emplace_back(new NarrowConstraint(LabelStr("TestProp"), world.ce->getId(), e->time(), base + 3, base + 10));
    {
      DebugCapture capture("Profile:addInstant");
      DebugMessage::enable("Instant:addTransaction");
      world.ce->propagate();
      DebugMessage::disable("Instant:addTransaction");
      text = capture.text();
    }
    std::ostringstream inOrder;
    inOrder << "[Profile:addInstant]Adding instant for time " << base + 3 << "\n";
    for (const TransactionId& t : seven)
      inOrder << "[Profile:addInstant]Adding transaction " << t << " spanning " << t->time()->toString()
              << " to instant at time " << base + 3 << "\n" << added(base + 3, t);
    EXPECT_EQ(inOrder.str(), text) << "place " << place;
  }
}

// The lines a restriction and a relaxation write, step by step: [0, 10]
// narrowed to [3, 10] leaves the instant at 0 empty; widened back, the
// instant at 3 no longer marks a change though it still holds A.
TEST_F(ProfileTest, TimeChangesWriteEachStep) {
  TransactionId a = add(0, 10, "A");
  add(10, 10, "B");
  std::ostringstream head;
  head << a << " at time ";
  auto lines = [](const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
      if (line.find("Deleting profile iterator") == std::string::npos)
        result.push_back(line);
    return result;
  };
  const std::string m = "[Profile:handleTimeChanged]";
  std::ostringstream id;
  id << a;
  Constraint* narrow = new NarrowConstraint(LabelStr("TestProp"), world.ce->getId(), a->time(), 3, 10);
  std::string text;
  {
    DebugCapture capture("Profile:handleTimeChanged");
    world.ce->propagate();
    text = capture.text();
  }
  const std::string restricted = a->time()->toString() + " with quantity " + a->quantity()->toString();
  EXPECT_EQ(std::vector<std::string>({m + "Handling restriction of transaction " + id.str() + " at time " + restricted,
                                      m + "Possibly removing transaction " + id.str() + " from Instants in range [0 10]",
                                      m + "Removing transaction " + id.str() + " from Instant at time 0",
                                      m + "Removing instant at time 0", m + "because it has no transactions.",
                                      m + "because it does not mark a change."}),
            lines(text));
  EXPECT_EQ(std::vector<int>({3, 10}), profile->times());

  {
    DebugCapture capture("Profile:handleTimeChanged");
    delete narrow;
    world.ce->propagate();
    text = capture.text();
  }
  const std::string relaxed = a->time()->toString() + " with quantity " + a->quantity()->toString();
  EXPECT_EQ(std::vector<std::string>({m + "Handling relaxation of transaction " + id.str() + " at time " + relaxed,
                                      m + "Removing instant at time 3", m + "because it does not mark a change."}),
            lines(text));
  EXPECT_EQ(std::vector<int>({0, 10}), profile->times());
  ASSERT_EQ(2u, detector->deletions.size());
  EXPECT_EQ(0, detector->deletions[0].time);
  EXPECT_EQ(3, detector->deletions[1].time);
}

TEST_F(ProfileTest, RemovalWritesEachStep) {
  TransactionId a = add(10, 20, "A");
  add(15, 30, "B");
  std::ostringstream id;
  id << a;
  const std::string m = "[Profile:removeTransaction]";
  const std::string first = m + "Removing transaction " + id.str() + " for time " + a->time()->toString() +
                            " with quantity " + a->quantity()->toString();
  std::string text;
  {
    DebugCapture capture("Profile:removeTransaction");
    profile->removeTransaction(a);
    text = capture.text();
  }
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    lines.push_back(line.find(m + "Discarding ") == 0 ? m + "Discarding" : line);
  EXPECT_EQ(std::vector<std::string>({first, m + "Removing transaction " + id.str() + " from instant for time 10",
                                      m + "Instant for time 10 is empty.",
                                      m + "Removing transaction " + id.str() + " from instant for time 15",
                                      m + "Removing transaction " + id.str() + " from instant for time 20",
                                      m + "Instant for time 20 is empty.", m + "Discarding", m + "Discarding",
                                      m + "Removing instant at time 10", m + "because it has no transactions.",
                                      m + "because it does not mark a change.", m + "Removing instant at time 20",
                                      m + "because it does not mark a change."}),
            lines);
  ASSERT_EQ(2u, detector->deletions.size());
  EXPECT_EQ(10, detector->deletions[0].time);
  EXPECT_EQ(20, detector->deletions[1].time);
}

TEST_F(ProfileTest, RecomputationCallSequences) {
  add(0, 0);
  add(10, 10);
  add(20, 20);
  log.clear();
  profile->recompute();
  EXPECT_EQ(CallLog({"initRecompute()", "initialize()", "levels(-,0)", "detect(0)", "levels(0,10)", "detect(10)",
                     "levels(10,20)", "detect(20)", "post"}),
            log);
  EXPECT_FALSE(profile->needsRecompute());
  EXPECT_TRUE(profile->interval().isNoId());
  log.clear();
  profile->recompute();
  EXPECT_TRUE(log.empty());

  // A walk from a later instant, then one that stops early.
  for (int stop : {INT_MIN, 10}) {
    profile->transactionQuantityChanged(TransactionId(), DomainListener::RELAXED);
    delete (ProfileIterator*) profile->interval();
    profile->interval() = (new ProfileIterator(profile->getId(), 10, 20))->getId();
    detector->stopAt = stop;
    log.clear();
    profile->recompute();
    if (stop == INT_MIN)
      EXPECT_EQ(CallLog({"initRecompute(10)", "initialize(10)", "detect(10)", "levels(10,20)", "detect(20)", "post"}),
                log);
    else
      EXPECT_EQ(CallLog({"initRecompute(10)", "initialize(10)", "detect(10)", "post"}), log);
    EXPECT_FALSE(profile->needsRecompute());
    EXPECT_TRUE(profile->interval().isNoId());
  }
  detector->stopAt = INT_MIN;

  // Level queries: a step function from the first instant on.
  IntervalDomain level;
  profile->transactionQuantityChanged(TransactionId(), DomainListener::RELAXED);
  log.clear();
  profile->getLevel(15, level);
  profile->getLevel(16, level);
  EXPECT_EQ(1, std::count(log.begin(), log.end(), std::string("post")));
  EXPECT_EQ(10.0, level.getLowerBound());
  EXPECT_EQ(110.0, level.getUpperBound());
  profile->getLevel(25, level);
  EXPECT_EQ(20.0, level.getLowerBound());
  profile->getLevel(-5, level);
  EXPECT_EQ(0.0, level.getLowerBound());
  EXPECT_EQ(10.0, level.getUpperBound());

  // No live interval while a recomputation is due.
  profile->transactionQuantityChanged(TransactionId(), DomainListener::RELAXED);
  delete (ProfileIterator*) profile->interval();
  profile->interval() = Id<ProfileIterator>();
  EXPECT_ERROR_MSG(profile->recompute(), "m_recomputeInterval.isValid()",
                   "Attempted to recompute levels over an invalid interval.");
  EXPECT_TRUE(profile->needsRecompute());
  profile->interval() = (new ProfileIterator(profile->getId(), -g_infiniteTime(), g_infiniteTime()))->getId();
  profile->recompute();
  EXPECT_FALSE(profile->needsRecompute());
}

TEST_F(ProfileTest, ChangeDuringTheWalk) {
  TransactionId a = add(0, 0);
  ASSERT_FALSE(a->quantity()->lastDomain().isSingleton());
  add(10, 10);
  add(20, 20);
  // A detector that narrows a quantity at 10 (as a violation report does)
  // sends a change into the profile while the walk is under way.
  bool once = true;
  detector->onDetect = [&](InstantId inst) {
    if (inst->getTime() == 10 && once) {
      once = false;
      a->quantity()->specify(1);
    }
  };
  log.clear();
  profile->recompute();
  EXPECT_EQ(CallLog({"initRecompute()", "initialize()", "levels(-,0)", "detect(0)", "levels(0,10)", "detect(10)",
                     "post"}),
            log);
  EXPECT_TRUE(profile->needsRecompute());
  EXPECT_TRUE(profile->interval().isValid());
  EXPECT_FALSE(profile->interval()->isStale());
  log.clear();
  profile->recompute();
  EXPECT_EQ(9u, log.size());
  EXPECT_FALSE(profile->needsRecompute());
}

TEST_F(ProfileTest, TemporalConstraintPairing) {
  TransactionId a = add(0, 10, "A"), b = add(5, 15, "B"), c = add(3, 8, "C");
  const LabelStr testProp("TestProp");
  ConstraintEngineId ce = world.ce->getId();
  std::vector<ConstrainedVariableId> ab({a->time(), b->time()});
  NarrowConstraint* pair = new NarrowConstraint(testProp, ce, ab);
  EXPECT_TRUE(profile->getPendingConstraintMessages().empty());  // not "Temporal": ignored
  world.ce->propagate();

  unsigned int count = profile->changeCount();
  profile->temporalConstraintAdded(pair->getId(), a->time(), 0);
  EXPECT_EQ(1u, profile->getPendingConstraintMessages().size());
  EXPECT_EQ(count, profile->changeCount());
  EXPECT_FALSE(profile->needsRecompute());
  profile->temporalConstraintAdded(pair->getId(), b->time(), 1);
  EXPECT_TRUE(profile->getPendingConstraintMessages().empty());
  EXPECT_EQ(count + 1, profile->changeCount());
  EXPECT_TRUE(profile->needsRecompute());
  EXPECT_TRUE(world.ce->pending());
  // Reported the other way round: same call. Removal pairs the same way.
  profile->temporalConstraintAdded(pair->getId(), b->time(), 1);
  profile->temporalConstraintAdded(pair->getId(), a->time(), 0);
  profile->temporalConstraintRemoved(pair->getId(), b->time(), 1);
  profile->temporalConstraintRemoved(pair->getId(), a->time(), 0);
  EXPECT_EQ(std::vector<std::string>({"added(A,0,B,1)", "added(A,0,B,1)", "removed(A,0,B,1)"}),
            profile->temporalCalls);

  // A pending addition cancelled by a removal calls nothing.
  profile->temporalConstraintAdded(pair->getId(), a->time(), 0);
  profile->temporalConstraintRemoved(pair->getId(), a->time(), 0);
  EXPECT_EQ(3u, profile->temporalCalls.size());
  EXPECT_TRUE(profile->getPendingConstraintMessages().empty());

  EXPECT_ERROR_MSG(profile->temporalConstraintAdded(pair->getId(), a->time(), 2),
                   "(c->getScope().size() == 2 && (argIndex == 0 || argIndex == 1)) || "
                   "(c->getScope().size() == 3 && (argIndex == 0 || argIndex == 2))",
                   "Invalid argument index: 2");
  profile->temporalConstraintAdded(pair->getId(), a->time(), 0);
  EXPECT_ERROR_MSG(profile->temporalConstraintAdded(pair->getId(), a->time(), 0), "existingIndex != argIndex",
                   "Got two addition notifications for index 0 of constraint ");
  profile->temporalConstraintRemoved(pair->getId(), a->time(), 0);
  profile->temporalConstraintRemoved(pair->getId(), a->time(), 0);
  EXPECT_ERROR_MSG(profile->temporalConstraintAdded(pair->getId(), b->time(), 1),
                   "!(existingAddition == false && addition == true)",
                   "Got a removal message before an addition message for constraint ");

  // Three variables: the middle one is never heard.
  NarrowConstraint* triple = new NarrowConstraint(testProp, ce, std::vector<ConstrainedVariableId>(
                                                                   {c->time(), a->time(), b->time()}));
  profile->temporalConstraintAdded(triple->getId(), b->time(), 2);
  profile->temporalConstraintAdded(triple->getId(), a->time(), 1);
  profile->temporalConstraintAdded(triple->getId(), c->time(), 0);
  EXPECT_EQ("added(C,0,B,2)", profile->temporalCalls.back());

  // Leaving the profile forgets the reports its time variable made.
  NarrowConstraint* other = new NarrowConstraint(testProp, ce, std::vector<ConstrainedVariableId>(
                                                                  {c->time(), world.intVar(0, 5)}));
  profile->temporalConstraintAdded(other->getId(), c->time(), 0);
  size_t pending = profile->getPendingConstraintMessages().size();
  profile->removeTransaction(c);
  EXPECT_EQ(pending - 1, profile->getPendingConstraintMessages().size());
  delete other;
  delete triple;
  delete pair;
}

// The first report of a temporal constraint waits for the second. A
// transaction that leaves takes its listener along, so it can neither
// complete nor cancel the reports it made: they go with it, or a profile
// whose tokens come and go keeps one dead entry per such constraint.
TEST_F(ProfileTest, HalfReportsDoNotOutliveTheirTransaction) {
  TransactionId a = add(0, 10, "A");
  const Id<ConstrainedVariable> outside = world.intVar(0, 20);
  for (int round = 0; round < 5; ++round) {
    Constraint* c = new NarrowConstraint(LabelStr("Temporal"), world.ce->getId(),
                                         std::vector<ConstrainedVariableId>({a->time(), outside}));
    EXPECT_EQ(1u, profile->getPendingConstraintMessages().size());
    profile->removeTransaction(a);
    delete c;
    profile->addTransaction(a);
  }
  EXPECT_TRUE(profile->getPendingConstraintMessages().empty());
  EXPECT_TRUE(profile->temporalCalls.empty());
}

TEST_F(ProfileTest, PropagatorRecomputesOncePerPass) {
  TransactionId a = add(0, 10);
  add(5, 15);
  world.ce->propagate();
  EXPECT_EQ(1, std::count(log.begin(), log.end(), std::string("post")));
  EXPECT_FALSE(profile->needsRecompute());
  // Time and quantity listeners of one profile both fire: one recomputation.
  log.clear();
  a->time()->specify(5);
  a->quantity()->specify(1);
  world.ce->propagate();
  EXPECT_EQ(1, std::count(log.begin(), log.end(), std::string("post")));
  log.clear();
  world.ce->propagate();
  EXPECT_TRUE(log.empty());
}

// A profile kind that can fail its own test.
class SelfTestedProfile : public RecordingProfile {
public:
  using RecordingProfile::RecordingProfile;
  bool isValid() override { return valid; }
  bool valid = true;
};

// The propagator recomputes no profile that fails its own test.
TEST(ProfileSelfTest, CheckedBeforeRecomputing) {
  ProfileWorld world;
  RecordingDetector det;
  SelfTestedProfile prof(world.db->getId(), det.getId(), 0, 10);
  prof.addTransaction(world.make(0, 10, false, 0, 5));
  prof.valid = false;
  EXPECT_EQ("profile->isValid()", failure([&] { world.ce->propagate(); }).getCondition());
  EXPECT_EQ(0, prof.recomputeCount);
  prof.valid = true;
  EXPECT_TRUE(world.ce->propagate());
  EXPECT_GT(prof.recomputeCount, 0);
}

TEST_F(ProfileTest, InconsistencyStopsThePassAndDeletedProfilesAreDropped) {
  TransactionId a = add(0, 10);
  RecordingDetector* det2 = new RecordingDetector();
  RecordingProfile* prof2 = new RecordingProfile(world.db->getId(), det2->getId(), 0, 10);
  TransactionId b = world.make(0, 10, false, 0, 5);
  prof2->addTransaction(b);
  world.ce->propagate();
  EXPECT_GT(profile->recomputeCount, 0);
  EXPECT_GT(prof2->recomputeCount, 0);
  const int before1 = profile->recomputeCount, before2 = prof2->recomputeCount;

  // Both detectors empty a domain: whichever profile runs first ends the pass.
  auto empty = [&](TransactionId t) {
    return [this, t](InstantId) {
      if (!t->quantity()->lastDomain().isEmpty())
        t->quantity()->restrictBaseDomain(IntervalDomain(50, 60));
    };
  };
  detector->onDetect = empty(a);
  det2->onDetect = empty(b);
  a->time()->specify(4);
  b->time()->specify(4);
  EXPECT_FALSE(world.ce->propagate());
  EXPECT_EQ(1, (profile->recomputeCount > before1) + (prof2->recomputeCount > before2));
  EXPECT_TRUE(profile->needsRecompute() && prof2->needsRecompute());

  // A profile deleted with its resource leaves the propagator without error.
  detector->onDetect = nullptr;
  det2->onDetect = nullptr;
  prof2->removeTransaction(b);
  delete prof2;
  delete det2;
  world.destroy(b);
  world.destroy(a, profile);
  profile->recomputeCount = 0;
  add(1, 2);
  EXPECT_TRUE(world.ce->propagate());
  EXPECT_EQ(2, profile->recomputeCount);
}

TEST_F(ProfileTest, DeletingAProfileKeepsTransactionsAndDetector) {
  TransactionId a = add(0, 10), b = add(5, 15);
  add(7, 7);
  world.ce->propagate();
  delete profile;
  profile = nullptr;
  EXPECT_TRUE(a.isValid() && b.isValid());
  EXPECT_TRUE(detector->getId().isValid());
  EXPECT_TRUE(detector->deletions.empty());
  for (ConstraintId c : world.ce->getConstraints())
    EXPECT_NE(std::string("ProfileVariableListener"), c->getName().toString());
  EXPECT_EQ(0u, a->time()->listenerCount() + b->time()->listenerCount());
  EXPECT_TRUE(world.ce->propagate());
}

TEST(ProfileFactories, ArgumentsAreCopiesAndProductsBelongToTheCaller) {
  ProfileWorld world;
  FactoryMgr profiles, detectors;
  profiles.registerFactory(new ProfileFactory<RecordingProfile>(LabelStr("RecordingProfile")));
  detectors.registerFactory(new FVDetectorFactory<RecordingDetector>(LabelStr("RecordingDetector")));
  FVDetectorArgs* detArgs;
  {
    Id<Resource> none;
    detArgs = new FVDetectorArgs(none);
  }
  Id<FVDetector> det(detectors.createInstance(LabelStr("RecordingDetector"), *detArgs));
  delete detArgs;
  ProfileArgs args(world.db->getId(), det, 0, 10);
  Id<Profile> prof(profiles.createInstance(LabelStr("RecordingProfile"), args));
  EXPECT_TRUE(det->getResource().isNoId());
  EXPECT_EQ(&det->getResource(), &prof->getResource());
  IntervalDomain level;
  prof->getLevel(3, level);
  EXPECT_EQ(0.0, level.getLowerBound());
  EXPECT_EQ(10.0, level.getUpperBound());
  delete (Profile*) prof;
  delete (FVDetector*) det;
  EXPECT_FALSE(det.isValid());
}

TEST(ProfileDetector, SurvivesItsResource) {
  // A resource handle whose object is gone: every report is dropped.
  static char storage[64];
  Id<Resource> gone((Resource*) (void*) storage);
  Id<Resource> copy = gone;
  gone.remove();
  RecordingDetector det(copy);
  ProfileWorld world;
  RecordingProfile prof(world.db->getId(), det.getId(), 0, 1);
  prof.addTransaction(world.make(1, 2));
  prof.recompute();
  InstantId inst = prof.instants().begin()->second;
  det.notifyOfViolation(inst, ResourceProblem::LevelTooHigh);
  det.notifyNoLongerViolated(inst);
  det.notifyOfFlaw(inst);
  det.notifyNoLongerFlawed(inst);
  EXPECT_FALSE(det.allowViolations());
  RecordingDetector empty;
  EXPECT_FALSE(empty.allowViolations());
}
