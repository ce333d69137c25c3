#include "ConstraintEngine/component/Constraints.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintFactory.hh"
#include "ConstraintEngine/base/DefaultPropagator.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {

namespace {

bool ignorable(const DomainListener::ChangeType& changeType) {
  return changeType == DomainListener::CLOSED || changeType == DomainListener::OPENED;
}

// The scope checks run in the base initialiser, before the Constraint base registers anywhere:
// a refused scope must leave no trace in the engine, the propagator or the variables.
const std::vector<ConstrainedVariableId>& checkScopeSize(const LabelStr& name,
                                                         const std::vector<ConstrainedVariableId>& variables,
                                                         size_t minSize, size_t maxSize) {
  checkError(variables.size() >= minSize && variables.size() <= maxSize,
             "Constraint '" << name.toString() << "' takes "
                            << (minSize == maxSize ? "" : "at least ") << minSize
                            << " variables, not " << variables.size());
  return variables;
}

const std::vector<ConstrainedVariableId>& checkNumeric(const LabelStr& name,
                                                       const std::vector<ConstrainedVariableId>& variables,
                                                       bool intervalsOnly) {
  for (const ConstrainedVariableId& var : variables) {
    if (!var.isValid())
      continue; // the base refuses it, in its own words
    checkError(var->baseDomain().isNumeric(), "Constraint '" << name.toString()
                                                             << "' needs numeric variables, not "
                                                             << var->toString());
    checkError(!intervalsOnly || var->baseDomain().isInterval(),
               "Constraint '" << name.toString() << "' needs interval variables, not "
                              << var->toString());
  }
  return variables;
}

// Bounds at the horizon stand for infinity: sums with them stay infinite.
double sumLb(double a, double b) {
  const double inf = g_infiniteTime();
  if (a <= -inf || b <= -inf)
    return -inf;
  if (a >= inf || b >= inf)
    return inf;
  return a + b;
}

double sumUb(double a, double b) {
  const double inf = g_infiniteTime();
  if (a >= inf || b >= inf)
    return inf;
  if (a <= -inf || b <= -inf)
    return -inf;
  return a + b;
}

} // namespace

// ---------------------------------------------------------------------------------------------

EqualConstraint::EqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                 const ConstraintEngineId& constraintEngine,
                                 const std::vector<ConstrainedVariableId>& variables)
    : Constraint(name, propagatorName, constraintEngine,
                 checkScopeSize(name, variables, 2, variables.size() < 2 ? 2 : variables.size())) {}

bool EqualConstraint::canIgnore(const ConstrainedVariableId&, int, const DomainListener::ChangeType& changeType) {
  return ignorable(changeType);
}

void EqualConstraint::handleExecute() {
  const std::vector<ConstrainedVariableId>& scope = getScope();
  AbstractDomain& first = getCurrentDomain(scope[0]);
  // Two rounds reach the common intersection; mixed interval and set domains may need more.
  for (unsigned int round = 0; round < scope.size() + 1; ++round) {
    bool changed = false;
    for (size_t i = 1; i < scope.size(); ++i) {
      if (first.isEmpty())
        return;
      AbstractDomain& other = getCurrentDomain(scope[i]);
      if (other.isEmpty())
        return;
      changed = first.equate(other) || changed;
    }
    if (!changed && round > 0)
      return;
  }
}

// ---------------------------------------------------------------------------------------------

NotEqualConstraint::NotEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                       const ConstraintEngineId& constraintEngine,
                                       const std::vector<ConstrainedVariableId>& variables)
    : Constraint(name, propagatorName, constraintEngine, checkScopeSize(name, variables, 2, 2)) {}

bool NotEqualConstraint::canIgnore(const ConstrainedVariableId&, int,
                                   const DomainListener::ChangeType& changeType) {
  // Only a value that is known for sure can be taken from the other side; a side narrowed while
  // the other is known may now have that value at a bound, where an interval can drop it.
  return !DomainListener::isRelaxation(changeType) && changeType != DomainListener::EMPTIED &&
         getScope()[0] != getScope()[1] && !getScope()[0]->lastDomain().isSingleton() &&
         !getScope()[1]->lastDomain().isSingleton();
}

void NotEqualConstraint::handleExecute() {
  AbstractDomain& x = getCurrentDomain(getScope()[0]);
  AbstractDomain& y = getCurrentDomain(getScope()[1]);
  if (x.isEmpty() || y.isEmpty())
    return;
  // A variable never differs from itself: no value keeps it, whatever else the plan holds.
  if (getScope()[0] == getScope()[1]) {
    x.empty();
    return;
  }
  if (x.isSingleton())
    y.remove(x.getSingletonValue());
  if (y.isSingleton() && !x.isEmpty())
    x.remove(y.getSingletonValue());
}

// ---------------------------------------------------------------------------------------------

LessThanEqualConstraint::LessThanEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                                 const ConstraintEngineId& constraintEngine,
                                                 const std::vector<ConstrainedVariableId>& variables)
    : Constraint(name, propagatorName, constraintEngine,
                 checkNumeric(name, checkScopeSize(name, variables, 2, 2), false)) {}

bool LessThanEqualConstraint::canIgnore(const ConstrainedVariableId&, int argIndex,
                                        const DomainListener::ChangeType& changeType) {
  // x's upper bound and y's lower bound constrain nothing else.
  if (argIndex == 0 && changeType == DomainListener::UPPER_BOUND_DECREASED)
    return true;
  if (argIndex == 1 && changeType == DomainListener::LOWER_BOUND_INCREASED)
    return true;
  return ignorable(changeType);
}

void LessThanEqualConstraint::handleExecute() {
  AbstractDomain& x = getCurrentDomain(getScope()[0]);
  AbstractDomain& y = getCurrentDomain(getScope()[1]);
  if (x.isEmpty() || y.isEmpty())
    return;
  x.intersect(-g_infiniteTime(), y.getUpperBound());
  if (x.isEmpty())
    return;
  y.intersect(x.getLowerBound(), g_infiniteTime());
}

// ---------------------------------------------------------------------------------------------

AddEqualConstraint::AddEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                       const ConstraintEngineId& constraintEngine,
                                       const std::vector<ConstrainedVariableId>& variables)
    : Constraint(name, propagatorName, constraintEngine,
                 checkNumeric(name, checkScopeSize(name, variables, 3, 3), true)) {}

bool AddEqualConstraint::canIgnore(const ConstrainedVariableId&, int,
                                   const DomainListener::ChangeType& changeType) {
  return ignorable(changeType);
}

void AddEqualConstraint::handleExecute() {
  AbstractDomain& x = getCurrentDomain(getScope()[0]);
  AbstractDomain& y = getCurrentDomain(getScope()[1]);
  AbstractDomain& z = getCurrentDomain(getScope()[2]);
  // Bounds reasoning on one equation settles in a few rounds; the cap guards against creeping
  // real bounds.
  for (int round = 0; round < 8; ++round) {
    if (x.isEmpty() || y.isEmpty() || z.isEmpty())
      return;
    bool changed = z.intersect(sumLb(x.getLowerBound(), y.getLowerBound()),
                               sumUb(x.getUpperBound(), y.getUpperBound()));
    if (z.isEmpty())
      return;
    changed = x.intersect(sumLb(z.getLowerBound(), -y.getUpperBound()),
                          sumUb(z.getUpperBound(), -y.getLowerBound())) || changed;
    if (x.isEmpty())
      return;
    changed = y.intersect(sumLb(z.getLowerBound(), -x.getUpperBound()),
                          sumUb(z.getUpperBound(), -x.getLowerBound())) || changed;
    if (!changed)
      return;
  }
}

// ---------------------------------------------------------------------------------------------

void initConstraintLibrary(const ConstraintEngineId& constraintEngine) {
  check_error(constraintEngine.isValid(), "initConstraintLibrary needs a valid constraint engine");
  static const LabelStr sl_default("Default");
  if (!constraintEngine->getPropagatorByName(sl_default).isValid())
    new DefaultPropagator(sl_default, constraintEngine);
  CESchema& schema = *constraintEngine->getCESchema();
  schema.registerConstraintFactory(new ConcreteConstraintFactory<EqualConstraint>("eq", sl_default, true));
  schema.registerConstraintFactory(new ConcreteConstraintFactory<NotEqualConstraint>("neq", sl_default, true));
  schema.registerConstraintFactory(new ConcreteConstraintFactory<LessThanEqualConstraint>("leq", sl_default, true));
  schema.registerConstraintFactory(
      new ConcreteConstraintFactory<LessThanEqualConstraint>("lessThanEqual", sl_default, true));
  schema.registerConstraintFactory(new ConcreteConstraintFactory<AddEqualConstraint>("addEq", sl_default, true));
}

} // namespace KORVAN
