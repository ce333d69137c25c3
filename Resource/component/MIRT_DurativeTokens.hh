#ifndef KORVAN_MIRT_DURATIVETOKENS_HH
#define KORVAN_MIRT_DURATIVETOKENS_HH

#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/IntervalToken.hh"

namespace KORVAN {
namespace MIRT {

// A token of a reusable resource: it holds the value of its "quantity"
// variable from its start to its end. Built open; with `activate` its state
// can only ever be active and closing it activates it.
class ReusableToken : public IntervalToken {
public:
  ReusableToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                const IntervalIntDomain& durationBaseDomain, const IntervalDomain& quantityBaseDomain,
                const LabelStr& objectName, bool closed, bool activate);
  ReusableToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                const IntervalIntDomain& durationBaseDomain, const LabelStr& objectName, bool closed,
                bool activate);
  ReusableToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                bool isFact, const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                const IntervalIntDomain& durationBaseDomain, const IntervalDomain& quantityBaseDomain,
                const LabelStr& objectName, bool closed, bool activate);
  ReusableToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                bool isFact, const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                const IntervalIntDomain& durationBaseDomain, const LabelStr& objectName, bool closed,
                bool activate);
  ReusableToken(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
                const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                const IntervalIntDomain& durationBaseDomain, const IntervalDomain& quantityBaseDomain,
                const LabelStr& objectName, bool closed, bool activate);
  ReusableToken(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
                const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                const IntervalIntDomain& durationBaseDomain, const LabelStr& objectName, bool closed,
                bool activate);
  virtual ~ReusableToken();

  void close() override;

  const ConstrainedVariableId& getQuantity() const { return m_quantity; }

protected:
  void commonInit(bool closed, bool activate, const IntervalDomain& quantityBaseDomain);

  ConstrainedVariableId m_quantity;
  bool m_activate;
};

// A reusable token that always holds exactly 1.
class UnaryToken : public ReusableToken {
public:
  UnaryToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
             const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
             const IntervalIntDomain& durationBaseDomain, const LabelStr& objectName, bool closed,
             bool activate);
  UnaryToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable, bool isFact,
             const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
             const IntervalIntDomain& durationBaseDomain, const LabelStr& objectName, bool closed,
             bool activate);
  UnaryToken(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
             const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
             const IntervalIntDomain& durationBaseDomain, const LabelStr& objectName, bool closed,
             bool activate);
  virtual ~UnaryToken();
};

}
}

#endif
