#include "ConstraintEngine/base/IntervalDomain.hh"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {

namespace {
// Rounding in sums of reals can leave lb a hair above ub where the exact result is one point.
bool nearlyEqual(double a, double b) {
  return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::max(std::fabs(a), std::fabs(b)));
}

// Rounding can yield -0, which prints as "-0"; adding +0 turns it into 0 and changes nothing else.
double noNegativeZero(double value) { return value + 0.0; }
} // namespace

const LabelStr& IntervalDomain::getDefaultTypeName() {
  static const LabelStr sl_type("float");
  return sl_type;
}

IntervalDomain::IntervalDomain()
    : AbstractDomain(true, getDefaultTypeName()), m_lb(-g_infiniteTime()), m_ub(g_infiniteTime()),
      m_empty(false) {}

IntervalDomain::IntervalDomain(const LabelStr& typeName)
    : AbstractDomain(true, typeName), m_lb(-g_infiniteTime()), m_ub(g_infiniteTime()),
      m_empty(false) {}

IntervalDomain::IntervalDomain(double lb, double ub)
    : AbstractDomain(true, getDefaultTypeName()), m_lb(clamp(lb)), m_ub(clamp(ub)), m_empty(false) {
  assign(lb, ub);
}

IntervalDomain::IntervalDomain(double lb, double ub, const LabelStr& typeName)
    : AbstractDomain(true, typeName), m_lb(clamp(lb)), m_ub(clamp(ub)), m_empty(false) {
  assign(lb, ub);
}

IntervalDomain::IntervalDomain(double value)
    : AbstractDomain(true, getDefaultTypeName()), m_lb(clamp(value)), m_ub(clamp(value)),
      m_empty(false) {
  assign(value, value);
}

IntervalDomain::IntervalDomain(const IntervalDomain& org)
    : AbstractDomain(org), m_lb(org.m_lb), m_ub(org.m_ub), m_empty(org.m_empty) {}

IntervalDomain::~IntervalDomain() {}

IntervalDomain& IntervalDomain::operator=(const IntervalDomain& org) {
  AbstractDomain::operator=(org);
  m_lb = org.m_lb;
  m_ub = org.m_ub;
  m_empty = org.m_empty;
  return *this;
}

void IntervalDomain::assign(double lb, double ub) {
  lb = noNegativeZero(roundLower(clamp(lb)));
  ub = noNegativeZero(roundUpper(clamp(ub)));
  if (lb > ub) {
    m_empty = true;
    return;
  }
  m_lb = lb;
  m_ub = ub;
  m_empty = false;
}

bool IntervalDomain::isFinite() const { return m_empty || m_lb == m_ub; }

double IntervalDomain::minDelta() const { return 1e-9; }

double IntervalDomain::getSingletonValue() const {
  checkError(isSingleton(), "Domain " << toString() << " is not a singleton");
  return m_lb;
}

unsigned int IntervalDomain::getSize() const {
  checkError(isFinite(), "Domain " << toString() << " has no finite size");
  if (m_empty)
    return 0;
  return static_cast<unsigned int>(m_ub - m_lb) + 1;
}

bool IntervalDomain::isMember(double value) const {
  return !m_empty && value >= m_lb && value <= m_ub && isValueOfType(value);
}

void IntervalDomain::getValues(std::list<double>& results) const {
  checkError(isFinite(), "Cannot list the values of " << toString());
  if (m_empty)
    return;
  for (double v = m_lb; v <= m_ub; v += 1.0)
    results.push_back(v);
}

void IntervalDomain::empty() {
  if (m_empty)
    return;
  m_empty = true;
  notifyChange(DomainListener::EMPTIED);
}

void IntervalDomain::set(double value) {
  if (!isMember(value)) {
    empty();
    return;
  }
  value = noNegativeZero(value);
  if (m_lb == value && m_ub == value)
    return;
  m_lb = m_ub = value;
  notifyChange(DomainListener::SET_TO_SINGLETON);
}

bool IntervalDomain::intersect(double lb, double ub) {
  if (m_empty)
    return false;
  double newLb = std::max(m_lb, noNegativeZero(roundLower(clamp(lb))));
  double newUb = std::min(m_ub, noNegativeZero(roundUpper(clamp(ub))));
  if (newLb > newUb) {
    if (!nearlyEqual(newLb, newUb) || minDelta() >= 1.0) {
      empty();
      return true;
    }
    // The one point meant, taken inside the present bounds: an intersection never widens.
    newLb = newUb = std::min(newLb, m_ub);
  }
  bool lbChanged = newLb > m_lb;
  bool ubChanged = newUb < m_ub;
  if (!lbChanged && !ubChanged)
    return false;
  m_lb = newLb;
  m_ub = newUb;
  if (m_lb == m_ub)
    notifyChange(DomainListener::RESTRICT_TO_SINGLETON);
  else if (lbChanged && ubChanged)
    notifyChange(DomainListener::BOUNDS_RESTRICTED);
  else if (lbChanged)
    notifyChange(DomainListener::LOWER_BOUND_INCREASED);
  else
    notifyChange(DomainListener::UPPER_BOUND_DECREASED);
  return true;
}

bool IntervalDomain::intersect(const AbstractDomain& dom) {
  if (m_empty)
    return false;
  if (dom.isEnumerated() && dom.isOpen())
    return false; // values may still come: nothing can be excluded yet
  if (dom.isEmpty()) {
    empty();
    return true;
  }
  return intersect(dom.getLowerBound(), dom.getUpperBound());
}

void IntervalDomain::remove(double value) {
  if (!isMember(value))
    return;
  if (m_lb == m_ub) {
    empty();
    return;
  }
  // An interval holds no holes: only the end of an integer range can go. An unbounded side has
  // no last value to remove: it stays unbounded.
  if (minDelta() < 1.0 || std::fabs(value) >= g_infiniteTime())
    return;
  if (value == m_lb)
    intersect(m_lb + 1.0, m_ub);
  else if (value == m_ub)
    intersect(m_lb, m_ub - 1.0);
}

void IntervalDomain::insert(double value) {
  checkError(isValueOfType(value), value << " cannot be a value of " << toString());
  value = noNegativeZero(clamp(value));
  if (m_empty) {
    m_lb = m_ub = value;
    m_empty = false;
  } else if (value < m_lb)
    m_lb = value;
  else if (value > m_ub)
    m_ub = value;
  else
    return;
  notifyChange(DomainListener::RELAXED);
}

bool IntervalDomain::assignFrom(const AbstractDomain& dom) {
  bool wasEmpty = m_empty;
  double lb = m_lb, ub = m_ub;
  if (dom.isEmpty())
    m_empty = true;
  else
    assign(dom.getLowerBound(), dom.getUpperBound());
  return !(wasEmpty == m_empty && (m_empty || (lb == m_lb && ub == m_ub)));
}

bool IntervalDomain::relax(const AbstractDomain& dom) {
  if (!assignFrom(dom))
    return false;
  notifyChange(m_empty ? DomainListener::EMPTIED : DomainListener::RELAXED);
  return true;
}

bool IntervalDomain::relax(double value) {
  IntervalDomain single(value);
  return relax(static_cast<const AbstractDomain&>(single));
}

void IntervalDomain::reset(const AbstractDomain& dom) {
  bool wasEmpty = m_empty;
  if (!assignFrom(dom))
    return;
  notifyChange(m_empty && !wasEmpty ? DomainListener::EMPTIED : DomainListener::RESET);
}

bool IntervalDomain::isSubsetOf(const AbstractDomain& dom) const {
  if (m_empty)
    return true;
  if (dom.isEmpty())
    return false;
  if (dom.isInterval())
    return m_lb >= dom.getLowerBound() && m_ub <= dom.getUpperBound();
  if (dom.isOpen())
    return false;
  if (!isFinite())
    return false;
  std::list<double> values;
  getValues(values);
  for (double v : values)
    if (!dom.isMember(v))
      return false;
  return true;
}

bool IntervalDomain::intersects(const AbstractDomain& dom) const {
  if (m_empty || dom.isEmpty())
    return false;
  if (dom.isInterval())
    return std::max(m_lb, dom.getLowerBound()) <= std::min(m_ub, dom.getUpperBound());
  std::list<double> values;
  dom.getValues(values);
  for (double v : values)
    if (isMember(v))
      return true;
  return false;
}

bool IntervalDomain::operator==(const AbstractDomain& dom) const {
  if (m_empty || dom.isEmpty())
    return m_empty == dom.isEmpty();
  if (dom.isEnumerated())
    return dom == *this;
  return isClosed() == dom.isClosed() && m_lb == dom.getLowerBound() && m_ub == dom.getUpperBound() &&
         minDelta() == dom.minDelta();
}

AbstractDomain* IntervalDomain::copy() const { return new IntervalDomain(*this); }

std::string IntervalDomain::toString() const {
  std::ostringstream os;
  os << getTypeName().toString() << ":";
  if (m_empty)
    os << "empty";
  else
    os << "[" << AbstractDomain::toString(m_lb) << ", " << AbstractDomain::toString(m_ub) << "]";
  return os.str();
}

} // namespace KORVAN
