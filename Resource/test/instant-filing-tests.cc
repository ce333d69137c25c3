// Randomised differential: after every add, restrict, relax, specify, reset or
// remove, each instant's four sets and the transactions it hands over for
// ordering must equal a plain restatement built from the transactions' current
// time domains, whenever they are read (the overlapping set is read at random
// steps only, so that reads fall after any number of changes).
// KORVAN_INSTANT_FILING_SEEDS sets the number of seeds, KORVAN_FIRST_SEED the first.

#include "Resource/test/ProfileTestSupport.hh"
#include "Resource/test/TestHelpers.hh"

#include <gtest/gtest.h>

#include <random>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

typedef NarrowedTransaction Kept;

struct Model {
  std::set<TransactionId> held, starting, ending, overlapping;
};

Model modelAt(int time, const std::vector<Kept>& live) {
  Model m;
  for (const Kept& k : live) {
    const AbstractDomain& dom = k.t->time()->lastDomain();
    const double lb = dom.getLowerBound(), ub = dom.getUpperBound();
    if (time < lb || ub < time)
      continue;
    m.held.insert(k.t);
    if (lb == time)
      m.starting.insert(k.t);
    if (ub == time)
      m.ending.insert(k.t);
    else
      m.overlapping.insert(k.t);
  }
  return m;
}

// Returns "" when every instant matches the model; reads the overlapping set
// only where readOverlap says so, so that reads fall between changes at random.
std::string compare(RecordingProfile& profile, const std::vector<Kept>& live, const std::function<bool()>& readOverlap) {
  for (const auto& entry : profile.instants()) {
    const InstantId& inst = entry.second;
    const Model m = modelAt(entry.first, live);
    const std::string at = "instant at " + std::to_string(entry.first);
    if (inst->getTransactions() != m.held)
      return at + ": transactions differ";
    if (inst->getStartingTransactions() != m.starting)
      return at + ": starting transactions differ";
    if (inst->getEndingTransactions() != m.ending)
      return at + ": ending transactions differ";
    if (readOverlap() && inst->getOverlappingTransactions() != m.overlapping)
      return at + ": overlapping transactions differ";
    std::vector<TransactionId> toOrder;
    profile.getTransactionsToOrder(inst, toOrder);
    if (toOrder != std::vector<TransactionId>(m.held.begin(), m.held.end()))
      return at + ": transactions to order differ";
  }
  return "";
}

}

TEST(InstantFiling, SetsMatchRestatementOverRandomChanges) {
  const int seeds = envCount("KORVAN_INSTANT_FILING_SEEDS", 40);
  for (int seed = firstSeed(); seed < firstSeed() + seeds; ++seed) {
    std::mt19937 rng(seed);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    ProfileWorld world;
    RecordingDetector detector;
    RecordingProfile profile(world.db->getId(), detector.getId(), 0, 5);
    const LabelStr testProp("TestProp");
    std::vector<Kept> live;
    const std::function<bool()> sometimes = [&]() { return uniform(0, 2) == 0; };
    for (int step = 0; step < 120; ++step) {
      const int op = live.size() < 4 ? 0 : uniform(0, 6);
      std::string what;
      if (op == 0) {
        // Few distinct times, so that instants are shared and refiled often.
        const int lb = uniform(0, 12);
        Kept k;
        k.t = world.make(lb, lb + uniform(0, 8), uniform(0, 1) == 1);
        profile.addTransaction(k.t);
        live.push_back(k);
        what = "add";
      }
      else {
        Kept& k = live[uniform(0, (int) live.size() - 1)];
        what = changeTime(k, op, uniform, world, testProp);
        if (what.empty() && op != 5)
          continue;
        if (what.empty()) {
          for (Constraint* c : k.narrowings)
            delete c;
          TransactionId gone = k.t;
          live.erase(live.begin() + (&k - &live[0]));
          world.destroy(gone, &profile);
          what = "remove";
        }
      }
      ASSERT_TRUE(world.ce->propagate());
      ASSERT_EQ("", compare(profile, live, sometimes)) << "seed " << seed << " step " << step << " (" << what << ")";
    }
    for (Kept& k : live) {
      for (Constraint* c : k.narrowings)
        delete c;
      world.destroy(k.t, &profile);
    }
    EXPECT_TRUE(profile.instants().empty());
  }
}
