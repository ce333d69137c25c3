#include "Verdict/PlanCheck.hh"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "PlanDatabase/base/Token.hh"
#include "Resource/base/Limits.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Utils.hh"

// Cycles of bounded differences among the model's times: the proof that a creeping propagation
// holds no values, and the words that name it.

namespace KORVAN {
namespace HOST {
namespace PlanCheck {

namespace {

/// A difference constraint t(to) - t(from) <= weight, and what in the model states it.
struct CycleArc {
  int from, to;
  double weight;
  std::string what;
};

/// The window a time point has before propagation: its base domain, or its specified value.
void windowOf(const ConstrainedVariableId& var, double& lb, double& ub) {
  lb = var->baseDomain().getLowerBound();
  ub = var->baseDomain().getUpperBound();
  if (var->isSpecified())
    lb = ub = var->getSpecifiedValue();
}

/// The bounds a model puts on differences of its times, as arcs between points: node 0 is the
/// origin; each arc bounds t(to) - t(from) and carries the text that names it.
struct CycleNetwork {
  CycleNetwork() : horizon(g_infiniteTimeAsDouble()), points(1) {}
  int point(const ConstrainedVariableId& var) {
    std::map<int, int>::const_iterator found = node.find(var->getKey());
    if (found != node.end())
      return found->second;
    node[var->getKey()] = (int)points.size();
    points.push_back(var);
    return (int)points.size() - 1;
  }
  // lb <= t(y) - t(x) <= ub
  void relate(int x, int y, double lb, double ub, const std::string& what) {
    if (ub < horizon)
      arcs.push_back({x, y, ub, what});
    if (lb > -horizon)
      arcs.push_back({y, x, -lb, what});
  }

  const double horizon;
  std::map<int, int> node; // variable key -> node
  std::vector<ConstrainedVariableId> points;
  std::vector<CycleArc> arcs;
};

/// The names of the constraints a cycle is read from, made once and in this order.
struct CycleLabels {
  LabelStr duration, precedes, concurrent, eq, leq, lessThanEqual, addEq;
};

const CycleLabels& cycleLabels() {
  static const CycleLabels sl_labels{LabelStr("StartEndDurationRelation"), LabelStr("precedes"),
                                     LabelStr("concurrent"), LabelStr("eq"), LabelStr("leq"),
                                     LabelStr("lessThanEqual"), LabelStr("addEq")};
  return sl_labels;
}

std::string scopeText(const ConstraintId& constraint) {
  std::string scope;
  for (const ConstrainedVariableId& var : constraint->getScope())
    scope += (scope.empty() ? "" : ", ") + variableName(var);
  return constraint->getName().toString() + "(" + scope + ")";
}

/// The temporal network's own constraints: durations, distances, precedences and concurrences.
void relateTemporal(CycleNetwork& net, const std::map<int, ConstraintId>& constraints, const LabelStr& temporalName) {
  const CycleLabels& labels = cycleLabels();
  for (const auto& entry : constraints) {
    const ConstraintId& constraint = entry.second;
    const std::vector<ConstrainedVariableId>& scope = constraint->getScope();
    const LabelStr& name = constraint->getName();
    const bool temporal = constraint->getPropagator()->getName() == temporalName;
    if (temporal && scope.size() == 3) {
      double lb, ub;
      windowOf(scope[1], lb, ub);
      const std::string what = name == labels.duration ? variableName(scope[1]) + " " + bounds(IntervalDomain(lb, ub))
                                                       : scopeText(constraint);
      net.relate(net.point(scope[0]), net.point(scope[2]), lb, ub, what);
    } else if (temporal && scope.size() == 2 && (name == labels.precedes || name == labels.concurrent))
      net.relate(net.point(scope[0]), net.point(scope[1]), 0, name == labels.precedes ? net.horizon : 0,
                 scopeText(constraint));
  }
}

/// The bounds of a sum's term: its window, or its present domain, which the other constraints
/// narrowed (sound for a proof, but not a bound the model wrote).
void termBounds(const ConstrainedVariableId& var, bool current, double& lb, double& ub) {
  windowOf(var, lb, ub);
  if (current && !var->lastDomain().isEmpty()) {
    lb = std::max(lb, var->lastDomain().getLowerBound());
    ub = std::min(ub, var->lastDomain().getUpperBound());
  }
}

/// Generic relations between two times, or between a time and the box.
/// `current`: a sum's middle term bounds the difference by its present domain.
/// `bothTerms`: a sum x + y = z of three times also bounds z - y by x, the cycle a bound may creep
/// around when y is the term that moves.
void relateGeneric(CycleNetwork& net, const std::map<int, ConstraintId>& constraints, bool current, bool bothTerms) {
  const CycleLabels& labels = cycleLabels();
  const double horizon = net.horizon;
  for (const auto& entry : constraints) {
    const ConstraintId& constraint = entry.second;
    const std::vector<ConstrainedVariableId>& scope = constraint->getScope();
    const LabelStr& name = constraint->getName();
    if (name == labels.addEq && scope.size() == 3 && scope[0]->parent().isValid() && scope[2]->parent().isValid()) {
      double lb, ub;
      termBounds(scope[1], current, lb, ub);
      net.relate(net.point(scope[0]), net.point(scope[2]), lb, ub, scopeText(constraint));
      if (bothTerms && scope[1]->parent().isValid()) {
        termBounds(scope[0], current, lb, ub);
        net.relate(net.point(scope[1]), net.point(scope[2]), lb, ub, scopeText(constraint));
      }
    }
    // "lessThanEqual" is "leq" under its other name.
    const bool leq = name == labels.leq || name == labels.lessThanEqual;
    if ((name != labels.eq && !leq) || scope.size() != 2 || !scope[0]->lastDomain().isNumeric() ||
        !scope[1]->lastDomain().isNumeric())
      continue;
    // A variable of no token or object is the host's own: the box a schedule search keeps times in.
    const bool boxed[2] = {!scope[0]->parent().isValid(), !scope[1]->parent().isValid()};
    if (boxed[0] && boxed[1])
      continue;
    if (!boxed[0] && !boxed[1]) {
      net.relate(net.point(scope[0]), net.point(scope[1]), 0, leq ? horizon : 0, scopeText(constraint));
      continue;
    }
    double lb, ub;
    windowOf(scope[boxed[0] ? 0 : 1], lb, ub);
    if (leq && boxed[1])
      lb = -horizon;
    else if (leq)
      ub = horizon;
    net.relate(0, net.point(scope[boxed[0] ? 1 : 0]), lb, ub, "every time in " + bounds(IntervalDomain(lb, ub)));
  }
}

/// Each point's own window, as arcs from the origin.
void relateWindows(CycleNetwork& net) {
  const double horizon = net.horizon;
  for (size_t i = 1; i < net.points.size(); i++) {
    double lb, ub;
    windowOf(net.points[i], lb, ub);
    // Only the side of a window that the cycle runs through is named.
    const std::string name = variableName(net.points[i]);
    if (lb == ub)
      net.relate(0, (int)i, lb, ub, name + " = " + number(lb));
    else {
      net.relate(0, (int)i, -horizon, ub, name + " <= " + number(ub));
      net.relate(0, (int)i, lb, horizon, name + " >= " + number(lb));
    }
  }
}

/// A point on a negative cycle, with via[x] the arc last lowering x's distance; -1 for none, or
/// past the budget.
int negativeCycle(const std::vector<CycleArc>& arcs, size_t n, std::vector<int>& via) {
  // Bellman-Ford from every point at once; a cycle among the predecessors is a negative one.
  std::vector<double> distance(n, 0);
  via.assign(n, -1);
  int onCycle = -1;
  // A large network whose cycle runs through something not modelled here (a domain that a
  // resource narrowed) would take a pass per time point: past a budget the cycle goes unnamed.
  const size_t budget = 4000000;
  for (size_t pass = 0; pass < n + 1 && onCycle < 0; pass++) {
    if (pass * (arcs.size() + n) > budget)
      return -1;
    bool moved = false;
    for (size_t a = 0; a < arcs.size(); a++)
      if (distance[arcs[a].from] + arcs[a].weight < distance[arcs[a].to]) {
        distance[arcs[a].to] = distance[arcs[a].from] + arcs[a].weight;
        via[arcs[a].to] = (int)a;
        moved = true;
      }
    if (!moved)
      return -1;
    std::vector<int> mark(n, -1);
    for (size_t start = 0; start < n && onCycle < 0; start++)
      for (int at = (int)start; at >= 0 && via[at] >= 0 && onCycle < 0; at = arcs[via[at]].from) {
        if (mark[at] == (int)start)
          onCycle = at;
        else if (mark[at] >= 0)
          break;
        mark[at] = (int)start;
      }
  }
  return onCycle;
}

/// The texts of the cycle's arcs, each once, forward from its first arc in the order the model
/// made them.
std::string cycleText(const std::vector<CycleArc>& arcs, const std::vector<int>& via, int onCycle, size_t n) {
  std::vector<int> cycle;
  int at = onCycle;
  do {
    cycle.push_back(via[at]);
    at = arcs[via[at]].from;
  } while (at != onCycle && cycle.size() <= n);
  std::reverse(cycle.begin(), cycle.end());
  std::rotate(cycle.begin(), std::min_element(cycle.begin(), cycle.end()), cycle.end());
  std::vector<std::string> named;
  for (int arc : cycle)
    if (std::find(named.begin(), named.end(), arcs[arc].what) == named.end())
      named.push_back(arcs[arc].what);
  std::string text;
  for (const std::string& what : named)
    text += (text.empty() ? "" : ", ") + what;
  return text;
}

/// A negative cycle among the differences the model's constraints and windows bound: the point
/// returned, with via as negativeCycle leaves it; -1 for none.
int cycleOfDifferences(const ConstraintEngineId& ce, CycleNetwork& net, std::vector<int>& via, bool current,
                       bool bothTerms) {
  static const LabelStr sl_temporal = TemporalPropagator::PROPAGATOR_NAME();
  // In the order the model made them, so that the same model always names the same cycle.
  std::map<int, ConstraintId> constraints;
  for (const ConstraintId& constraint : ce->getConstraints())
    if (constraint->isActive())
      constraints[constraint->getKey()] = constraint;
  relateTemporal(net, constraints, sl_temporal);
  relateGeneric(net, constraints, current, bothTerms);
  relateWindows(net);
  return negativeCycle(net.arcs, net.points.size(), via);
}

/// As cycleOfDifferences, with a sum's first term read as the bound of a difference only where
/// the second alone closes no cycle: a cycle found the first way is named as ever.
int cycleOfDifferences(const ConstraintEngineId& ce, CycleNetwork& net, std::vector<int>& via, bool current) {
  const int onCycle = cycleOfDifferences(ce, net, via, current, false);
  if (onCycle >= 0)
    return onCycle;
  net.node.clear();
  net.points.resize(1);
  net.arcs.clear();
  return cycleOfDifferences(ce, net, via, current, true);
}

} // namespace

std::string temporalCycle(const ConstraintEngineId& ce) {
  CycleNetwork net;
  std::vector<int> via;
  const int onCycle = cycleOfDifferences(ce, net, via, false);
  if (onCycle < 0)
    return std::string();
  return cycleText(net.arcs, via, onCycle, net.points.size());
}

ConstrainedVariableId timeOnCycle(const ConstraintEngineId& ce) {
  CycleNetwork net;
  std::vector<int> via;
  const int onCycle = cycleOfDifferences(ce, net, via, true);
  if (onCycle < 0)
    return ConstrainedVariableId::noId();
  // A cycle is a sum of the decimals the model wrote: below zero only by the rounding of that
  // sum, as a level meets a limit, it proves nothing; by a digit written, it does.
  double sum = 0;
  Rounding rounding = Rounding::none();
  int at = onCycle;
  size_t steps = 0;
  do {
    sum += net.arcs[via[at]].weight;
    rounding.add(net.arcs[via[at]].weight);
    at = net.arcs[via[at]].from;
  } while (at != onCycle && ++steps <= net.points.size());
  if (!belowLimit(sum, 0, rounding))
    return ConstrainedVariableId::noId();
  // A token's time, where the cycle has one, so that its emptying is told as the cycle.
  ConstrainedVariableId found;
  steps = 0;
  do {
    if (at > 0) {
      const ConstrainedVariableId& var = net.points[at];
      if (isTime(var))
        return var;
      if (found.isNoId())
        found = var;
    }
    at = net.arcs[via[at]].from;
  } while (at != onCycle && ++steps <= net.points.size());
  return found;
}

} // namespace PlanCheck
} // namespace HOST
} // namespace KORVAN
