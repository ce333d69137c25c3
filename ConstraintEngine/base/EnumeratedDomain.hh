#ifndef KORVAN_CE_ENUMERATEDDOMAIN_HH
#define KORVAN_CE_ENUMERATEDDOMAIN_HH

#include <set>

#include "ConstraintEngine/base/AbstractDomain.hh"

namespace KORVAN {

/// An explicit set of values. Numeric enumerations hold numbers; symbolic ones hold label keys or
/// object addresses (subclasses such as object and state domains give their own type name and
/// value texts). A domain built without values is open until close().
class EnumeratedDomain : public AbstractDomain {
public:
  /// Open and without values.
  explicit EnumeratedDomain(const LabelStr& typeName = getDefaultTypeName(), bool isNumeric = true);
  EnumeratedDomain(const std::list<double>& values, bool closed = true,
                   const LabelStr& typeName = getDefaultTypeName(), bool isNumeric = true);
  /// Closed, holding one value.
  EnumeratedDomain(double value, const LabelStr& typeName = getDefaultTypeName(), bool isNumeric = true);
  EnumeratedDomain(const EnumeratedDomain& org);
  virtual ~EnumeratedDomain();

  static const LabelStr& getDefaultTypeName();

  const std::set<double>& getValueSet() const { return m_values; }

  bool isEnumerated() const override { return true; }
  bool isNumeric() const override { return m_isNumeric; }
  bool isFinite() const override { return isClosed(); }
  double minDelta() const override;

  bool isEmpty() const override { return isClosed() && m_values.empty(); }
  bool isSingleton() const override { return isClosed() && m_values.size() == 1; }
  double getSingletonValue() const override;
  double getLowerBound() const override;
  double getUpperBound() const override;
  unsigned int getSize() const override { return static_cast<unsigned int>(m_values.size()); }
  bool isMember(double value) const override;
  void getValues(std::list<double>& results) const override;

  void empty() override;
  void set(double value) override;
  bool intersect(const AbstractDomain& dom) override;
  bool intersect(double lb, double ub) override;
  void remove(double value) override;
  void insert(double value) override;
  bool relax(const AbstractDomain& dom) override;
  bool relax(double value) override;
  void reset(const AbstractDomain& dom) override;

  bool isSubsetOf(const AbstractDomain& dom) const override;
  bool intersects(const AbstractDomain& dom) const override;
  bool operator==(const AbstractDomain& dom) const override;

  AbstractDomain* copy() const override;
  std::string toString() const override;
  using AbstractDomain::toString;

protected:
  /// Reports the kind of a narrowing that left `m_values` as it is now.
  void notifyNarrowed();
  /// Replaces the values with those of dom (no report); true when they differ.
  bool assignFrom(const AbstractDomain& dom);
  /// Drops every value keep refuses and reports the narrowing; true when any went.
  template <class Keep>
  bool keepOnly(Keep keep);

  std::set<double> m_values;
  bool m_isNumeric;
};

} // namespace KORVAN

#endif
