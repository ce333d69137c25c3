#ifndef KORVAN_RESOURCE_TRANSACTION_HH
#define KORVAN_RESOURCE_TRANSACTION_HH

// A change token of the instant-based resource model: an event token that
// changes the level of a resource by a signed quantity at one time (positive
// produces, negative consumes). Besides its time and object it carries the
// parameter "quantity" and the rate-limit constraint
// "ResourceTransactionRelation" over (object, time, quantity).

#include <ostream>

#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/EventToken.hh"
#include "Utils/base/Id.hh"

namespace KORVAN {

class Resource;
class Transaction;
typedef Id<Resource> ResourceId;
typedef Id<Transaction> TransactionId;
typedef Id<ConstrainedVariable> ResVarId;

class Transaction : public EventToken {
public:
  // A slave of `master`. Closed once, by this class, when `closed`.
  Transaction(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
              const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName, bool closed);
  // A master token; never rejectable, whatever `rejectable` says.
  Transaction(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable, bool isFact,
              const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName, bool closed);
  // A master token on any resource, its quantity within [min, max].
  Transaction(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
              const IntervalIntDomain& timeBaseDomain, double min, double max, bool closed);
  virtual ~Transaction();

  // A change token is active from the moment it is closed.
  void close() override;

  int getEarliest() const;
  int getLatest() const;
  double getMin() const;
  double getMax() const;
  // These narrow the base domains.
  void setEarliest(int e);
  void setLatest(int l);
  void setMin(double m);
  void setMax(double m);

  // The resource named by a singleton object variable, else the empty handle.
  ResourceId getResource() const;

  // "RESOURCE: name[min, max, earliest, latest]".
  void print(std::ostream& os) const;

protected:
  void commonInit(bool closed);

  // The "quantity" variable.
  ResVarId m_usage;

private:
  bool isValid() const;
};

}

#endif
