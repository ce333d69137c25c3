#ifndef KORVAN_BENCH_SUPPORT_HH
#define KORVAN_BENCH_SUPPORT_HH

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Resource/base/MIRT_FVDetector.hh"

namespace KORVAN {
namespace BENCH {

// Profiles measured alone: nothing is judged.
class NoDetector : public MIRT::FVDetector {
public:
  NoDetector() : MIRT::FVDetector(Id<MIRT::Resource>()) {}
  bool detect(MIRT::InstantId) override { return false; }
};

// One generated transaction: its time window, its kind and its quantity bounds.
struct Window {
  int lb, ub;
  bool consumer;
  double qlb, qub;
};

// Keeps each run's CPU time per iteration for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        times[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void ratio(const std::string& what, const std::string& name, const std::string& reference) {
    if (times.count(name) && times.count(reference) && times[reference] > 0.0)
      std::printf("%-58s %8.1fx\n", what.c_str(), times[name] / times[reference]);
  }
  std::map<std::string, double> times;
};

} // namespace BENCH
} // namespace KORVAN

#endif
