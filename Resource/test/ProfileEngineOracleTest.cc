// Random change sequences through the engine on a reservoir under each
// profile kind, with violations allowed and not, against a model of the
// temporal network kept by the test alone (base domains, specified values and
// the live constraints, solved by Floyd-Warshall). After every propagation
// that leaves the engine consistent: the model is consistent too and gives
// the same time bounds, the instants are exactly the transactions' bounds
// with the right sets, the levels are the envelopes computed from the model
// (every pending set for the timetable, the sets closed under the orderings
// the model proves for the flow profiles), and levels, totals and marks equal
// a walk of a fresh profile from scratch.
//
// KORVAN_PROFILE_ORACLE_SEEDS sets the number of seeds per profile kind.

#include "Resource/test/ResourceTestSupport.hh"
#include "Resource/test/SoundnessSupport.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "TemporalNetwork/test/FloydWarshall.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <sstream>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

const long NONE = g_infiniteTime();  // no bound

struct Point {
  TokenId token;
  bool onR;       // a transaction of the reservoir under test, or a point outside it
  bool consumer;
  int lo, hi;     // base domain
  bool specified = false;
  int value = 0;
  double qlo, qhi;
  bool qSpecified = false;
  double qValue = 0;

  // The least and the greatest change of the level it makes.
  std::pair<double, double> change() const {
    const double qlb = qSpecified ? qValue : qlo, qub = qSpecified ? qValue : qhi;
    return consumer ? std::make_pair(-qub, -qlb) : std::make_pair(qlb, qub);
  }
};

struct Link {
  ConstraintId constraint;
  int from, to;  // model indices
  long lo, hi;   // to - from
  std::string name;
};

struct Model {
  std::vector<Point> points;
  std::vector<Link> links;

  // Shortest distances over origin (index 0) and the points (index i + 1);
  // false on a negative cycle.
  bool solve(KORVAN_TEST::Distances& d) const {
    std::vector<KORVAN_TEST::RefEdge> edges;
    std::vector<int> nodes;
    for (size_t i = 0; i <= points.size(); ++i)
      nodes.push_back((int) i);
    for (size_t i = 0; i < points.size(); ++i) {
      const Point& p = points[i];
      edges.push_back({0, (int) i + 1, p.specified ? p.value : p.lo, p.specified ? p.value : p.hi});
    }
    for (const Link& l : links)
      edges.push_back({l.from + 1, l.to + 1, l.lo, l.hi});
    return KORVAN_TEST::floydWarshall((int) nodes.size(), nodes, edges, d);
  }
};

// The level envelope at T over the reservoir's transactions: those that must
// have happened count in full; of the pending ones every set is tried, or with
// orderings only those closed under the orderings the model proves.
std::pair<double, double> envelope(const Model& m, const KORVAN_TEST::Distances& d, int T,
                                   double init, bool orderings) {
  double lower = init, upper = init;
  std::vector<size_t> pending;
  for (size_t i = 0; i < m.points.size(); ++i) {
    const Point& p = m.points[i];
    if (!p.onR)
      continue;
    const long lb = -d[i + 1][0], ub = d[0][i + 1];
    if (ub <= T) {
      lower += p.change().first;
      upper += p.change().second;
    }
    else if (lb <= T)
      pending.push_back(i);
  }
  const size_t n = pending.size();
  std::vector<unsigned> mustPrecede(n, 0);
  if (orderings)
    for (size_t a = 0; a < n; ++a)
      for (size_t b = 0; b < n; ++b)
        if (a != b && d[pending[a] + 1][pending[b] + 1] <= 0)  // b at or before a
          mustPrecede[a] |= 1u << b;
  double best = 0, worst = 0;
  for (unsigned s = 0; s < (1u << n); ++s) {
    bool closed = true;
    for (size_t a = 0; a < n && closed; ++a)
      if ((s >> a & 1) && (mustPrecede[a] & ~s))
        closed = false;
    if (!closed)
      continue;
    double lo = 0, hi = 0;
    for (size_t a = 0; a < n; ++a)
      if (s >> a & 1) {
        lo += m.points[pending[a]].change().first;
        hi += m.points[pending[a]].change().second;
      }
    best = std::min(best, lo);
    worst = std::max(worst, hi);
  }
  return std::make_pair(lower + best, upper + worst);
}

ConstrainedVariableId timeOf(const TokenId& tok) { return Id<ReservoirToken>(tok)->getTime(); }
ConstrainedVariableId quantityOf(const TokenId& tok) { return Id<ReservoirToken>(tok)->getQuantity(); }

struct OracleRun {
  OracleRun(unsigned seed, const std::string& profile, bool allowViolations)
    : rng(seed), profile(profile), allow(allowViolations), w(allowViolations) {
    r = w.reservoir("R", 5, 2, 8, profile, profile == "TimetableProfile" ? "TimetableFVDetector"
                                                                            : "ClosedWorldFVDetector");
    w.reservoir("Other", 0, -1000, 1000, profile, "QuietFVDetector");
  }

  int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

  std::string steps() const {
    std::ostringstream out;
    out << "profile " << profile << (allow ? ", violations allowed" : ", violations not allowed") << "\n";
    for (size_t i = 0; i < log.size(); ++i)
      out << "  " << i << ": " << log[i] << "\n";
    return out.str();
  }

  std::string name(int i) const { return "p" + std::to_string(keys[i]); }

  void addPoint(bool onR) {
    Point p;
    p.onR = onR;
    p.consumer = onR && uniform(0, 1) == 0;
    // Many share one window, so that orderings come and go without any
    // bound moving.
    const bool common = uniform(0, 1) == 0;
    p.lo = common ? 0 : uniform(0, 15);
    p.hi = common ? 20 : p.lo + uniform(0, 20);
    p.qlo = onR ? uniform(0, 3) : 0;
    p.qhi = onR ? p.qlo + uniform(0, 2) : 0;
    p.token = p.consumer ? w.consumer(onR ? "R" : "Other", p.lo, p.hi, p.qlo, p.qhi)
                         : w.producer(onR ? "R" : "Other", p.lo, p.hi, p.qlo, p.qhi);
    m.points.push_back(p);
    keys.push_back(++lastKey);
    log.push_back("add " + name((int) m.points.size() - 1) + (onR ? (p.consumer ? " consumer" : " producer")
                                                                  : " outside point")
                  + " [" + std::to_string(p.lo) + " " + std::to_string(p.hi) + "] quantity ["
                  + std::to_string((int) p.qlo) + " " + std::to_string((int) p.qhi) + "]");
  }

  void link(const char* kind, int a, int b, long lo, long hi) {
    std::vector<ConstrainedVariableId> scope{timeOf(m.points[a].token), timeOf(m.points[b].token)};
    std::string text = std::string(kind) + " " + name(a) + " " + name(b);
    if (std::string(kind) == "temporalDistance") {
      ConstrainedVariableId dist =
        (new Variable<IntervalIntDomain>(w.ce->getId(), IntervalIntDomain((int) lo, (int) hi)))->getId();
      scope.insert(scope.begin() + 1, dist);
      text += " [" + std::to_string(lo) + " " + std::to_string(hi) + "]";
    }
    m.links.push_back({w.db->getClient()->createConstraint(kind, scope), a, b, lo, hi, text});
    log.push_back(text);
  }

  void removePoint(int i) {
    log.push_back("delete " + name(i) + (consistent ? "" : " (inconsistent)"));
    m.points[i].token->discard();
    std::vector<Link> kept;
    for (Link l : m.links)
      if (l.from != i && l.to != i) {
        l.from -= l.from > i;
        l.to -= l.to > i;
        kept.push_back(l);
      }
    m.links = kept;
    m.points.erase(m.points.begin() + i);
    keys.erase(keys.begin() + i);
  }

  int anyPoint() { return uniform(0, (int) m.points.size() - 1); }

  // One random change, or a propagation and its checks; "" when all agree.
  std::string step() {
    const int op = m.points.size() < 3 ? 0 : uniform(0, 16);
    if (op <= 1)
      addPoint(op == 0 || uniform(0, 2) > 0);
    else if (op == 16) {
      // An ordering of two of R's transactions through a point outside R.
      const int a = anyPoint(), z = anyPoint(), b = anyPoint();
      if (m.points[a].onR && !m.points[z].onR && m.points[b].onR && a != b) {
        link("precedes", a, z, 0, NONE);
        link("precedes", z, b, 0, NONE);
      }
    }
    else if (op <= 4 || op >= 14) {
      const int a = anyPoint(), b = anyPoint(), lo = uniform(-5, 8);
      if (a != b && op == 3)
        link("concurrent", a, b, 0, 0);
      else if (a != b && op == 4)
        link("temporalDistance", a, b, lo, lo + uniform(0, 6));
      else if (a != b)
        link("precedes", a, b, 0, NONE);
    }
    else if (op == 5 || (op == 6 && uniform(0, 1) == 0)) {
      Point& p = m.points[anyPoint()];
      const ConstrainedVariableId t = timeOf(p.token);
      if (p.specified)
        w.db->getClient()->reset(t);
      p.value = uniform(p.lo, p.hi);
      p.specified = true;
      log.push_back("specify " + name(&p - &m.points[0]) + " " + std::to_string(p.value));
      w.db->getClient()->specify(t, p.value);
    }
    else if (op == 7) {
      Point& p = m.points[anyPoint()];
      if (p.specified) {
        p.specified = false;
        log.push_back("reset " + name(&p - &m.points[0]));
        w.db->getClient()->reset(timeOf(p.token));
      }
    }
    else if (op == 8 && !m.links.empty()) {
      const int k = uniform(0, (int) m.links.size() - 1);
      log.push_back("delete constraint " + m.links[k].name + (consistent ? "" : " (inconsistent)"));
      w.db->getClient()->deleteConstraint(m.links[k].constraint);
      m.links.erase(m.links.begin() + k);
    }
    else if (op == 9) {
      Point& p = m.points[anyPoint()];
      int lo = uniform(p.lo, p.hi), hi = uniform(lo, p.hi);
      if (p.specified) {
        lo = std::min(lo, p.value);
        hi = std::max(hi, p.value);
      }
      p.lo = lo;
      p.hi = hi;
      log.push_back("narrow base of " + name(&p - &m.points[0]) + " to [" + std::to_string(lo) + " "
                    + std::to_string(hi) + "]" + (consistent ? "" : " (inconsistent)"));
      timeOf(p.token)->restrictBaseDomain(IntervalIntDomain(lo, hi));
    }
    else if (op == 10) {
      Point& p = m.points[anyPoint()];
      if (!p.onR)
        return "";
      const ConstrainedVariableId q = quantityOf(p.token);
      if (p.qSpecified) {
        p.qSpecified = false;
        log.push_back("reset quantity of " + name(&p - &m.points[0]));
        w.db->getClient()->reset(q);
      }
      else if (p.qlo < p.qhi) {
        p.qSpecified = true;
        p.qValue = uniform((int) p.qlo, (int) p.qhi);
        log.push_back("specify quantity of " + name(&p - &m.points[0]) + " " + std::to_string((int) p.qValue));
        w.db->getClient()->specify(q, p.qValue);
      }
    }
    else if (op == 11)
      removePoint(anyPoint());
    else
      return propagateAndCheck();
    return "";
  }

  // Propagates and compares; "" when all agree.
  std::string propagateAndCheck() {
    consistent = w.propagate();
    log.push_back(consistent ? "propagate: consistent" : "propagate: inconsistent");
    KORVAN_TEST::Distances d;
    const bool modelConsistent = m.solve(d);
    if (!consistent) {
      // Only the resource's own judgement may add to the model's inconsistency.
      if (modelConsistent && allow)
        return "the engine is inconsistent but the temporal model is not";
      return "";
    }
    if (!modelConsistent)
      return "the engine is consistent but the temporal model is not";
    for (size_t i = 0; i < m.points.size(); ++i) {
      const AbstractDomain& dom = timeOf(m.points[i].token)->lastDomain();
      if (dom.getLowerBound() != -d[i + 1][0] || dom.getUpperBound() != d[0][i + 1]) {
        std::ostringstream out;
        out << name(i) << " has time " << dom.toString() << ", the model [" << -d[i + 1][0] << " "
            << d[0][i + 1] << "]";
        return out.str();
      }
    }
    std::string problem = checkFiling(r);
    if (!problem.empty())
      return problem;
    const bool orderings = profile != "TimetableProfile";
    for (int time : instantTimes(r)) {
      IntervalDomain level;
      r->getProfile()->getLevel(time, level);
      const std::pair<double, double> expected = envelope(m, d, time, 5, orderings);
      if (level.getLowerBound() != expected.first || level.getUpperBound() != expected.second) {
        std::ostringstream out;
        out << "level at " << time << " is " << level.toString() << ", the model [" << expected.first << " "
            << expected.second << "]";
        return out.str();
      }
    }
    return checkMarks(r);
  }

  std::mt19937 rng;
  std::string profile;
  bool allow;
  ResourceWorld w;
  TestReservoir* r;
  Model m;
  std::vector<int> keys;
  int lastKey = 0;
  bool consistent = true;
  std::vector<std::string> log;
};

int seedCount() {
  const char* text = std::getenv("KORVAN_PROFILE_ORACLE_SEEDS");
  return text != nullptr ? std::max(1, std::atoi(text)) : 20;
}

class ProfileEngineOracle : public ::testing::TestWithParam<const char*> {};

}

TEST_P(ProfileEngineOracle, RandomChangesAgreeWithTheModel) {
  const int seeds = seedCount();
  for (int seed = 1; seed <= seeds; ++seed)
    for (int allow = 0; allow < 2; ++allow) {
      OracleRun run((unsigned) (seed * 2 + allow), GetParam(), allow == 1);
      for (int i = 0; i < 80; ++i) {
        std::string problem = run.step();
        if (problem.empty() && run.uniform(0, 1) == 0)
          problem = run.propagateAndCheck();
        ASSERT_EQ("", problem) << "seed " << seed * 2 + allow << "\n" << run.steps();
      }
      // The reservoir deleted while the engine may well be inconsistent,
      // then its tokens: the rest of the network is all that is left.
      run.log.push_back("delete R");
      run.r->discard();
      for (int i = (int) run.m.points.size() - 1; i >= 0; --i)
        if (run.m.points[i].onR)
          run.removePoint(i);
      KORVAN_TEST::Distances d;
      ASSERT_EQ(run.m.solve(d), run.w.propagate()) << "seed " << seed * 2 + allow << "\n" << run.steps();
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, ProfileEngineOracle,
                         ::testing::Values("TimetableProfile", "FlowProfile", "IncrementalFlowProfile"));
