// Randomised oracle: after every add, restrict, relax or remove, the profile's
// instants must be exactly those implied by the transactions' current time
// domains, and every instant that disappeared must have been reported to the
// detector once, while still valid and already out of the map.

#include "Resource/test/ProfileTestSupport.hh"
#include "Resource/test/SoundnessSupport.hh"

#include <gtest/gtest.h>

#include <random>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

typedef NarrowedTransaction Tracked;

class ProfileOracle : public ::testing::TestWithParam<int> {};

}

TEST_P(ProfileOracle, RandomChangesKeepInstantsExact) {
  std::mt19937 rng(GetParam());
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  ProfileWorld world;
  RecordingDetector detector;
  RecordingProfile profile(world.db->getId(), detector.getId(), 0, 5);
  detector.instants = &profile.instants();
  const LabelStr testProp("TestProp");
  std::vector<Tracked> live;
  std::vector<ConstraintId> precedences;
  std::map<int, int> previous;  // time -> instant key
  std::set<int> reportedEver;

  for (int step = 0; step < 300; ++step) {
    const int op = live.empty() ? 0 : uniform(0, 7);
    std::string what;
    if (op == 0 || live.size() < 3) {
      const int lb = uniform(0, 40);
      Tracked k;
      k.t = world.make(lb, lb + uniform(0, 15), uniform(0, 1) == 1);
      profile.addTransaction(k.t);
      live.push_back(k);
      what = "add";
    }
    else if (op == 6) {
      // A precedence between two transactions that can still be ordered so.
      const Tracked& x = live[uniform(0, (int) live.size() - 1)];
      const Tracked& y = live[uniform(0, (int) live.size() - 1)];
      if (x.t == y.t || x.t->time()->lastDomain().getLowerBound() > y.t->time()->lastDomain().getUpperBound())
        continue;
      precedences.push_back(world.ce->createConstraint(LabelStr("precedes"),
                                                       std::vector<ConstrainedVariableId>({x.t->time(), y.t->time()})));
      what = "precedes";
    }
    else if (op == 7) {
      if (precedences.empty())
        continue;
      const int i = uniform(0, (int) precedences.size() - 1);
      precedences[i]->discard(true);
      precedences.erase(precedences.begin() + i);
      what = "unorder";
    }
    else {
      Tracked& k = live[uniform(0, (int) live.size() - 1)];
      what = changeTime(k, op, uniform, world, testProp);
      if (what.empty()) {
        for (Constraint* c : k.narrowings)
          delete c;
        TransactionId gone = k.t;
        for (size_t i = precedences.size(); i-- > 0;) {
          if (precedences[i]->isVariableOf(gone->time())) {
            precedences[i]->discard(true);
            precedences.erase(precedences.begin() + i);
          }
        }
        live.erase(live.begin() + (&k - &live[0]));
        world.destroy(gone, &profile);
        what = "remove";
      }
    }
    ASSERT_TRUE(world.ce->propagate());
    const std::string label = "step " + std::to_string(step) + " (" + what + ")";
    std::vector<TransactionId> transactions;
    for (const Tracked& k : live)
      transactions.push_back(k.t);
    ASSERT_EQ("", checkFiling(profile.getId(), transactions)) << label;
    for (const auto& entry : profile.instants())
      ASSERT_EQ(profile.getId(), entry.second->getProfile()) << label;

    // Instants that went away were reported once each, alive and unmapped;
    // one made and dropped within the step is reported too.
    std::set<int> reportedNow;
    for (const RecordingDetector::Deletion& d : detector.deletions) {
      ASSERT_TRUE(d.valid) << label;
      ASSERT_FALSE(d.stillMapped) << label;
      ASSERT_TRUE(reportedEver.insert(d.key).second) << label << ": instant reported twice";
      reportedNow.insert(d.key);
    }
    std::set<int> current;
    for (const auto& entry : profile.instants())
      current.insert(entry.second->getKey());
    for (const auto& entry : previous) {
      if (!current.count(entry.second)) {
        ASSERT_TRUE(reportedNow.count(entry.second)) << label << ": instant at " << entry.first << " not reported";
      }
    }
    for (int key : reportedNow)
      ASSERT_FALSE(current.count(key)) << label;
    detector.deletions.clear();
    previous.clear();
    for (const auto& entry : profile.instants())
      previous[entry.first] = entry.second->getKey();
  }
  for (ConstraintId c : precedences)
    c->discard(true);
  EXPECT_GT(profile.temporalCalls.size(), 0u);
  for (Tracked& k : live) {
    for (Constraint* c : k.narrowings)
      delete c;
    world.destroy(k.t, &profile);
  }
  EXPECT_TRUE(profile.instants().empty());
}

INSTANTIATE_TEST_SUITE_P(Seeds, ProfileOracle, ::testing::Values(1, 2, 3, 4, 5, 6, 7, 8));
