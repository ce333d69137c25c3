// The totals of every instant against a plain recomputation from the
// transactions' domains, bit for bit, after random changes to a reservoir
// whose quantities are decimals: sums of decimals round differently in
// another order, so this catches a total summed out of the held set's order
// as well as one summed over the wrong transactions. Levels are held to a
// fresh walk of the same transactions: bit for bit for the timetable, whose
// level sums follow the held order too; to rounding for the flow profiles,
// whose maximum flows add in the order their networks grew.
// KORVAN_TOTALS_SEEDS sets the seeds per profile kind; KORVAN_TOTALS_SEED
// replays one.

#include "Resource/test/ResourceTestSupport.hh"
#include "Resource/test/TestHelpers.hh"
#include "Resource/test/SoundnessSupport.hh"
#include "Resource/component/MIRT_FlowProfile.hh"
#include "Resource/component/MIRT_IncrementalFlowProfile.hh"
#include "Resource/component/MIRT_TimetableProfile.hh"
#include "PlanDatabase/base/DbClient.hh"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

const char* const KINDS[] = {"TimetableProfile", "FlowProfile", "IncrementalFlowProfile"};

// The sixteen values of an instant in the order update takes them, the levels
// left out; the last four are the sums carried in from earlier instants.
struct Sums {
  double v[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
};

Sums stored(const InstantId& i) {
  Sums s;
  const double v[12] = {i->getMinInstantConsumption(), i->getMaxInstantConsumption(),
                        i->getMinInstantProduction(), i->getMaxInstantProduction(),
                        i->getMinCumulativeConsumption(), i->getMaxCumulativeConsumption(),
                        i->getMinCumulativeProduction(), i->getMaxCumulativeProduction(),
                        i->getMinPrevConsumption(), i->getMaxPrevConsumption(),
                        i->getMinPrevProduction(), i->getMaxPrevProduction()};
  std::copy(v, v + 12, s.v);
  return s;
}

// Each instant's totals from its held transactions' domains alone, walking
// them in the held set's order. The sums carried in from earlier instants are
// recomputed from scratch too, but held to rounding only: a recomputation
// that stops where the levels stop changing leaves later instants with sums
// that are equal but were added in another order. What an instant adds to
// them is exact. So are the counts of consumptions and productions the
// maximum totals were summed from, which a level's rounding is judged by.
std::string checkTotals(const Id<Profile>& profile) {
  double carried[4] = {0, 0, 0, 0};  // min, max consumption; min, max production
  std::size_t ended[2] = {0, 0};     // consumptions, productions
  std::ostringstream out;
  out.precision(17);
  for (const InstantId& inst : ResourceWorld::instants(profile)) {
    const double time = inst->getTime();
    const Sums live = stored(inst);
    for (int k = 0; k < 4; ++k)
      if (std::fabs(live.v[8 + k] - carried[k]) > 1e-9 * (1 + std::fabs(carried[k])))
        return (out << "carried total " << k << " at " << time << " is " << live.v[8 + k] << ", recomputed "
                    << carried[k], out.str());
    std::size_t byThen[2] = {ended[0], ended[1]};
    for (int k = 0; k < 2; ++k)
      if (inst->getPrevChanges(k == 0) != ended[k])
        return (out << (k == 0 ? "consumptions" : "productions") << " ended before " << time << ": "
                    << inst->getPrevChanges(k == 0) << ", recounted " << ended[k], out.str());
    Sums s;
    double* v = s.v;
    std::copy(live.v + 8, live.v + 12, v + 8);
    v[4] = live.v[8];
    v[6] = live.v[10];
    for (const TransactionId& t : inst->getTransactions()) {
      const AbstractDomain& q = t->quantity()->lastDomain();
      const AbstractDomain& at = t->time()->lastDomain();
      const int side = t->isConsumer() ? 0 : 2;
      v[side + 1] += q.getUpperBound();
      ++byThen[side / 2];
      if (at.getLowerBound() == time && at.getUpperBound() == time)
        v[side] += q.getLowerBound();
      if (at.getUpperBound() == time) {
        v[4 + side] += q.getLowerBound();
        carried[side] += q.getLowerBound();
        carried[side + 1] += q.getUpperBound();
        ++ended[side / 2];
      }
    }
    for (int k = 0; k < 2; ++k)
      if (inst->getChangesByThen(k == 0) != byThen[k])
        return (out << (k == 0 ? "consumptions" : "productions") << " by " << time << ": "
                    << inst->getChangesByThen(k == 0) << ", recounted " << byThen[k], out.str());
    v[5] = v[9] + v[1];
    v[7] = v[11] + v[3];
    for (int k = 0; k < 8; ++k)
      if (live.v[k] != v[k])
        return (out << "total " << k << " at " << time << " is " << live.v[k] << ", recomputed " << v[k], out.str());
  }
  return "";
}

class Run {
public:
  Run(unsigned seed, const char* kind) : m_kind(kind), m_rng(seed) {
    m_res = m_world.reservoir("r", 0.0, -1e6, 1e6, kind, "QuietFVDetector", 1e6, 1e6);
  }

  int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }
  // Tenths and hundredths, which binary doubles hold inexactly.
  double decimal() { return uniform(0, 40) / 10.0 + uniform(1, 9) / 100.0; }

  // One random change; "" or what went wrong after it.
  std::string step() {
    const int op = m_tokens.size() < 3 ? 0 : uniform(0, 9);
    if (op <= 2) {
      const int lo = uniform(0, 20), hi = lo + uniform(0, 8);
      const double qlo = decimal(), qhi = qlo + (uniform(0, 2) == 0 ? 0.0 : decimal());
      const bool consumer = uniform(0, 1) == 0;
      m_tokens.push_back(consumer ? m_world.consumer("r", lo, hi, qlo, qhi) : m_world.producer("r", lo, hi, qlo, qhi));
      log("add " + std::string(consumer ? "consumer" : "producer") + " [" + std::to_string(lo) + " " +
          std::to_string(hi) + "] [" + std::to_string(qlo) + " " + std::to_string(qhi) + "]");
    }
    else if (op == 3) {
      const int k = uniform(0, (int) m_tokens.size() - 1);
      log("remove " + std::to_string(k));
      m_tokens[k]->discard();
      m_tokens.erase(m_tokens.begin() + k);
    }
    else if (op <= 6)
      changeVariable(time(uniform(0, (int) m_tokens.size() - 1)), false);
    else
      changeVariable(quantity(uniform(0, (int) m_tokens.size() - 1)), true);
    if (!m_world.propagate())
      return "inconsistent after " + m_log.str();
    m_res->getProfile()->recompute();
    std::string problem = checkTotals(m_res->getProfile());
    return problem.empty() ? checkLevels() : problem;
  }

  std::string steps() const { return m_log.str(); }

  // The four level values of every instant against a fresh profile's.
  std::string checkLevels() {
    const bool exact = m_kind == std::string("TimetableProfile");
    m_res->muted = true;
    std::unique_ptr<FVDetector> detector(new QuietFVDetector(m_res->getId()));
    const double lb = m_res->getInitCapacityLb(), ub = m_res->getInitCapacityUb();
    const std::string kind = m_kind;
    std::unique_ptr<Profile> owned(
      kind == "FlowProfile" ? (Profile*) new FlowProfile(m_world.db->getId(), detector->getId(), lb, ub)
      : kind == "IncrementalFlowProfile"
        ? (Profile*) new IncrementalFlowProfile(m_world.db->getId(), detector->getId(), lb, ub)
        : (Profile*) new TimetableProfile(m_world.db->getId(), detector->getId(), lb, ub));
    Id<Profile> fresh = owned->getId();
    for (const TransactionId& t : transactionsOf(m_res))
      fresh->addTransaction(t);
    fresh->recompute();
    const std::vector<InstantId> a = ResourceWorld::instants(m_res->getProfile());
    const std::vector<InstantId> b = ResourceWorld::instants(fresh);
    std::ostringstream out;
    out.precision(17);
    if (a.size() != b.size())
      out << a.size() << " instants, afresh " << b.size();
    for (size_t i = 0; out.str().empty() && i < a.size(); ++i) {
      const double x[4] = {a[i]->getLowerLevel(), a[i]->getLowerLevelMax(), a[i]->getUpperLevelMin(),
                           a[i]->getUpperLevel()};
      const double y[4] = {b[i]->getLowerLevel(), b[i]->getLowerLevelMax(), b[i]->getUpperLevelMin(),
                           b[i]->getUpperLevel()};
      for (int k = 0; k < 4 && out.str().empty(); ++k)
        if (exact ? x[k] != y[k] : std::fabs(x[k] - y[k]) > 1e-9 * (1 + std::fabs(y[k])))
          out << "level " << k << " at " << a[i]->getTime() << " is " << x[k] << ", afresh " << y[k];
    }
    owned.reset();
    m_res->muted = false;
    return out.str();
  }

private:
  ConstrainedVariableId time(int k) { return Id<ReservoirToken>(m_tokens[k])->getTime(); }
  ConstrainedVariableId quantity(int k) { return Id<ReservoirToken>(m_tokens[k])->getQuantity(); }

  // Specified to a value of its base domain, or reset: the domain moves both
  // ways, so instants appear, go and refile their transactions.
  void changeVariable(const ConstrainedVariableId& var, bool isQuantity) {
    if (var->isSpecified()) {
      log("reset " + var->toString());
      m_world.db->getClient()->reset(var);
      return;
    }
    const AbstractDomain& base = var->baseDomain();
    double value = base.getLowerBound();
    if (base.getUpperBound() > base.getLowerBound()) {
      const int steps = isQuantity ? 4 : (int) (base.getUpperBound() - base.getLowerBound());
      const int k = uniform(0, steps);
      value = k == steps ? base.getUpperBound()
                         : base.getLowerBound() + (isQuantity ? k * (base.getUpperBound() - base.getLowerBound()) / steps
                                                              : (double) k);
    }
    log("specify " + var->toString() + " " + std::to_string(value));
    m_world.db->getClient()->specify(var, value);
  }

  void log(const std::string& line) { m_log << line << "\n"; }

  const char* m_kind;
  std::mt19937 m_rng;
  ResourceWorld m_world;
  TestReservoir* m_res;
  std::vector<TokenId> m_tokens;
  std::ostringstream m_log;
};


std::string runSeed(const char* kind, unsigned seed) {
  Run run(seed, kind);
  try {
    for (int i = 0; i < 60; ++i) {
      const std::string problem = run.step();
      if (!problem.empty())
        return "seed " + std::to_string(seed) + ": " + problem + "\n" + run.steps();
    }
  } catch (const Error& e) {
    return "seed " + std::to_string(seed) + ": raised " + e.getMsg() + "\n" + run.steps();
  }
  return "";
}

class InstantTotals : public ::testing::TestWithParam<const char*> {};

}

TEST_P(InstantTotals, DecimalTotalsMatchAPlainRecomputation) {
  const char* replay = std::getenv("KORVAN_TOTALS_SEED");
  if (replay != nullptr) {
    ASSERT_EQ("", runSeed(GetParam(), (unsigned) std::atoi(replay)));
    return;
  }
  const int seeds = envCount("KORVAN_TOTALS_SEEDS", 20);
  for (int seed = 1; seed <= seeds; ++seed)
    ASSERT_EQ("", runSeed(GetParam(), (unsigned) seed));
}

INSTANTIATE_TEST_SUITE_P(Profiles, InstantTotals, ::testing::ValuesIn(KINDS),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });
