#ifndef KORVAN_MIRT_ORDERINGCACHE_HH
#define KORVAN_MIRT_ORDERINGCACHE_HH

#include "Resource/base/MIRT_Transaction.hh"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <type_traits>
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
  // "strictly at". Orders read otherwise (the domains' bounds when a time is
  // outside the network) are checked always; a token's own start and end,
  // ordered by its duration, are filed with the network's answers.
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

// Numbers by transaction address, in an open-addressing table at most half
// full (null address for free): asked for every pair pending together at
// every instant, where a node-based map's look-up reads two lines apart.
class AddressIndex {
public:
  static constexpr std::uint32_t NONE = ~std::uint32_t(0);
  AddressIndex() : m_indexed(0) {}
  // NONE when t has no number.
  std::uint32_t find(const Transaction* t) const;
  // t must have none yet.
  void insert(const Transaction* t, std::uint32_t number);
  // t must have one.
  void erase(const Transaction* t);
  std::size_t size() const { return m_indexed; }
  void clear() {
    m_slots.clear();
    m_indexed = 0;
  }

private:
  std::vector<std::pair<const Transaction*, std::uint32_t>> m_slots;
  std::size_t m_indexed;
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
// read (FlowProfile::noteOutsideChanges), or retainAround where it knows the
// others stand. An entry whose time bounds alone order the pair is checked
// against that order; otherwise one whose Survival bits cover every kind of
// change made since, whose distances stand (only bounds changed, and neither
// of its points' moved), or whose answer TightenedArcs shows to stand, is
// kept unasked, and any other is asked again. One whose answer moved is
// dropped.
//
// Each transaction's entries are listed, and each time variable's
// transactions, so that a check after a change of a few points visits their
// entries only (and those not read from the network, which nothing tracks).
class OrderingCache : public TransactionOrdering {
public:
  typedef std::pair<TransactionId, TransactionId> Key;
  // mostSide: the table's largest side.
  explicit OrderingCache(std::uint32_t mostSide = defaultMostSide());
  // The largest side of the tables of caches made from now on: 4,096 unless a test makes it small.
  static std::uint32_t& defaultMostSide();
  // What look-ups past the table reach, summed: the entries each one's row holds (a table
  // look-up reads its one cell and adds nothing), so that a look-up is seen to search a
  // transaction's partners, not every entry.
  static unsigned long long& lookUpReach();
  // Null when the pair has no entry.
  const Order* find(const Transaction* first, const Transaction* second) const;
  // find(first, second) and find(second, first).
  void findBoth(const Transaction* first, const Transaction* second, const Order*& direct,
                const Order*& mirror) const;
  // survives: which changes of the temporal network the order is known to
  // outlive (Survival bits). Reads the time variable of a transaction new to
  // the cache.
  void put(const Key& key, Order order, unsigned char survives);
  void clear();
  // Drops every entry that names t; reads no transaction.
  void forget(const Transaction* t);
  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  // Scratch that a sweep keeps per transaction for its quick, so that what
  // it reads of a transaction (its bounds, its point in the network) is read
  // once per sweep, not once per entry: unread at the start of each sweep,
  // and as quick left it at the transaction's later entries.
  struct Point {
    bool read;
    int lb;
    int ub;
    int node;
  };
  // The scratch of an entry's first and second transaction (one and the
  // same for a pair of a transaction with itself).
  struct Points {
    Point* at[2];
  };
  // Calls keep(first, second, order, survives) on every entry, which may
  // update survives, and drops those it answers false for.
  template <class Keep>
  void retain(Keep keep);
  // What quick(first, second, order, survives) can tell of an entry without
  // asking the network; a quick may take a Points& as a fifth argument.
  enum Verdict { STANDS, MOVED, ASK };
  // As retain(keep), but only for the entries quick answers ASK for, taken
  // first in the order of the pairs' addresses: the others are kept or
  // dropped as quick says.
  template <class Quick, class Keep>
  void retain(Quick quick, Keep keep);
  // As retain(quick, keep), over the entries that name a transaction whose
  // time is one of times, and those not read from the network; the others
  // are left as they are.
  template <class Quick, class Keep>
  void retainAround(const std::vector<const ConstrainedVariable*>& times, Quick quick, Keep keep);
  // Two sets of transactions, marked by their numbers in the cache (those
  // forEachMember gives; numbers() of them): an entry joins them when one of
  // its transactions is marked in each.
  struct Join {
    std::vector<char> one;
    std::vector<char> other;
  };
  // As retainAround(times, quick, keep), and over the entries that join the
  // two sets of one of joins as well.
  template <class Quick, class Keep>
  void retainAround(const std::vector<const ConstrainedVariable*>& times, const std::vector<Join>& joins,
                    Quick quick, Keep keep);
  // Calls f(transaction, number) for each transaction the entries name.
  template <class F>
  void forEachMember(F f) const {
    for (const auto& member : m_members)
      if (!member.second.entries.empty())
        f(member.first, member.second.number);
  }
  std::size_t numbers() const { return m_points.size(); }

private:
  static constexpr std::uint32_t NONE = ~std::uint32_t(0);
  // With its transactions' numbers, so that a sweep finds their scratch
  // without reading the entry, and the entry itself: a new pair's slot is
  // a line far from the last one's, and its entry's number beside it spares
  // a second such line. The order in a byte keeps a slot at 32 bytes.
  struct Slot {
    Transaction* first;
    Transaction* second;
    std::uint32_t number[2];
    std::uint32_t entry;
    unsigned char order;
    unsigned char survives;
  };
  static_assert(sizeof(Slot) <= 32, "two slots a line");
  struct Member {
    const ConstrainedVariable* time;
    std::vector<std::uint32_t> entries;
    std::uint32_t number;  // in m_points
  };
  // Where an entry's slot lies and where it is listed: pos[0] in its first
  // transaction's list, pos[1] in its second's (NONE for a pair of one
  // transaction with itself), unchecked in m_unchecked.
  struct Entry {
    std::uint32_t slot;
    std::uint32_t pos[2];
    std::uint32_t unchecked;
    std::uint32_t mark;
  };
  std::size_t home(const Transaction* first, const Transaction* second) const;
  void grow();
  // The slot of the pair, made (and listed) if new.
  Slot& place(Transaction* first, Transaction* second);
  // Files the entry among those always checked, or not, after its survival
  // bits changed.
  void refile(std::uint32_t entry);
  void unlist(const Transaction* t, std::uint32_t pos);
  // Takes the entry of slot i out of every list and the slot out of the
  // table, closing the gap in its probe sequence.
  void erase(std::size_t i);
  // retain's work over the given occupied slots.
  template <class Quick, class Keep>
  void sweep(std::vector<std::uint32_t>& slots, Quick quick, Keep keep);

  std::vector<Slot> m_slots;
  std::size_t m_size;
  std::vector<Entry> m_entries;
  std::vector<std::uint32_t> m_freeEntries;
  // Ordered maps: hashed ones would free their nodes in an order that moves with the
  // addresses, and with it where later objects are placed.
  std::map<const Transaction*, Member> m_members;
  std::map<const ConstrainedVariable*, std::vector<const Transaction*>> m_byTime;
  // Entries not read from the network.
  std::vector<std::uint32_t> m_unchecked;
  // Each member's sweep scratch, by its number; the numbers of members gone.
  std::vector<Point> m_points;
  std::vector<std::uint32_t> m_freeNumbers;
  // Each member by its number (null for a number free).
  std::vector<Member*> m_numbered;
  // A look-up is asked for every pair pending together at every instant:
  // it reads a small table of the orders by the pair's numbers (1 + the
  // order, 0 for no entry), m_side numbers a side, and finds the numbers in
  // an open-addressing index of the members (null address for free), both
  // small enough to stay in the processor's caches while the slots do not.
  // Given up, until the next clear, when the numbers outgrow the table's
  // largest side; then each member's row holds its partners alone.
  std::uint32_t numberOf(const Transaction* t) const;
  // The last transaction numberOf found, and its number: look-ups come a transaction's partners
  // at a time.
  mutable const Transaction* m_lastFound = nullptr;
  mutable std::uint32_t m_lastNumber = 0;
  // Makes room in the table for the number.
  void widen(std::uint32_t number);
  void setCell(const Slot& slot, Order order);
  AddressIndex m_index;
  bool m_tabled;
  std::uint32_t m_mostSide;
  std::uint32_t m_side;
  std::vector<unsigned char> m_table;
  // Past the table, a member's row: its partners by number, each in one cell that holds both
  // orders of the pair (bits 0-3 the member's own entry, 4-7 the partner's, 1 + the order as
  // in the table), 1 + the partner's number in the high half (0 for free). Probed as the index
  // is, from the partner's number: one look-up reads one short row, not two runs of the slots.
  struct Row {
    std::vector<std::uint64_t> cells;
    std::uint32_t used = 0;
  };
  std::vector<Row> m_rows;
  // The half (0 own, 4 the partner's) of the cell of partner in n's row set to value.
  void setRowCell(std::uint32_t n, std::uint32_t partner, int half, unsigned char value);
  // Both halves of that cell, 0 for none.
  unsigned char rowCell(std::uint32_t n, std::uint32_t partner) const;
  std::uint32_t m_mark;
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
  // Reads the rows of the arcs, once.
  void readRows(TemporalPropagator& temporal);
  bool usable;
  bool ready;
  std::vector<Arc> arcs;
  // Whether the answer cached for (t1, t2), read from the network before
  // these arcs were tightened, stands (STANDS), has moved (MOVED) or cannot
  // be told without asking (ASK); only when usable.
  // n1, n2: the two times' points in the network (-1 for none).
  OrderingCache::Verdict judge(TemporalPropagator& temporal, int n1, int n2, Order cached);
};

template <class Keep>
void OrderingCache::retain(Keep keep) {
  retain([](const TransactionId&, const TransactionId&, Order, unsigned char&) { return ASK; }, keep);
}

template <class Quick, class Keep>
void OrderingCache::retain(Quick quick, Keep keep) {
  std::vector<std::uint32_t> slots;
  slots.reserve(m_size);
  for (std::size_t i = 0; i < m_slots.size(); ++i)
    if (m_slots[i].first != 0)
      slots.push_back((std::uint32_t) i);
  sweep(slots, quick, keep);
}

template <class Quick, class Keep>
void OrderingCache::retainAround(const std::vector<const ConstrainedVariable*>& times, Quick quick, Keep keep) {
  retainAround(times, std::vector<Join>(), quick, keep);
}

template <class Quick, class Keep>
void OrderingCache::retainAround(const std::vector<const ConstrainedVariable*>& times, const std::vector<Join>& joins,
                                 Quick quick, Keep keep) {
  if (++m_mark == 0) {
    for (std::size_t e = 0; e < m_entries.size(); ++e)
      m_entries[e].mark = 0;
    m_mark = 1;
  }
  std::vector<std::uint32_t> slots;
  auto visit = [&](std::uint32_t e) {
    if (m_entries[e].mark != m_mark) {
      m_entries[e].mark = m_mark;
      slots.push_back(m_entries[e].slot);
    }
  };
  for (std::size_t i = 0; i < times.size(); ++i) {
    const auto at = m_byTime.find(times[i]);
    if (at == m_byTime.end())
      continue;
    for (const Transaction* t : at->second) {
      const Member& member = m_members.find(t)->second;
      for (std::uint32_t e : member.entries)
        visit(e);
    }
  }
  for (std::uint32_t e : m_unchecked)
    visit(e);
  for (const Join& join : joins) {
    // From the smaller side, each of its transactions' entries whose other
    // transaction is marked on the larger.
    const bool fromOne = std::count(join.one.begin(), join.one.end(), (char) 1) <=
      std::count(join.other.begin(), join.other.end(), (char) 1);
    const std::vector<char>& from = fromOne ? join.one : join.other;
    const std::vector<char>& to = fromOne ? join.other : join.one;
    for (std::uint32_t n = 0; n < from.size() && n < m_numbered.size(); ++n) {
      if (!from[n] || m_numbered[n] == 0)
        continue;
      for (std::uint32_t e : m_numbered[n]->entries) {
        const Slot& slot = m_slots[m_entries[e].slot];
        const std::uint32_t partner = slot.number[0] == n ? slot.number[1] : slot.number[0];
        if (partner < to.size() && to[partner])
          visit(e);
      }
    }
  }
  sweep(slots, quick, keep);
}

template <class Quick, class Keep>
void OrderingCache::sweep(std::vector<std::uint32_t>& slots, Quick quick, Keep keep) {
  // In the order of the pairs' addresses, first transaction first: the
  // answers that keep asks the temporal network for then come one source
  // point after the other, as its row cache prefers. Each entry is updated
  // where it lies; the dropped ones go last, as erasing moves slots.
  std::vector<std::uint32_t> asked, dropped;
  for (Point& point : m_points)
    point.read = false;
  for (std::uint32_t i : slots) {
    Slot& slot = m_slots[i];
    const bool network = (slot.survives & FROM_NETWORK) != 0;
    Points points{{&m_points[slot.number[0]], &m_points[slot.number[1]]}};
    Verdict verdict;
    if constexpr (std::is_invocable<Quick&, const TransactionId&, const TransactionId&, Order, unsigned char&,
                                    Points&>::value)
      verdict = quick(slot.first->getId(), slot.second->getId(), (Order) slot.order, slot.survives, points);
    else
      verdict = quick(slot.first->getId(), slot.second->getId(), (Order) slot.order, slot.survives);
    if (network != ((slot.survives & FROM_NETWORK) != 0))
      refile(slot.entry);
    if (verdict == ASK)
      asked.push_back(i);
    else if (verdict == MOVED)
      dropped.push_back(i);
  }
  std::sort(asked.begin(), asked.end(), [this](std::uint32_t x, std::uint32_t y) {
    const Slot& a = m_slots[x];
    const Slot& b = m_slots[y];
    return a.first != b.first ? std::less<const Transaction*>()(a.first, b.first)
                              : std::less<const Transaction*>()(a.second, b.second);
  });
  for (std::uint32_t i : asked) {
    Slot& slot = m_slots[i];
    const bool network = (slot.survives & FROM_NETWORK) != 0;
    if (!keep(slot.first->getId(), slot.second->getId(), (Order) slot.order, slot.survives))
      dropped.push_back(i);
    else if (network != ((slot.survives & FROM_NETWORK) != 0))
      refile(slot.entry);
  }
  if (dropped.empty())
    return;
  // Entries keep their numbers while erasing moves slots.
  for (std::uint32_t& i : dropped)
    i = m_slots[i].entry;
  for (std::uint32_t e : dropped)
    erase(m_entries[e].slot);
}

}
}

#endif
