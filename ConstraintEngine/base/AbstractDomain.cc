#include "ConstraintEngine/base/AbstractDomain.hh"

#include <cmath>
#include <sstream>

#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {

AbstractDomain::AbstractDomain(bool closed, const LabelStr& typeName)
    : m_closed(closed), m_typeName(typeName), m_listener(0) {}

AbstractDomain::AbstractDomain(const AbstractDomain& org)
    : m_closed(org.m_closed), m_typeName(org.m_typeName), m_listener(0) {}

AbstractDomain::~AbstractDomain() {}

void AbstractDomain::close() {
  if (m_closed)
    return;
  m_closed = true;
  notifyChange(DomainListener::CLOSED);
}

void AbstractDomain::open() {
  if (!m_closed)
    return;
  m_closed = false;
  notifyChange(DomainListener::OPENED);
}

bool AbstractDomain::getBounds(double& lb, double& ub) const {
  if (isEmpty())
    return false;
  lb = getLowerBound();
  ub = getUpperBound();
  return true;
}

bool AbstractDomain::equate(AbstractDomain& dom) {
  bool changed = intersect(dom);
  // The other side may be coarser (an interval against a set): narrow it to what is left here.
  if (!isEmpty())
    changed = dom.intersect(*this) || changed;
  else if (!dom.isEmpty()) {
    dom.empty();
    changed = true;
  }
  return changed;
}

std::string AbstractDomain::toString(double value) const {
  if (isNumeric()) {
    if (value >= g_infiniteTime())
      return "+inf";
    if (value <= -g_infiniteTime())
      return "-inf";
    // Zero prints as 0, whatever its sign.
    return KORVAN::toString(value + 0.0);
  }
  if (LabelStr::isString(value))
    return LabelStr(value).toString();
  std::ostringstream os;
  os << "0x" << std::hex << static_cast<unsigned long>(value);
  return os.str();
}

double AbstractDomain::clamp(double value) {
  check_error(!std::isnan(value), "A domain bound cannot be NaN");
  const double inf = g_infiniteTime();
  if (value > inf)
    return inf;
  if (value < -inf)
    return -inf;
  return value;
}

std::ostream& operator<<(std::ostream& os, const AbstractDomain& dom) {
  os << dom.toString();
  return os;
}

} // namespace KORVAN
