#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "ConstraintEngine/base/BoolDomain.hh"
#include "ConstraintEngine/base/EnumeratedDomain.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

using namespace KORVAN;

namespace {
class Recorder : public DomainListener {
public:
  void notifyChange(const ChangeType& changeType) override { changes.push_back(changeType); }
  std::vector<ChangeType> changes;
};
} // namespace

TEST(DomainTest, IntervalBoundsAndChangeKinds) {
  IntervalDomain unbounded;
  EXPECT_EQ(-g_infiniteTime(), unbounded.getLowerBound());
  EXPECT_EQ(g_infiniteTime(), unbounded.getUpperBound());
  EXPECT_EQ(g_infiniteTime(), IntervalDomain(0, 1e15).getUpperBound()); // clamped

  IntervalDomain dom(0, 10);
  Recorder rec;
  dom.setListener(&rec);
  EXPECT_FALSE(dom.intersect(-5, 20));
  EXPECT_TRUE(dom.intersect(2, 20));
  EXPECT_TRUE(dom.intersect(-5, 8));
  EXPECT_TRUE(dom.intersect(3, 7));
  EXPECT_TRUE(dom.intersect(IntervalDomain(5, 5)));
  EXPECT_TRUE(dom.isSingleton());
  EXPECT_EQ(5.0, dom.getSingletonValue());
  EXPECT_TRUE(dom.relax(IntervalDomain(0, 10)));
  dom.reset(IntervalDomain(1, 2));
  dom.set(1.5);
  EXPECT_TRUE(dom.intersect(4, 6));
  EXPECT_TRUE(dom.isEmpty());
  // An emptied interval keeps finite bounds.
  EXPECT_EQ(1.5, dom.getLowerBound());
  EXPECT_EQ(1.5, dom.getUpperBound());
  EXPECT_FALSE(dom.isMember(1.5));
  std::vector<DomainListener::ChangeType> expected = {
      DomainListener::LOWER_BOUND_INCREASED, DomainListener::UPPER_BOUND_DECREASED,
      DomainListener::BOUNDS_RESTRICTED,     DomainListener::RESTRICT_TO_SINGLETON,
      DomainListener::RELAXED,               DomainListener::RESET,
      DomainListener::SET_TO_SINGLETON,      DomainListener::EMPTIED};
  EXPECT_EQ(expected, rec.changes);
  EXPECT_EQ("float:empty", dom.toString());
  EXPECT_EQ("float:[-inf, 2.5]", IntervalDomain(-1e20, 2.5).toString());

  IntervalDomain a(0, 10), b(0, 10);
  EXPECT_TRUE(a == b);
  b.intersect(0, 9);
  EXPECT_TRUE(a != b);
  EXPECT_TRUE(b.isSubsetOf(a));
  EXPECT_FALSE(a.isSubsetOf(b));
  EXPECT_TRUE(a.intersects(IntervalDomain(10, 20)));
  EXPECT_FALSE(a.intersects(IntervalDomain(11, 20)));
  a = IntervalDomain(3, 4);
  EXPECT_EQ(std::make_pair(3.0, 4.0), std::make_pair(a.getLowerBound(), a.getUpperBound()));
  EXPECT_THROW(IntervalDomain(0, 1).getSingletonValue(), Error);
}

TEST(DomainTest, IntegerIntervals) {
  IntervalIntDomain dom(0.5, 9.7);
  EXPECT_EQ(1.0, dom.getLowerBound());
  EXPECT_EQ(9.0, dom.getUpperBound());
  EXPECT_FALSE(dom.isMember(2.5));
  EXPECT_TRUE(dom.isMember(2));
  EXPECT_EQ(9u, dom.getSize());
  dom.intersect(2.2, 4.9);
  std::list<double> values;
  dom.getValues(values);
  EXPECT_EQ((std::list<double>{3, 4}), values);
  Recorder rec;
  dom.setListener(&rec);
  dom.remove(3);
  EXPECT_TRUE(dom.isSingleton());
  dom.remove(4);
  EXPECT_TRUE(dom.isEmpty());
  EXPECT_EQ((std::vector<DomainListener::ChangeType>{DomainListener::RESTRICT_TO_SINGLETON,
                                                     DomainListener::EMPTIED}),
            rec.changes);
  std::unique_ptr<AbstractDomain> copy(IntervalIntDomain(1, 3).copy());
  EXPECT_TRUE(dynamic_cast<IntervalIntDomain*>(copy.get()) != 0);
  EXPECT_FALSE(IntervalIntDomain(1, 3) == IntervalDomain(1, 3));
  EXPECT_FALSE(IntervalIntDomain().isFinite());
}

TEST(DomainTest, EnumerationsAndBooleans) {
  EnumeratedDomain open;
  EXPECT_TRUE(open.isOpen());
  EXPECT_FALSE(open.isEmpty());
  Recorder rec;
  open.setListener(&rec);
  open.insert(3);
  open.insert(1);
  open.insert(2);
  open.close();
  EXPECT_EQ("ENUM:{1, 2, 3}", open.toString());
  EXPECT_EQ(1.0, open.getLowerBound());
  EXPECT_EQ(3.0, open.getUpperBound());
  open.remove(2);
  EXPECT_TRUE(open.intersect(IntervalIntDomain(0, 1)));
  open.open();
  EXPECT_EQ((std::vector<DomainListener::ChangeType>{DomainListener::RELAXED, DomainListener::RELAXED,
                                                     DomainListener::RELAXED, DomainListener::CLOSED,
                                                     DomainListener::VALUE_REMOVED,
                                                     DomainListener::RESTRICT_TO_SINGLETON,
                                                     DomainListener::OPENED}),
            rec.changes);

  EnumeratedDomain set(std::list<double>{1, 5, 9});
  IntervalDomain interval(0, 100);
  EXPECT_TRUE(interval.intersect(set));
  EXPECT_EQ(1.0, interval.getLowerBound());
  EXPECT_EQ(9.0, interval.getUpperBound());
  EXPECT_FALSE(interval.intersect(EnumeratedDomain())); // an open set excludes nothing yet
  EXPECT_TRUE(set.equate(interval) == false);
  set.empty();
  EXPECT_TRUE(set.isEmpty());
  EXPECT_TRUE(set.getLowerBound() <= g_infiniteTime());

  LabelStr a("alpha"), b("beta");
  EnumeratedDomain symbols(std::list<double>{a, b}, true, "Color", false);
  EXPECT_EQ("Color", symbols.getTypeName().toString());
  EXPECT_EQ("alpha", symbols.toString(a));
  EXPECT_TRUE(symbols.isSymbolic());

  BoolDomain flag;
  EXPECT_EQ("bool:{false, true}", flag.toString());
  flag.set(1);
  EXPECT_TRUE(flag.isTrue());
  EXPECT_THROW(flag.insert(2), Error);
  EXPECT_TRUE(BoolDomain(false).isFalse());
}

// Random narrowing and relaxation of an integer interval against a set of integers.
TEST(DomainTest, RandomIntervalOracle) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 200; ++trial) {
    IntervalIntDomain dom(0, 30);
    std::set<int> oracle;
    for (int i = 0; i <= 30; ++i)
      oracle.insert(i);
    for (int step = 0; step < 6; ++step) {
      int lb = rng() % 35 - 2, ub = rng() % 35 - 2;
      bool changed = dom.intersect(lb, ub);
      size_t before = oracle.size();
      for (auto it = oracle.begin(); it != oracle.end();)
        it = (*it < lb || *it > ub) ? oracle.erase(it) : std::next(it);
      EXPECT_EQ(before != oracle.size(), changed);
      EXPECT_EQ(oracle.empty(), dom.isEmpty());
      for (int v = -3; v <= 33; ++v)
        EXPECT_EQ(oracle.count(v) == 1, dom.isMember(v)) << v;
      EXPECT_TRUE(dom.getLowerBound() >= -g_infiniteTime() && dom.getUpperBound() <= g_infiniteTime());
    }
  }
}

// An intersection never widens, an unbounded side stays unbounded, zero prints as 0.
TEST(DomainTest, EdgesOfIntervals) {
  const double inf = g_infiniteTime();
  // Rounding tolerance may close a hair-wide gap into one point, inside the present bounds.
  IntervalDomain a(0, 10);
  EXPECT_TRUE(a.intersect(IntervalDomain(10 + 1e-12, 20)));
  EXPECT_EQ(IntervalDomain(10, 10), a);
  IntervalDomain b(5, 10);
  EXPECT_TRUE(b.intersect(-3, 5 - 1e-12));
  EXPECT_EQ(IntervalDomain(5, 5), b);

  // Removing an infinite bound leaves the side unbounded; a finite end still goes.
  IntervalIntDomain below(-inf, 5);
  below.remove(-inf);
  EXPECT_EQ(IntervalIntDomain(-inf, 5), below);
  below.remove(5);
  EXPECT_EQ(IntervalIntDomain(-inf, 4), below);
  IntervalIntDomain above(3, inf);
  above.remove(inf);
  EXPECT_EQ("int:[3, +inf]", above.toString());

  // Negative zero, from rounding or given, prints as 0.
  IntervalIntDomain rounded(-0.5, inf);
  EXPECT_EQ("int:[0, +inf]", rounded.toString());
  IntervalIntDomain given(-0.0, -0.0);
  EXPECT_EQ("int:[0, 0]", given.toString());
  IntervalDomain real(-1, 1);
  real.intersect(-0.0, 1);
  EXPECT_EQ("float:[0, 1]", real.toString());
  EXPECT_EQ("0", real.toString(-0.0));
}

// Random real intersections: the result lies within both operands' bounds (up to the rounding
// tolerance for the second), never outside the first, and a change is reported exactly when the
// bounds moved.
TEST(DomainTest, IntersectionsNeverWiden) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> coin(0, 1);
  for (int trial = 0; trial < 2000; ++trial) {
    const double lb = std::floor(coin(rng) * 20), ub = lb + std::floor(coin(rng) * 20);
    IntervalDomain dom(lb, ub);
    // Bounds near the present ones, off by a hair or by a lot.
    auto near = [&](double x) {
      const double r = coin(rng);
      return r < 0.3 ? x + (coin(rng) - 0.5) * 1e-11 : r < 0.6 ? x : x + (coin(rng) - 0.5) * 30;
    };
    const double l = near(coin(rng) < 0.5 ? lb : ub), u = near(coin(rng) < 0.5 ? lb : ub);
    const bool changed = dom.intersect(l, u);
    if (dom.isEmpty()) {
      EXPECT_TRUE(changed);
      continue;
    }
    EXPECT_GE(dom.getLowerBound(), lb) << l << " " << u;
    EXPECT_LE(dom.getUpperBound(), ub) << l << " " << u;
    EXPECT_LE(dom.getLowerBound(), dom.getUpperBound());
    EXPECT_EQ(changed, dom.getLowerBound() != lb || dom.getUpperBound() != ub);
  }
}
