#ifndef KORVAN_CE_BOOLDOMAIN_HH
#define KORVAN_CE_BOOLDOMAIN_HH

#include "ConstraintEngine/base/EnumeratedDomain.hh"

namespace KORVAN {

/// The values false (0) and true (1), type name "bool".
class BoolDomain : public EnumeratedDomain {
public:
  BoolDomain();
  explicit BoolDomain(bool value);
  BoolDomain(const BoolDomain& org);
  virtual ~BoolDomain();

  static const LabelStr& getDefaultTypeName();

  bool isBool() const override { return true; }
  bool isFalse() const { return isSingleton() && getSingletonValue() == 0.0; }
  bool isTrue() const { return isSingleton() && getSingletonValue() == 1.0; }
  void insert(double value) override;
  AbstractDomain* copy() const override;
  std::string toString(double value) const override;
  using EnumeratedDomain::toString;
};

} // namespace KORVAN

#endif
