#ifndef KORVAN_PLANDATABASE_OBJECTDOMAIN_HH
#define KORVAN_PLANDATABASE_OBJECTDOMAIN_HH

#include "ConstraintEngine/base/EnumeratedDomain.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"

namespace KORVAN {

/// Domain of objects: each value is an object's address as a double (ObjectId's double
/// conversion), turned back into a handle with ObjectId(double). The type name is the object
/// type whose objects the domain may hold.
class ObjectDomain : public EnumeratedDomain {
public:
  /// Open and empty: objects may still be added.
  explicit ObjectDomain(const LabelStr& typeName = getDefaultTypeName());
  ObjectDomain(const std::list<double>& values, bool closed,
               const LabelStr& typeName = getDefaultTypeName());
  /// Closed, holding one object.
  ObjectDomain(const ObjectId& object, const LabelStr& typeName = getDefaultTypeName());
  ObjectDomain(const ObjectDomain& org);
  ~ObjectDomain() override;

  /// "Object".
  static const LabelStr& getDefaultTypeName();

  /// The objects of the domain, in value order.
  std::list<ObjectId> makeObjectList() const;

  AbstractDomain* copy() const override;
  /// The object's name while it lives.
  std::string toString(double value) const override;
  std::string toString() const override { return EnumeratedDomain::toString(); }
};

} // namespace KORVAN

#endif
