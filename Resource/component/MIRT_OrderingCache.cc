#include "Resource/component/MIRT_OrderingCache.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace MIRT {

OrderingCache::OrderingCache() : m_slots(16, Slot{0, 0, UNKNOWN, SURVIVES_NOTHING}), m_size(0) {}

std::size_t OrderingCache::home(const Transaction* first, const Transaction* second) const {
  // A transaction's entries are asked one after the other, for each partner
  // it meets: they share a window of 16 slots, a few cache lines.
  std::uint64_t a = (std::uint64_t) (std::uintptr_t) first * 0x9E3779B97F4A7C15ull;
  std::uint64_t b = (std::uint64_t) (std::uintptr_t) second * 0xBF58476D1CE4E5B9ull;
  a ^= a >> 32;
  b ^= b >> 29;
  return (std::size_t) (a + (b & 15)) & (m_slots.size() - 1);
}

const OrderingCache::Order* OrderingCache::find(const Transaction* first, const Transaction* second) const {
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = home(first, second);; i = (i + 1) & mask) {
    const Slot& slot = m_slots[i];
    if (slot.first == first && slot.second == second)
      return &slot.order;
    if (slot.first == 0)
      return 0;
  }
}

OrderingCache::Slot& OrderingCache::place(Transaction* first, Transaction* second) {
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = home(first, second);; i = (i + 1) & mask) {
    Slot& slot = m_slots[i];
    if (slot.first == first && slot.second == second)
      return slot;
    if (slot.first == 0) {
      slot.first = first;
      slot.second = second;
      slot.order = UNKNOWN;
      slot.survives = SURVIVES_NOTHING;
      ++m_size;
      return slot;
    }
  }
}

void OrderingCache::grow() {
  std::vector<Slot> old(m_slots.size() * 2, Slot{0, 0, UNKNOWN, SURVIVES_NOTHING});
  old.swap(m_slots);
  m_size = 0;
  for (std::size_t i = 0; i < old.size(); ++i)
    if (old[i].first != 0)
      place(old[i].first, old[i].second) = old[i];
}

void OrderingCache::put(const Key& key, Order order, unsigned char survives) {
  // At most half full, so that probe sequences stay short.
  if (2 * (m_size + 1) > m_slots.size())
    grow();
  Slot& slot = place((Transaction*) key.first, (Transaction*) key.second);
  slot.order = order;
  slot.survives = survives;
}

void OrderingCache::forget(const Transaction* t) {
  // Reads no transaction: the others' entries are left as they are.
  std::vector<Slot> kept;
  for (std::size_t i = 0; i < m_slots.size(); ++i)
    if (m_slots[i].first != 0 && m_slots[i].first != t && m_slots[i].second != t)
      kept.push_back(m_slots[i]);
  if (kept.size() == m_size)
    return;
  std::fill(m_slots.begin(), m_slots.end(), Slot{0, 0, UNKNOWN, SURVIVES_NOTHING});
  m_size = 0;
  for (std::size_t i = 0; i < kept.size(); ++i)
    place(kept[i].first, kept[i].second) = kept[i];
}

void OrderingCache::clear() {
  if (m_size == 0)
    return;
  std::fill(m_slots.begin(), m_slots.end(), Slot{0, 0, UNKNOWN, SURVIVES_NOTHING});
  m_size = 0;
}

// An answer read from the network fixes the signs of d(t1, t2) (at most 0
// when t1 is at or after t2) and d(t2, t1). Tightenings only lower
// distances, so the answer stands while each of the two that was positive
// still is. A path that they shortened runs through the origin, which gives
// at least ub(t2) - lb(t1) with the bounds as they are now, or through one of
// the arcs between time points they made or tightened; the other paths are
// as long as when the answer was read.
bool TightenedArcs::keepsAnswer(TemporalPropagator& temporal, const TransactionId& t1, const TransactionId& t2,
                                Order cached) {
  const int n1 = temporal.getTimepoint(t1->time()), n2 = temporal.getTimepoint(t2->time());
  if (n1 < 0 || n2 < 0 || n1 == n2)
    return false;
  if (!ready) {
    for (std::size_t k = 0; k < arcs.size(); ++k) {
      std::vector<TemporalNetwork::Time> unused;
      temporal.getTimepointDistances(arcs[k].from, unused, arcs[k].toFrom);
      temporal.getTimepointDistances(arcs[k].to, arcs[k].fromTo, unused);
    }
    ready = true;
  }
  const TemporalNetwork::Time inf = g_infiniteTime();
  // d(x, y) > 0 for certain.
  auto staysPositive = [&](int x, int y) {
    TemporalNetwork::Time lbx, ubx, lby, uby;
    temporal.getTimepointBounds(x, lbx, ubx);
    temporal.getTimepointBounds(y, lby, uby);
    if (uby < inf && lbx > -inf && uby - lbx <= 0)
      return false;
    for (std::size_t k = 0; k < arcs.size(); ++k) {
      const TemporalNetwork::Time toArc = arcs[k].toFrom[x], fromArc = arcs[k].fromTo[y];
      if (toArc >= inf || fromArc >= inf)
        continue;  // no path through this arc
      if (toArc <= -inf || fromArc <= -inf || toArc + arcs[k].weight + fromArc <= 0)
        return false;
    }
    return true;
  };
  const bool firstAfter = cached == AFTER_OR_AT || cached == STRICTLY_AT;    // d(t1, t2) <= 0
  const bool secondAfter = cached == BEFORE_OR_AT || cached == STRICTLY_AT;  // d(t2, t1) <= 0
  return (firstAfter || staysPositive(n1, n2)) && (secondAfter || staysPositive(n2, n1));
}

}
}
