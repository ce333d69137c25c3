#include "Resource/component/Solvers/MIRT_ChoiceOrder.hh"
#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "Resource/base/MIRT_Transaction.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <set>

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

bool ChoiceComparator::rank(const OrderingChoice&, double&) const { return false; }
bool TransactionComparator::rank(const TransactionId&, double&) const { return false; }

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

bool SwitchComparator::rank(const OrderingChoice& choice, double& value) const {
  return m_cmp->rank(m_predecessor ? choice.first : choice.second, value);
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

bool LeastImpactComparator::rank(const OrderingChoice& choice, double& value) const {
  value = score(choice);
  return true;
}

std::string LeastImpactComparator::toString() const { return "LeastImpactComparator"; }
ChoiceComparator* LeastImpactComparator::copy() const { return new LeastImpactComparator(); }

bool EarliestTransactionComparator::operator()(const TransactionId& a, const TransactionId& b) const {
  return lb(a) < lb(b);
}
std::string EarliestTransactionComparator::toString() const { return "earliest"; }
TransactionComparator* EarliestTransactionComparator::copy() const { return new EarliestTransactionComparator(); }
bool EarliestTransactionComparator::rank(const TransactionId& t, double& value) const {
  value = lb(t);
  return true;
}

bool LatestTransactionComparator::operator()(const TransactionId& a, const TransactionId& b) const {
  debugMsg("ThreatDecisionPoint:sort:latest", "Comparing " << a->toString() << " with " << b->toString());
  return ub(a) > ub(b);
}
std::string LatestTransactionComparator::toString() const { return "latest"; }
TransactionComparator* LatestTransactionComparator::copy() const { return new LatestTransactionComparator(); }
bool LatestTransactionComparator::rank(const TransactionId& t, double& value) const {
  value = -ub(t);
  return true;
}

bool LongestTransactionComparator::operator()(const TransactionId& a, const TransactionId& b) const {
  return ub(a) - lb(a) > ub(b) - lb(b);
}
std::string LongestTransactionComparator::toString() const { return "longest"; }
TransactionComparator* LongestTransactionComparator::copy() const { return new LongestTransactionComparator(); }
bool LongestTransactionComparator::rank(const TransactionId& t, double& value) const {
  value = -(ub(t) - lb(t));
  return true;
}

bool ShortestTransactionComparator::operator()(const TransactionId& a, const TransactionId& b) const {
  return ub(a) - lb(a) < ub(b) - lb(b);
}
std::string ShortestTransactionComparator::toString() const { return "shortest"; }
TransactionComparator* ShortestTransactionComparator::copy() const { return new ShortestTransactionComparator(); }
bool ShortestTransactionComparator::rank(const TransactionId& t, double& value) const {
  value = ub(t) - lb(t);
  return true;
}

bool AscendingKeyTransactionComparator::operator()(const TransactionId& a, const TransactionId& b) const {
  return key(a) < key(b);
}
std::string AscendingKeyTransactionComparator::toString() const { return "ascendingKey"; }
TransactionComparator* AscendingKeyTransactionComparator::copy() const {
  return new AscendingKeyTransactionComparator();
}
bool AscendingKeyTransactionComparator::rank(const TransactionId& t, double& value) const {
  value = key(t);
  return true;
}

bool DescendingKeyTransactionComparator::operator()(const TransactionId& a, const TransactionId& b) const {
  return key(a) > key(b);
}
std::string DescendingKeyTransactionComparator::toString() const { return "descendingKey"; }
TransactionComparator* DescendingKeyTransactionComparator::copy() const {
  return new DescendingKeyTransactionComparator();
}
bool DescendingKeyTransactionComparator::rank(const TransactionId& t, double& value) const {
  value = -key(t);
  return true;
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

void ChoiceOrder::arrangeBySet(std::vector<OrderingChoice>& choices) const {
  std::set<OrderingChoice, ChoiceOrder> sorted(*this);
  for (std::vector<OrderingChoice>::const_iterator it = choices.begin(); it != choices.end(); ++it)
    sorted.insert(*it);
  choices.assign(sorted.begin(), sorted.end());
}

// Every comparator's value read once per choice, then a stable sort: equivalent choices keep
// the order they came in, and the first of each run is the one the set would keep. The lines
// of a comparison are written only by a set.
bool ChoiceOrder::comparisonsWriteLines() {
  static DebugMessage* const sl_sites[] = {
      DebugMessage::addMsg(__FILE__, __LINE__, "ThreatDecisionPoint:sort"),
      DebugMessage::addMsg(__FILE__, __LINE__, "ThreatDecisionPoint:sort:latest"),
      DebugMessage::addMsg(__FILE__, __LINE__, "ThreatDecisionPoint:filter:leastImpact")};
  return DebugMessage::anyEnabled(sl_sites);
}

// The short chains sort the values themselves, each row beside its choice's place: the place
// as the last key makes the order total, so an unstable sort gives what the stable one did.
void ChoiceOrder::arrangeKeyed(std::vector<OrderingChoice>& choices, const std::vector<double>& values,
                               std::size_t width) {
  const std::size_t count = choices.size();
  std::vector<Keyed> rows(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::copy(values.begin() + i * width, values.begin() + (i + 1) * width, rows[i].v);
    std::fill(rows[i].v + width, rows[i].v + Keyed::WIDTH, 0.0);
    rows[i].place = i;
  }
  auto valuesBefore = [width](const Keyed& a, const Keyed& b) {
    return std::lexicographical_compare(a.v, a.v + width, b.v, b.v + width);
  };
  std::sort(rows.begin(), rows.end(), [&valuesBefore](const Keyed& a, const Keyed& b) {
    if (valuesBefore(a, b))
      return true;
    if (valuesBefore(b, a))
      return false;
    return a.place < b.place;
  });
  std::vector<OrderingChoice> arranged;
  arranged.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    if (i == 0 || valuesBefore(rows[i - 1], rows[i]))
      arranged.push_back(choices[rows[i].place]);
  choices.swap(arranged);
}

void ChoiceOrder::arrange(std::vector<OrderingChoice>& choices) const {
  const std::size_t width = m_cmps.size(), count = choices.size();
  if (width == 0) {
    arrangeBySet(choices);
    return;
  }
  std::vector<double> values(width * count);
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t k = 0;
    for (std::list<ChoiceComparator*>::const_iterator it = m_cmps.begin(); it != m_cmps.end(); ++it, ++k) {
      double& v = values[i * width + k];
      // Without a value, or with one no order holds, only the set gives what the set gives.
      if (!(*it)->rank(choices[i], v) || std::isnan(v)) {
        arrangeBySet(choices);
        return;
      }
    }
  }
  if (width <= Keyed::WIDTH) {
    arrangeKeyed(choices, values, width);
    return;
  }
  const double* base = values.data();
  auto before = [base, width](std::size_t a, std::size_t b) {
    return std::lexicographical_compare(base + a * width, base + (a + 1) * width, base + b * width,
                                        base + (b + 1) * width);
  };
  std::vector<std::size_t> order(count);
  std::iota(order.begin(), order.end(), std::size_t(0));
  std::stable_sort(order.begin(), order.end(), before);
  std::vector<OrderingChoice> arranged;
  arranged.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    if (i == 0 || before(order[i - 1], order[i]))
      arranged.push_back(choices[order[i]]);
  choices.swap(arranged);
}

}
}
