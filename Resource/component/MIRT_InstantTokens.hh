#ifndef KORVAN_MIRT_INSTANTTOKENS_HH
#define KORVAN_MIRT_INSTANTTOKENS_HH

#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/EventToken.hh"

namespace KORVAN {
namespace MIRT {

// A token of a reservoir: at one time point it produces or consumes the value
// of its "quantity" variable. Its token-to-resource constraint hands it to
// the reservoir once it is active on one. Built open; with `activate` its
// state can only ever be active and closing it activates it.
class ReservoirToken : public EventToken {
public:
  ReservoirToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                 const IntervalIntDomain& timeBaseDomain, const IntervalDomain& quantityBaseDomain,
                 bool isConsumer, bool closed, bool activate);
  ReservoirToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                 bool isFact, const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName,
                 bool isConsumer, bool closed, bool activate);
  ReservoirToken(const TokenId& parent, const LabelStr& relation, const LabelStr& predicateName,
                 const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName, bool isConsumer,
                 bool closed, bool activate);
  virtual ~ReservoirToken();

  void close() override;

  const ConstrainedVariableId& getQuantity() const { return m_quantity; }
  bool isConsumer() const { return m_isConsumer; }

protected:
  void commonInit(bool closed, bool activate, const IntervalDomain& quantityBaseDomain);

  ConstrainedVariableId m_quantity;
  bool m_isConsumer;

private:
  bool m_activate;
};

class ProducerToken : public ReservoirToken {
public:
  ProducerToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                bool isFact, const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName,
                bool closed, bool activate);
  ProducerToken(const TokenId& parent, const LabelStr& relation, const LabelStr& predicateName,
                const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName, bool closed,
                bool activate);
  virtual ~ProducerToken();
};

class ConsumerToken : public ReservoirToken {
public:
  ConsumerToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                bool isFact, const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName,
                bool closed, bool activate);
  ConsumerToken(const TokenId& parent, const LabelStr& relation, const LabelStr& predicateName,
                const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName, bool closed,
                bool activate);
  virtual ~ConsumerToken();
};

namespace TokenSupport {
// Restricts the state to active (when asked), adds the "quantity" variable
// and the token-to-resource constraint; shared by both token families.
void initResourceToken(Token& token, bool activate, const IntervalDomain& quantityBaseDomain,
                       ConstrainedVariableId& quantity);
// Quantities lie between 0 and plus infinity. Called in the base initialiser, before the token
// registers with the plan database; gives back the plan database.
const PlanDatabaseId& checkQuantityBaseDomain(const PlanDatabaseId& planDatabase,
                                              const IntervalDomain& quantityBaseDomain);
}

}
}

#endif
