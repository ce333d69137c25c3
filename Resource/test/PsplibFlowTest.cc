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

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <random>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

#ifndef KORVAN_DEFAULT_DATA
#define KORVAN_DEFAULT_DATA "../shared/data"
#endif

// $KORVAN_DATA when set, else ../shared/data beside the source tree.
std::string j30() {
  const char* env = std::getenv("KORVAN_DATA");
  return (env != nullptr && *env != '\0' ? std::string(env) : std::string(KORVAN_DEFAULT_DATA)) + "/psplib/j30";
}

struct Instance {
  int horizon = 0;
  std::vector<int> duration;
  std::vector<std::vector<int>> successors, requests;
  std::vector<int> capacity;
};

bool readInstance(const std::string& path, Instance& inst) {
  std::ifstream in(path);
  std::string line;
  int section = 0;
  while (std::getline(in, line)) {
    if (line.find("horizon") == 0)
      inst.horizon = std::stoi(line.substr(line.find(':') + 1));
    else if (line.find("PRECEDENCE RELATIONS") == 0)
      section = 1;
    else if (line.find("REQUESTS/DURATIONS") == 0)
      section = 2;
    else if (line.find("RESOURCEAVAILABILITIES") == 0)
      section = 3;
    else if (line.empty() || line[0] == '*' || line[0] == '-' || line.find("jobnr") != std::string::npos ||
             line.find("R 1") != std::string::npos)
      continue;
    else {
      std::istringstream fields(line);
      std::vector<int> v;
      for (int x; fields >> x;)
        v.push_back(x);
      if (section == 1 && v.size() >= 3) {
        inst.successors.push_back(std::vector<int>(v.begin() + 3, v.end()));
        for (int& s : inst.successors.back())
          --s;
      }
      else if (section == 2 && v.size() >= 4) {
        inst.duration.push_back(v[2]);
        inst.requests.push_back(std::vector<int>(v.begin() + 3, v.end()));
      }
      else if (section == 3 && !v.empty())
        inst.capacity = v;
    }
  }
  return inst.horizon > 0 && !inst.capacity.empty() && inst.duration.size() == inst.successors.size();
}

}

TEST(FlowProfile, PsplibJ30EndToEnd) {
  std::vector<std::string> files;
  const std::string J30 = j30();
  if (DIR* dir = opendir(J30.c_str())) {
    while (dirent* e = readdir(dir))
      if (std::string(e->d_name).find(".sm") != std::string::npos)
        files.push_back(std::string(J30) + "/" + e->d_name);
    closedir(dir);
  }
  if (files.empty())
    GTEST_SKIP() << "no PSPLIB j30 instances in " << J30;
  std::sort(files.begin(), files.end());
  files.resize(std::min<size_t>(files.size(), 3));

  std::mt19937 rng(30);
  for (const std::string& file : files) {
    Instance inst;
    ASSERT_TRUE(readInstance(file, inst)) << file;
    const int jobs = (int) inst.duration.size();
    ProfileWorld w;
    std::vector<Id<ConstrainedVariable>> start, end;
    std::vector<int> es(jobs, 0);
    for (int j = 0; j < jobs; ++j) {
      start.push_back(w.intVar(0, inst.horizon));
      end.push_back(w.intVar(0, inst.horizon));
      w.ce->createConstraint(LabelStr("StartEndDurationRelation"),
                             {start[j], w.intVar(inst.duration[j], inst.duration[j]), end[j]});
    }
    for (int j = 0; j < jobs; ++j)  // jobs come in topological order
      for (int s : inst.successors[j]) {
        w.ce->createConstraint(LabelStr("precedes"), {end[j], start[s]});
        es[s] = std::max(es[s], es[j] + inst.duration[j]);
      }
    ASSERT_TRUE(w.ce->propagate()) << file;

    std::vector<std::unique_ptr<Transaction>> owned;
    std::vector<std::unique_ptr<RecordingDetector>> detectors;
    std::vector<std::unique_ptr<Profile>> profiles;  // per resource: flow, incremental, timetable
    std::vector<std::vector<std::pair<int, double>>> scheduled(inst.capacity.size());
    for (size_t k = 0; k < inst.capacity.size(); ++k) {
      const double cap = inst.capacity[k];
      for (int i = 0; i < 3; ++i)
        detectors.emplace_back(new RecordingDetector());
      profiles.emplace_back(new FlowProfile(w.db->getId(), detectors[3 * k]->getId(), cap, cap));
      profiles.emplace_back(new IncrementalFlowProfile(w.db->getId(), detectors[3 * k + 1]->getId(), cap, cap));
      profiles.emplace_back(new TimetableProfile(w.db->getId(), detectors[3 * k + 2]->getId(), cap, cap));
      for (int j = 0; j < jobs; ++j) {
        const double q = inst.requests[j][k];
        if (q == 0 || inst.duration[j] == 0)
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
        scheduled[k].push_back(std::make_pair(es[j] + inst.duration[j], q));
      }
    }

    auto check = [&](const std::string& when) {
      ASSERT_TRUE(w.ce->propagate());
      for (size_t k = 0; k < inst.capacity.size(); ++k) {
        for (int i = 0; i < 3; ++i)
          profiles[3 * k + i]->recompute();
        for (ProfileIterator it(profiles[3 * k]->getId(), -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
          const int T = it.getTime();
          IntervalDomain incremental, timetable;
          profiles[3 * k + 1]->getLevel(T, incremental);
          profiles[3 * k + 2]->getLevel(T, timetable);
          const double lower = it.getInstant()->getLowerLevel(), upper = it.getInstant()->getUpperLevel();
          double level = inst.capacity[k];
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
      if (a == b || es[a] + inst.duration[a] > es[b])
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
