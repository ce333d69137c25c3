// Instants under many open-ended transactions: wide windows (as the end of a
// token before its first propagation) narrowed a bound at a time, moved,
// relaxed and removed, with many transactions sharing bound times. After every
// step the profile's instants and their filings must equal a recomputation
// from the transactions' current domains. A failing seed prints its steps.

#include "Resource/test/ProfileTestSupport.hh"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

struct Open {
  TransactionId t;
  int name;
  std::vector<Constraint*> narrowings;
};

// The first difference between the profile and a recomputation, or "".
std::string differenceFromScratch(const RecordingProfile& profile, const std::vector<Open>& live) {
  std::map<int, std::set<TransactionId>> all, starting, ending, overlapping;
  for (const Open& k : live) {
    const int lb = (int) k.t->time()->lastDomain().getLowerBound();
    const int ub = (int) k.t->time()->lastDomain().getUpperBound();
    all[lb];
    all[ub];
  }
  for (auto& entry : all) {
    const int time = entry.first;
    for (const Open& k : live) {
      const int lb = (int) k.t->time()->lastDomain().getLowerBound();
      const int ub = (int) k.t->time()->lastDomain().getUpperBound();
      if (lb > time || ub < time)
        continue;
      entry.second.insert(k.t);
      if (lb == time)
        starting[time].insert(k.t);
      if (ub == time)
        ending[time].insert(k.t);
      else
        overlapping[time].insert(k.t);
    }
  }
  std::ostringstream os;
  if (profile.instants().size() != all.size())
    os << profile.instants().size() << " instants, expected " << all.size() << "; ";
  for (const auto& entry : profile.instants()) {
    const int time = entry.first;
    const InstantId& inst = entry.second;
    if (!all.count(time))
      os << "instant at " << time << " marks no bound; ";
    else if (inst->getTransactions() != all[time])
      os << "transactions at " << time << " differ; ";
    else if (inst->getStartingTransactions() != starting[time])
      os << "starting at " << time << " differ; ";
    else if (inst->getEndingTransactions() != ending[time])
      os << "ending at " << time << " differ; ";
    else if (inst->getOverlappingTransactions() != overlapping[time])
      os << "overlapping at " << time << " differ; ";
  }
  return os.str();
}

int seedCount() {
  const char* text = std::getenv("KORVAN_INSTANT_SEEDS");
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 12;
}

}

TEST(InstantFiling, OpenEndedTransactionsNarrowedStepByStepMatchRecomputation) {
  const LabelStr testProp("TestProp");
  for (int seed = 1; seed <= seedCount(); ++seed) {
    std::mt19937 rng(seed);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    ProfileWorld world;
    RecordingDetector detector;
    RecordingProfile profile(world.db->getId(), detector.getId(), 0, 5);
    std::vector<Open> live;
    std::ostringstream steps;
    int made = 0;
    for (int step = 0; step < 150; ++step) {
      const int op = live.size() < 4 ? 0 : uniform(0, 9);
      if (op <= 1) {
        // Open-ended, or a window with bounds on a coarse grid so that
        // several transactions share each bound.
        const bool open = uniform(0, 2) == 0;
        const int lb = open ? -1000 : 5 * uniform(0, 8);
        const int ub = open ? 1000 : lb + 5 * uniform(0, 4);
        Open k;
        k.t = world.make(lb, ub, uniform(0, 1) == 1);
        k.name = made++;
        profile.addTransaction(k.t);
        live.push_back(k);
        steps << "add " << k.name << " [" << lb << " " << ub << "]\n";
      }
      else {
        Open& k = live[uniform(0, (int) live.size() - 1)];
        const AbstractDomain& dom = k.t->time()->lastDomain();
        const int lb = (int) dom.getLowerBound(), ub = (int) dom.getUpperBound();
        if (op <= 5) {
          // One bound at a time, onto the grid where it lies inside.
          int nlb = lb, nub = ub;
          if (uniform(0, 1) == 0)
            nlb = std::min(ub, std::max(lb, 5 * uniform(-1, 9)));
          else
            nub = std::max(lb, std::min(ub, 5 * uniform(-1, 9)));
          k.narrowings.push_back(new NarrowConstraint(testProp, world.ce->getId(), k.t->time(), nlb, nub));
          steps << "narrow " << k.name << " to [" << nlb << " " << nub << "]\n";
        }
        else if (op <= 7 && !k.narrowings.empty()) {
          const int i = uniform(0, (int) k.narrowings.size() - 1);
          delete k.narrowings[i];
          k.narrowings.erase(k.narrowings.begin() + i);
          steps << "relax " << k.name << " (narrowing " << i << ")\n";
        }
        else if (op == 8) {
          if (k.t->time()->isSpecified())
            k.t->time()->reset();
          else
            k.t->time()->specify(uniform(lb, ub));
          steps << "specify/reset " << k.name << "\n";
        }
        else {
          for (Constraint* c : k.narrowings)
            delete c;
          TransactionId gone = k.t;
          steps << "remove " << k.name << "\n";
          live.erase(live.begin() + (&k - &live[0]));
          world.destroy(gone, &profile);
        }
      }
      ASSERT_TRUE(world.ce->propagate()) << "seed " << seed << ", steps:\n" << steps.str();
      const std::string difference = differenceFromScratch(profile, live);
      ASSERT_EQ("", difference) << "seed " << seed << ", steps:\n" << steps.str();
    }
    for (Open& k : live) {
      for (Constraint* c : k.narrowings)
        delete c;
      world.destroy(k.t, &profile);
    }
    EXPECT_TRUE(profile.instants().empty()) << "seed " << seed;
  }
}
