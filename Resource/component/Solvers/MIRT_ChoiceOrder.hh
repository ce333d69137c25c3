#ifndef KORVAN_MIRT_CHOICEORDER_HH
#define KORVAN_MIRT_CHOICEORDER_HH

#include "Resource/base/MIRT_Transaction.hh"
#include "Resource/component/Solvers/MIRT_ComparatorChain.hh"

#include <list>
#include <string>
#include <utility>
#include <vector>

namespace KORVAN {
namespace MIRT {

// An ordering choice: (predecessor, successor).
typedef std::pair<TransactionId, TransactionId> OrderingChoice;

// One criterion of the order in which a threat decision point tries its
// choices: true when a is to be tried before b.
class ChoiceComparator {
public:
  virtual ~ChoiceComparator() {}
  virtual bool operator()(const OrderingChoice& a, const OrderingChoice& b) const;
  virtual std::string toString() const;
  virtual ChoiceComparator* copy() const = 0;
  static const char* debugMarker() { return "ThreatDecisionPoint:sort"; }
  // A value whose ascending order is this comparator's order: (*this)(a, b) exactly when
  // a's value is below b's. False when there is none, so that choices are compared one by one.
  virtual bool rank(const OrderingChoice& choice, double& value) const;
};

// A criterion on single transactions, applied to one side of two choices by a SwitchComparator.
class TransactionComparator {
public:
  virtual ~TransactionComparator() {}
  virtual bool operator()(const TransactionId& a, const TransactionId& b) const = 0;
  virtual std::string toString() const = 0;
  virtual TransactionComparator* copy() const = 0;
  // As ChoiceComparator::rank, for one transaction.
  virtual bool rank(const TransactionId& t, double& value) const;
};

// Applies a transaction comparator to the predecessors (or the successors) of two choices.
class SwitchComparator : public ChoiceComparator {
public:
  // Takes ownership of cmp.
  SwitchComparator(TransactionComparator* cmp, bool predecessor);
  ~SwitchComparator() override;
  bool operator()(const OrderingChoice& a, const OrderingChoice& b) const override;
  std::string toString() const override;
  ChoiceComparator* copy() const override;
  bool rank(const OrderingChoice& choice, double& value) const override;

private:
  SwitchComparator(const SwitchComparator&) = delete;
  SwitchComparator& operator=(const SwitchComparator&) = delete;

  TransactionComparator* m_cmp;
  bool m_predecessor;
};

// Prefers the choice that moves the predecessor's time window least: the
// larger of how far its lower and its upper bound lie after the successor's.
class LeastImpactComparator : public ChoiceComparator {
public:
  bool operator()(const OrderingChoice& a, const OrderingChoice& b) const override;
  std::string toString() const override;
  ChoiceComparator* copy() const override;
  bool rank(const OrderingChoice& choice, double& value) const override;
  // x clamped at zero from below.
  double pseudoAbs(double x) const;
  double score(const OrderingChoice& choice) const;
};

class EarliestTransactionComparator : public TransactionComparator {
public:
  bool operator()(const TransactionId& a, const TransactionId& b) const override;
  std::string toString() const override;
  TransactionComparator* copy() const override;
  bool rank(const TransactionId& t, double& value) const override;
};

class LatestTransactionComparator : public TransactionComparator {
public:
  bool operator()(const TransactionId& a, const TransactionId& b) const override;
  std::string toString() const override;
  TransactionComparator* copy() const override;
  bool rank(const TransactionId& t, double& value) const override;
};

class LongestTransactionComparator : public TransactionComparator {
public:
  bool operator()(const TransactionId& a, const TransactionId& b) const override;
  std::string toString() const override;
  TransactionComparator* copy() const override;
  bool rank(const TransactionId& t, double& value) const override;
};

class ShortestTransactionComparator : public TransactionComparator {
public:
  bool operator()(const TransactionId& a, const TransactionId& b) const override;
  std::string toString() const override;
  TransactionComparator* copy() const override;
  bool rank(const TransactionId& t, double& value) const override;
};

// By the entity key of the transactions' time variables.
class AscendingKeyTransactionComparator : public TransactionComparator {
public:
  bool operator()(const TransactionId& a, const TransactionId& b) const override;
  std::string toString() const override;
  TransactionComparator* copy() const override;
  bool rank(const TransactionId& t, double& value) const override;
};

class DescendingKeyTransactionComparator : public TransactionComparator {
public:
  bool operator()(const TransactionId& a, const TransactionId& b) const override;
  std::string toString() const override;
  TransactionComparator* copy() const override;
  bool rank(const TransactionId& t, double& value) const override;
};

// The order in which a threat decision point tries its choices.
class ChoiceOrder : public ComparatorChain<ChoiceComparator> {
public:
  ChoiceOrder() {}
  ChoiceOrder(const ChoiceOrder& other);
  bool operator()(const OrderingChoice& a, const OrderingChoice& b) const;

  // The choices as a std::set<OrderingChoice, ChoiceOrder> filled in their order holds them:
  // sorted, and of choices that no comparator tells apart only the first.
  void arrange(std::vector<OrderingChoice>& choices) const;
  // The same through the set, comparing two choices at a time.
  void arrangeBySet(std::vector<OrderingChoice>& choices) const;
  // True while a comparison writes debug lines: arrange compares no two choices, so only a set
  // filled beside it writes them.
  static bool comparisonsWriteLines();

private:
  // A choice's comparator values (unused ones zero) and its place among the choices.
  struct Keyed {
    static constexpr std::size_t WIDTH = 4;
    double v[WIDTH];
    std::size_t place;
  };
  static void arrangeKeyed(std::vector<OrderingChoice>& choices, const std::vector<double>& values,
                           std::size_t width);
};

}
}

#endif
