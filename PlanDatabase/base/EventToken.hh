#ifndef KORVAN_PLANDATABASE_EVENTTOKEN_HH
#define KORVAN_PLANDATABASE_EVENTTOKEN_HH

#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/Token.hh"

namespace KORVAN {

/// A token at one time point: start and end are both its "time" variable; its "duration"
/// variable is fixed at 0. Variables: state 0, object 1, time 2, duration 3.
class EventToken : public Token {
public:
  /// A master token.
  EventToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
             bool isFact, const IntervalIntDomain& timeBaseDomain = IntervalIntDomain(),
             const LabelStr& objectName = Token::noObject(), bool closed = true);
  /// A slave of `master` under the relation.
  EventToken(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
             const IntervalIntDomain& timeBaseDomain = IntervalIntDomain(),
             const LabelStr& objectName = Token::noObject(), bool closed = true);
  ~EventToken() override;

  const TempVarId& getTime() const { return start(); }

private:
  void commonInit(const IntervalIntDomain& timeBaseDomain, bool closed);
};

} // namespace KORVAN

#endif
