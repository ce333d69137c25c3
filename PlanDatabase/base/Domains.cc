#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/ObjectDomain.hh"
#include "PlanDatabase/base/StateDomain.hh"
#include "Utils/base/IdTable.hh"

#include <cstdint>

namespace KORVAN {

StateDomain::StateDomain(const LabelStr& typeName)
    : EnumeratedDomain(std::list<double>(), true, typeName, false) {}

StateDomain::StateDomain(const std::list<double>& values, const LabelStr& typeName)
    : EnumeratedDomain(values, true, typeName, false) {}

StateDomain::StateDomain(const StateDomain& org) : EnumeratedDomain(org) {}

StateDomain::~StateDomain() {}

const LabelStr& StateDomain::getDefaultTypeName() {
  static const LabelStr sl_typeName("States");
  return sl_typeName;
}

AbstractDomain* StateDomain::copy() const { return new StateDomain(*this); }

std::string StateDomain::toString(double value) const {
  return LabelStr::isString(value) ? LabelStr(value).toString() : EnumeratedDomain::toString(value);
}

ObjectDomain::ObjectDomain(const LabelStr& typeName)
    : EnumeratedDomain(std::list<double>(), false, typeName, false) {}

ObjectDomain::ObjectDomain(const std::list<double>& values, bool closed, const LabelStr& typeName)
    : EnumeratedDomain(values, closed, typeName, false) {}

ObjectDomain::ObjectDomain(const ObjectId& object, const LabelStr& typeName)
    : EnumeratedDomain(std::list<double>(1, (double)object), true, typeName, false) {}

ObjectDomain::ObjectDomain(const ObjectDomain& org) : EnumeratedDomain(org) {}

ObjectDomain::~ObjectDomain() {}

const LabelStr& ObjectDomain::getDefaultTypeName() {
  static const LabelStr sl_typeName("Object");
  return sl_typeName;
}

std::list<ObjectId> ObjectDomain::makeObjectList() const {
  std::list<ObjectId> result;
  for (double value : m_values)
    result.push_back(ObjectId(value));
  return result;
}

AbstractDomain* ObjectDomain::copy() const { return new ObjectDomain(*this); }

std::string ObjectDomain::toString(double value) const {
  // Only a live object's name is read; a stale value prints as a number.
  std::uintptr_t address = static_cast<std::uintptr_t>(value);
  if (value > 0 && static_cast<double>(address) == value &&
      IdTable::getKey(static_cast<unsigned long>(address)) != 0) {
    ObjectId object(value);
    return object->getName().toString();
  }
  return EnumeratedDomain::toString(value);
}

} // namespace KORVAN
