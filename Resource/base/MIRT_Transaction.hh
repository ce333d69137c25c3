#ifndef KORVAN_MIRT_TRANSACTION_HH
#define KORVAN_MIRT_TRANSACTION_HH

#include "Utils/base/Id.hh"

#include <string>

namespace KORVAN {

class ConstrainedVariable;

namespace MIRT {

class Transaction;
typedef Id<Transaction> TransactionId;

// One change of a resource's level: a quantity produced or consumed at a
// time. Owned by whoever made it (a resource for a token, a flow profile for
// its placeholders); everybody else holds only TransactionId copies.
class Transaction {
public:
  Transaction(Id<ConstrainedVariable> time, Id<ConstrainedVariable> quantity, bool isConsumer);
  ~Transaction();

  Id<ConstrainedVariable> time() const { return m_time; }
  Id<ConstrainedVariable> quantity() const { return m_quantity; }
  bool isConsumer() const { return m_isConsumer; }
  TransactionId getId() const { return m_id; }

  // "{(token=K) time=[lb ub],quantity=-[lb ub]}"
  std::string toString() const;

private:
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  TransactionId m_id;
  Id<ConstrainedVariable> m_time;
  Id<ConstrainedVariable> m_quantity;
  bool m_isConsumer;
};

}
}

#endif
