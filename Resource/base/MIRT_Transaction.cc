#include "Resource/base/MIRT_Transaction.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/AbstractDomain.hh"
#include "Utils/base/Error.hh"

#include <sstream>

namespace KORVAN {
namespace MIRT {

namespace {
// The direction of a transaction is its kind; a quantity that may be
// negative would turn a consumer into a producer, which no profile bounds.
// A transaction without a quantity only names a node.
void checkQuantity(const Id<ConstrainedVariable>& quantity) {
  if (quantity.isNoId())
    return;
  const double lb = quantity->baseDomain().getLowerBound();
  checkError(lb >= 0.0, "Transaction quantity must not be negative: its lower bound is " << lb << ".");
}
}

Transaction::Transaction(Id<ConstrainedVariable> time, Id<ConstrainedVariable> quantity, bool isConsumer)
  : m_id((checkQuantity(quantity), this)), m_time(time), m_quantity(quantity), m_isConsumer(isConsumer) {}

Transaction::~Transaction() {
  m_id.remove();
}

std::string Transaction::toString() const {
  std::ostringstream str;
  str << "{(token=";
  // A time variable without a parent (a placeholder) has no token to name.
  if (m_time->parent().isNoId())
    str << "none";
  else
    str << m_time->parent()->getKey();
  str << ") time=[" << m_time->lastDomain().getLowerBound() << " "
      << m_time->lastDomain().getUpperBound() << "],quantity="
      << (m_isConsumer ? "-" : "+") << "[" << m_quantity->lastDomain().getLowerBound()
      << " " << m_quantity->lastDomain().getUpperBound() << "]}";
  return str.str();
}

}
}
