#include "Resource/test/ProfileTestSupport.hh"
#include "Resource/test/ResourceTestSupport.hh"
#include "Resource/test/TestHelpers.hh"
#include "Utils/base/Debug.hh"
#include "Resource/component/MIRT_FlowProfile.hh"
#include "Resource/component/MIRT_Registration.hh"
#include "Resource/component/Solvers/MIRT_ChoiceFilters.hh"
#include "Resource/component/Solvers/MIRT_ChoiceOrder.hh"
#include "Resource/component/Solvers/MIRT_ThreatDecisionPoint.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

const char* const DP_FILE = "Resource/component/Solvers/MIRT_ThreatDecisionPoint";

class BaseOnly : public ChoiceComparator {
public:
  ChoiceComparator* copy() const override { return new BaseOnly(); }
};

// A flow profile whose contribution tables a test writes.
class OpenFlowProfile : public FlowProfile {
public:
  OpenFlowProfile(Id<PlanDatabase> db, Id<FVDetector> detector, double lb, double ub)
    : FlowProfile(db, detector, lb, ub) {}
  void setLower(const TransactionId& t, const InstantId& i) { m_lowerLevelContribution[t] = i; }
  void setUpper(const TransactionId& t, const InstantId& i) { m_upperLevelContribution[t] = i; }
  void forget(const TransactionId& t) {
    m_lowerLevelContribution.erase(t);
    m_upperLevelContribution.erase(t);
  }
};

class CountingFilter : public ChoiceFilter {
public:
  explicit CountingFilter(bool keep) : m_keep(keep) {}
  ~CountingFilter() override { ++s_deleted; }
  bool operator()(const OrderingChoice&) const override { ++s_asked; return m_keep; }
  std::string toString() const override { return "Counting"; }
  static int s_deleted;
  static int s_asked;

private:
  bool m_keep;
};
int CountingFilter::s_deleted = 0;
int CountingFilter::s_asked = 0;

// The transaction made for a reservoir token.
TransactionId transactionOf(Resource* res, const TokenId& tok) {
  std::vector<TransactionId> found;
  for (ProfileIterator it(res->getProfile(), -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next())
    for (const TransactionId& t : it.getInstant()->getTransactions())
      if (t->time()->parent() == EntityId(tok))
        return t;
  return TransactionId();
}

std::vector<std::string> labels(const ChoiceOrder& order) {
  std::vector<std::string> result;
  for (const ChoiceComparator* cmp : order.getComparators())
    result.push_back(cmp->toString());
  return result;
}

std::string executed(ThreatDecisionPoint& dp) {
  const ConstraintId& c = dp.getConstraint();
  return c->getName().toString() + "(" + std::to_string(c->getScope()[0]->getKey()) + "," +
         std::to_string(c->getScope()[1]->getKey()) + ")";
}

std::string expected(const OrderingChoice& choice, const std::string& name) {
  return name + "(" + std::to_string(choice.first->time()->getKey()) + "," +
         std::to_string(choice.second->time()->getKey()) + ")";
}

// A reservoir whose instant at 0 has a lower-level flaw, one consumption and two productions:
// only a production before the consumption is offered.
class ThreatDecisionPointAtALowerFlaw : public ::testing::Test {
protected:
  ThreatDecisionPointAtALowerFlaw() : w(false, true), client(w.db->getClient()) {
    TestReservoir* res = w.reservoir("R", 5, 0, 10, "TimetableProfile", "QuietFVDetector");
    w.consumer("R", 0, 10, 1, 1);
    w.producer("R", 0, 10, 1, 1);
    w.producer("R", 0, 10, 1, 1);
    EXPECT_TRUE(w.ce->propagate());
    inst = w.flaw(res, 0, true, false, 1);
  }
  ResourceWorld w;
  DbClientId client;
  InstantId inst;
};

}

TEST(ChoiceOrder, comparatorsLabelsAndCopies) {
  ProfileWorld ts;
  TransactionId a = ts.make(0, 10), b = ts.make(0, 20), c = ts.make(5, 8), d = ts.make(5, 30);

  // Earliest, latest and ascending keys, alone and chained, are the tuple oracle's below.
  EXPECT_TRUE(LongestTransactionComparator()(d, b));
  EXPECT_TRUE(ShortestTransactionComparator()(c, a));
  EXPECT_TRUE(DescendingKeyTransactionComparator()(b, a));
  EXPECT_FALSE(DescendingKeyTransactionComparator()(a, a));

  // Least impact: how far the predecessor's window lies after the successor's, clamped at zero.
  LeastImpactComparator least;
  EXPECT_EQ(0.0, least.pseudoAbs(-3));
  EXPECT_EQ(5.0, least.score(OrderingChoice(ts.make(5, 12), ts.make(0, 10))));
  EXPECT_EQ(4.0, least.score(OrderingChoice(ts.make(2, 14), ts.make(5, 10))));
  EXPECT_EQ(0.0, least.score(OrderingChoice(a, b)));
  EXPECT_TRUE(least(OrderingChoice(a, b), OrderingChoice(c, a)));
  EXPECT_FALSE(least(OrderingChoice(a, b), OrderingChoice(a, d)));

  // Switch comparators compare one side; the same side ties go on to the next comparator.
  ChoiceOrder* order = new ChoiceOrder();
  order->addOrder(new SwitchComparator(new EarliestTransactionComparator(), true));
  order->addOrder(new SwitchComparator(new LatestTransactionComparator(), false));
  order->addOrder(new LeastImpactComparator());
  EXPECT_TRUE((*order)(OrderingChoice(a, b), OrderingChoice(c, d)));   // lb 0 < 5
  EXPECT_TRUE((*order)(OrderingChoice(a, d), OrderingChoice(b, c)));   // tie, then ub 30 > 8
  EXPECT_FALSE((*order)(OrderingChoice(a, d), OrderingChoice(a, d)));
  ChoiceOrder copy(*order);
  delete order;
  EXPECT_EQ(std::vector<std::string>({"earliestPredecessor", "latestSuccessor", "LeastImpactComparator"}),
            labels(copy));
  EXPECT_TRUE(copy(OrderingChoice(a, d), OrderingChoice(b, c)));

  ChoiceOrder empty;
  Error e = failure([&]() { empty(OrderingChoice(a, b), OrderingChoice(b, a)); });
  EXPECT_EQ("!m_cmps.empty()", e.getCondition());
  EXPECT_EQ("No comparators.", e.getMsg());
  EXPECT_EQ("Resource/component/Solvers/MIRT_ChoiceOrder", e.getFile());
  EXPECT_EQ("cmp != NULL", failure([&]() { empty.addOrder(NULL); }).getCondition());
  EXPECT_TRUE(ChoiceOrder(empty).getComparators().empty());
  BaseOnly base;
  e = failure([&]() { base(OrderingChoice(a, b), OrderingChoice(b, a)); });
  EXPECT_EQ("ALWAYS_FAIL", e.getCondition());
  EXPECT_EQ("This used to be a pure virtual method.", e.getMsg());
  EXPECT_EQ("ALWAYS_FAIL", failure([&]() { base.toString(); }).getCondition());
}

// A set sorted by "earliest predecessor, latest successor" and the key
// tie-breaks holds every distinct pair once, in the order of the tuple
// (lb(p), -ub(s), key(p), key(s)).
TEST(ChoiceOrder, sortedSetAgainstTupleOracle) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    ProfileWorld ts;
    std::vector<TransactionId> trans;
    for (int i = 0; i < 7; ++i) {
      const int lb = rng() % 5;
      trans.push_back(ts.make(lb, lb + (int) (rng() % 4)));
    }
    ChoiceOrder order;
    order.addOrder(new SwitchComparator(new EarliestTransactionComparator(), true));
    order.addOrder(new SwitchComparator(new LatestTransactionComparator(), false));
    order.addOrder(new SwitchComparator(new AscendingKeyTransactionComparator(), true));
    order.addOrder(new SwitchComparator(new AscendingKeyTransactionComparator(), false));
    std::set<OrderingChoice, ChoiceOrder> sorted(order);
    std::vector<OrderingChoice> all;
    for (const TransactionId& p : trans)
      for (const TransactionId& s : trans)
        if (p != s) {
          all.push_back(OrderingChoice(p, s));
          sorted.insert(OrderingChoice(p, s));
          sorted.insert(OrderingChoice(p, s));  // a repeat is not kept
        }
    auto key = [](const OrderingChoice& c) {
      return std::make_tuple(c.first->time()->lastDomain().getLowerBound(),
                             -c.second->time()->lastDomain().getUpperBound(), c.first->time()->getKey(),
                             c.second->time()->getKey());
    };
    std::sort(all.begin(), all.end(), [&](const OrderingChoice& x, const OrderingChoice& y) { return key(x) < key(y); });
    ASSERT_EQ(all, std::vector<OrderingChoice>(sorted.begin(), sorted.end()));
  }
}

// Arranging choices through each comparator's value read once keeps what a set ordered by the
// same words keeps, in its order, whatever the words: random windows with many ties, some
// transactions sharing a time variable (so that even the key words tie), repeated choices, and
// chains with and without the key tie-breaks. KORVAN_CHOICE_ORDER_SEEDS sets the rounds.
TEST(ChoiceOrder, arrangedChoicesMatchTheSet) {
  static const char* const words[] = {
      "earliestPredecessor", "earliestSuccessor", "latestPredecessor", "latestSuccessor",
      "longestPredecessor", "longestSuccessor", "shortestPredecessor", "shortestSuccessor",
      "ascendingKeyPredecessor", "ascendingKeySuccessor", "descendingKeyPredecessor",
      "descendingKeySuccessor", "leastImpact"};
  const int rounds = envCount("KORVAN_CHOICE_ORDER_SEEDS", 150);
  int dropped = 0;
  for (int seed = firstSeed(); seed < firstSeed() + rounds; ++seed) {
    std::mt19937 rng(seed);
    ProfileWorld ts;
    std::vector<TransactionId> trans;
    const int n = 3 + (int) (rng() % 6);
    for (int i = 0; i < n; ++i) {
      if (i > 0 && rng() % 4 == 0) {
        // Another transaction at the time of an earlier one.
        Transaction* t = new Transaction(trans[rng() % trans.size()]->time(), ts.intVar(1, 1), rng() % 2 == 0);
        ts.transactions.push_back(t);
        trans.push_back(t->getId());
        continue;
      }
      const int lb = (int) (rng() % 4);
      trans.push_back(ts.make(lb, lb + (int) (rng() % 3), rng() % 2 == 0));
    }
    std::string text;
    for (int k = 1 + (int) (rng() % 4); k > 0; --k)
      text += std::string(text.empty() ? "" : ",") + words[rng() % (sizeof(words) / sizeof(words[0]))];
    if (rng() % 2 == 0)
      text += ",ascendingKeyPredecessor,ascendingKeySuccessor";
    ChoiceOrder order;
    ThreatDecisionPoint::parseOrder(text, order);
    std::vector<OrderingChoice> choices;
    for (int k = (int) (rng() % 40); k > 0; --k)
      choices.push_back(OrderingChoice(trans[rng() % trans.size()], trans[rng() % trans.size()]));
    std::set<OrderingChoice, ChoiceOrder> reference(order);
    for (const OrderingChoice& c : choices)
      reference.insert(c);
    std::vector<OrderingChoice> arranged = choices;
    order.arrange(arranged);
    ASSERT_EQ(std::vector<OrderingChoice>(reference.begin(), reference.end()), arranged)
        << "seed " << seed << ", order " << text;
    dropped += (int) (choices.size() - arranged.size());
  }
  EXPECT_GT(dropped, 0);
}

TEST(ChoiceFilters, flawLevelDecisionAndContributingFilters) {
  ResourceWorld w(false, true);
  getProfileFactoryMgr(w.engine)->registerFactory(new ProfileFactory<OpenFlowProfile>("OpenFlowProfile"));
  TestReservoir* res = w.reservoir("R", 5, 0, 10, "OpenFlowProfile", "QuietFVDetector");
  TokenId c1 = w.consumer("R", 10, 10, 1, 1), c2 = w.consumer("R", 12, 12, 1, 1);
  TokenId p1 = w.producer("R", 14, 14, 1, 1), p2 = w.producer("R", 16, 16, 1, 1);
  ASSERT_TRUE(w.ce->propagate());
  OpenFlowProfile* profile = dynamic_cast<OpenFlowProfile*>((Profile*) res->getProfile());
  ASSERT_TRUE(profile != NULL);
  TransactionId tc1 = transactionOf(res, c1), tc2 = transactionOf(res, c2);
  TransactionId tp1 = transactionOf(res, p1), tp2 = transactionOf(res, p2);
  InstantId at12 = ResourceWorld::instantAt(res->getProfile(), 12);
  InstantId at14 = ResourceWorld::instantAt(res->getProfile(), 14);
  InstantId at16 = ResourceWorld::instantAt(res->getProfile(), 16);

  // The flaw level: flags first, then the explanation, then the magnitudes (ties lower).
  InstantId neither = ResourceWorld::instantAt(res->getProfile(), 16);
  EXPECT_FALSE(DefaultChoiceFilter(profile, LabelStr("lowerLevelFlaw"), neither).treatAsLowerFlaw());
  InstantId lower = w.flaw(res, 10, true, false, 1);
  EXPECT_TRUE(DefaultChoiceFilter(profile, LabelStr("upperLevelFlaw"), lower).treatAsLowerFlaw());
  InstantId both = w.flaw(res, 14, true, true, 2, 5);
  const std::vector<std::pair<std::string, bool>> cases = {
    {"mostFlawedLower", true}, {"leastFlawedUpper", false}, {"xUpperLower", true}, {"lowerLevelFlaw", true},
    {"upperLevelFlaw", false}, {"earliest", false}, {"mostFlawedAbsolute", false}};
  for (const auto& c : cases)
    EXPECT_EQ(c.second, DefaultChoiceFilter(profile, LabelStr(c.first), both).treatAsLowerFlaw()) << c.first;
  both->setLowerMagnitude(5);
  EXPECT_TRUE(DefaultChoiceFilter(profile, LabelStr("earliest"), both).treatAsLowerFlaw());

  // Successor filter on a lower-level flaw at 10: the successor must be a consumer counting by 10.
  SuccessorContributingChoiceFilter successor(profile, LabelStr("earliest"), lower);
  profile->forget(tc2);
  EXPECT_FALSE(successor(OrderingChoice(tc1, tp1)));  // a producer: rejected before any lookup
  EXPECT_TRUE(successor(OrderingChoice(tp1, tc2)));  // nothing recorded: the choice is kept
  profile->setLower(tc2, lower);
  EXPECT_TRUE(successor(OrderingChoice(tp1, tc2)));   // recorded exactly at the flawed time
  profile->setLower(tc2, at12);
  EXPECT_FALSE(successor(OrderingChoice(tp1, tc2)));
  EXPECT_EQ("SuccessorContributingFilter", successor.toString());

  // Predecessor filter: a producer not yet counting at the flawed time.
  PredecessorNotContributingChoiceFilter predecessor(profile, LabelStr("earliest"), lower);
  EXPECT_FALSE(predecessor(OrderingChoice(tc2, tc1)));
  profile->forget(tp1);
  EXPECT_TRUE(predecessor(OrderingChoice(tp1, tc1)));  // nothing recorded: the choice is kept
  profile->setLower(tp1, lower);
  EXPECT_FALSE(predecessor(OrderingChoice(tp1, tc1)));  // recorded exactly at the flawed time
  profile->setLower(tp1, at14);
  EXPECT_TRUE(predecessor(OrderingChoice(tp1, tc1)));

  // On an upper-level flaw the sides swap and the upper table is read.
  InstantId upper = w.flaw(res, 12, false, true, 0, 1);
  SuccessorContributingChoiceFilter upperSuccessor(profile, LabelStr("earliest"), upper);
  PredecessorNotContributingChoiceFilter upperPredecessor(profile, LabelStr("earliest"), upper);
  profile->setUpper(tp2, at12);
  profile->setUpper(tc1, at16);
  EXPECT_FALSE(upperSuccessor(OrderingChoice(tp2, tc1)));
  EXPECT_TRUE(upperSuccessor(OrderingChoice(tc1, tp2)));
  EXPECT_FALSE(upperPredecessor(OrderingChoice(tp2, tc1)));
  EXPECT_TRUE(upperPredecessor(OrderingChoice(tc1, tp2)));

  // Joint test: every filter must keep the choice.
  {
    ChoiceFilters filters;
    EXPECT_TRUE(filters(OrderingChoice(tc1, tc2)));
    filters.addFilter(new SuccessorContributingChoiceFilter(profile, LabelStr("earliest"), lower));
    filters.addFilter(new PredecessorNotContributingChoiceFilter(profile, LabelStr("earliest"), lower));
    filters.addFilter(new DefaultChoiceFilter(profile, LabelStr("earliest"), lower));
    EXPECT_FALSE(filters(OrderingChoice(tp2, tp1)));
    profile->setLower(tc2, lower);
    EXPECT_TRUE(filters(OrderingChoice(tp1, tc2)));
  }
  // What the filters say of each side alone decides every pair as the filters do.
  for (const InstantId& flawed : {lower, upper}) {
    ChoiceFilters filters;
    filters.addFilter(new SuccessorContributingChoiceFilter(profile, LabelStr("earliest"), flawed));
    filters.addFilter(new PredecessorNotContributingChoiceFilter(profile, LabelStr("earliest"), flawed));
    filters.addFilter(new DefaultChoiceFilter(profile, LabelStr("earliest"), flawed));
    int kept = 0;
    for (const TransactionId& p : {tc1, tc2, tp1, tp2})
      for (const TransactionId& q : {tc1, tc2, tp1, tp2}) {
        bool pFirst = false, pSecond = false, qFirst = false, qSecond = false;
        ASSERT_TRUE(filters.sides(p, pFirst, pSecond));
        ASSERT_TRUE(filters.sides(q, qFirst, qSecond));
        EXPECT_EQ(filters(OrderingChoice(p, q)), pFirst && qSecond) << (flawed == lower ? "lower" : "upper");
        kept += filters(OrderingChoice(p, q));
      }
    EXPECT_GT(kept, 0);
  }
  CountingFilter::s_deleted = 0;
  CountingFilter::s_asked = 0;
  {
    ChoiceFilters filters;
    filters.addFilter(new CountingFilter(true));
    filters.addFilter(new CountingFilter(false));
    filters.addFilter(new CountingFilter(true));
    EXPECT_FALSE(filters(OrderingChoice(tc1, tc2)));
    EXPECT_EQ(2, CountingFilter::s_asked);
    bool first = false, second = false;
    EXPECT_FALSE(filters.sides(tc1, first, second));  // these judge whole pairs only
  }
  EXPECT_EQ(3, CountingFilter::s_deleted);

  // Without a flow profile the contributing filters cannot tell where a transaction starts to
  // count: they keep every choice that passes their side test.
  EXPECT_TRUE(SuccessorContributingChoiceFilter(NULL, LabelStr("earliest"), lower)(OrderingChoice(tp1, tc2)));
  EXPECT_FALSE(SuccessorContributingChoiceFilter(NULL, LabelStr("earliest"), lower)(OrderingChoice(tc1, tp2)));
  EXPECT_TRUE(PredecessorNotContributingChoiceFilter(NULL, LabelStr("earliest"), lower)(OrderingChoice(tp1, tc2)));
  EXPECT_FALSE(PredecessorNotContributingChoiceFilter(NULL, LabelStr("earliest"), lower)(OrderingChoice(tc1, tc2)));
  // Without a profile the default filter still keeps only the orderings that can move the level.
  EXPECT_TRUE(DefaultChoiceFilter(NULL, LabelStr("earliest"), lower)(OrderingChoice(tp1, tc2)));
  EXPECT_FALSE(DefaultChoiceFilter(NULL, LabelStr("earliest"), lower)(OrderingChoice(tc1, tc2)));
  EXPECT_FALSE(DefaultChoiceFilter(NULL, LabelStr("earliest"), lower)(OrderingChoice(tc2, tp1)));
  EXPECT_FALSE(DefaultChoiceFilter(NULL, LabelStr("earliest"), lower)(OrderingChoice(tp1, tp2)));
  EXPECT_TRUE(DefaultChoiceFilter(NULL, LabelStr("earliest"), upper)(OrderingChoice(tc1, tp2)));
  EXPECT_FALSE(DefaultChoiceFilter(NULL, LabelStr("earliest"), upper)(OrderingChoice(tp2, tc1)));
}

TEST_F(ThreatDecisionPointAtALowerFlaw, attributesAndTheirErrors) {
  auto make = [&](const std::string& attrs) {
    return new ThreatDecisionPoint(client, inst, *xml("<H " + attrs + "/>"), LabelStr("earliest"));
  };

  std::unique_ptr<ThreatDecisionPoint> dp(make(""));
  EXPECT_EQ("none", dp->getFilter());
  EXPECT_EQ("ascendingKeyPredecessor,ascendingKeySuccessor", dp->getOrder());
  EXPECT_EQ(std::vector<std::string>({"precedes"}), dp->getConstraintNames());
  EXPECT_EQ("pairFirst", dp->getConstraintOrder());
  dp.reset(make("order=\"earliestPredecessor,latestSuccessor\" constraint=\"concurrentFirst\" iterate=\"constraintFirst\""));
  EXPECT_EQ("earliestPredecessor,latestSuccessor,ascendingKeyPredecessor,ascendingKeySuccessor", dp->getOrder());
  EXPECT_EQ(std::vector<std::string>({"concurrent", "precedes"}), dp->getConstraintNames());
  EXPECT_EQ("concurrent", dp->getCurrentConstraintName());
  auto names = [&](const std::string& attrs) {
    std::unique_ptr<ThreatDecisionPoint> p(make(attrs));
    return p->getConstraintNames();
  };
  EXPECT_EQ(std::vector<std::string>({"precedes", "concurrent"}), names("constraint=\"precedesFirst\""));
  EXPECT_EQ(std::vector<std::string>({"concurrent"}), names("constraint=\"concurrentOnly\""));
  EXPECT_EQ(std::vector<std::string>({"precedes"}), names("constraint=\"precedesOnly\""));

  // Constraint words fail at construction, filter and order words at initialisation (the
  // texts of each are the solver test's, read from a configuration).
  for (const std::string word : {"none", "", "PrecedesOnly"}) {
    Error e = failure([&]() { make("constraint=\"" + word + "\""); });
    EXPECT_EQ("Expected one or two constraint names.", e.getMsg()) << word;
    EXPECT_EQ(DP_FILE, e.getFile());
  }
  auto initError = [&](const std::string& attrs) {
    std::unique_ptr<ThreatDecisionPoint> p(make(attrs));
    return failure([&]() { p->initialize(); });
  };
  // A trailing comma leaves an empty token, which names no side.
  EXPECT_EQ("Expected a 'Predecessor' or 'Successor' order.", initError("order=\"earliestPredecessor,\"").getMsg());
  EXPECT_EQ("Expected a 'Predecessor' or 'Successor' order.", initError("order=\"earliest\"").getMsg());
  EXPECT_EQ("Unknown choice order 'fooPredecessor", initError("order=\"fooPredecessor\"").getMsg());
  // An unknown filter word, with the lines on after the look-up's lines, as its filters are made.
  EXPECT_EQ("Unknown filter attribute 'Both'", initError("filter=\"Both\"").getMsg());
  std::ostringstream written;
  DebugMessage::setStream(written);
  DebugMessage::enable("ThreatDecisionPoint:handleInitialize");
  const Error marked = initError("filter=\"Both\"");
  DebugMessage::disableAll();
  DebugMessage::setStream(std::cerr);
  EXPECT_EQ("Unknown filter attribute 'Both'", marked.getMsg());
  EXPECT_EQ("[ThreatDecisionPoint:handleInitialize]Found 6 choices before filtering.\n", written.str());
  // The resource's profile is a timetable: the contributing filters keep what the default one keeps.
  for (const std::string filter : {"successor", "predecessorNot", "both"}) {
    std::unique_ptr<ThreatDecisionPoint> timetable(make("filter=\"" + filter + "\""));
    timetable->initialize();
    std::unique_ptr<ThreatDecisionPoint> plain(make(""));
    plain->initialize();
    EXPECT_EQ(plain->getChoiceCount(), timetable->getChoiceCount()) << filter;
  }
  // Containment: any token holding a side word and a comparator word is accepted.
  std::unique_ptr<ThreatDecisionPoint> loose(make("order=\"xxlatestyySuccessorPredecessor,leastImpact\""));
  loose->initialize();
  EXPECT_EQ(2u, loose->getChoiceCount());
  Error again = failure([&]() { loose->handleInitialize(); });
  EXPECT_EQ("m_flawedInstant.isValid()", again.getCondition());
  EXPECT_EQ("", again.getMsg());
}

// With every debug marker on, written nowhere, the look-up that filters as it goes and the
// arrangement run as with none on, and a listing beside them meets every pair, filters it and
// sorts it in a set: it must end with the same choices (it raises otherwise), also at a limit.
TEST_F(ThreatDecisionPointAtALowerFlaw, everyMarkerOnGivesTheSameChoices) {
  struct Nowhere : std::streambuf {
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  } nowhere;
  std::ostream lines(&nowhere);
  const Id<Resource> res = inst->getProfile()->getResource();
  std::vector<std::string> limited[2];
  for (int marked = 0; marked < 2; ++marked) {
    if (marked == 1) {
      DebugMessage::setStream(lines);
      DebugMessage::enable("*");
    }
    for (unsigned int limit : {1u, 2u, 3u, (unsigned int) g_infiniteTime()}) {
      std::vector<OrderingChoice> out;
      res->getOrderingChoices(inst, out, limit);
      for (const OrderingChoice& choice : out)
        limited[marked].push_back(std::to_string(limit) + " " + expected(choice, "precedes"));
    }
    DebugMessage::disableAll();
    DebugMessage::setStream(std::cerr);
  }
  EXPECT_EQ(limited[0], limited[1]);
  // Three transactions at the instant, none ordered yet: every couple in both orders, six.
  EXPECT_EQ(1 + 2 + 3 + 6u, limited[0].size());
  for (const std::string filter : {"none", "successor", "predecessorNot", "both"})
  for (const std::string order : {"earliestPredecessor", "latestSuccessor,longestPredecessor"}) {
    std::vector<std::string> choices[2];
    for (int marked = 0; marked < 2; ++marked) {
      if (marked == 1) {
        DebugMessage::setStream(lines);
        DebugMessage::enable("*");
      }
      ThreatDecisionPoint dp(client, inst, *xml("<H filter=\"" + filter + "\" order=\"" + order + "\"/>"),
                             LabelStr("lowerLevelFlaw"));
      dp.initialize();
      DebugMessage::disableAll();
      DebugMessage::setStream(std::cerr);
      for (const OrderingChoice& choice : dp.getChoices())
        choices[marked].push_back(expected(choice, "precedes"));
    }
    EXPECT_EQ(choices[0], choices[1]) << filter << " " << order;
    EXPECT_FALSE(choices[0].empty());
  }
}

TEST_F(ThreatDecisionPointAtALowerFlaw, executionUndoAndIteration) {
  // Every choice is posted once per constraint name, in the configured iteration order. Once a
  // pair's ordering has been undone, making it concurrent would search part of the same plans
  // again: precedes-first posts each ordering once, in either iteration.
  for (const std::string constraint : {"concurrentFirst", "precedesFirst"})
  for (const std::string iterate : {"pairFirst", "constraintFirst"}) {
    SCOPED_TRACE(constraint + " " + iterate);
    ThreatDecisionPoint dp(client, inst,
                           *xml("<H constraint=\"" + constraint + "\" iterate=\"" + iterate + "\"/>"),
                           LabelStr("lowerLevelFlaw"));
    dp.initialize();
    ASSERT_EQ(2u, dp.getChoiceCount());
    const OrderingChoice x = dp.getChoices()[0], y = dp.getChoices()[1];
    EXPECT_LT(x.first->time()->getKey(), y.first->time()->getKey());
    EXPECT_FALSE(dp.canUndo());
    std::vector<std::string> sequence;
    std::vector<ConstraintId> posted;
    while (dp.hasNext()) {
      dp.execute();
      EXPECT_TRUE(dp.canUndo());
      sequence.push_back(executed(dp));
      posted.push_back(dp.getConstraint());
      EXPECT_TRUE(w.ce->propagate());
      dp.undo();
      EXPECT_FALSE(dp.canUndo());
      EXPECT_FALSE(posted.back().isValid());
    }
    if (constraint == "precedesFirst")
      EXPECT_EQ(std::vector<std::string>({expected(x, "precedes"), expected(y, "precedes")}), sequence);
    else if (iterate == "pairFirst") {
      EXPECT_EQ(std::vector<std::string>({expected(x, "concurrent"), expected(y, "concurrent"), expected(x, "precedes"),
                                          expected(y, "precedes")}), sequence);
      EXPECT_EQ(0u, dp.getIndex());
      EXPECT_EQ("", dp.getCurrentConstraintName());
    }
    else {
      EXPECT_EQ(std::vector<std::string>({expected(x, "concurrent"), expected(x, "precedes"), expected(y, "concurrent"),
                                          expected(y, "precedes")}), sequence);
      EXPECT_EQ(2u, dp.getIndex());
      EXPECT_EQ("concurrent", dp.getCurrentConstraintName());
      Error past = failure([&]() { dp.handleExecute(); });
      EXPECT_EQ("Tried to execute past available choices:2>=2", past.getMsg());
    }
  }

  // Protocol errors of the handlers themselves.
  ThreatDecisionPoint dp(client, inst, *xml("<H/>"), LabelStr("earliest"));
  dp.initialize();
  EXPECT_EQ("m_constr.isValid()", failure([&]() { dp.handleUndo(); }).getCondition());
  dp.handleExecute();
  const ConstraintId first = dp.getConstraint();
  EXPECT_EQ("m_constr.isNoId()", failure([&]() { dp.handleExecute(); }).getCondition());
  EXPECT_EQ(first, dp.getConstraint());

  // Texts of the current choice.
  const OrderingChoice x = dp.getChoices()[0], y = dp.getChoices()[1];
  EXPECT_EQ("INS(0) on R {" + x.first->toString() + " < " + x.second->toString() + "}", dp.toShortString());
  EXPECT_EQ("INSTANT=0 on R :   DECISION (CHOICE=1 of MAX_CHOICE=2) " + x.first->toString() + " to be before " +
            x.second->toString() + " :   CHOICES  : 1 <" + x.first->toString() + " *** " + x.second->toString() +
            "> : 2 <" + y.first->toString() + " *** " + y.second->toString() + ">", dp.toString());
  dp.handleUndo();
  dp.handleExecute();
  dp.handleUndo();
  EXPECT_FALSE(dp.hasNext());
}

TEST(ThreatDecisionPoint, noChoicesAndVanishedInstants) {
  ResourceWorld w(false, true);
  TestReservoir* res = w.reservoir("R", 5, 0, 10, "TimetableProfile", "QuietFVDetector");
  TokenId a = w.consumer("R", 0, 10, 1, 1);
  ASSERT_TRUE(w.ce->propagate());
  InstantId lonely = w.flaw(res, 0, true, false, 1);
  ThreatDecisionPoint dp(w.db->getClient(), lonely, *xml("<H/>"), LabelStr("earliest"));
  dp.initialize();
  EXPECT_FALSE(dp.hasNext());
  EXPECT_EQ("INSTANT=0 on R : NO CHOICES", dp.toString());
  EXPECT_EQ("INS(0) on R {}", dp.toShortString());

  // The instant vanishes while the decision point asks for choices: nothing to order, no crash.
  TokenId b = w.consumer("R", 0, 10, 1, 1);
  ASSERT_TRUE(w.ce->propagate());
  InstantId inst = w.flaw(res, 0, true, false, 1);
  ThreatDecisionPoint gone(w.db->getClient(), inst, *xml("<H filter=\"none\"/>"), LabelStr("earliest"));
  // Constraints take effect at the next propagation, which asking for choices runs.
  Variable<IntervalIntDomain> five(w.ce->getId(), IntervalIntDomain(5, 5));
  w.db->getClient()->createConstraint("precedes", {five.getId(), a->start()});
  w.db->getClient()->createConstraint("precedes", {five.getId(), b->start()});
  ASSERT_TRUE(inst.isValid());
  gone.initialize();
  EXPECT_FALSE(inst.isValid());
  EXPECT_EQ(0u, gone.getChoiceCount());
  EXPECT_FALSE(gone.hasNext());
}
