#include "Solvers/base/RefutedSets.hh"

#include "Utils/base/Error.hh"

namespace KORVAN {
namespace SOLVERS {

int RefutedSets::intern(const std::string& signature) {
  std::pair<std::unordered_map<std::string, int>::iterator, bool> added =
      m_numbers.insert(std::make_pair(signature, (int)m_numbers.size()));
  if (added.second) {
    m_roots.push_back(-1);
    m_count.push_back(0);
  }
  return added.first->second;
}

int RefutedSets::newNode(int decision) {
  m_nodes.push_back(Node{decision, -1, -1, false});
  return (int)m_nodes.size() - 1;
}

int RefutedSets::child(int node, int decision, bool make) {
  for (int c = m_nodes[node].firstChild; c >= 0; c = m_nodes[c].nextSibling)
    if (m_nodes[c].decision == decision)
      return c;
  if (!make)
    return -1;
  const int c = newNode(decision);
  m_nodes[c].nextSibling = m_nodes[node].firstChild;
  m_nodes[node].firstChild = c;
  return c;
}

bool RefutedSets::add(const std::vector<int>& set) {
  if (set.empty())
    return false;
  for (int d : set)
    check_error(d >= 0 && d < (int)m_roots.size(), "Refuted set with an unknown decision.");
  // Under its first decision's trie the set is there iff its rest ends at a marked node.
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (i > 0 && set[i] == set[i - 1])
      continue;
    if (m_roots[set[i]] < 0)
      m_roots[set[i]] = newNode(set[i]);
    int node = m_roots[set[i]];
    for (std::size_t j = 0; j < set.size(); ++j)
      if (j != i)
        node = child(node, set[j], true);
    if (m_nodes[node].end) {
      check_error(i == 0, "Refuted set filed under some of its decisions only.");
      return false;
    }
    m_nodes[node].end = true;
  }
  ++m_size;
  return true;
}

bool RefutedSets::holdsOneWith(const std::vector<int>& state, int latest) {
  if (latest < 0 || latest >= (int)m_roots.size() || m_roots[latest] < 0)
    return false;
  for (int d : state)
    ++m_count[d];
  bool found = false;
  // The root stands for one copy of the latest decision.
  if (m_count[latest] > 0) {
    --m_count[latest];
    m_walk.clear();
    m_walk.push_back(Visit{m_roots[latest], 0});
    found = m_nodes[m_roots[latest]].end;
    while (!found && !m_walk.empty()) {
      const Visit at = m_walk.back();
      m_walk.pop_back();
      const int from = at.node == m_roots[latest] ? -1 : m_nodes[at.node].decision;
      for (int c = m_nodes[at.node].firstChild; c >= 0; c = m_nodes[c].nextSibling) {
        const int d = m_nodes[c].decision;
        const int run = d == from ? at.run + 1 : 1;
        if (m_count[d] < run)
          continue;
        if (m_nodes[c].end) {
          found = true;
          break;
        }
        m_walk.push_back(Visit{c, run});
      }
    }
    ++m_count[latest];
  }
  for (int d : state)
    --m_count[d];
  return found;
}

void RefutedSets::clear() {
  m_numbers.clear();
  m_nodes.clear();
  m_roots.clear();
  m_count.clear();
  m_walk.clear();
  m_size = 0;
}

} // namespace SOLVERS
} // namespace KORVAN
