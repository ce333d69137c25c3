#ifndef KORVAN_RESOURCE_TEST_SOUNDNESSSUPPORT_HH
#define KORVAN_RESOURCE_TEST_SOUNDNESSSUPPORT_HH

// Checks of a live resource against what its transactions' current domains
// and a recomputation from scratch say: each returns "" when all is well and
// a description of the first difference otherwise.

#include "Resource/test/ResourceTestSupport.hh"

#include <string>
#include <vector>

namespace KORVAN {
namespace MIRT {

// Reaches what a profile keeps to itself.
class ProfileInspector {
public:
  static const std::map<int, InstantId>& instants(const Id<Profile>& p) { return p->m_instants; }
};

template <class R>
std::vector<TransactionId> transactionsOf(R* r) {
  std::vector<TransactionId> result;
  for (const auto& entry : r->m_transactionsToTokens)
    result.push_back(entry.first);
  return result;
}

std::vector<int> instantTimes(Resource* r);

// Instants exactly at the distinct bounds of the live transactions, each
// holding exactly those whose domain covers it, with the right starting,
// ending and overlapping sets. Transactions with an emptied domain are
// skipped, and then only the others' filing is checked.
std::string checkFiling(const Id<Profile>& profile, const std::vector<TransactionId>& live);
template <class R>
std::string checkFiling(R* r) {
  return checkFiling(r->getProfile(), transactionsOf(r));
}

// A fresh profile of the given kind with a fresh detector of the given kind
// over the same transactions, walked once from scratch, while the resource
// hears nothing of it: its levels, totals and marks against the live
// profile's. Violations allowed or not, the live walk stops where the fresh
// one does.
std::string checkAgainstFreshWalk(Resource* r, const std::vector<TransactionId>& live, bool& muted);

template <class R>
std::string checkMarks(R* r) {
  return checkAgainstFreshWalk(r, transactionsOf(r), r->muted);
}

}
}

#endif
