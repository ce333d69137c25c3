#ifndef KORVAN_MIRT_ORDERINGCACHE_HH
#define KORVAN_MIRT_ORDERINGCACHE_HH

#include "Resource/base/MIRT_Transaction.hh"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace KORVAN {

class TemporalPropagator;

namespace MIRT {

struct TransactionOrdering {
  // The relation of a first transaction's time to a second one's that holds
  // in every solution.
  enum Order { AFTER_OR_AT = 0, BEFORE_OR_AT, NOT_ORDERED, STRICTLY_AT, UNKNOWN };
  // Which changes of the temporal network an order read from it outlives.
  // An exact distance interval only shrinks while nothing is loosened and
  // only grows while nothing is tightened: a "not ordered" (the interval
  // holds both signs) outlives loosenings, a "strictly at" ([0, 0]) and an
  // order with a gap (lower bound above 0, or upper below 0) outlive
  // tightenings, and an order at or before with no gap can turn into
  // "strictly at". Orders read otherwise (the token's own start and end, the
  // domains' bounds when a time is outside the network) are checked always.
  // SAME_DISTANCES: the distances between the two points are still the ones
  // the answer was read from, cleared by any check that cannot tell.
  enum Survival {
    SURVIVES_NOTHING = 0,
    FROM_NETWORK = 1,
    SURVIVES_TIGHTENING = 2,
    SURVIVES_LOOSENING = 4,
    SAME_DISTANCES = 8
  };
};

// Orders of pairs of transactions, keyed by the ordered pair: asked for
// every pair pending together at every instant of every pass, so it is an
// open-addressing table of addresses, with no handle checks.
//
// When an entry is valid: its order holds in every solution of the temporal
// network as it is now, and a "not ordered" hides no order that has come to
// hold. The owner keeps it so: entries never outlive their transactions
// (removing one forgets its entries), and after any change of the network, a
// relaxed time or a removal, it runs retain over every entry before the next
// read (FlowProfile::noteOutsideChanges). An entry whose time bounds alone
// order the pair is checked against that order; otherwise one whose Survival
// bits cover every kind of change made since, whose distances stand (only
// bounds changed, and neither of its points' moved), or whose answer
// TightenedArcs shows to stand, is kept unasked, and any other is asked
// again. One whose answer moved is dropped.
class OrderingCache : public TransactionOrdering {
public:
  typedef std::pair<TransactionId, TransactionId> Key;
  OrderingCache();
  // Null when the pair has no entry.
  const Order* find(const Transaction* first, const Transaction* second) const;
  // survives: which changes of the temporal network the order is known to
  // outlive (Survival bits).
  void put(const Key& key, Order order, unsigned char survives);
  void clear();
  // Drops every entry that names t.
  void forget(const Transaction* t);
  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  // Calls keep(first, second, order, survives) on every entry, which may
  // update survives, and drops those it answers false for.
  template <class Keep>
  void retain(Keep keep);
  // What quick(first, second, order, survives) can tell of an entry without
  // asking the network.
  enum Verdict { STANDS, MOVED, ASK };
  // As retain(keep), but only for the entries quick answers ASK for, taken
  // first in slot order: the others are kept or dropped as quick says.
  template <class Quick, class Keep>
  void retain(Quick quick, Keep keep);

private:
  struct Slot {
    Transaction* first;
    Transaction* second;
    Order order;
    unsigned char survives;
  };
  // Marks an entry retain drops, among the Survival bits.
  static const unsigned char DROPPED = 0x80;
  std::size_t home(const Transaction* first, const Transaction* second) const;
  void grow();
  Slot& place(Transaction* first, Transaction* second);

  std::vector<Slot> m_slots;
  std::size_t m_size;
};

// The arcs between time points tightened since the last check, with the
// distances to the start and from the end of each, asked when first needed.
struct TightenedArcs : public TransactionOrdering {
  // Two rows per arc: with more arcs, every entry is asked as before.
  static const std::size_t MOST = 4;
  struct Arc {
    int from;
    int to;
    std::int64_t weight;
    std::vector<std::int64_t> toFrom;  // d(x, from)
    std::vector<std::int64_t> fromTo;  // d(to, x)
  };
  TightenedArcs() : usable(false), ready(false) {}
  bool usable;
  bool ready;
  std::vector<Arc> arcs;
  // Whether the answer cached for (t1, t2), read from the network before
  // these arcs were tightened, stands; only when usable.
  bool keepsAnswer(TemporalPropagator& temporal, const TransactionId& t1, const TransactionId& t2, Order cached);
};

template <class Keep>
void OrderingCache::retain(Keep keep) {
  retain([](const TransactionId&, const TransactionId&, Order, unsigned char&) { return ASK; }, keep);
}

template <class Quick, class Keep>
void OrderingCache::retain(Quick quick, Keep keep) {
  std::size_t dropped = 0;
  // In the order of the pairs' addresses, first transaction first: the
  // answers that keep asks the temporal network for then come one source
  // point after the other, as its row cache prefers. Each entry is updated
  // where it lies.
  struct Visit {
    const Transaction* first;
    const Transaction* second;
    std::size_t slot;
  };
  std::vector<Visit> order;
  for (std::size_t i = 0; i < m_slots.size(); ++i) {
    Slot& slot = m_slots[i];
    if (slot.first == 0)
      continue;
    const Verdict verdict = quick(slot.first->getId(), slot.second->getId(), slot.order, slot.survives);
    if (verdict == ASK)
      order.push_back(Visit{slot.first, slot.second, i});
    else if (verdict == MOVED) {
      slot.survives = DROPPED;
      ++dropped;
    }
  }
  std::sort(order.begin(), order.end(), [](const Visit& x, const Visit& y) {
    return x.first != y.first ? std::less<const Transaction*>()(x.first, y.first)
                              : std::less<const Transaction*>()(x.second, y.second);
  });
  for (std::size_t i = 0; i < order.size(); ++i) {
    Slot& slot = m_slots[order[i].slot];
    if (!keep(slot.first->getId(), slot.second->getId(), slot.order, slot.survives)) {
      slot.survives = DROPPED;
      ++dropped;
    }
  }
  if (dropped == 0)
    return;
  // Open addressing with linear probing: rebuilding is the simple way to
  // leave no gap in a probe sequence.
  std::vector<Slot> kept;
  kept.reserve(m_size - dropped);
  for (std::size_t i = 0; i < m_slots.size(); ++i)
    if (m_slots[i].first != 0 && m_slots[i].survives != DROPPED)
      kept.push_back(m_slots[i]);
  std::fill(m_slots.begin(), m_slots.end(), Slot{0, 0, UNKNOWN, SURVIVES_NOTHING});
  m_size = 0;
  for (std::size_t i = 0; i < kept.size(); ++i)
    place(kept[i].first, kept[i].second) = kept[i];
}

}
}

#endif
