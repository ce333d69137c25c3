#ifndef KORVAN_CE_CONSTRAINTS_HH
#define KORVAN_CE_CONSTRAINTS_HH

#include <vector>

#include "ConstraintEngine/base/Constraint.hh"

namespace KORVAN {

/// All scope variables take the same value ("eq"). Any number of variables, at least two.
class EqualConstraint : public Constraint {
public:
  EqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                  const ConstraintEngineId& constraintEngine,
                  const std::vector<ConstrainedVariableId>& variables);

private:
  void handleExecute() override;
  bool canIgnore(const ConstrainedVariableId& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;
};

/// Two variables differ ("neq"): a singleton's value leaves the other domain.
class NotEqualConstraint : public Constraint {
public:
  NotEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                     const ConstraintEngineId& constraintEngine,
                     const std::vector<ConstrainedVariableId>& variables);

private:
  void handleExecute() override;
  bool canIgnore(const ConstrainedVariableId& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;
};

/// x <= y over two numeric variables ("leq", also "lessThanEqual").
class LessThanEqualConstraint : public Constraint {
public:
  LessThanEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                          const ConstraintEngineId& constraintEngine,
                          const std::vector<ConstrainedVariableId>& variables);

private:
  void handleExecute() override;
  bool canIgnore(const ConstrainedVariableId& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;
};

/// x + y = z over three interval variables ("addEq"), narrowed by bounds reasoning.
class AddEqualConstraint : public Constraint {
public:
  AddEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                     const ConstraintEngineId& constraintEngine,
                     const std::vector<ConstrainedVariableId>& variables);

private:
  void handleExecute() override;
  bool canIgnore(const ConstrainedVariableId& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;
};

/// Registers the propagator "Default" (unless present) and the factories "eq", "neq", "leq",
/// "lessThanEqual" and "addEq" (propagator "Default") with the engine.
void initConstraintLibrary(const ConstraintEngineId& constraintEngine);

} // namespace KORVAN

#endif
