#include "Resource/component/Solvers/MIRT_ChoiceOrder.hh"
#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "Resource/base/MIRT_Transaction.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <algorithm>
#include <cstddef>

namespace KORVAN {
namespace MIRT {

namespace {

double lb(const TransactionId& t) { return t->time()->lastDomain().getLowerBound(); }
double ub(const TransactionId& t) { return t->time()->lastDomain().getUpperBound(); }
int key(const TransactionId& t) { return t->time()->getKey(); }

std::string describe(const OrderingChoice& c) {
  return "<" + c.first->toString() + ", " + c.second->toString() + ">";
}

}

bool ChoiceComparator::operator()(const OrderingChoice&, const OrderingChoice&) const {
  check_error(ALWAYS_FAIL, "This used to be a pure virtual method.");
  return false;
}

std::string ChoiceComparator::toString() const {
  check_error(ALWAYS_FAIL, "This used to be a pure virtual method.");
  return "";
}

SwitchComparator::SwitchComparator(TransactionComparator* cmp, bool predecessor)
  : m_cmp(cmp), m_predecessor(predecessor) {
  checkError(cmp != NULL, "");
}

SwitchComparator::~SwitchComparator() {
  delete m_cmp;
}

bool SwitchComparator::operator()(const OrderingChoice& a, const OrderingChoice& b) const {
  return m_predecessor ? (*m_cmp)(a.first, b.first) : (*m_cmp)(a.second, b.second);
}

std::string SwitchComparator::toString() const {
  return m_cmp->toString() + (m_predecessor ? "Predecessor" : "Successor");
}

ChoiceComparator* SwitchComparator::copy() const {
  return new SwitchComparator(m_cmp->copy(), m_predecessor);
}

double LeastImpactComparator::pseudoAbs(double x) const {
  return x >= 0.0 ? x : 0.0;
}

double LeastImpactComparator::score(const OrderingChoice& c) const {
  return std::max(pseudoAbs(lb(c.first) - lb(c.second)), pseudoAbs(ub(c.first) - ub(c.second)));
}

bool LeastImpactComparator::operator()(const OrderingChoice& a, const OrderingChoice& b) const {
  const double scoreA = score(a);
  const double scoreB = score(b);
  debugMsg("ThreatDecisionPoint:filter:leastImpact", describe(a) << " scores " << scoreA << ", "
           << describe(b) << " scores " << scoreB);
  return scoreA < scoreB;
}

std::string LeastImpactComparator::toString() const { return "LeastImpactComparator"; }
ChoiceComparator* LeastImpactComparator::copy() const { return new LeastImpactComparator(); }

bool EarliestTransactionComparator::operator()(const TransactionId& a, const TransactionId& b) const {
  return lb(a) < lb(b);
}
std::string EarliestTransactionComparator::toString() const { return "earliest"; }
TransactionComparator* EarliestTransactionComparator::copy() const { return new EarliestTransactionComparator(); }

bool LatestTransactionComparator::operator()(const TransactionId& a, const TransactionId& b) const {
  debugMsg("ThreatDecisionPoint:sort:latest", "Comparing " << a->toString() << " with " << b->toString());
  return ub(a) > ub(b);
}
std::string LatestTransactionComparator::toString() const { return "latest"; }
TransactionComparator* LatestTransactionComparator::copy() const { return new LatestTransactionComparator(); }

bool LongestTransactionComparator::operator()(const TransactionId& a, const TransactionId& b) const {
  return ub(a) - lb(a) > ub(b) - lb(b);
}
std::string LongestTransactionComparator::toString() const { return "longest"; }
TransactionComparator* LongestTransactionComparator::copy() const { return new LongestTransactionComparator(); }

bool ShortestTransactionComparator::operator()(const TransactionId& a, const TransactionId& b) const {
  return ub(a) - lb(a) < ub(b) - lb(b);
}
std::string ShortestTransactionComparator::toString() const { return "shortest"; }
TransactionComparator* ShortestTransactionComparator::copy() const { return new ShortestTransactionComparator(); }

bool AscendingKeyTransactionComparator::operator()(const TransactionId& a, const TransactionId& b) const {
  return key(a) < key(b);
}
std::string AscendingKeyTransactionComparator::toString() const { return "ascendingKey"; }
TransactionComparator* AscendingKeyTransactionComparator::copy() const {
  return new AscendingKeyTransactionComparator();
}

bool DescendingKeyTransactionComparator::operator()(const TransactionId& a, const TransactionId& b) const {
  return key(a) > key(b);
}
std::string DescendingKeyTransactionComparator::toString() const { return "descendingKey"; }
TransactionComparator* DescendingKeyTransactionComparator::copy() const {
  return new DescendingKeyTransactionComparator();
}

/*
 * ChoiceOrder
 */

ChoiceOrder::ChoiceOrder(const ChoiceOrder& other) : ComparatorChain<ChoiceComparator>(other) {
  condDebugMsg(m_cmps.empty(), "ThreatDecisionPoint:sort", "Copied an empty choice order: the copy is empty too.");
  for (std::list<ChoiceComparator*>::const_iterator it = m_cmps.begin(); it != m_cmps.end(); ++it)
    debugMsg("ThreatDecisionPoint:sort", "Copied comparator " << (*it)->toString());
}

bool ChoiceOrder::operator()(const OrderingChoice& a, const OrderingChoice& b) const {
  check_error(!m_cmps.empty(), "No comparators.");
  debugMsg("ThreatDecisionPoint:sort", "Comparing " << describe(a) << " with " << describe(b));
  bool aFirst = false;
  return decide(a, b, aFirst) != NULL && aFirst;
}

}
}
