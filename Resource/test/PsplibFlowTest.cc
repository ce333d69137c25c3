// End to end on PSPLIB j30 instances (read in place, skipped when absent):
// each renewable resource as consumers at job starts and producers at job
// ends, under the instance's precedences and random extra orderings that
// its earliest-start schedule satisfies. The flow and incremental flow
// profiles must agree, lie within the timetable envelope and contain the
// levels of that schedule.

#include "Resource/component/MIRT_FlowProfile.hh"
#include "Resource/component/MIRT_IncrementalFlowProfile.hh"
#include "Resource/component/MIRT_TimetableProfile.hh"
#include "Resource/test/ProfileTestSupport.hh"
#include "Resource/test/RcpspData.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace KORVAN;
using namespace KORVAN::MIRT;

// KORVAN_PSPLIB_SET (j30 by default), KORVAN_PSPLIB_FILES (3) and KORVAN_PSPLIB_SEED (30) take
// other or more instances and orderings, for a soak.
TEST(FlowProfile, PsplibJ30EndToEnd) {
  auto env = [](const char* name, const char* otherwise) {
    const char* text = std::getenv(name);
    return std::string(text != nullptr && *text != '\0' ? text : otherwise);
  };
  std::vector<std::string> files;
  const std::string J30 = RCPSP::dataRoot() + "/psplib/" + env("KORVAN_PSPLIB_SET", "j30");
  if (DIR* dir = opendir(J30.c_str())) {
    while (dirent* e = readdir(dir))
      if (std::string(e->d_name).find(".sm") != std::string::npos)
        files.push_back(std::string(J30) + "/" + e->d_name);
    closedir(dir);
  }
  if (files.empty())
    GTEST_SKIP() << "no PSPLIB j30 instances in " << J30;
  std::sort(files.begin(), files.end());
  files.resize(std::min<size_t>(files.size(), (size_t) std::max(1, std::atoi(env("KORVAN_PSPLIB_FILES", "3").c_str()))));

  std::mt19937 rng((unsigned) std::atoi(env("KORVAN_PSPLIB_SEED", "30").c_str()));
  for (const std::string& file : files) {
    const RCPSP::Problem inst = RCPSP::readSm(file);
    const int jobs = (int) inst.activities.size();
    auto duration = [&](int j) { return inst.activities[j].duration; };
    ProfileWorld w;
    std::vector<Id<ConstrainedVariable>> start, end;
    std::vector<int> es(jobs, 0);
    for (int j = 0; j < jobs; ++j) {
      start.push_back(w.intVar(0, inst.horizon));
      end.push_back(w.intVar(0, inst.horizon));
      w.ce->createConstraint(LabelStr("StartEndDurationRelation"),
                             {start[j], w.intVar(duration(j), duration(j)), end[j]});
    }
    for (const RCPSP::Lag& lag : inst.lags) {  // in topological order
      w.ce->createConstraint(LabelStr("precedes"), {end[lag.from], start[lag.to]});
      es[lag.to] = std::max(es[lag.to], es[lag.from] + duration(lag.from));
    }
    ASSERT_TRUE(w.ce->propagate()) << file;

    std::vector<std::unique_ptr<Transaction>> owned;
    std::vector<std::unique_ptr<RecordingDetector>> detectors;
    std::vector<std::unique_ptr<Profile>> profiles;  // per resource: flow, incremental, timetable
    std::vector<std::vector<std::pair<int, double>>> scheduled(inst.capacities.size());
    for (size_t k = 0; k < inst.capacities.size(); ++k) {
      const double cap = inst.capacities[k];
      for (int i = 0; i < 3; ++i)
        detectors.emplace_back(new RecordingDetector());
      profiles.emplace_back(new FlowProfile(w.db->getId(), detectors[3 * k]->getId(), cap, cap));
      profiles.emplace_back(new IncrementalFlowProfile(w.db->getId(), detectors[3 * k + 1]->getId(), cap, cap));
      profiles.emplace_back(new TimetableProfile(w.db->getId(), detectors[3 * k + 2]->getId(), cap, cap));
      for (int j = 0; j < jobs; ++j) {
        const double q = inst.activities[j].demands[k];
        if (q == 0 || duration(j) == 0)
          continue;
        Id<ConstrainedVariable> quantity = (new Variable<IntervalDomain>(w.ce->getId(), IntervalDomain(q, q)))->getId();
        w.variables.push_back((ConstrainedVariable*) quantity);
        owned.emplace_back(new Transaction(start[j], quantity, true));
        owned.emplace_back(new Transaction(end[j], quantity, false));
        for (int i = 0; i < 3; ++i) {
          profiles[3 * k + i]->addTransaction(owned[owned.size() - 2]->getId());
          profiles[3 * k + i]->addTransaction(owned.back()->getId());
        }
        scheduled[k].push_back(std::make_pair(es[j], -q));
        scheduled[k].push_back(std::make_pair(es[j] + duration(j), q));
      }
    }

    auto check = [&](const std::string& when) {
      ASSERT_TRUE(w.ce->propagate());
      for (size_t k = 0; k < inst.capacities.size(); ++k) {
        for (int i = 0; i < 3; ++i)
          profiles[3 * k + i]->recompute();
        for (ProfileIterator it(profiles[3 * k]->getId(), -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
          const int T = it.getTime();
          IntervalDomain incremental, timetable;
          profiles[3 * k + 1]->getLevel(T, incremental);
          profiles[3 * k + 2]->getLevel(T, timetable);
          const double lower = it.getInstant()->getLowerLevel(), upper = it.getInstant()->getUpperLevel();
          double level = inst.capacities[k];
          for (const auto& s : scheduled[k])
            if (s.first <= T)
              level += s.second;
          ASSERT_EQ(lower, incremental.getLowerBound()) << file << " " << when << " R" << k << " at " << T;
          ASSERT_EQ(upper, incremental.getUpperBound()) << file << " " << when << " R" << k << " at " << T;
          ASSERT_LE(timetable.getLowerBound(), lower) << file << " " << when << " R" << k << " at " << T;
          ASSERT_GE(timetable.getUpperBound(), upper) << file << " " << when << " R" << k << " at " << T;
          ASSERT_LE(lower, level) << file << " " << when << " R" << k << " at " << T;
          ASSERT_GE(upper, level) << file << " " << when << " R" << k << " at " << T;
        }
      }
    };
    check("as given");

    // Solver-like steps: orderings the earliest-start schedule keeps, then
    // half of them withdrawn.
    std::vector<ConstraintId> extra;
    for (int step = 0; step < 12; ++step) {
      const int a = (int) (rng() % jobs), b = (int) (rng() % jobs);
      if (a == b || es[a] + duration(a) > es[b])
        continue;
      extra.push_back(w.ce->createConstraint(LabelStr("precedes"), {end[a], start[b]}));
      check("ordered");
    }
    for (size_t i = 0; i < extra.size(); i += 2) {
      extra[i]->discard();
      check("withdrawn");
    }
    profiles.clear();
  }
}
