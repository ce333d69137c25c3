#ifndef KORVAN_RESOURCE_TEST_RCPSPDATA_HH
#define KORVAN_RESOURCE_TEST_RCPSPDATA_HH

// Resource-constrained project scheduling instances for end-to-end tests and
// benchmarks: readers of the single-mode ".sm" format (finish-to-start
// precedences) and of the ".SCH" format (minimum and maximum start-to-start
// time lags), and a schedule checker that knows nothing of the module.

#include <map>
#include <string>
#include <vector>

namespace KORVAN {
namespace RCPSP {

struct Activity {
  int duration;
  std::vector<int> demands;  // one per renewable resource
};

// start(to) >= start(from) + lag, or end(from) + lag when fromEnd. A negative
// start-to-start lag is a maximum distance the other way round.
struct Lag {
  int from;
  int to;
  int lag;
  bool fromEnd;
};

struct Problem {
  std::string name;
  int horizon;  // every start lies in [0, horizon]
  std::vector<int> capacities;
  std::vector<Activity> activities;
  std::vector<Lag> lags;
};

// Both readers raise an Error naming the file and the line on malformed input.
Problem readSm(const std::string& path);
Problem readSch(const std::string& path);

// "problem,optimum" lines: instance file name to its optimum ("43", or "unsat").
std::map<std::string, std::string> readOptima(const std::string& path);

// The data sets' root: $KORVAN_DATA when set, else ../shared/data beside the source tree.
std::string dataRoot();
bool fileExists(const std::string& path);

// The first broken lag or overloaded resource of the schedule, or "" when
// there is none. Usage is summed per unit of time: activity i occupies
// [starts[i], starts[i] + duration).
std::string checkSchedule(const Problem& problem, const std::vector<int>& starts);
int makespan(const Problem& problem, const std::vector<int>& starts);

}
}

#endif
