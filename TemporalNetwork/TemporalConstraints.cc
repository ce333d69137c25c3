#include "TemporalNetwork/TemporalConstraints.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintFactory.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {

namespace {

bool isIntegerInterval(const ConstrainedVariableId& var) {
  const AbstractDomain& dom = var->lastDomain();
  return dom.isInterval() && dom.isNumeric() && dom.minDelta() == 1.0;
}

// Sums of bounds in which an unbounded operand keeps the result unbounded.
double lowerSum(double a, double b) {
  const double inf = g_infiniteTime();
  return (a <= -inf || b <= -inf) ? -inf : a + b;
}

double upperSum(double a, double b) {
  const double inf = g_infiniteTime();
  return (a >= inf || b >= inf) ? inf : a + b;
}

} // namespace

// Runs in the base initialiser: a scope refused here never reaches the engine, the network or
// the listeners of its variables (a profile, say, that expects two or three time points).
const std::vector<ConstrainedVariableId>& TemporalConstraint::checkScope(
    const LabelStr& name, const std::vector<ConstrainedVariableId>& variables, int distanceIndex) {
  const std::size_t expected = distanceIndex < 0 ? 2 : 3;
  checkError(variables.size() == expected, "Constraint \"" << name.toString() << "\" takes "
                                                           << expected << " variables, not "
                                                           << variables.size() << ".");
  for (std::size_t i = 0; i < variables.size(); ++i) {
    checkError(variables[i].isValid(),
               "Variable " << i << " of constraint \"" << name.toString() << "\" is invalid.");
    checkError(isIntegerInterval(variables[i]),
               "Variable " << i << " of constraint \"" << name.toString()
                           << "\" must have an integer interval domain, not "
                           << variables[i]->lastDomain().toString() << ".");
  }
  return variables;
}

TemporalConstraint::TemporalConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                       const ConstraintEngineId& constraintEngine,
                                       const std::vector<ConstrainedVariableId>& variables,
                                       int fromIndex, int toIndex, int distanceIndex, long long lb,
                                       long long ub)
    : Constraint(name, propagatorName, constraintEngine, checkScope(name, variables, distanceIndex)),
      m_fromIndex(fromIndex), m_toIndex(toIndex), m_distanceIndex(distanceIndex), m_lb(lb), m_ub(ub) {}

TemporalConstraint::~TemporalConstraint() {}

// Local bounds reasoning, used only when the constraint runs outside the temporal network.
void TemporalConstraint::handleExecute() {
  const std::vector<ConstrainedVariableId>& scope = getScope();
  AbstractDomain& x = getCurrentDomain(scope[m_fromIndex]);
  AbstractDomain& y = getCurrentDomain(scope[m_toIndex]);
  AbstractDomain* d = m_distanceIndex < 0 ? 0 : &getCurrentDomain(scope[m_distanceIndex]);
  for (int round = 0; round < 8; ++round) {
    if (x.isEmpty() || y.isEmpty() || (d != 0 && d->isEmpty()))
      return;
    const double lb = d != 0 ? d->getLowerBound() : (double)m_lb;
    const double ub = d != 0 ? d->getUpperBound() : (double)m_ub;
    bool changed = y.intersect(lowerSum(x.getLowerBound(), lb), upperSum(x.getUpperBound(), ub));
    if (y.isEmpty())
      return;
    changed = x.intersect(lowerSum(y.getLowerBound(), -ub), upperSum(y.getUpperBound(), -lb)) || changed;
    if (x.isEmpty())
      return;
    if (d != 0)
      changed = d->intersect(lowerSum(y.getLowerBound(), -x.getUpperBound()),
                             upperSum(y.getUpperBound(), -x.getLowerBound())) || changed;
    if (!changed)
      return;
  }
}

PrecedesConstraint::PrecedesConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                       const ConstraintEngineId& constraintEngine,
                                       const std::vector<ConstrainedVariableId>& variables)
    : TemporalConstraint(name, propagatorName, constraintEngine, variables, 0, 1, -1, 0,
                         g_infiniteTime()) {}

ConcurrentConstraint::ConcurrentConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                           const ConstraintEngineId& constraintEngine,
                                           const std::vector<ConstrainedVariableId>& variables)
    : TemporalConstraint(name, propagatorName, constraintEngine, variables, 0, 1, -1, 0, 0) {}

TemporalDistanceConstraint::TemporalDistanceConstraint(
    const LabelStr& name, const LabelStr& propagatorName, const ConstraintEngineId& constraintEngine,
    const std::vector<ConstrainedVariableId>& variables)
    : TemporalConstraint(name, propagatorName, constraintEngine, variables, 0, 2, 1, 0, 0) {}

void initTemporalConstraints(const ConstraintEngineId& constraintEngine) {
  check_error(constraintEngine.isValid());
  const LabelStr& name = TemporalPropagator::PROPAGATOR_NAME();
  if (constraintEngine->getPropagatorByName(name).isNoId())
    new TemporalPropagator(name, constraintEngine);
  const CESchemaId& schema = constraintEngine->getCESchema();
  schema->registerConstraintFactory(
      new ConcreteConstraintFactory<PrecedesConstraint>(LabelStr("precedes"), name, true));
  schema->registerConstraintFactory(
      new ConcreteConstraintFactory<ConcurrentConstraint>(LabelStr("concurrent"), name, true));
  schema->registerConstraintFactory(new ConcreteConstraintFactory<TemporalDistanceConstraint>(
      LabelStr("temporalDistance"), name, true));
  schema->registerConstraintFactory(new ConcreteConstraintFactory<TemporalDistanceConstraint>(
      LabelStr("StartEndDurationRelation"), name, true));
  debugMsg("TemporalConstraints:initTemporalConstraints", " registered");
}

} // namespace KORVAN
