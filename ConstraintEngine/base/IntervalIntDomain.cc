#include "ConstraintEngine/base/IntervalIntDomain.hh"

#include <cmath>

#include "Utils/base/Utils.hh"

namespace KORVAN {

namespace {
const double sl_tolerance = 1e-9;
}

const LabelStr& IntervalIntDomain::getDefaultTypeName() {
  static const LabelStr sl_type("int");
  return sl_type;
}

IntervalIntDomain::IntervalIntDomain() : IntervalDomain(getDefaultTypeName()) {}

IntervalIntDomain::IntervalIntDomain(const LabelStr& typeName) : IntervalDomain(typeName) {}

// The base constructor cannot round (no virtual dispatch there yet): assign again here.
IntervalIntDomain::IntervalIntDomain(double lb, double ub)
    : IntervalDomain(lb, ub, getDefaultTypeName()) {
  m_lb = clamp(lb);
  m_ub = clamp(ub);
  assign(lb, ub);
}

IntervalIntDomain::IntervalIntDomain(double lb, double ub, const LabelStr& typeName)
    : IntervalDomain(lb, ub, typeName) {
  m_lb = clamp(lb);
  m_ub = clamp(ub);
  assign(lb, ub);
}

IntervalIntDomain::IntervalIntDomain(double value) : IntervalDomain(value, value, getDefaultTypeName()) {
  m_lb = m_ub = clamp(value);
  assign(value, value);
}

IntervalIntDomain::IntervalIntDomain(const IntervalIntDomain& org) : IntervalDomain(org) {}

IntervalIntDomain::~IntervalIntDomain() {}

bool IntervalIntDomain::isFinite() const {
  return m_empty || (m_lb > -g_infiniteTime() && m_ub < g_infiniteTime()) || m_lb == m_ub;
}

AbstractDomain* IntervalIntDomain::copy() const { return new IntervalIntDomain(*this); }

double IntervalIntDomain::roundLower(double lb) const { return std::ceil(lb - sl_tolerance); }

double IntervalIntDomain::roundUpper(double ub) const { return std::floor(ub + sl_tolerance); }

bool IntervalIntDomain::isValueOfType(double value) const {
  return std::fabs(value - std::round(value)) < sl_tolerance;
}

} // namespace KORVAN
