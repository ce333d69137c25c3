#ifndef KORVAN_MIRT_REUSABLE_HH
#define KORVAN_MIRT_REUSABLE_HH

#include "Resource/base/MIRT_Resource.hh"

#include <map>
#include <utility>

namespace KORVAN {
namespace MIRT {

// A resource whose tokens hold a quantity over an interval and give it back:
// each token becomes a consumption at its start and a production of the same
// quantity variable at its end. Its upper limit is its initial capacity, and
// its production limits are its consumption limits.
class Reusable : public Resource {
public:
  Reusable(const ObjectId& parent, const LabelStr& type, const LabelStr& localName, bool open);
  Reusable(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open);
  Reusable(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
           const LabelStr& detectorName, const LabelStr& profileName,
           double initCapacityLb, double initCapacityUb, double lowerLimit,
           double maxInstConsumption, double maxConsumption);
  virtual ~Reusable();

  bool givesBack() const override { return true; }

  using Resource::getOrderingChoices;
  void getOrderingChoices(const TokenId& token, std::vector<std::pair<TokenId, TokenId>>& results,
                          unsigned int limit = ~0u) override;

private:
  void addToProfile(const TokenId& tok) override;
  void removeFromProfile(const TokenId& tok) override;

  // Per token: the consumption at its start, the production at its end.
  std::map<TokenId, std::pair<TransactionId, TransactionId>> m_tokensToTransactions;
};

// A reusable resource of capacity one: level limits [0, 1], unbounded rates.
class UnaryTimeline : public Reusable {
public:
  UnaryTimeline(const ObjectId& parent, const LabelStr& type, const LabelStr& name, bool open);
  UnaryTimeline(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open);
  virtual ~UnaryTimeline();

private:
  void initUnary();
};

}
}

#endif
