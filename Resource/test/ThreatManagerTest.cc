#include "Resource/test/ResourceTestSupport.hh"
#include "Resource/component/Solvers/MIRT_ThreatManager.hh"
#include "PlanDatabase/base/Token.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
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
  EXPECT_EQ(std::vector<std::string>({"latest", "lowerLevelFlaw", "leastFlawedLower"}),
            labelsOf("<M order=\"latest,lower,least\"/>"));

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
  // Entries that can never decide after the earlier ones are taken, each with a warning on the
  // manager's element: a repeat, earliest and latest, and most and least in one direction.
  const std::vector<std::pair<std::string, std::vector<std::string>>> neverDeciding = {
    {"earliest,latest", {"order 'latest' never decides: it comes after 'earliest'"}},
    {"latest,lower,least,most", {"order 'most' never decides: it comes after 'least' in the same direction"}},
    {"upper,most,least,latest,earliest",
     {"order 'least' never decides: it comes after 'most' in the same direction",
      "order 'earliest' never decides: it comes after 'latest'"}},
    {"lower,most,lower,earliest,earliest",
     {"order 'lower' never decides: it comes twice", "order 'earliest' never decides: it comes twice"}},
    {"most,least,most,upper,most", {"order 'most' never decides: it comes twice"}},
    {"lower,most,earliest", {}}};
  for (const auto& c : neverDeciding) {
    ThreatManager mgr(*xml("<M order=\"" + c.first + "\"/>"));
    std::vector<std::string> warned;
    for (const SOLVERS::ConfigurationWarning& w : mgr.getWarnings()) {
      EXPECT_EQ("<M>", w.element);
      EXPECT_EQ(1, w.line);
      warned.push_back(w.message);
    }
    EXPECT_EQ(c.second, warned) << c.first;
  }
  // In the absolute direction "most" weighs the larger of an instant's two flaws and "least" the
  // smaller: flaws (lower 1, upper 5) and (lower 3, upper 5) tie on the first, and the second
  // puts the smaller first.
  {
    ResourceWorld w(false, true);
    TestReservoir* res = withInstants(w, "R", {3, 10});
    const InstantId small = w.flaw(res, 10, true, true, 1, 5), large = w.flaw(res, 3, true, true, 3, 5);
    ThreatManager mgr(*xml("<M order=\"most,least\"/>"));
    EXPECT_EQ(std::vector<std::string>({"mostFlawedAbsolute", "leastFlawedAbsolute"}), labels(mgr.getOrder()));
    EXPECT_TRUE(mgr.getWarnings().empty());
    LabelStr why("none");
    EXPECT_FALSE(mgr.betterThan(large, small, why));
    EXPECT_EQ("none", why.toString());
    EXPECT_TRUE(mgr.betterThan(small, large, why));
    EXPECT_EQ("leastFlawedAbsolute", why.toString());
  }

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

// Each comparator puts a first exactly when key(a) < key(b); the default order
// is the lexicographic order of the lowerLevelFlaw, mostFlawedLower and earliest
// keys, and its explanation names the first that differs.
TEST(ThreatManager, comparatorsAndDefaultOrderAgainstOracles) {
  const double inf = (double) g_infiniteTime();
  auto key = [inf](const std::string& label, const InstantId& i) -> std::pair<double, double> {
    const bool lo = i->hasLowerLevelFlaw(), up = i->hasUpperLevelFlaw();
    const double lm = lo ? i->getLowerFlawMagnitude() : 0, um = up ? i->getUpperFlawMagnitude() : 0;
    if (label == "earliest" || label == "latest")
      return {label == "earliest" ? i->getTime() : -i->getTime(), 0};
    if (label == "upperLevelFlaw" || label == "lowerLevelFlaw")
      return {label[0] == 'u' ? !up : !lo, 0};
    if (label == "mostFlawedUpper" || label == "leastFlawedUpper")
      return {!up, label[0] == 'm' ? -um : um};
    if (label == "mostFlawedLower" || label == "leastFlawedLower")
      return {!lo, label[0] == 'm' ? -lm : lm};
    if (label == "mostFlawedAbsolute")
      return {-std::max(um, lm), 0};
    return {std::min(up ? um : inf, lo ? lm : inf), 0};  // no flaw measures infinity
  };
  typedef InstantComparator IC;
  std::vector<std::unique_ptr<IC>> cmps;
  cmps.emplace_back(new EarliestInstantComparator());
  cmps.emplace_back(new LatestInstantComparator());
  cmps.emplace_back(new UpperInstantComparator());
  cmps.emplace_back(new LowerInstantComparator());
  for (IC::FlawDirection dir : {IC::UPPER, IC::LOWER, IC::ABSOLUTE}) {
    cmps.emplace_back(new MostInstantComparator(dir));
    cmps.emplace_back(new LeastInstantComparator(dir));
  }
  const std::vector<std::string> labels = {"earliest", "latest", "upperLevelFlaw", "lowerLevelFlaw",
                                           "mostFlawedUpper", "leastFlawedUpper", "mostFlawedLower",
                                           "leastFlawedLower", "mostFlawedAbsolute", "leastFlawedAbsolute"};
  for (size_t k = 0; k < cmps.size(); ++k)
    EXPECT_EQ(labels[k], cmps[k]->toString());
  auto order = [&](const InstantId& i) {
    return std::make_tuple(key("lowerLevelFlaw", i), key("mostFlawedLower", i), key("earliest", i));
  };
  const char* const names[] = {"lowerLevelFlaw", "mostFlawedLower", "earliest"};
  std::mt19937 rng(20240611);
  for (int round = 0; round < 5; ++round) {
    ResourceWorld w(false, true);
    std::vector<int> times;
    for (int t = 1; t <= 14; ++t)
      times.push_back(t * 3);
    TestReservoir* res = withInstants(w, "R", times);
    std::vector<InstantId> instants;
    for (int t : times) {
      const bool lower = rng() % 2 == 0, upper = rng() % 3 == 0;
      instants.push_back(lower || upper ? w.flaw(res, t, lower, upper, (double) (rng() % 3), (double) (rng() % 4))
                                        : ResourceWorld::instantAt(res->getProfile(), t));
    }
    ThreatManager mgr(*xml("<M/>"));
    for (const InstantId& a : instants)
      for (const InstantId& b : instants) {
        for (size_t k = 0; k < cmps.size(); ++k)
          ASSERT_EQ(key(labels[k], a) < key(labels[k], b), (*cmps[k])(a, b))
              << labels[k] << " " << a->getTime() << " vs " << b->getTime();
        LabelStr why("none");
        const bool expected = order(a) < order(b);
        ASSERT_EQ(expected, mgr.betterThan(a, b, why)) << a->getTime() << " vs " << b->getTime();
        const std::string decider = !expected                                         ? "none"
                                    : std::get<0>(order(a)) != std::get<0>(order(b)) ? names[0]
                                    : std::get<1>(order(a)) != std::get<1>(order(b)) ? names[1]
                                                                                     : names[2];
        EXPECT_EQ(decider, why.toString());
      }
  }
}

TEST(ThreatManager, matchesPrintsAndChecks) {
  ResourceWorld w(false, true);
  TestReservoir* res = withInstants(w, "R", {3, 10});
  InstantId none = ResourceWorld::instantAt(res->getProfile(), 3);
  InstantId both = w.flaw(res, 10, true, true, 2, 9);
  ThreatManager mgr(*xml("<M/>"));
  LabelStr why("untouched");
  // Only instants are the manager's; only instants can be printed or ranked.
  TokenId tok = w.consumer("R", 20, 20, 1, 1);
  EXPECT_FALSE(mgr.staticMatch(none) || mgr.dynamicMatch(both));
  EXPECT_TRUE(mgr.staticMatch(tok) && mgr.dynamicMatch(tok) && mgr.staticMatch(EntityId()));
  EXPECT_EQ("THREAT: 10 on " + res->toString(), mgr.toString(both));
  Error e = failure([&]() { mgr.toString(tok); });
  EXPECT_EQ("InstantId::convertable(entity)", e.getCondition());
  EXPECT_EQ(FILE_NAME, e.getFile());
  EXPECT_EQ("InstantId::convertable(a) && InstantId::convertable(b)",
            failure([&]() { mgr.betterThan(both, tok, why); }).getCondition());
  DecisionOrder empty;
  EXPECT_EQ("!m_cmps.empty()", failure([&]() { empty(both, none, why); }).getCondition());
  EXPECT_EQ("a.isValid() && b.isValid()", failure([&]() { mgr.getOrder()(both, InstantId(), why); }).getCondition());
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

// Flaw sizes are sums of decimals: two that are one decimal apart from rounding (0.1 + 0.2 - 0.2
// against 0.3 - 0.2) tie, and the next comparator decides; a true difference still ranks.
TEST(ThreatManager, decimalFlawSizesTieAsDecimals) {
  ResourceWorld w(false, true);
  TestReservoir* res = withInstants(w, "R", {3, 10});
  const double above = 0.1 + 0.2 - 0.2, below = 0.3 - 0.2;
  ASSERT_GT(above, below);
  InstantId early = w.flaw(res, 3, true, true, below, below);
  InstantId late = w.flaw(res, 10, true, true, above, above);
  const std::vector<std::tuple<std::string, bool, std::string>> cases = {
    {"most,earliest", true, "earliest"},       {"least,latest", false, "latest"},
    {"upper,most,earliest", true, "earliest"}, {"lower,least,latest", false, "latest"},
    {"lower,most,latest", false, "latest"},    {"upper,least,earliest", true, "earliest"}};
  for (const auto& c : cases) {
    ThreatManager mgr(*xml("<M order=\"" + std::get<0>(c) + "\"/>"));
    const InstantId& first = std::get<1>(c) ? early : late;
    const InstantId& second = std::get<1>(c) ? late : early;
    LabelStr why("none");
    EXPECT_TRUE(mgr.betterThan(first, second, why)) << std::get<0>(c);
    EXPECT_EQ(std::get<2>(c), why.toString()) << std::get<0>(c);
    EXPECT_FALSE(mgr.betterThan(second, first, why)) << std::get<0>(c);
  }
  w.flaw(res, 10, true, true, 0.1001, 0.1001);
  ThreatManager most(*xml("<M order=\"most,earliest\"/>"));
  LabelStr why("none");
  EXPECT_TRUE(most.betterThan(late, early, why));
  EXPECT_EQ("mostFlawedAbsolute", why.toString());
}
