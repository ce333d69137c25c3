#include "ConstraintEngine/base/EnumeratedDomain.hh"

#include <algorithm>
#include <sstream>

#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {

const LabelStr& EnumeratedDomain::getDefaultTypeName() {
  static const LabelStr sl_type("ENUM");
  return sl_type;
}

EnumeratedDomain::EnumeratedDomain(const LabelStr& typeName, bool isNumeric)
    : AbstractDomain(false, typeName), m_isNumeric(isNumeric) {}

EnumeratedDomain::EnumeratedDomain(const std::list<double>& values, bool closed,
                                   const LabelStr& typeName, bool isNumeric)
    : AbstractDomain(closed, typeName), m_values(values.begin(), values.end()),
      m_isNumeric(isNumeric) {}

EnumeratedDomain::EnumeratedDomain(double value, const LabelStr& typeName, bool isNumeric)
    : AbstractDomain(true, typeName), m_isNumeric(isNumeric) {
  m_values.insert(value);
}

EnumeratedDomain::EnumeratedDomain(const EnumeratedDomain& org)
    : AbstractDomain(org), m_values(org.m_values), m_isNumeric(org.m_isNumeric) {}

EnumeratedDomain::~EnumeratedDomain() {}

double EnumeratedDomain::minDelta() const { return m_isNumeric ? 1e-9 : 0.0; }

double EnumeratedDomain::getSingletonValue() const {
  checkError(isSingleton(), "Domain " << toString() << " is not a singleton");
  return *m_values.begin();
}

// An empty set has no bounds; these finite stand-ins make every bound test fail.
double EnumeratedDomain::getLowerBound() const {
  return m_values.empty() ? static_cast<double>(g_infiniteTime()) : *m_values.begin();
}

double EnumeratedDomain::getUpperBound() const {
  return m_values.empty() ? -static_cast<double>(g_infiniteTime()) : *m_values.rbegin();
}

bool EnumeratedDomain::isMember(double value) const { return m_values.count(value) != 0; }

void EnumeratedDomain::getValues(std::list<double>& results) const {
  results.insert(results.end(), m_values.begin(), m_values.end());
}

void EnumeratedDomain::notifyNarrowed() {
  if (isEmpty())
    notifyChange(DomainListener::EMPTIED);
  else if (isSingleton())
    notifyChange(DomainListener::RESTRICT_TO_SINGLETON);
  else
    notifyChange(DomainListener::VALUE_REMOVED);
}

void EnumeratedDomain::empty() {
  if (isEmpty())
    return;
  m_values.clear();
  // An emptied domain is final: closing it makes it empty rather than "still open".
  m_closed = true;
  notifyChange(DomainListener::EMPTIED);
}

void EnumeratedDomain::set(double value) {
  if (!isMember(value)) {
    empty();
    return;
  }
  if (isSingleton())
    return;
  m_values.clear();
  m_values.insert(value);
  m_closed = true;
  notifyChange(DomainListener::SET_TO_SINGLETON);
}

template <class Keep>
bool EnumeratedDomain::keepOnly(Keep keep) {
  bool changed = false;
  for (auto it = m_values.begin(); it != m_values.end();) {
    if (keep(*it))
      ++it;
    else {
      it = m_values.erase(it);
      changed = true;
    }
  }
  if (changed)
    notifyNarrowed();
  return changed;
}

bool EnumeratedDomain::intersect(const AbstractDomain& dom) {
  if (dom.isEnumerated() && dom.isOpen())
    return false; // values may still come: nothing can be excluded yet
  if (dom.isEmpty()) {
    if (isEmpty())
      return false;
    empty();
    return true;
  }
  return keepOnly([&dom](double value) { return dom.isMember(value); });
}

bool EnumeratedDomain::intersect(double lb, double ub) {
  return keepOnly([lb, ub](double value) { return value >= lb && value <= ub; });
}

void EnumeratedDomain::remove(double value) {
  if (m_values.erase(value) != 0)
    notifyNarrowed();
}

void EnumeratedDomain::insert(double value) {
  if (m_values.insert(value).second)
    notifyChange(DomainListener::RELAXED);
}

bool EnumeratedDomain::assignFrom(const AbstractDomain& dom) {
  std::set<double> values;
  if (dom.isEnumerated()) {
    const EnumeratedDomain* other = dynamic_cast<const EnumeratedDomain*>(&dom);
    check_error(other != 0, "Enumerated domains must derive from EnumeratedDomain");
    values = other->m_values;
  } else {
    checkError(dom.isFinite(), "Cannot enumerate the values of " << dom.toString());
    std::list<double> list;
    dom.getValues(list);
    values.insert(list.begin(), list.end());
  }
  if (values == m_values && m_closed == dom.isClosed())
    return false;
  m_values.swap(values);
  m_closed = dom.isClosed();
  return true;
}

bool EnumeratedDomain::relax(const AbstractDomain& dom) {
  bool wasEmpty = isEmpty();
  if (!assignFrom(dom))
    return false;
  notifyChange(isEmpty() && !wasEmpty ? DomainListener::EMPTIED : DomainListener::RELAXED);
  return true;
}

bool EnumeratedDomain::relax(double value) {
  if (isSingleton() && isMember(value))
    return false;
  m_values.clear();
  m_values.insert(value);
  m_closed = true;
  notifyChange(DomainListener::RELAXED);
  return true;
}

void EnumeratedDomain::reset(const AbstractDomain& dom) {
  bool wasEmpty = isEmpty();
  if (assignFrom(dom))
    notifyChange(isEmpty() && !wasEmpty ? DomainListener::EMPTIED : DomainListener::RESET);
}

bool EnumeratedDomain::isSubsetOf(const AbstractDomain& dom) const {
  if (isOpen() && !dom.isOpen())
    return false;
  for (double v : m_values)
    if (!dom.isMember(v))
      return false;
  return true;
}

bool EnumeratedDomain::intersects(const AbstractDomain& dom) const {
  for (double v : m_values)
    if (dom.isMember(v))
      return true;
  return false;
}

bool EnumeratedDomain::operator==(const AbstractDomain& dom) const {
  if (isEmpty() || dom.isEmpty())
    return isEmpty() == dom.isEmpty();
  if (isClosed() != dom.isClosed())
    return false;
  if (dom.isEnumerated()) {
    const EnumeratedDomain* other = dynamic_cast<const EnumeratedDomain*>(&dom);
    return other != 0 && other->m_values == m_values;
  }
  if (!dom.isFinite())
    return false;
  std::list<double> values;
  dom.getValues(values);
  return values.size() == m_values.size() && std::equal(values.begin(), values.end(), m_values.begin());
}

AbstractDomain* EnumeratedDomain::copy() const { return new EnumeratedDomain(*this); }

std::string EnumeratedDomain::toString() const {
  std::ostringstream os;
  os << getTypeName().toString() << ":" << (isOpen() ? "OPEN" : "") << "{";
  bool first = true;
  for (double v : m_values) {
    if (!first)
      os << ", ";
    first = false;
    os << toString(v);
  }
  os << "}";
  return os.str();
}

} // namespace KORVAN
