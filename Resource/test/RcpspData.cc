#include "Resource/test/RcpspData.hh"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Utils/base/Error.hh"

namespace KORVAN {
namespace RCPSP {

namespace {

std::string baseName(const std::string& path) {
  const std::string::size_type slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> readLines(const std::string& path) {
  std::ifstream in(path.c_str());
  checkError(in.good(), "Cannot open '" << path << "'.");
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Every integer of the line, brackets around lags ignored; an Error naming
// file and line for anything else.
std::vector<int> numbers(const std::string& file, size_t lineIndex, const std::string& line) {
  std::string text(line);
  std::replace(text.begin(), text.end(), '[', ' ');
  std::replace(text.begin(), text.end(), ']', ' ');
  std::istringstream in(text);
  std::vector<int> result;
  std::string word;
  while (in >> word) {
    char* end = nullptr;
    const long value = std::strtol(word.c_str(), &end, 10);
    checkError(*end == '\0', file << ":" << lineIndex + 1 << ": '" << word << "' is not an integer.");
    result.push_back(static_cast<int>(value));
  }
  return result;
}

size_t findSection(const std::string& file, const std::vector<std::string>& lines, const std::string& title) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].compare(0, title.size(), title) == 0)
      return i;
  checkError(ALWAYS_FAIL, file << ": no section '" << title << "'.");
  return 0;
}

// The rows of a section: the lines after the header lines, up to the next
// line of stars (or the end of the file).
std::vector<std::pair<size_t, std::vector<int>>> rows(const std::string& file, const std::vector<std::string>& lines,
                                                      size_t first) {
  std::vector<std::pair<size_t, std::vector<int>>> result;
  for (size_t i = first; i < lines.size() && lines[i].compare(0, 1, "*") != 0; ++i) {
    if (lines[i].find_first_not_of(" \t") == std::string::npos)
      continue;
    result.push_back(std::make_pair(i, numbers(file, i, lines[i])));
  }
  return result;
}

int valueAfterColon(const std::string& file, const std::vector<std::string>& lines, const std::string& key) {
  const size_t i = findSection(file, lines, key);
  const std::string::size_type colon = lines[i].find(':');
  checkError(colon != std::string::npos, file << ":" << i + 1 << ": no ':' after '" << key << "'.");
  std::istringstream in(lines[i].substr(colon + 1));
  int value = 0;
  checkError(static_cast<bool>(in >> value), file << ":" << i + 1 << ": no number after '" << key << "'.");
  return value;
}

}

Problem readSm(const std::string& path) {
  const std::string file = baseName(path);
  const std::vector<std::string> lines = readLines(path);
  Problem problem;
  problem.name = file;
  problem.horizon = valueAfterColon(file, lines, "horizon");
  const int jobs = valueAfterColon(file, lines, "jobs");
  const int resources = valueAfterColon(file, lines, "  - renewable");
  checkError(jobs > 0 && resources >= 0 && problem.horizon >= 0,
             file << ": bad sizes: jobs " << jobs << ", resources " << resources << ", horizon " << problem.horizon);
  problem.activities.assign(jobs, Activity{-1, std::vector<int>()});

  // jobnr #modes #successors successors...
  for (const auto& row : rows(file, lines, findSection(file, lines, "PRECEDENCE RELATIONS:") + 2)) {
    const std::vector<int>& f = row.second;
    checkError(f.size() >= 3 && f[0] >= 1 && f[0] <= jobs && f[1] == 1 && f[2] >= 0 &&
                 f.size() == 3 + static_cast<size_t>(f[2]),
               file << ":" << row.first + 1 << ": bad precedence row.");
    for (size_t k = 3; k < f.size(); ++k) {
      checkError(f[k] >= 1 && f[k] <= jobs && f[k] != f[0], file << ":" << row.first + 1 << ": bad successor " << f[k]);
      problem.lags.push_back(Lag{f[0] - 1, f[k] - 1, 0, true});
    }
  }
  // jobnr mode duration demands...
  int seen = 0;
  for (const auto& row : rows(file, lines, findSection(file, lines, "REQUESTS/DURATIONS:") + 3)) {
    const std::vector<int>& f = row.second;
    checkError(f.size() == 3 + static_cast<size_t>(resources) && f[0] >= 1 && f[0] <= jobs && f[2] >= 0 &&
                 problem.activities[f[0] - 1].duration < 0,
               file << ":" << row.first + 1 << ": bad request row.");
    Activity& activity = problem.activities[f[0] - 1];
    activity.duration = f[2];
    activity.demands.assign(f.begin() + 3, f.end());
    for (int demand : activity.demands)
      checkError(demand >= 0, file << ":" << row.first + 1 << ": negative demand.");
    ++seen;
  }
  checkError(seen == jobs, file << ": " << seen << " request rows for " << jobs << " jobs.");

  const size_t avail = findSection(file, lines, "RESOURCEAVAILABILITIES:") + 2;
  checkError(avail < lines.size(), file << ": no resource availabilities.");
  problem.capacities = numbers(file, avail, lines[avail]);
  checkError(problem.capacities.size() == static_cast<size_t>(resources),
             file << ":" << avail + 1 << ": " << problem.capacities.size() << " capacities for " << resources
                  << " resources.");
  return problem;
}

Problem readSch(const std::string& path) {
  const std::string file = baseName(path);
  const std::vector<std::string> all = readLines(path);
  std::vector<std::pair<size_t, std::vector<int>>> lines;
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i].find_first_not_of(" \t") != std::string::npos)
      lines.push_back(std::make_pair(i, numbers(file, i, all[i])));
  checkError(!lines.empty() && lines[0].second.size() >= 2 && lines[0].second[0] >= 0 && lines[0].second[1] >= 0,
             file << ":1: bad header.");
  const int jobs = lines[0].second[0] + 2;  // with the dummy source and sink
  const size_t resources = static_cast<size_t>(lines[0].second[1]);
  checkError(lines.size() == 2 + 2 * static_cast<size_t>(jobs),
             file << ": " << lines.size() << " lines for " << jobs << " activities.");

  Problem problem;
  problem.name = file;
  problem.activities.assign(jobs, Activity{-1, std::vector<int>()});
  // id mode #successors successors... lags...
  for (int j = 0; j < jobs; ++j) {
    const size_t line = lines[1 + j].first + 1;
    const std::vector<int>& f = lines[1 + j].second;
    checkError(f.size() >= 3 && f[0] == j && f[2] >= 0 && f.size() == 3 + 2 * static_cast<size_t>(f[2]),
               file << ":" << line << ": bad successor row.");
    for (int k = 0; k < f[2]; ++k) {
      const int successor = f[3 + k];
      checkError(successor >= 0 && successor < jobs && successor != j,
                 file << ":" << line << ": bad successor " << successor);
      problem.lags.push_back(Lag{j, successor, f[3 + f[2] + k], false});
    }
  }
  // id mode duration demands...
  for (int j = 0; j < jobs; ++j) {
    const size_t line = lines[1 + jobs + j].first + 1;
    const std::vector<int>& f = lines[1 + jobs + j].second;
    checkError(f.size() == 3 + resources && f[0] == j && f[2] >= 0, file << ":" << line << ": bad request row.");
    problem.activities[j].duration = f[2];
    problem.activities[j].demands.assign(f.begin() + 3, f.end());
    for (int demand : problem.activities[j].demands)
      checkError(demand >= 0, file << ":" << line << ": negative demand.");
  }
  problem.capacities = lines.back().second;
  checkError(problem.capacities.size() == resources,
             file << ":" << lines.back().first + 1 << ": " << problem.capacities.size() << " capacities for "
                  << resources << " resources.");

  // Any feasible schedule fits if each activity is given the longer of its
  // duration and its largest outgoing lag, one after the other.
  std::vector<int> span(jobs);
  for (int j = 0; j < jobs; ++j)
    span[j] = problem.activities[j].duration;
  for (const Lag& lag : problem.lags)
    span[lag.from] = std::max(span[lag.from], lag.lag);
  problem.horizon = 0;
  for (int s : span)
    problem.horizon += s;
  return problem;
}

std::map<std::string, std::string> readOptima(const std::string& path) {
  std::map<std::string, std::string> result;
  const std::vector<std::string> lines = readLines(path);
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty())
      continue;
    const std::string::size_type comma = lines[i].find(',');
    checkError(comma != std::string::npos && comma > 0 && comma + 1 < lines[i].size(),
               baseName(path) << ":" << i + 1 << ": expected 'problem,optimum'.");
    result[lines[i].substr(0, comma)] = lines[i].substr(comma + 1);
  }
  return result;
}

#ifndef KORVAN_DEFAULT_DATA
#define KORVAN_DEFAULT_DATA "../shared/data"
#endif

std::string dataRoot() {
  const char* env = std::getenv("KORVAN_DATA");
  return env != nullptr && *env != '\0' ? std::string(env) : std::string(KORVAN_DEFAULT_DATA);
}

bool fileExists(const std::string& path) {
  std::ifstream in(path.c_str());
  return in.good();
}

std::string checkSchedule(const Problem& problem, const std::vector<int>& starts) {
  std::ostringstream why;
  if (starts.size() != problem.activities.size()) {
    why << starts.size() << " start times for " << problem.activities.size() << " activities";
    return why.str();
  }
  for (size_t i = 0; i < starts.size(); ++i)
    if (starts[i] < 0) {
      why << "activity " << i << " starts at " << starts[i];
      return why.str();
    }
  for (const Lag& lag : problem.lags) {
    const int earliest = starts[lag.from] + lag.lag + (lag.fromEnd ? problem.activities[lag.from].duration : 0);
    if (starts[lag.to] < earliest) {
      why << "activity " << lag.to << " starts at " << starts[lag.to] << ", before " << earliest << " required by "
          << lag.from;
      return why.str();
    }
  }
  const int end = makespan(problem, starts);
  for (size_t r = 0; r < problem.capacities.size(); ++r) {
    std::vector<int> usage(static_cast<size_t>(end) + 1, 0);
    for (size_t i = 0; i < starts.size(); ++i)
      for (int t = starts[i]; t < starts[i] + problem.activities[i].duration; ++t)
        usage[t] += problem.activities[i].demands[r];
    for (int t = 0; t <= end; ++t)
      if (usage[t] > problem.capacities[r]) {
        why << "resource " << r << " uses " << usage[t] << " > " << problem.capacities[r] << " at " << t;
        return why.str();
      }
  }
  return "";
}

int makespan(const Problem& problem, const std::vector<int>& starts) {
  int end = 0;
  for (size_t i = 0; i < starts.size() && i < problem.activities.size(); ++i)
    end = std::max(end, starts[i] + problem.activities[i].duration);
  return end;
}

}
}
