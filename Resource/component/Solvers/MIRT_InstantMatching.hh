#ifndef KORVAN_MIRT_INSTANTMATCHING_HH
#define KORVAN_MIRT_INSTANTMATCHING_HH

#include "Resource/base/MIRT_Instant.hh"
#include "Solvers/base/MatchingEngine.hh"

#include <vector>

namespace KORVAN {
namespace SOLVERS {

// Finds the rules for a profile instant by the object type of its resource
// (and every type the schema lists with it). Registered under "MIRT_Instant".
class InstantMatchFinder : public MatchFinder {
public:
  InstantMatchFinder() {}
  ~InstantMatchFinder() override {}

  void getMatches(const MatchingEngineId& engine, const EntityId& entity,
                  std::vector<MatchingRuleId>& results) override;
  /// An instant matches by its resource's type only.
  bool carries(const std::string& filter) const override { return filter == "class"; }
};

template <>
void MatchingEngine::getMatchesInternal<MIRT::InstantId>(const MIRT::InstantId& inst,
                                                         std::vector<MatchingRuleId>& results);

}
}

#endif
