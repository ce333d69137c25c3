// Outcomes that a faster maximum flow must not change, recorded from the
// implementation it replaced: solver steps and makespans on a sample of
// public scheduling instances under both flow profiles, and the level
// envelopes of both flow profiles on seeded random plans through a sequence
// of changes. KORVAN_RECORD=1 prints the values in the form kept below.

#include "Resource/component/MIRT_FlowProfile.hh"
#include "Resource/component/MIRT_IncrementalFlowProfile.hh"
#include "Resource/test/ProfileTestSupport.hh"
#include "Resource/test/RcpspPlan.hh"
#include "Resource/test/TestHelpers.hh"
#include "Utils/base/Debug.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

bool recording() {
  const char* v = std::getenv("KORVAN_RECORD");
  return v != 0 && std::string(v) == "1";
}

struct Solved {
  const char* instance;
  const char* profile;
  unsigned int steps;
  int makespan;
};

const Solved SOLVED[] = {
  {"j301_3.sm", "FlowProfile", 28, 53},
  {"j301_3.sm", "IncrementalFlowProfile", 28, 53},
  {"j304_4.sm", "FlowProfile", 11, 57},
  {"j304_4.sm", "IncrementalFlowProfile", 11, 57},
  {"j3020_3.sm", "FlowProfile", 6, 49},
  {"j3020_3.sm", "IncrementalFlowProfile", 6, 49},
  {"j3036_4.sm", "FlowProfile", 11, 59},
  {"j3036_4.sm", "IncrementalFlowProfile", 11, 59},
};

// FNV-1a over the text of each instant's time and bounds.
uint64_t envelopeDigest(Profile& profile) {
  uint64_t h = 1469598103934665603ULL;
  char buf[96];
  for (ProfileIterator it(profile.getId(), -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
    const int n = std::snprintf(buf, sizeof(buf), "%d:%.17g:%.17g;", it.getTime(),
                                it.getInstant()->getLowerLevel(), it.getInstant()->getUpperLevel());
    for (int i = 0; i < n; ++i) {
      h ^= (unsigned char) buf[i];
      h *= 1099511628211ULL;
    }
  }
  return h;
}

// Digests after each step of one seeded plan, flow profile then incremental.
struct Envelopes {
  unsigned int seed;
  std::vector<uint64_t> digests;
};

#include "FlowOutcomeRecords.inc"

// A random plan of producers and consumers on a short horizon, orderings a
// hidden schedule keeps, then steps: orderings added, some withdrawn, a
// transaction added and one removed. Returns the digests and the steps.
std::vector<uint64_t> runPlan(unsigned int seed, std::vector<std::string>& steps) {
  std::mt19937 rng(seed);
  ProfileWorld w;
  RecordingDetector flowDetector, incrementalDetector;
  std::unique_ptr<FlowProfile> flow(new FlowProfile(w.db->getId(), flowDetector.getId(), 0.0, 0.0));
  std::unique_ptr<IncrementalFlowProfile> incremental(
    new IncrementalFlowProfile(w.db->getId(), incrementalDetector.getId(), 0.0, 0.0));
  const int n = 12 + (int) (rng() % 20);
  const int horizon = n;
  std::vector<TransactionId> ts;
  std::vector<int> hidden;
  for (int i = 0; i < n; ++i) {
    const int lb = (int) (rng() % horizon), ub = lb + (int) (rng() % 12);
    const double q = (double) (1 + rng() % 4);
    const bool consumer = rng() % 2 == 0;
    const double spread = (double) (rng() % 3);
    ts.push_back(w.make(lb, ub, consumer, q, q + spread));
    hidden.push_back(lb + (int) (rng() % (ub - lb + 1)));
    steps.push_back("t" + std::to_string(i) + " [" + std::to_string(lb) + "," + std::to_string(ub) + "] " +
                    (consumer ? "consumes " : "produces ") + std::to_string(q) + "+" + std::to_string(spread));
  }
  for (const TransactionId& t : ts) {
    flow->addTransaction(t);
    incremental->addTransaction(t);
  }
  std::vector<uint64_t> digests;
  auto record = [&](const std::string& step) {
    steps.push_back(step);
    EXPECT_TRUE(w.ce->propagate()) << step;
    flow->recompute();
    incremental->recompute();
    digests.push_back(envelopeDigest(*flow));
    digests.push_back(envelopeDigest(*incremental));
  };
  record("as given");
  std::vector<ConstraintId> added;
  for (int k = 0; k < 16; ++k) {
    const int a = (int) (rng() % n), b = (int) (rng() % n);
    if (a == b || hidden[a] > hidden[b])
      continue;
    added.push_back(w.ce->createConstraint(LabelStr("precedes"), {ts[a]->time(), ts[b]->time()}));
    record("t" + std::to_string(a) + " precedes t" + std::to_string(b));
  }
  for (size_t i = 0; i < added.size(); i += 3) {
    added[i]->discard();
    record("ordering " + std::to_string(i) + " withdrawn");
  }
  const TransactionId extra = w.make(0, horizon, true, 2, 3);
  flow->addTransaction(extra);
  incremental->addTransaction(extra);
  record("consumer [0," + std::to_string(horizon) + "] added");
  flow->removeTransaction(ts[0]);
  incremental->removeTransaction(ts[0]);
  record("t0 removed");
  flow.reset();
  incremental.reset();
  return digests;
}

}

TEST(FlowOutcomes, RandomPlanEnvelopes) {
  const unsigned int seeds[] = {1, 2, 3, 5, 8, 13, 21, 34};
  if (recording()) {
    std::printf("const Envelopes ENVELOPES[] = {\n");
    for (unsigned int seed : seeds) {
      std::vector<std::string> steps;
      const std::vector<uint64_t> digests = runPlan(seed, steps);
      std::printf("  {%u, {", seed);
      for (size_t i = 0; i < digests.size(); ++i)
        std::printf("%s0x%016llxULL", i ? ", " : "", (unsigned long long) digests[i]);
      std::printf("}},\n");
    }
    std::printf("};\n");
    return;
  }
  // Then again with every debug marker on, the lines written nowhere: the records were taken
  // with them off, and which lines are wanted must not change a level.
  struct Nowhere : std::streambuf {
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  } nowhere;
  std::ostream lines(&nowhere);
  struct Quiet {
    ~Quiet() {
      DebugMessage::disableAll();
      DebugMessage::setStream(std::cerr);
    }
  } quiet;
  for (const char* markers : {"", "markers on: "}) {
    if (*markers != '\0') {
      DebugMessage::setStream(lines);
      DebugMessage::enable("*");
    }
    for (const Envelopes& e : ENVELOPES) {
      std::vector<std::string> steps;
      const std::vector<uint64_t> digests = runPlan(e.seed, steps);
      ASSERT_EQ(e.digests.size(), digests.size()) << markers << "seed " << e.seed;
      for (size_t i = 0; i < digests.size(); ++i) {
        if (digests[i] == e.digests[i])
          continue;
        std::string story;
        for (const std::string& s : steps)
          story += "  " + s + "\n";
        FAIL() << markers << "seed " << e.seed << ": " << (i % 2 == 0 ? "FlowProfile" : "IncrementalFlowProfile")
               << " envelope differs after step " << i / 2 << " of the plan:\n" << story;
      }
    }
  }
}

TEST(FlowOutcomes, SchedulingSample) {
  using namespace KORVAN::RCPSP;
  const std::string dir = dataRoot() + "/psplib/j30/";
  if (!fileExists(dir + "j301_3.sm"))
    GTEST_SKIP() << "no PSPLIB j30 instances in " << dataRoot();
  for (const Solved& s : SOLVED) {
    const Problem problem = readSm(dir + s.instance);
    Plan plan(problem, s.profile);
    const bool solved = plan.solve(Plan::solverConfiguration(2000));
    ASSERT_TRUE(solved) << s.instance << " " << s.profile;
    ASSERT_TRUE(plan.propagate()) << s.instance << " " << s.profile;
    const std::vector<int> starts = plan.earliestStarts();
    EXPECT_EQ("", checkSchedule(problem, starts)) << s.instance << " " << s.profile;
    if (recording()) {
      std::printf("  {\"%s\", \"%s\", %u, %d},\n", s.instance, s.profile, plan.solver().getStepCount(),
                  makespan(problem, starts));
      continue;
    }
    EXPECT_EQ(s.steps, plan.solver().getStepCount()) << s.instance << " " << s.profile;
    EXPECT_EQ(s.makespan, makespan(problem, starts)) << s.instance << " " << s.profile;
  }
}

namespace {

typedef std::vector<std::pair<int, std::pair<double, double>>> Envelope;

Envelope envelopeOf(Profile& profile) {
  Envelope e;
  for (ProfileIterator it(profile.getId(), -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next())
    e.push_back(std::make_pair(it.getTime(), std::make_pair(it.getInstant()->getLowerLevel(),
                                                            it.getInstant()->getUpperLevel())));
  return e;
}

template <class P>
Envelope freshEnvelope(ProfileWorld& w, const std::vector<TransactionId>& ts) {
  RecordingDetector detector;
  P profile(w.db->getId(), detector.getId(), 1.0, 2.0);
  for (const TransactionId& t : ts)
    profile.addTransaction(t);
  profile.recompute();
  return envelopeOf(profile);
}

std::string describe(const Envelope& e) {
  std::string text;
  for (const auto& x : e)
    text += " " + std::to_string(x.first) + ":[" + std::to_string(x.second.first) + "," +
            std::to_string(x.second.second) + "]";
  return text;
}

}

// Both flow profiles, kept up to date through a random sequence of changes
// (each pass resuming the maximum flow of the last), against profiles of the
// same kind built afresh on the same transactions after each step.
// KORVAN_FLOW_ROUNDS sets the number of plans.
TEST(FlowOutcomes, MaintainedEnvelopesMatchFreshOnes) {
  const char* v = std::getenv("KORVAN_FLOW_ROUNDS");
  const int rounds = v != 0 ? std::max(1, std::atoi(v) / 50) : 12;
  for (int round = firstSeed() - 1; round < firstSeed() - 1 + rounds; ++round) {
    std::mt19937 rng(104729u * (unsigned) round + 3u);
    ProfileWorld w;
    RecordingDetector d1, d2;
    std::unique_ptr<FlowProfile> flow(new FlowProfile(w.db->getId(), d1.getId(), 1.0, 2.0));
    std::unique_ptr<IncrementalFlowProfile> incremental(new IncrementalFlowProfile(w.db->getId(), d2.getId(), 1.0, 2.0));
    std::vector<TransactionId> ts;
    std::vector<ConstraintId> orders;
    std::vector<std::unique_ptr<NarrowConstraint>> narrowings;
    std::vector<std::string> steps;
    auto add = [&]() {
      const int lb = (int) (rng() % 24), ub = lb + (int) (rng() % 10);
      const double qlb = (double) (rng() % 4), qub = qlb + (double) (rng() % 3);
      const bool consumer = rng() % 2 == 0;
      ts.push_back(w.make(lb, ub, consumer, qlb, qub));
      flow->addTransaction(ts.back());
      incremental->addTransaction(ts.back());
      steps.push_back("add t" + std::to_string(ts.size() - 1) + " [" + std::to_string(lb) + "," +
                      std::to_string(ub) + "] " + (consumer ? "consumes [" : "produces [") + std::to_string(qlb) +
                      "," + std::to_string(qub) + "]");
    };
    for (int i = 0; i < 8; ++i)
      add();
    for (int step = 0; step < 20; ++step) {
      const int kind = (int) (rng() % 5);
      if (kind <= 1 && ts.size() >= 2) {
        const size_t a = rng() % ts.size(), b = rng() % ts.size();
        if (a != b) {
          ConstraintId c = w.ce->createConstraint(LabelStr("precedes"), {ts[a]->time(), ts[b]->time()});
          if (!w.ce->propagate()) {
            c->discard();
          }
          else {
            orders.push_back(c);
            steps.push_back("t" + std::to_string(a) + " precedes t" + std::to_string(b));
          }
        }
      }
      else if (kind == 2 && !orders.empty()) {
        const size_t i = rng() % orders.size();
        orders[i]->discard();
        orders.erase(orders.begin() + i);
        steps.push_back("ordering " + std::to_string(i) + " withdrawn");
      }
      else if (kind == 3 && !ts.empty()) {
        const size_t i = rng() % ts.size();
        const AbstractDomain& q = ts[i]->quantity()->lastDomain();
        const double lb = std::min(q.getUpperBound(), q.getLowerBound() + (double) (rng() % 2));
        narrowings.emplace_back(new NarrowConstraint(LabelStr("TestProp"), w.ce->getId(), ts[i]->quantity(), lb,
                                                     q.getUpperBound()));
        steps.push_back("quantity of t" + std::to_string(i) + " from " + std::to_string(lb));
      }
      else
        add();
      ASSERT_TRUE(w.ce->propagate());
      flow->recompute();
      incremental->recompute();
      const Envelope expected = freshEnvelope<FlowProfile>(w, ts);
      ASSERT_EQ(expected, freshEnvelope<IncrementalFlowProfile>(w, ts));
      const Envelope kept = envelopeOf(*flow), keptIncremental = envelopeOf(*incremental);
      if (kept != expected || keptIncremental != expected) {
        std::string story;
        for (const std::string& s : steps)
          story += "  " + s + "\n";
        FAIL() << "round " << round << ", after:\n" << story << "fresh:      " << describe(expected)
               << "\nflow:       " << describe(kept) << "\nincremental:" << describe(keptIncremental);
      }
    }
    flow.reset();
    incremental.reset();
    narrowings.clear();
    for (ConstraintId& c : orders)
      c->discard();
    w.ce->propagate();
  }
}
