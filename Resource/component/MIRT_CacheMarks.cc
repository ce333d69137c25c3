#include "Resource/component/MIRT_CacheMarks.hh"
#include "Resource/component/MIRT_Node.hh"
#include "TemporalNetwork/TemporalNetwork.hh"

namespace KORVAN {
namespace MIRT {

CacheMarks::Network::Network()
  : m_count(0), m_clearedBy(0), m_clearedAt(0), m_arraysBy(0), m_arraysAt(0), m_arraysPatched(false),
    m_flowHeld(false), m_heldAt(0), m_flowStale(false) {}

void CacheMarks::Network::clearTouched(const void* by) {
  for (Node* node : m_touched)
    node->clearTouched();
  m_touched.clear();
  m_clearedBy = by;
  m_clearedAt = by != 0 ? m_count : 0;
}

void CacheMarks::Network::arraysBuilt(const void* by, bool patched) {
  clearTouched(by);
  m_arraysBy = by;
  m_arraysAt = m_count;
  m_arraysPatched = patched;
}

void CacheMarks::Network::networkStartedOver() {
  m_arraysBy = 0;
  m_arraysAt = 0;
  m_arraysPatched = false;
  m_flowHeld = false;
  m_heldAt = 0;
  m_flowStale = false;
}

CacheMarks::Orderings::Orderings()
  : m_version(0), m_loosenings(0), m_tightenings(0), m_arcs(0), m_innerChanges(0), m_moved(0), m_removals(0),
    m_marked(false), m_recheck(false) {}

bool CacheMarks::Orderings::changedSince(const TemporalNetwork& network) const {
  return network.getVersion() != m_version || m_recheck;
}

bool CacheMarks::Orderings::loosenedSince(const TemporalNetwork& network) const {
  return network.getLoosenings() != m_loosenings;
}

bool CacheMarks::Orderings::tightenedSince(const TemporalNetwork& network) const {
  return network.getTightenings() != m_tightenings;
}

bool CacheMarks::Orderings::innerUnchangedSince(const TemporalNetwork& network) const {
  return network.getInnerChanges() == m_innerChanges;
}

bool CacheMarks::Orderings::pointsLeftSince(const TemporalNetwork& network) const {
  return !m_marked || network.getRemovals() != m_removals;
}

void CacheMarks::Orderings::checked(const TemporalNetwork& network, std::uint64_t movedCount) {
  m_removals = network.getRemovals();
  m_version = network.getVersion();
  m_loosenings = network.getLoosenings();
  m_tightenings = network.getTightenings();
  m_arcs = network.getTightenedArcCount();
  m_innerChanges = network.getInnerChanges();
  m_moved = movedCount;
  m_marked = true;
}

}
}
