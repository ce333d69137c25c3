#ifndef KORVAN_CE_ABSTRACTDOMAIN_HH
#define KORVAN_CE_ABSTRACTDOMAIN_HH

#include <list>
#include <string>

#include "ConstraintEngine/base/DomainListener.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {

/// A set of values of one type: an interval (IntervalDomain, IntervalIntDomain) or an explicit
/// set (EnumeratedDomain, BoolDomain). Values are doubles; symbols and objects are carried as
/// label keys and object addresses.
///
/// Bounds are always finite and lie within [-g_infiniteTime(), g_infiniteTime()]; values beyond
/// are clamped, and those two values stand for "unbounded". An emptied interval keeps the bounds
/// it had, so code that reads the bounds of an empty domain still gets finite numbers.
///
/// Every change of a domain that has a listener is reported to it with its kind, after the change
/// is made. Operations that cannot narrow (an intersection with a superset, a relaxation to the
/// same values) report nothing.
class AbstractDomain {
public:
  virtual ~AbstractDomain();

  /// Copies nothing: domains of different classes cannot be assigned to each other.
  AbstractDomain& operator=(const AbstractDomain&) { return *this; }

  // ---- kind ----
  virtual bool isEnumerated() const = 0;
  bool isInterval() const { return !isEnumerated(); }
  virtual bool isBool() const { return false; }
  /// False for domains of symbols or objects, whose values are keys or addresses.
  virtual bool isNumeric() const { return true; }
  bool isSymbolic() const { return !isNumeric(); }
  /// "float", "int", "bool", or the type name given to an enumerated domain.
  const LabelStr& getTypeName() const { return m_typeName; }
  /// True when the values can be listed (closed enumerations, bounded integer intervals, singletons).
  virtual bool isFinite() const = 0;
  /// Smallest distinguishable difference between two values: 1 for integers.
  virtual double minDelta() const = 0;

  // ---- open / closed ----
  /// An open enumerated domain may still receive values; it is neither empty nor a singleton.
  bool isOpen() const { return !m_closed; }
  bool isClosed() const { return m_closed; }
  /// Reports CLOSED / OPENED when the state changes.
  virtual void close();
  virtual void open();

  // ---- content ----
  virtual bool isEmpty() const = 0;
  virtual bool isSingleton() const = 0;
  /// Requires a singleton.
  virtual double getSingletonValue() const = 0;
  virtual double getLowerBound() const = 0;
  virtual double getUpperBound() const = 0;
  /// Both bounds at once; answers false (bounds untouched) when the domain is empty.
  bool getBounds(double& lb, double& ub) const;
  /// Number of values; requires isFinite().
  virtual unsigned int getSize() const = 0;
  virtual bool isMember(double value) const = 0;
  /// Appends every value in ascending order; requires isFinite().
  virtual void getValues(std::list<double>& results) const = 0;

  // ---- changes (reported to the listener) ----
  /// Removes every value (EMPTIED); an interval keeps its bounds.
  virtual void empty() = 0;
  /// Narrows to one value (SET_TO_SINGLETON), or empties when the value is not a member.
  virtual void set(double value) = 0;
  /// Narrows to the values also in dom; true when this domain changed.
  virtual bool intersect(const AbstractDomain& dom) = 0;
  /// Narrows to the values within [lb, ub]; true when this domain changed.
  virtual bool intersect(double lb, double ub) = 0;
  /// Narrows both domains to their common values; true when either changed.
  bool equate(AbstractDomain& dom);
  /// Removes a value (an interval can drop only a bound of an integer range, or its only value).
  virtual void remove(double value) = 0;
  /// Adds a value (RELAXED when the domain is closed and grows).
  virtual void insert(double value) = 0;
  /// Widens to the values of dom (RELAXED); true when this domain changed.
  virtual bool relax(const AbstractDomain& dom) = 0;
  /// Widens to the single value (RELAXED); true when this domain changed.
  virtual bool relax(double value) = 0;
  /// Becomes exactly the values of dom, narrower or wider (RESET when changed).
  virtual void reset(const AbstractDomain& dom) = 0;

  // ---- comparisons ----
  virtual bool isSubsetOf(const AbstractDomain& dom) const = 0;
  virtual bool intersects(const AbstractDomain& dom) const = 0;
  /// Same values and same open/closed state.
  virtual bool operator==(const AbstractDomain& dom) const = 0;
  bool operator!=(const AbstractDomain& dom) const { return !(*this == dom); }

  /// A new domain of the same class and value, owned by the caller; it has no listener.
  virtual AbstractDomain* copy() const = 0;
  virtual std::string toString() const = 0;
  /// The text of one value of this domain: a number, a label, or an object address.
  virtual std::string toString(double value) const;

  // ---- listener ----
  void setListener(DomainListener* listener) { m_listener = listener; }
  DomainListener* getListener() const { return m_listener; }

protected:
  AbstractDomain(bool closed, const LabelStr& typeName);
  /// Copies the state and type name, never the listener.
  AbstractDomain(const AbstractDomain& org);

  void notifyChange(const DomainListener::ChangeType& changeType) {
    if (m_listener != 0)
      m_listener->notifyChange(changeType);
  }
  /// Clamps a value into [-g_infiniteTime(), g_infiniteTime()]; NaN is an error.
  static double clamp(double value);

  bool m_closed;
  LabelStr m_typeName;
  DomainListener* m_listener;
};

std::ostream& operator<<(std::ostream& os, const AbstractDomain& dom);

} // namespace KORVAN

#endif
