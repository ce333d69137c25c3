#ifndef KORVAN_CE_CONSTRAINTFACTORY_HH
#define KORVAN_CE_CONSTRAINTFACTORY_HH

#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {

/// Names one constraint type for the engine's schema: the constraint name and the propagator
/// that will run the constraints it makes. The schema owns its factories.
class ConstraintFactory {
public:
  ConstraintFactory(const LabelStr& name, const LabelStr& propagatorName, bool systemDefined = false);
  /// Releases the factory's handle, so that another factory may later live at the same address.
  virtual ~ConstraintFactory();

  const ConstraintFactoryId& getId() const { return m_id; }
  const LabelStr& getName() const { return m_name; }
  const LabelStr& getPropagatorName() const { return m_propagatorName; }
  bool isSystemDefined() const { return m_systemDefined; }

  /// The base factory makes nothing: always an error.
  virtual ConstraintId createConstraint(ConstraintEngineId constraintEngine,
                                        const std::vector<ConstrainedVariableId>& scope);

protected:
  ConstraintFactoryId m_id;
  LabelStr m_name;
  LabelStr m_propagatorName;
  bool m_systemDefined;

private:
  ConstraintFactory(const ConstraintFactory&) = delete;
  ConstraintFactory& operator=(const ConstraintFactory&) = delete;
};

/// Makes constraints of one class, built from (name, propagator name, engine, scope).
template <class ConstraintType>
class ConcreteConstraintFactory : public ConstraintFactory {
public:
  ConcreteConstraintFactory(const LabelStr& name, const LabelStr& propagatorName,
                            bool systemDefined = false)
      : ConstraintFactory(name, propagatorName, systemDefined) {}
  virtual ~ConcreteConstraintFactory() {}

  ConstraintId createConstraint(ConstraintEngineId constraintEngine,
                                const std::vector<ConstrainedVariableId>& scope) override {
    check_error(constraintEngine.isValid());
    check_error(scope.size() >= 1);
    Constraint* constraint = new ConstraintType(m_name, m_propagatorName, constraintEngine, scope);
    check_error(constraint != 0);
    check_error(constraint->getId().isValid());
    return constraint->getId();
  }
};

} // namespace KORVAN

#endif
