#ifndef KORVAN_SOLVERS_REFUTEDSETS_HH
#define KORVAN_SOLVERS_REFUTEDSETS_HH

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace KORVAN {
namespace SOLVERS {

/// Sets of decisions whose whole subtree failed, kept for the one question the search asks: does
/// a set of decisions hold every decision of a refuted set that has a given decision?
///
/// Decisions are small numbers (intern). Sets are sorted sequences of them; a decision may repeat
/// and then counts as often as it appears. Each set is filed once under each decision it has, in
/// a trie of the rest of the set, so that a look-up walks only the prefixes that the asked set
/// holds rather than every set with the decision.
class RefutedSets {
public:
  RefutedSets() : m_size(0) {}

  /// The number of a decision's signature: the same for the same text, from 0 up.
  int intern(const std::string& signature);

  /// Files a set (ascending). False when the set was filed already.
  bool add(const std::vector<int>& set);

  /// Whether `state` (ascending) holds a filed set that has `latest`.
  bool holdsOneWith(const std::vector<int>& state, int latest);

  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  void clear();

private:
  struct Node {
    int decision;
    int firstChild;
    int nextSibling;
    bool end;  // a filed set ends here
  };
  int child(int node, int decision, bool make);
  int newNode(int decision);

  std::unordered_map<std::string, int> m_numbers;
  std::vector<Node> m_nodes;
  std::vector<int> m_roots;  // by decision: the trie of the sets that have it, or -1
  std::size_t m_size;
  // Scratch of a look-up: copies of each decision in the asked set, and the walk.
  std::vector<int> m_count;
  struct Visit {
    int node;
    int run;  // copies of the node's decision on its path
  };
  std::vector<Visit> m_walk;
};

} // namespace SOLVERS
} // namespace KORVAN

#endif
