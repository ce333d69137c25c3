#include "ConstraintEngine/base/BoolDomain.hh"

#include "Utils/base/Error.hh"

namespace KORVAN {

namespace {
std::list<double> bothValues() { return std::list<double>{0.0, 1.0}; }
} // namespace

const LabelStr& BoolDomain::getDefaultTypeName() {
  static const LabelStr sl_type("bool");
  return sl_type;
}

BoolDomain::BoolDomain() : EnumeratedDomain(bothValues(), true, getDefaultTypeName(), true) {}

BoolDomain::BoolDomain(bool value)
    : EnumeratedDomain(value ? 1.0 : 0.0, getDefaultTypeName(), true) {}

BoolDomain::BoolDomain(const BoolDomain& org) : EnumeratedDomain(org) {}

BoolDomain::~BoolDomain() {}

void BoolDomain::insert(double value) {
  checkError(value == 0.0 || value == 1.0, value << " is not a boolean value");
  EnumeratedDomain::insert(value);
}

AbstractDomain* BoolDomain::copy() const { return new BoolDomain(*this); }

std::string BoolDomain::toString(double value) const {
  return value == 0.0 ? "false" : (value == 1.0 ? "true" : AbstractDomain::toString(value));
}

} // namespace KORVAN
