#include "Resource/test/ResourceTestSupport.hh"
#include "Resource/component/Solvers/MIRT_ThreatManager.hh"
#include "PlanDatabase/base/Token.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

const char* const FILE_NAME = "Resource/component/Solvers/MIRT_ThreatManager";

std::vector<std::string> labels(const DecisionOrder& order) {
  std::vector<std::string> result;
  for (const InstantComparator* cmp : order.getComparators())
    result.push_back(cmp->toString());
  return result;
}

std::vector<std::string> labelsOf(const std::string& element) {
  ThreatManager mgr(*xml(element));
  return labels(mgr.getOrder());
}

Error orderError(const std::string& order) {
  return failure([&]() { ThreatManager mgr(*xml("<M order=\"" + order + "\"/>")); });
}

// A reservoir with a consumption at each of the given times, propagated so
// that its profile has an instant at each.
TestReservoir* withInstants(ResourceWorld& w, const std::string& name, const std::vector<int>& times) {
  TestReservoir* res = w.reservoir(name, 0, -1000, 1000, "TimetableProfile", "QuietFVDetector");
  for (int t : times)
    w.consumer(name, t, t, 1, 1);
  EXPECT_TRUE(w.ce->propagate());
  return res;
}

std::vector<int> timesOf(const IteratorId& it) {
  std::vector<int> result;
  while (!it->done())
    result.push_back(InstantId(it->next())->getTime());
  delete (Iterator*) it;
  return result;
}

}

TEST(ThreatManager, orderAttributeAndItsErrors) {
  EXPECT_EQ(std::vector<std::string>({"lowerLevelFlaw", "mostFlawedLower", "earliest"}), labelsOf("<M/>"));
  EXPECT_EQ(std::vector<std::string>({"mostFlawedAbsolute", "upperLevelFlaw", "leastFlawedUpper", "earliest"}),
            labelsOf("<M order=\"most,upper,least,earliest\"/>"));
  EXPECT_EQ(std::vector<std::string>({"earliest", "earliest"}), labelsOf("<M order=\"earliest,earliest\"/>"));
  EXPECT_EQ(std::vector<std::string>({"latest", "lowerLevelFlaw", "leastFlawedLower", "mostFlawedLower"}),
            labelsOf("<M order=\"latest,lower,least,most\"/>"));

  // Entries are matched exactly: empty entries, blanks and other cases are unknown.
  const std::vector<std::pair<std::string, std::string>> unknown = {
    {"", ""}, {"lower,,most", ""}, {"lower,", ""}, {"lower, most", " most"}, {"Earliest", "Earliest"},
    {"lower,most,earlist", "earlist"}};
  for (const auto& c : unknown) {
    Error e = orderError(c.first);
    EXPECT_EQ("ALWAYS_FAIL", e.getCondition()) << c.first;
    EXPECT_EQ("Unknown decision order '" + c.second + "'", e.getMsg()) << c.first;
    EXPECT_EQ(FILE_NAME, e.getFile());
  }
  for (const std::string order : {"upper,lower", "lower,earliest,upper"}) {
    Error e = orderError(order);
    EXPECT_EQ("!m_preferUpper || !m_preferLower", e.getCondition()) << order;
    EXPECT_EQ("Can't prefer both upper and lower level flaws.", e.getMsg());
  }
  // The check runs after each entry: it fires before a later bad entry is read.
  EXPECT_EQ("!m_preferUpper || !m_preferLower", orderError("upper,lower,bogus").getCondition());

  DecisionOrder empty;
  EXPECT_EQ("cmp != NULL", failure([&]() { empty.addOrder(NULL); }).getCondition());
  // A copy owns comparators of its own with the same labels.
  DecisionOrder* original = new DecisionOrder();
  original->addOrder(new LatestInstantComparator());
  original->addOrder(new MostInstantComparator(InstantComparator::UPPER));
  DecisionOrder copy(*original);
  delete original;
  EXPECT_EQ(std::vector<std::string>({"latest", "mostFlawedUpper"}), labels(copy));
}

TEST(ThreatManager, comparatorsRankFlawedInstants) {
  ResourceWorld w(false, true);
  TestReservoir* res = withInstants(w, "R", {3, 5, 8, 10, 12});
  InstantId none = ResourceWorld::instantAt(res->getProfile(), 3);
  InstantId lowOnly3 = w.flaw(res, 5, true, false, 3, 0);
  InstantId upOnly7 = w.flaw(res, 8, false, true, 0, 7);
  InstantId both = w.flaw(res, 10, true, true, 2, 9);
  InstantId low5 = w.flaw(res, 12, true, false, 5, 0);

  // Each comparator on pairs of these: with its label, whether the first comes first.
  const EarliestInstantComparator earliest;
  const LatestInstantComparator latest;
  const UpperInstantComparator upper;
  const LowerInstantComparator lower;
  const MostInstantComparator mostUpper(InstantComparator::UPPER), mostLower(InstantComparator::LOWER),
      mostAbsolute(InstantComparator::ABSOLUTE);
  const LeastInstantComparator leastAbsolute(InstantComparator::ABSOLUTE), leastUpper(InstantComparator::UPPER),
      leastLower(InstantComparator::LOWER);
  const struct { const InstantComparator& cmp; const char* label; InstantId a, b; bool first; } cases[] = {
      {earliest, "earliest", none, low5, true}, {earliest, "earliest", low5, none, false},
      {latest, "latest", low5, none, true}, {latest, "latest", none, none, false},
      {upper, "upperLevelFlaw", upOnly7, low5, true}, {upper, "upperLevelFlaw", upOnly7, both, false},
      {lower, "lowerLevelFlaw", lowOnly3, none, true},
      // No upper flaw: never first, even against none; 9 > 7.
      {mostUpper, "mostFlawedUpper", none, lowOnly3, false}, {mostUpper, "mostFlawedUpper", upOnly7, none, true},
      {mostUpper, "mostFlawedUpper", both, upOnly7, true},
      // Flawed beats unflawed whatever the magnitude.
      {mostLower, "mostFlawedLower", low5, lowOnly3, true}, {mostLower, "mostFlawedLower", both, upOnly7, true},
      {mostAbsolute, "mostFlawedAbsolute", both, upOnly7, true},  // max(9, 2) > 7
      {mostAbsolute, "mostFlawedAbsolute", lowOnly3, none, true},
      {leastAbsolute, "leastFlawedAbsolute", lowOnly3, none, true},
      {leastAbsolute, "leastFlawedAbsolute", none, none, false},
      {leastAbsolute, "leastFlawedAbsolute", both, lowOnly3, true},  // min(9, 2) < 3
      {leastUpper, "leastFlawedUpper", upOnly7, both, true}, {leastUpper, "leastFlawedUpper", both, low5, true},
      {leastUpper, "leastFlawedUpper", low5, both, false}, {leastLower, "leastFlawedLower", none, none, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.first, c.cmp(c.a, c.b)) << c.label << " " << c.a->getTime() << " " << c.b->getTime();
    EXPECT_EQ(c.label, c.cmp.toString());
  }

  // The default order, through the manager, with the deciding label as explanation.
  ThreatManager mgr(*xml("<M/>"));
  LabelStr why("untouched");
  EXPECT_TRUE(mgr.betterThan(lowOnly3, upOnly7, why));
  EXPECT_EQ("lowerLevelFlaw", why.toString());
  EXPECT_TRUE(mgr.betterThan(low5, lowOnly3, why));
  EXPECT_EQ("mostFlawedLower", why.toString());
  EXPECT_TRUE(mgr.betterThan(upOnly7, none, why) == false && mgr.betterThan(none, upOnly7, why));
  EXPECT_EQ("earliest", why.toString());
  why = LabelStr("untouched");
  EXPECT_FALSE(mgr.betterThan(lowOnly3, low5, why));
  EXPECT_FALSE(mgr.betterThan(both, both, why));
  EXPECT_EQ("untouched", why.toString());

  ThreatManager byLatest(*xml("<M order=\"latest\"/>"));
  EXPECT_FALSE(byLatest.betterThan(both, both, why));
  EXPECT_EQ("untouched", why.toString());

  // Only instants are the manager's; only instants can be printed or ranked.
  TokenId tok = w.consumer("R", 20, 20, 1, 1);
  EXPECT_FALSE(mgr.staticMatch(none));
  EXPECT_FALSE(mgr.dynamicMatch(low5));
  EXPECT_TRUE(mgr.staticMatch(tok));
  EXPECT_TRUE(mgr.dynamicMatch(tok));
  EXPECT_TRUE(mgr.staticMatch(EntityId()));
  EXPECT_EQ("THREAT: 10 on " + res->toString(), mgr.toString(both));
  Error e = failure([&]() { mgr.toString(tok); });
  EXPECT_EQ("InstantId::convertable(entity)", e.getCondition());
  EXPECT_EQ(FILE_NAME, e.getFile());
  EXPECT_EQ("InstantId::convertable(a) && InstantId::convertable(b)",
            failure([&]() { mgr.betterThan(both, tok, why); }).getCondition());
  DecisionOrder empty;
  EXPECT_EQ("!m_cmps.empty()", failure([&]() { empty(both, low5, why); }).getCondition());
  EXPECT_EQ("a.isValid() && b.isValid()", failure([&]() { mgr.getOrder()(both, InstantId(), why); }).getCondition());
}

// The default order is the lexicographic order of (no lower flaw, minus the
// lower magnitude, time); the explanation names the first component that differs.
TEST(ThreatManager, defaultOrderAgainstLexicographicOracle) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 5; ++round) {
    ResourceWorld w(false, true);
    std::vector<int> times;
    for (int t = 1; t <= 14; ++t)
      times.push_back(t * 3);
    TestReservoir* res = withInstants(w, "R", times);
    std::vector<InstantId> instants;
    for (int t : times) {
      const bool lower = rng() % 2 == 0;
      const bool upper = rng() % 3 == 0;
      if (!lower && !upper) {
        instants.push_back(ResourceWorld::instantAt(res->getProfile(), t));
        continue;
      }
      instants.push_back(w.flaw(res, t, lower, upper, (double) (rng() % 3), (double) (rng() % 4)));
    }
    ThreatManager mgr(*xml("<M/>"));
    auto key = [](const InstantId& i) {
      return std::make_tuple(i->hasLowerLevelFlaw() ? 0 : 1,
                             i->hasLowerLevelFlaw() ? -i->getLowerFlawMagnitude() : 0.0, i->getTime());
    };
    const char* const names[] = {"lowerLevelFlaw", "mostFlawedLower", "earliest"};
    for (const InstantId& a : instants)
      for (const InstantId& b : instants) {
        LabelStr why("none");
        const bool expected = key(a) < key(b);
        ASSERT_EQ(expected, mgr.betterThan(a, b, why)) << a->getTime() << " vs " << b->getTime();
        if (!expected) {
          EXPECT_EQ("none", why.toString());
          continue;
        }
        const std::string decider = std::get<0>(key(a)) != std::get<0>(key(b)) ? names[0]
                                    : std::get<1>(key(a)) != std::get<1>(key(b)) ? names[1] : names[2];
        EXPECT_EQ(decider, why.toString());
      }
  }
}

TEST(ThreatManager, iteratorGathersRecordedFlawsWithoutRecomputing) {
  ResourceWorld w(false, true);
  std::unique_ptr<TiXmlElement> config =
    xml("<M component=\"MIRTThreatManager\"><H component=\"MIRTThreatHandler\"/></M>");
  SOLVERS::FlawManagerId mgr = w.factories->createComponent(*config);
  mgr->initialize(w.db->getId(), SOLVERS::ContextId(), *w.factories, w.finders);

  // Nothing flawed: done at once, and the debug output says so.
  {
    DebugCapture debug("ThreatIterator:ThreatIterator");
    EXPECT_TRUE(timesOf(mgr->createIterator()).empty());
    EXPECT_NE(std::string::npos, debug.text().find("[ThreatIterator:ThreatIterator]Advanced to the end right away."));
  }

  TestReservoir* first = withInstants(w, "First", {3, 5, 7});
  TestReservoir* second = withInstants(w, "Second", {1, 2});
  ASSERT_LT(first->getKey(), second->getKey());
  w.flaw(first, 5, true, false, 1);
  InstantId three = w.flaw(first, 3, false, true, 0, 1);
  w.flaw(second, 1, true, false, 2);
  EXPECT_EQ(std::vector<int>({3, 5, 1}), timesOf(mgr->createIterator()));

  // An iterator keeps what it gathered; a new one sees the withdrawal.
  IteratorId before = mgr->createIterator();
  three->setFlawed(false);
  first->notifyNoLongerFlawed(three);
  EXPECT_EQ(std::vector<int>({3, 5, 1}), timesOf(before));
  EXPECT_EQ(std::vector<int>({5, 1}), timesOf(mgr->createIterator()));

  // A profile awaiting recomputation offers its last record.
  w.consumer("Second", 0, 0, 1, 1);
  EXPECT_EQ(std::vector<int>({5, 1}), timesOf(mgr->createIterator()));
  delete (SOLVERS::FlawManager*) mgr;
}
