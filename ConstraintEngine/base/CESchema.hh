#ifndef KORVAN_CE_CESCHEMA_HH
#define KORVAN_CE_CESCHEMA_HH

#include <map>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {

/// The constraint types known to an engine: constraint factories by constraint name.
class CESchema {
public:
  CESchema();
  virtual ~CESchema();

  const CESchemaId& getId() const { return m_id; }

  /// Takes ownership. A factory registered under a name already known replaces the old one.
  void registerConstraintFactory(ConstraintFactory* factory);
  bool isConstraintType(const LabelStr& name) const;
  /// The factory registered under the name, or the empty handle.
  ConstraintFactoryId getConstraintFactory(const LabelStr& name) const;
  /// Makes a constraint with the named factory; an unknown name is an error naming it.
  ConstraintId createConstraint(const ConstraintEngineId& constraintEngine, const LabelStr& name,
                                const std::vector<ConstrainedVariableId>& scope);
  /// Registered names, sorted by text.
  std::vector<LabelStr> getConstraintTypes() const;
  /// Deletes every factory.
  void purgeAll();

private:
  CESchema(const CESchema&) = delete;
  CESchema& operator=(const CESchema&) = delete;

  CESchemaId m_id;
  std::map<double, ConstraintFactory*> m_factories;
};

} // namespace KORVAN

#endif
