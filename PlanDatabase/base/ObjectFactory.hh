#ifndef KORVAN_PLANDATABASE_OBJECTFACTORY_HH
#define KORVAN_PLANDATABASE_OBJECTFACTORY_HH

#include <vector>

#include "PlanDatabase/base/PlanDatabaseDefs.hh"

namespace KORVAN {

/// Makes objects of one type from constructor arguments. Registered with the schema under its
/// signature: the type name followed by ":" and the type name of each argument
/// ("Reservoir:float:float:float"; a constructor without arguments is just "Reservoir").
class ObjectFactory {
public:
  ObjectFactory(const LabelStr& signature);
  virtual ~ObjectFactory();

  const ObjectFactoryId& getId() const { return m_id; }
  const LabelStr& getSignature() const { return m_signature; }

  /// A new object of the type (or of a descendant type that has no factory of its own) in the
  /// plan database, given the argument domains; the plan database owns it.
  virtual ObjectId createInstance(const PlanDatabaseId& planDb, const LabelStr& objectType,
                                  const LabelStr& objectName,
                                  const std::vector<const AbstractDomain*>& arguments) const = 0;

private:
  ObjectFactory(const ObjectFactory&) = delete;
  ObjectFactory& operator=(const ObjectFactory&) = delete;

  ObjectFactoryId m_id;
  LabelStr m_signature;
};

} // namespace KORVAN

#endif
