#ifndef KORVAN_CE_INTERVALDOMAIN_HH
#define KORVAN_CE_INTERVALDOMAIN_HH

#include "ConstraintEngine/base/AbstractDomain.hh"

namespace KORVAN {

/// A closed interval of reals [lb, ub], type name "float". Without bounds it is unbounded
/// (minus to plus g_infiniteTime()).
class IntervalDomain : public AbstractDomain {
public:
  IntervalDomain();
  explicit IntervalDomain(const LabelStr& typeName);
  IntervalDomain(double lb, double ub);
  IntervalDomain(double lb, double ub, const LabelStr& typeName);
  /// The singleton [value, value].
  explicit IntervalDomain(double value);
  IntervalDomain(const IntervalDomain& org);
  virtual ~IntervalDomain();

  /// Copies both bounds (and emptiness); reports nothing.
  IntervalDomain& operator=(const IntervalDomain& org);

  static const LabelStr& getDefaultTypeName();

  bool isEnumerated() const override { return false; }
  bool isFinite() const override;
  double minDelta() const override;

  bool isEmpty() const override { return m_empty; }
  bool isSingleton() const override { return !m_empty && m_lb == m_ub; }
  double getSingletonValue() const override;
  double getLowerBound() const override { return m_lb; }
  double getUpperBound() const override { return m_ub; }
  unsigned int getSize() const override;
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
  /// Integer domains round bounds inward; real domains keep them.
  virtual double roundLower(double lb) const { return lb; }
  virtual double roundUpper(double ub) const { return ub; }
  virtual bool isValueOfType(double) const { return true; }
  /// Sets the bounds without reporting; empties when lb > ub (keeping the old bounds).
  void assign(double lb, double ub);
  /// Takes dom's bounds, or its emptiness, without reporting; true when anything differs.
  bool assignFrom(const AbstractDomain& dom);

  double m_lb;
  double m_ub;
  bool m_empty;
};

} // namespace KORVAN

#endif
