#ifndef KORVAN_PLANDATABASE_STATEDOMAIN_HH
#define KORVAN_PLANDATABASE_STATEDOMAIN_HH

#include "ConstraintEngine/base/EnumeratedDomain.hh"

namespace KORVAN {

/// Domain of a token's state variable: label keys of "ACTIVE", "MERGED", "REJECTED".
/// Built closed, so that values inserted afterwards make a closed set that can narrow others.
class StateDomain : public EnumeratedDomain {
public:
  /// Closed and empty; insert the states wanted.
  explicit StateDomain(const LabelStr& typeName = getDefaultTypeName());
  StateDomain(const std::list<double>& values, const LabelStr& typeName = getDefaultTypeName());
  StateDomain(const StateDomain& org);
  ~StateDomain() override;

  /// "States".
  static const LabelStr& getDefaultTypeName();

  AbstractDomain* copy() const override;
  std::string toString(double value) const override;
  std::string toString() const override { return EnumeratedDomain::toString(); }
};

} // namespace KORVAN

#endif
