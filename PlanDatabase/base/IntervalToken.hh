#ifndef KORVAN_PLANDATABASE_INTERVALTOKEN_HH
#define KORVAN_PLANDATABASE_INTERVALTOKEN_HH

#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/Token.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {

/// A token over an interval: "start", "end" and "duration" variables, related by the standard
/// constraint "StartEndDurationRelation" (start + duration = end) of the temporal network.
/// Variables: state 0, object 1, start 2, end 3, duration 4.
class IntervalToken : public Token {
public:
  /// A master token.
  IntervalToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                bool rejectable, bool isFact,
                const IntervalIntDomain& startBaseDomain = IntervalIntDomain(),
                const IntervalIntDomain& endBaseDomain = IntervalIntDomain(),
                const IntervalIntDomain& durationBaseDomain = IntervalIntDomain(0, g_infiniteTime()),
                const LabelStr& objectName = Token::noObject(), bool closed = true);
  /// A slave of `master` under the relation.
  IntervalToken(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
                const IntervalIntDomain& startBaseDomain = IntervalIntDomain(),
                const IntervalIntDomain& endBaseDomain = IntervalIntDomain(),
                const IntervalIntDomain& durationBaseDomain = IntervalIntDomain(0, g_infiniteTime()),
                const LabelStr& objectName = Token::noObject(), bool closed = true);
  ~IntervalToken() override;

  /// The temporal constraint over (start, duration, end): "StartEndDurationRelation".
  static const LabelStr& DURATION_RELATION() {
    static const LabelStr sl_name("StartEndDurationRelation");
    return sl_name;
  }

private:
  void commonInit(const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                  const IntervalIntDomain& durationBaseDomain, bool closed);
};

} // namespace KORVAN

#endif
