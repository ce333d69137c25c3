// Levels, instants, flaws and violations of the instant-based resource.

#include "Resource/test/InstantTestSupport.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Utils.hh"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace KORVAN {
namespace InstantTest {
namespace {

std::string level(Resource* r, int time) {
  IntervalDomain d;
  r->getLevelAt(time, d);
  return d.toString();
}

std::string levelOf(double lb, double ub) {
  return IntervalDomain(lb, ub).toString();
}

TEST(InstantResource, levelsOfWorkedExamples) {
  InstantWorld w;
  OpenResource* fixed = w.resource("fixed", 10);
  w.change("fixed", 5, 5, 3, 3);
  EXPECT_TRUE(bounds(*fixed).empty()) << "read before a query: not rebuilt";
  EXPECT_EQ(levelOf(10, 10), level(fixed, 4));
  EXPECT_EQ(std::vector<std::string>{"5:[13, 13, 13, 13]"}, bounds(*fixed));
  EXPECT_EQ(levelOf(13, 13), level(fixed, 5));
  EXPECT_EQ(levelOf(13, 13), level(fixed, 1000));

  OpenResource* span = w.resource("span", 10);
  w.change("span", 5, 9, -2, -2);
  EXPECT_EQ(levelOf(8, 10), level(span, 7));
  EXPECT_EQ((std::vector<std::string>{"5:[8, 8, 10, 10]", "9:[8, 8, 8, 8]"}), bounds(*span));

  OpenResource* mixed = w.resource("mixed", 10);
  w.change("mixed", 3, 3, -1, 2);
  w.change("mixed", 3, 3, 0, 0);
  EXPECT_EQ(levelOf(9, 12), level(mixed, 3));
  EXPECT_EQ(std::vector<std::string>{"3:[9, 12, 9, 12]"}, bounds(*mixed));

  OpenResource* empty = w.resource("empty", 4);
  EXPECT_EQ(levelOf(4, 4), level(empty, 0));
  EXPECT_TRUE(empty->getInstants().empty());
}

TEST(InstantResource, instantsHoldTheTokensCoveringThem) {
  InstantWorld w;
  OpenResource* r = w.resource("r", 0);
  Transaction* a = w.change("r", 0, 10, 1, 1);
  w.change("r", 0, 4, -1, -1);
  Transaction* c = w.change("r", 6, 6, 2, 2);
  EXPECT_EQ(levelOf(0, 0), level(r, -1));
  ASSERT_EQ((std::vector<std::string>{"0:[-1, -1, 1, 1]", "4:[-1, -1, 0, 0]", "6:[1, 1, 2, 2]", "10:[2, 2, 2, 2]"}),
            bounds(*r));
  // Which tokens each instant holds is the random completion test's.
  for (const auto& entry : r->getInstants())
    EXPECT_TRUE(r->hasStartOrEndTransaction(entry.second));

  std::list<InstantId> found;
  r->getInstants(found, 4, 10);
  ASSERT_EQ(2u, found.size());
  EXPECT_EQ(6, found.front()->getTime()) << "the lower bound is excluded";
  EXPECT_EQ(10, found.back()->getTime()) << "the upper bound is included";
  EXPECT_EQ("lowerBound <= upperBound", failure([&] { std::list<InstantId> l; r->getInstants(l, 5, 4); }).getCondition());
  EXPECT_EQ("resultSet.empty()", failure([&] { r->getInstants(found, 0, 1); }).getCondition());

  std::set<TransactionId> txs;
  r->getTransactions(txs, 5, 6, false);
  EXPECT_EQ((std::set<TransactionId>{a->getId(), c->getId()}), txs);
  txs.clear();
  r->getTransactions(txs, 11, 20, true);
  EXPECT_TRUE(txs.empty());

  EXPECT_EQ("ALWAYS_FAILS", failure([&] { r->cleanup(a->getId()); }).getCondition());
  EXPECT_EQ("tx.isValid()", failure([&] { r->cleanup(TransactionId()); }).getCondition());
}

TEST(InstantResource, totalsMakeGlobalViolations) {
  InstantWorld w;
  OpenResource* r = w.resource("r", 0, -100, 100, 10, -5);
  w.change("r", 1, 1, -3, -3);
  w.change("r", 2, 2, -2, -2);
  EXPECT_FALSE(r->isViolated()) << "a total equal to its limit is allowed";
  Transaction* extra = w.change("r", 3, 3, -1, -1);
  EXPECT_TRUE(r->isDirty());
  std::list<ResourceViolationId> violations;
  r->getResourceViolations(violations, 0, 0);
  ASSERT_EQ(1u, violations.size());
  EXPECT_EQ(ResourceProblem::ConsumptionSumExceeded, violations.front()->getType());
  EXPECT_TRUE(violations.front()->getInstant().isNoId());
  std::ostringstream os;
  violations.front()->print(os);
  EXPECT_EQ("ConsumptionSumExceeded global", os.str());
  EXPECT_TRUE(r->isViolated());
  EXPECT_FALSE(r->isFlawed());
  EXPECT_FALSE(r->hasFlaws());
  EXPECT_TRUE(r->getInstants().empty()) << "no profile under a global violation";
  EXPECT_EQ(levelOf(0, 0), level(r, 5));

  extra->discard();
  EXPECT_TRUE(r->isDirty());
  EXPECT_FALSE(r->isViolated());
  EXPECT_FALSE(violations.front().isValid()) << "the rebuild deleted the old violation";

  OpenResource* p = w.resource("p", 0, -100, 100, 4, -100);
  w.change("p", 1, 9, 3, 3);
  w.change("p", 2, 2, 2, 5);
  violations.clear();
  p->getResourceViolations(violations, 0, 0);
  ASSERT_EQ(1u, violations.size());
  EXPECT_EQ(ResourceProblem::ProductionSumExceeded, violations.front()->getType());
}

TEST(InstantResource, instantLimitsMakeFlawsAndViolations) {
  InstantWorld w;
  // The lowest possible level reaches the minimum exactly: no flaw.
  OpenResource* edge = w.resource("edge", 5, 0, 10);
  w.change("edge", 1, 1, -5, -5);
  EXPECT_FALSE(edge->isFlawed());
  EXPECT_FALSE(edge->isViolated());

  OpenResource* high = w.resource("high", 5, 0, 10);
  w.change("high", 1, 1, 6, 8);
  std::list<ResourceFlawId> flaws;
  high->getResourceFlaws(flaws, 0, 0);
  ASSERT_EQ(1u, flaws.size());
  EXPECT_EQ(ResourceProblem::LevelTooHigh, flaws.front()->getType());
  EXPECT_EQ(1, flaws.front()->getInstant()->getTime());
  EXPECT_FALSE(high->isViolated()) << "the consumption still allowed can bring the level down";
  EXPECT_EQ("Time:[lowerMin, lowerMax, upperMin, upperMax] FF 1:[11, 13, 11, 13] fLevelTooHigh  \n", high->toString());
  EXPECT_EQ(high->toString(), toString(ResourceId(high->getId())));
  EXPECT_EQ("high", high->Object::toString()) << "the object's own text stays its name";

  // Nothing may be produced: the level certainly ends below the minimum.
  OpenResource* low = w.resource("low", 0, 0, 10, 0, -100);
  w.change("low", 2, 4, -3, -1);
  std::list<ResourceViolationId> violations;
  low->getResourceViolations(violations, 0, 0);
  ASSERT_EQ(1u, violations.size()) << "at 2 the token may not have consumed yet";
  EXPECT_EQ(4, violations.back()->getInstant()->getTime());
  EXPECT_EQ(ResourceProblem::LevelTooLow, violations.back()->getType());
  flaws.clear();
  low->getResourceFlaws(flaws, 0, 0);
  EXPECT_EQ(2u, flaws.size()) << "a violation and a flaw of the same kind at 4";
  std::ostringstream os;
  violations.back()->print(os);
  EXPECT_EQ("LevelTooLowXX FF 4:[-3, -1, -3, -1] vLevelTooLow fLevelTooLow ", os.str());

  // Too much certain consumption ahead pushes the lowest level above the maximum.
  OpenResource* over = w.resource("over", 9, 0, 10, 100, -2);
  w.change("over", 1, 1, 4, 4);
  violations.clear();
  over->getResourceViolations(violations, 0, 0);
  ASSERT_EQ(1u, violations.size());
  EXPECT_EQ(ResourceProblem::LevelTooHigh, violations.front()->getType());
}

// Filing a change checks the instants it reaches (and the one before), a query checks them all:
// an instant whose handle was taken out of the table fails the checks that reach it. Broken in
// turn: the instant before the late change, its first and its last; the early one reaches none
// but the first. Run apart, as a broken profile cannot be torn down.
TEST(InstantResource, aBrokenInstantFailsEveryCheckThatReachesIt) {
  EXPECT_EXIT(
      {
        bool ok = true;
        for (int time : {10, 20, 30}) {
          InstantWorld* w = new InstantWorld();
          OpenResource* r = w->resource("r", 0);
          Transaction* early = w->change("r", 0, 10, 1, 1);
          Transaction* late = w->change("r", 20, 30, 1, 1);
          level(r, 0);
          InstantId broken = r->getInstants().find(time)->second;
          broken.remove();
          const Error e = failure([&] { r->insert(late->getId()); });
          if (e.getCondition() != "it->second.isValid()") {
            std::cerr << "instant at " << time << ": " << e.getCondition() << std::endl;
            ok = false;
          }
          ok = ok && failure([&] { r->isFlawed(); }).getCondition() == "it->second.isValid()";
          if (time != 10)
            r->insert(early->getId());
        }
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(InstantResource, initChecksTheLimits) {
  InstantWorld w;
  const double inf = g_infiniteTimeAsDouble();
  OpenResource* r = w.resource("r", 0);
  r->init(1, 0, 10, inf, 7, -inf, -6);
  EXPECT_EQ(7, r->getProductionRateMax(-5));
  EXPECT_EQ(7, r->getProductionRateMax(123456));
  EXPECT_EQ(-6, r->getConsumptionRateMax(0));
  r->init(1, 0, 10, 2, 7, -3, -6);
  EXPECT_EQ(2, r->getProductionRateMax(0));
  EXPECT_EQ(-3, r->getConsumptionRateMax(0));
  EXPECT_TRUE(r->isDirty());

  // Each refused init: its arguments, condition and, where the check has one, message.
  const struct { std::vector<double> a; const char* condition; const char* message; } refused[] = {
      {{-1, 0, 10, 2, 7, -3, -6}, "m_initialCapacity >= m_limitMin", nullptr},
      {{0, 0, 10, 2, 7, 1, -10}, "m_consumptionRateMax <= 0", "Consumption rate is 1 but must be negative."},
      {{0, 5, 1, 2, 7, -1, -10}, "m_limitMin <= m_limitMax", "5 > 1"},
      {{11, 0, 10, 2, 7, -1, -10}, "m_initialCapacity <= m_limitMax", nullptr},
      {{0, 0, 10, 8, 7, -1, -10}, "m_productionRateMax <= m_productionMax", nullptr},
      {{0, 0, 10, -1, 7, -1, -10}, "m_productionRateMax >= 0", nullptr},
      {{0, 0, 10, 1, 7, -11, -10}, "m_consumptionRateMax >= m_consumptionMax", nullptr}};
  for (const auto& c : refused) {
    Error e = failure([&] { r->init(c.a[0], c.a[1], c.a[2], c.a[3], c.a[4], c.a[5], c.a[6]); });
    EXPECT_EQ(c.condition, e.getCondition());
    EXPECT_EQ("Resource/base/Resource", e.getFile());
    EXPECT_TRUE(!c.message || c.message == e.getMsg()) << e.getMsg();
  }
  // A refused init keeps the limits that were valid before it.
  EXPECT_EQ(2, r->getProductionRateMax(0));
  EXPECT_EQ(-3, r->getConsumptionRateMax(0));
  EXPECT_TRUE(r->isValid());

  // An open resource answers no query before init.
  OpenResource* open = new OpenResource(w.db->getId(), "open");
  EXPECT_FALSE(open->isDirty());
  EXPECT_EQ("m_limitMin <= m_limitMax", failure([&] { open->isViolated(); }).getCondition());
  Error e = failure([&] { open->updateInitialState(IntervalDomain(1, 2)); });
  EXPECT_EQ("value.isSingleton()", e.getCondition());
  EXPECT_EQ("In the current implementation the initial value of Resource should be a singleton", e.getMsg());
  open->init(0, 0, 10, 1, 1, -1, -1);
  open->updateInitialState(IntervalDomain(3));
  EXPECT_EQ(levelOf(3, 3), level(open, 0));
}

TEST(InstantResource, settersWaitForTheNextChange) {
  InstantWorld w;
  OpenResource* r = w.resource("r", 0, -100, 100, 10, -10);
  w.change("r", 1, 1, 5, 5);
  EXPECT_FALSE(r->isViolated());
  r->setProductionRateMax(1);
  r->setProductionMax(1);
  EXPECT_FALSE(r->isViolated()) << "not dirty: the old profile stands";
  {
    DebugCapture debug("Resource:markDirty");
    r->markDirty();
    EXPECT_EQ("[Resource:markDirty]r marked Dirty\n", debug.text());
  }
  EXPECT_TRUE(r->isViolated());
  r->setProductionMax(10);
  r->setConsumptionMax(-20);
  r->setConsumptionRateMax(-20);
  r->setProductionRateMax(10);
  r->markDirty();
  EXPECT_FALSE(r->isViolated());
  EXPECT_EQ(-20, r->getConsumptionRateMax(0));
}

TEST(InstantResource, instantsPrintAndOwnTheirProblems) {
  InstantWorld w;
  w.resource("r", 0);
  Transaction* a = w.change("r", 0, 10, 1, 1);
  Transaction* b = w.change("r", 0, 10, 1, 1);
  EXPECT_EQ("0:[0, 0, 0, 0] ", OpenInstant(0).toString());
  EXPECT_EQ("+inf:[0, 0, 0, 0] ", OpenInstant(g_infiniteTime()).toString());
  EXPECT_EQ("-inf:[0, 0, 0, 0] ", OpenInstant(-g_infiniteTime()).toString());

  OpenInstant i(10);
  i.updateBounds(0, 1, 2, 3);
  i.addResourceFlaw(ResourceProblem::LevelTooLow);
  i.addResourceViolation(ResourceProblem::LevelTooHigh);
  EXPECT_EQ("XX FF 10:[0, 1, 2, 3] vLevelTooHigh fLevelTooLow ", i.toString());
  ResourceFlawId flaw = i.getResourceFlaws().front();
  std::ostringstream os;
  flaw->print(os);
  EXPECT_EQ("LevelTooLowXX FF 10:[0, 1, 2, 3] vLevelTooHigh fLevelTooLow ", os.str());
  i.reset();
  EXPECT_EQ("10:[0, 1, 2, 3] ", i.toString());
  EXPECT_FALSE(flaw.isValid());

  i.insert(b->getId());
  i.insert(a->getId());
  i.insert(b->getId());
  ASSERT_EQ(2u, i.getTransactions().size());
  EXPECT_EQ(a->getId(), *i.getTransactions().begin()) << "by entity key, not insertion";
  EXPECT_TRUE(i.isValid());
  i.addResourceViolation(ResourceProblem::LevelTooLow);
  EXPECT_TRUE(i.remove(a->getId()));
  EXPECT_TRUE(i.getResourceViolations().empty());
  i.addResourceFlaw(ResourceProblem::LevelTooLow);
  EXPECT_FALSE(i.remove(a->getId()));
  EXPECT_TRUE(i.getResourceFlaws().empty()) << "problems go even when the token was not there";
  EXPECT_EQ(1u, i.getTransactions().size());

  // A token narrowed away from the instant's time makes it invalid.
  OpenInstant late(8);
  late.insert(b->getId());
  EXPECT_TRUE(late.isValid());
  b->setLatest(5);
  EXPECT_EQ("tx->getTime()->lastDomain().isMember(m_time)", failure([&] { late.isValid(); }).getCondition());

  GlobalProblem global(ResourceProblem::ProductionSumExceeded);
  os.str("");
  global.print(os);
  EXPECT_EQ("ProductionSumExceeded global", os.str());
  EXPECT_STREQ("LevelTooLow", ResourceProblem::getString(ResourceProblem::LevelTooLow));
  EXPECT_TRUE(global.getId().isValid());
}

}
}
}
