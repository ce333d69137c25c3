// The timetable profile against a straightforward walk over every instant's
// transactions, kept here as the oracle: two profiles over the same
// transactions, every value of every instant and every detector call compared
// bit for bit after each change of a random plan.
#include "Resource/component/MIRT_TimetableProfile.hh"
#include "Resource/test/ProfileTestSupport.hh"
#include "Resource/test/TestHelpers.hh"
#include "Utils/base/Debug.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

const double INF = g_infiniteTimeAsDouble();

// Each instant walks every transaction it holds, in the held order.
class WalkedTimetable : public Profile {
public:
  WalkedTimetable(Id<PlanDatabase> db, Id<FVDetector> detector, double lb, double ub) : Profile(db, detector, lb, ub) {}

private:
  void initRecompute(InstantId inst) override {
    m_lMin = inst->getLowerLevel();
    m_lMax = inst->getLowerLevelMax();
    m_uMin = inst->getUpperLevelMin();
    m_uMax = inst->getUpperLevel();
    m_prev[0] = inst->getMinPrevConsumption();
    m_prev[1] = inst->getMaxPrevConsumption();
    m_prev[2] = inst->getMinPrevProduction();
    m_prev[3] = inst->getMaxPrevProduction();
    m_ended[0] = inst->getPrevChanges(true);
    m_ended[1] = inst->getPrevChanges(false);
  }
  void initRecompute() override {
    m_lMin = m_lMax = m_initLevelLb;
    m_uMin = m_uMax = m_initLevelUb;
    m_prev[0] = m_prev[1] = m_prev[2] = m_prev[3] = 0.0;
    m_ended[0] = m_ended[1] = 0;
  }
  void recomputeLevels(InstantId, InstantId inst) override {
    const double time = inst->getTime();
    double minInstC = 0.0, maxInstC = 0.0, minInstP = 0.0, maxInstP = 0.0;
    double minCumC = m_prev[0], maxCumC = m_prev[1], minCumP = m_prev[2], maxCumP = m_prev[3];
    std::size_t byThen[2] = {m_ended[0], m_ended[1]};
    for (const TransactionId& t : inst->getTransactions()) {
      const AbstractDomain& td = t->time()->lastDomain();
      const double qlb = t->quantity()->lastDomain().getLowerBound();
      const double qub = t->quantity()->lastDomain().getUpperBound();
      const bool c = t->isConsumer();
      ++byThen[c ? 0 : 1];
      if (td.isSingleton())
        (c ? minInstC : minInstP) += qlb;
      (c ? maxInstC : maxInstP) += qub;
      if (td.getLowerBound() == time) {
        if (c) { m_lMin -= qub; m_lMax -= qlb; }
        else { m_uMin += qlb; m_uMax += qub; }
      }
      if (td.getUpperBound() == time) {
        if (c) { m_uMax -= qlb; m_uMin -= qub; minCumC += qlb; }
        else { m_lMin += qlb; m_lMax += qub; minCumP += qlb; }
      }
    }
    maxCumC += maxInstC;
    maxCumP += maxInstP;
    inst->update(m_lMin, m_lMax, m_uMin, m_uMax, minInstC, maxInstC, minInstP, maxInstP, minCumC, maxCumC, minCumP,
                 maxCumP, m_prev[0], m_prev[1], m_prev[2], m_prev[3]);
    inst->setChangeCounts(m_ended[0], m_ended[1], byThen[0], byThen[1]);
    for (const TransactionId& t : inst->getEndingTransactions()) {
      const double qlb = t->quantity()->lastDomain().getLowerBound();
      const double qub = t->quantity()->lastDomain().getUpperBound();
      m_prev[t->isConsumer() ? 0 : 2] += qlb;
      m_prev[t->isConsumer() ? 1 : 3] += qub;
      ++m_ended[t->isConsumer() ? 0 : 1];
    }
  }

  double m_lMin = 0, m_lMax = 0, m_uMin = 0, m_uMax = 0;
  double m_prev[4] = {0, 0, 0, 0};
  std::size_t m_ended[2] = {0, 0};
};

// Logs every call with the values the instant shows then, and may end the
// walk at the n-th instant it judges.
class ValueLogDetector : public FVDetector {
public:
  ValueLogDetector() : FVDetector(Id<Resource>()) {}
  void initialize() override { log.push_back({-1.0}); }
  void initialize(InstantId inst) override { log.push_back({-2.0, (double) inst->getTime()}); }
  bool detect(InstantId inst) override {
    log.push_back(valuesOf(inst));
    return --stopAfter == 0;
  }
  std::vector<std::vector<double>> log;
  int stopAfter = -1;
};

bool same(double a, double b) {
  return (a == b && std::signbit(a) == std::signbit(b)) || (std::isnan(a) && std::isnan(b));
}

std::string differenceIn(const std::vector<std::vector<double>>& got, const std::vector<std::vector<double>>& want,
                         const char* what) {
  std::ostringstream os;
  os.precision(17);
  if (got.size() != want.size())
    os << what << ": " << got.size() << " entries, oracle " << want.size();
  for (std::size_t i = 0; os.tellp() == 0 && i < got.size(); ++i) {
    if (got[i].size() != want[i].size())
      os << what << " entry " << i << " differs in kind";
    for (std::size_t k = 0; os.tellp() == 0 && k < got[i].size(); ++k)
      if (!same(got[i][k], want[i][k]))
        os << what << " entry " << i << " value " << k << ": " << got[i][k] << ", oracle " << want[i][k];
  }
  return os.str();
}

// A pass over a window (it starts with initialize(inst)) judges a run of
// the instants the whole walk judges, each with the same values; a whole
// pass judges as the walk does.
std::string judgedAsTheWalk(const std::vector<std::vector<double>>& got,
                            const std::vector<std::vector<double>>& want) {
  if (got.empty() || got[0].size() != 2)
    return differenceIn(got, want, "detector call");
  std::map<double, std::vector<double>> walked;
  for (const std::vector<double>& call : want)
    if (call.size() > 2)
      walked[call[0]] = call;
  for (std::size_t i = 1; i < got.size(); ++i) {
    if (got[i].size() <= 2)
      return "a second pass in one read";
    const std::map<double, std::vector<double>>::const_iterator it = walked.find(got[i][0]);
    const std::string diff = differenceIn({got[i]}, {it == walked.end() ? std::vector<double>() : it->second},
                                          "windowed detector call");
    if (!diff.empty())
      return diff;
  }
  return "";
}

// Brings the levels up to date, then every instant's values and the counts of changes its
// maximum totals were summed from.
std::vector<std::vector<double>> instantsOf(Profile& p) {
  IntervalDomain level;
  p.getLevel(0, level);
  std::vector<std::vector<double>> out;
  for (ProfileIterator it(p.getId(), -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
    out.push_back(valuesOf(it.getInstant()));
    for (bool consumer : {true, false})
      out.back().insert(out.back().end(), {(double) it.getInstant()->getPrevChanges(consumer),
                                           (double) it.getInstant()->getChangesByThen(consumer)});
  }
  return out;
}

// The engine, the two profiles and the transactions of one random plan.
struct Twin {
  Twin(double init) {
    swept.reset(new TimetableProfile(w.db->getId(), sweptDetector.getId(), init, init + 1));
    walked.reset(new WalkedTimetable(w.db->getId(), walkedDetector.getId(), init, init + 1));
  }
  void add(int lb, int ub, double qlb, double qub, bool consumer) {
    live.push_back(w.make(lb, ub, consumer, qlb, qub));
    swept->addTransaction(live.back());
    walked->addTransaction(live.back());
  }
  void remove(std::size_t i) {
    swept->removeTransaction(live[i]);
    walked->removeTransaction(live[i]);
    w.destroy(live[i]);
    live.erase(live.begin() + i);
  }
  // Reads the levels of both (recomputing them) and compares everything.
  std::string compare() {
    sweptDetector.log.clear();
    walkedDetector.log.clear();
    std::string diff = differenceIn(instantsOf(*swept), instantsOf(*walked), "instant");
    if (diff.empty())
      diff = judgedAsTheWalk(sweptDetector.log, walkedDetector.log);
    return diff;
  }

  ProfileWorld w;  // last to go
  ValueLogDetector sweptDetector, walkedDetector;
  std::unique_ptr<TimetableProfile> swept;
  std::unique_ptr<WalkedTimetable> walked;
  std::vector<TransactionId> live;
};

// Quantity bounds of one plan: whole numbers, halves and quarters, tenths
// (inexact), fine fractions of large magnitudes (too many digits to sum
// exactly), with unbounded ones mixed in.
std::pair<double, double> quantity(std::mt19937& rng, int mode) {
  double lb = 0, ub = 0;
  switch (mode) {
  case 0: lb = (double) (rng() % 7); ub = lb + (double) (rng() % 4); break;
  case 1: lb = 0.5 * (double) (rng() % 9); ub = lb + 0.25 * (double) (rng() % 6); break;
  case 2: lb = 0.1 * (double) (rng() % 50) + 1.0 / 3.0; ub = lb + 0.01 * (double) (rng() % 300); break;
  case 3: lb = 0.1 * (double) (rng() % 30) + 1.0 / 3.0; ub = std::ceil(lb) + (double) (rng() % 3); break;
  default: lb = std::ldexp(1.0, 26) + std::ldexp((double) (rng() % 5), -26); ub = lb + (double) (rng() % 3); break;
  }
  if (rng() % 6 == 0)
    ub = INF;
  if (rng() % 9 == 0)
    lb = ub = rng() % 2 == 0 ? 0.0 : -0.0;
  return {lb, ub};
}

}

// Random plans under change sequences (transactions added and removed, times
// and quantities narrowed and widened, walks ended early by the detector):
// every level and every value the detector sees equal the walk's, bit for
// bit; and the sweep ran on the plans whose sums are exact.
TEST(TimetableProfile, sweepEqualsWalkUnderChanges) {
  DebugCapture capture("TimetableProfile:initRecompute");
  const int seeds = envInt("KORVAN_TIMETABLE_SEEDS", 1200);
  for (int seed = 1; seed <= seeds; ++seed) {
    std::mt19937 rng(seed);
    const int mode = (int) (rng() % 5);
    const double init = (double) (rng() % 10);
    std::ostringstream plan;
    plan.precision(17);
    plan << "seed " << seed << ", quantity mode " << mode << ", initial level " << init << "\n";
    Twin twin(init);
    if (seed % 6 == 0) {
      twin.swept->setSweep(false);
      plan << "walking\n";
    }
    auto addRandom = [&]() {
      // A short horizon, so that many transactions start and end together.
      const int lb = (int) (rng() % 14) - 4, ub = lb + (int) (rng() % 3 == 0 ? 0 : rng() % 6);
      const std::pair<double, double> q = quantity(rng, mode);
      const bool consumer = rng() % 2 == 0;
      twin.add(lb, ub, q.first, q.second, consumer);
      plan << "add " << (consumer ? "consumer" : "producer") << " [" << lb << " " << ub << "] quantity ["
           << q.first << " " << q.second << "]\n";
    };
    const int n = 1 + (int) (rng() % 25);
    for (int i = 0; i < n; ++i)
      addRandom();
    ASSERT_EQ("", twin.compare()) << plan.str();
    for (int step = 0; step < 12; ++step) {
      const int op = (int) (rng() % 8);
      if (twin.live.empty() || op == 0)
        addRandom();
      else {
        const std::size_t i = rng() % twin.live.size();
        const ConstrainedVariableId time = twin.live[i]->time(), q = twin.live[i]->quantity();
        const AbstractDomain& td = time->lastDomain();
        const AbstractDomain& qd = q->lastDomain();
        if (op == 1) {
          plan << "remove transaction " << i << "\n";
          twin.remove(i);
        }
        else if (op == 2 && !time->isSpecified()) {
          const double at = td.getLowerBound() + (double) (rng() % (1 + (int) (td.getUpperBound() - td.getLowerBound())));
          plan << "time of " << i << " specified to " << at << "\n";
          time->specify(at);
        }
        else if (op == 3 && !time->isSpecified() && td.getUpperBound() > td.getLowerBound()) {
          const double lb = td.getLowerBound() + (double) (rng() % 2), ub = td.getUpperBound() - (double) (rng() % 2);
          plan << "time of " << i << " restricted to [" << lb << " " << std::max(lb, ub) << "]\n";
          time->restrictBaseDomain(IntervalIntDomain((int) lb, (int) std::max(lb, ub)));
        }
        else if (op == 4 && time->isSpecified()) {
          plan << "time of " << i << " reset\n";
          time->reset();
        }
        else if (op == 5 && !q->isSpecified() && std::isfinite(qd.getLowerBound())) {
          plan << "quantity of " << i << " specified to " << qd.getLowerBound() << "\n";
          q->specify(qd.getLowerBound());
        }
        else if (op == 6 && q->isSpecified()) {
          plan << "quantity of " << i << " reset\n";
          q->reset();
        }
        else {
          const int stop = 1 + (int) (rng() % 6);
          plan << "detectors stop at their judgement " << stop << " of the next walk\n";
          twin.sweptDetector.stopAfter = twin.walkedDetector.stopAfter = stop;
          // Nothing changed: a new transaction makes the next read walk again.
          addRandom();
        }
      }
      ASSERT_TRUE(twin.w.ce->propagate()) << plan.str();
      ASSERT_EQ("", twin.compare()) << plan.str();
      // A stop left over would end a later pass at another instant in each, as their windows differ.
      twin.sweptDetector.stopAfter = twin.walkedDetector.stopAfter = -1;
    }
  }
  // Every way ran: running sums for the exact plans, ordered sums for the
  // others, the walk where it was asked for.
  const std::string out = capture.text();
  EXPECT_NE(std::string::npos, out.find("Sweeping with running sums")) << "no pass kept running sums";
  EXPECT_NE(std::string::npos, out.find("Sweeping with ordered sums")) << "no pass summed in order";
  EXPECT_NE(std::string::npos, out.find("Walking ")) << "no pass walked";
}

// Two quantities of 2^26 and a few 2^-26: with their count they need 54
// bits, one more than a double holds, so the sums are not exact and the
// sweep must not keep running sums over them.
TEST(TimetableProfile, sumsOneBitPastExactness) {
  const double big = std::ldexp(1.0, 26), tiny = std::ldexp(1.0, -26);
  Twin twin(4);
  twin.add(0, 5, big + 3 * tiny, big + 1 + 3 * tiny, false);
  twin.add(3, 3, big + 4 * tiny, big + 2 + 4 * tiny, false);
  EXPECT_EQ("", twin.compare());
}

// Debug output leaves the way a pass goes alone, and reads the same whichever way it goes.
TEST(TimetableProfile, debugListingIsTheSameSweptOrWalked) {
  std::string listing[2];
  for (int walk = 0; walk < 2; ++walk) {
    ProfileWorld w;
    ValueLogDetector detector;
    TimetableProfile profile(w.db->getId(), detector.getId(), 0, 1);
    profile.setSweep(walk == 0);
    const TransactionId a = w.make(0, 4, false, 2, 3), b = w.make(2, 2, true, 1, 1), c = w.make(2, 6, true, 0.5, 2);
    for (const TransactionId& t : {a, b, c})
      profile.addTransaction(t);
    {
      DebugCapture capture("TimetableProfile:");
      instantsOf(profile);
      listing[walk] = capture.text();
    }
    EXPECT_NE(std::string::npos, listing[walk].find(walk == 0 ? "Sweeping with" : "Walking 3 transactions"))
        << listing[walk];
    for (const TransactionId& t : {a, b, c}) {
      profile.removeTransaction(t);
      w.destroy(t);
    }
  }
  // Apart from the line that says which way the pass went, and the order of an instant's
  // transactions, which is their addresses' (each pass makes its own).
  for (std::string& text : listing) {
    std::istringstream in(text);
    std::string line;
    std::vector<std::string> transactions;
    text.clear();
    auto flush = [&]() {
      std::sort(transactions.begin(), transactions.end());
      for (const std::string& held : transactions)
        text += held + "\n";
      transactions.clear();
    };
    while (std::getline(in, line)) {
      if (line.find("[TimetableProfile:recomputeLevels]Time: ") == 0) {
        transactions.push_back(line);
        continue;
      }
      flush();
      if (line.find("[TimetableProfile:initRecompute]") == std::string::npos)
        text += line + "\n";
    }
    flush();
  }
  EXPECT_NE(std::string::npos, listing[0].find("Time: [2 6] Quantity: -[0.5 2]")) << listing[0];
  EXPECT_EQ(listing[1], listing[0]);
}

// Uses spread along the horizon, fixed one by one as a search would: each
// fix judges the instants of the use's old and new windows and none else
// (the whole walk judges them all), and every level stays the walk's. The
// first use's window is halved first, as the search does: a pass over a
// window from the first instant reads no more transactions than the window
// holds, where preparing a sweep reads them all. With quantities of a third
// the sums are not exact, and every pass is whole.
TEST(TimetableProfile, aMovedTimeRecomputesItsWindowsOnly) {
  for (const double unit : {1.0, 1.0 / 3.0}) {
    Twin twin(10);
    std::mt19937 rng(7);
    const int uses = 200;
    for (int i = 0; i < uses; ++i) {
      const int lb = 5 * i + (int) (rng() % 5), ub = lb + 5 + (int) (rng() % 6);
      const double q = unit * (double) (1 + rng() % 3);
      twin.add(lb, ub, q, q, i % 2 == 0);
    }
    ASSERT_TRUE(twin.w.ce->propagate());
    ASSERT_EQ("", twin.compare());
    std::size_t judged = 0, walked = 0;
    const unsigned long long preparedBefore = TimetableProfile::transactionsPrepared();
    for (int fix = 0; fix < 44; ++fix) {
      const ConstrainedVariableId time = twin.live[fix < 4 ? 0 : rng() % twin.live.size()]->time();
      if (time->isSpecified())
        continue;
      twin.sweptDetector.log.clear();
      twin.walkedDetector.log.clear();
      const int lb = (int) time->lastDomain().getLowerBound(), ub = (int) time->lastDomain().getUpperBound();
      if (fix < 4)
        time->restrictBaseDomain(IntervalIntDomain(lb, (lb + ub) / 2));
      else
        time->specify(lb + (double) (rng() % 3));
      ASSERT_TRUE(twin.w.ce->propagate());
      judged += twin.sweptDetector.log.size();
      walked += twin.walkedDetector.log.size();
      ASSERT_EQ("", twin.compare()) << "fix " << fix << ", unit " << unit;
    }
    const unsigned long long prepared = TimetableProfile::transactionsPrepared() - preparedBefore;
    if (unit == 1.0) {
      EXPECT_LT(judged * 20, walked) << "a fix judged " << judged << " instants, the whole walk " << walked;
      EXPECT_LT(prepared, twin.live.size()) << "fixes read " << prepared << " transactions to prepare sweeps";
    }
    else
      EXPECT_EQ(judged, walked);
  }
}
