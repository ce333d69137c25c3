#ifndef KORVAN_CE_INTERVALINTDOMAIN_HH
#define KORVAN_CE_INTERVALINTDOMAIN_HH

#include "ConstraintEngine/base/IntervalDomain.hh"

namespace KORVAN {

/// A closed interval of integers, type name "int". Bounds given as reals are rounded inward.
class IntervalIntDomain : public IntervalDomain {
public:
  IntervalIntDomain();
  explicit IntervalIntDomain(const LabelStr& typeName);
  IntervalIntDomain(double lb, double ub);
  IntervalIntDomain(double lb, double ub, const LabelStr& typeName);
  explicit IntervalIntDomain(double value);
  IntervalIntDomain(const IntervalIntDomain& org);
  virtual ~IntervalIntDomain();

  IntervalIntDomain& operator=(const IntervalIntDomain& org) {
    IntervalDomain::operator=(org);
    return *this;
  }

  static const LabelStr& getDefaultTypeName();

  bool isFinite() const override;
  double minDelta() const override { return 1.0; }
  AbstractDomain* copy() const override;

protected:
  double roundLower(double lb) const override;
  double roundUpper(double ub) const override;
  bool isValueOfType(double value) const override;
};

} // namespace KORVAN

#endif
