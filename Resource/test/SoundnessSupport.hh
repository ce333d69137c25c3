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

// The instants of a profile by time, as its iterator shows them.
std::map<int, InstantId> instantsOf(const Id<Profile>& p);

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

// The tokens' violation marks against the instants': a token is marked
// violated only when an instant holding one of its transactions is, and a
// violated instant that holds both a consumer and a producer (one of them is
// on the problem's side) has some token marked. With violations allowed only.
template <class R>
std::string checkViolationRecord(R* r) {
  if (!r->getPlanDatabase()->getConstraintEngine()->getAllowViolations())
    return "";
  std::map<TransactionId, bool> marked;
  for (const auto& entry : r->m_transactionsToTokens)
    marked[entry.first] = r->getRTRConstraint(entry.second)->getViolation() > 0.0;
  return checkViolationRecord(r->getProfile(), marked);
}
std::string checkViolationRecord(const Id<Profile>& profile, const std::map<TransactionId, bool>& marked);

template <class R>
std::string checkMarks(R* r) {
  std::string problem = checkAgainstFreshWalk(r, transactionsOf(r), r->muted);
  return problem.empty() ? checkViolationRecord(r) : problem;
}

}
}

#endif
