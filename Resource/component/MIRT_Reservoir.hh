#ifndef KORVAN_MIRT_RESERVOIR_HH
#define KORVAN_MIRT_RESERVOIR_HH

#include "Resource/base/MIRT_Resource.hh"

#include <map>

namespace KORVAN {
namespace MIRT {

// A resource whose tokens are instantaneous: each reservoir token becomes
// one transaction at its time, a production or a consumption of its quantity.
class Reservoir : public Resource {
public:
  Reservoir(const ObjectId& parent, const LabelStr& type, const LabelStr& localName, bool open);
  Reservoir(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open);
  Reservoir(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
            const LabelStr& detectorName, const LabelStr& profileName,
            double initCapacityLb, double initCapacityUb, double lowerLimit, double upperLimit,
            double maxInstProduction, double maxInstConsumption, double maxProduction,
            double maxConsumption);
  virtual ~Reservoir();

  using Resource::getOrderingChoices;
  void getOrderingChoices(const TokenId& token, std::vector<std::pair<TokenId, TokenId>>& results,
                          unsigned int limit = ~0u) override;

private:
  void addToProfile(const TokenId& tok) override;
  void removeFromProfile(const TokenId& tok) override;

  std::map<TokenId, TransactionId> m_tokensToTransactions;
};

}
}

#endif
