#include "Resource/component/MIRT_OrderingCache.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace MIRT {

namespace {
const std::size_t FIRST_SIZE = 16;
const TransactionOrdering::Order ORDERS[] = {TransactionOrdering::AFTER_OR_AT, TransactionOrdering::BEFORE_OR_AT,
                                             TransactionOrdering::NOT_ORDERED, TransactionOrdering::STRICTLY_AT,
                                             TransactionOrdering::UNKNOWN};

std::size_t addressHash(const Transaction* t) {
  std::uint64_t h = (std::uint64_t) (std::uintptr_t) t;
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
  return (std::size_t) (h ^ (h >> 31));
}

std::size_t rowHome(std::uint32_t partner) {
  return (std::size_t) (((std::uint64_t) partner * 0x9E3779B97F4A7C15ull) >> 32);
}

std::uint32_t partnerOf(std::uint64_t cell) { return (std::uint32_t) (cell >> 32) - 1; }
}

// The table's largest side by default, 4,096: sixteen megabytes, a small part of what the entries
// of that many transactions take, and far quicker to read than their slots.
std::uint32_t& OrderingCache::defaultMostSide() {
  static std::uint32_t s_side = 4096;
  return s_side;
}

unsigned long long& OrderingCache::lookUpReach() {
  static unsigned long long s_reach = 0;
  return s_reach;
}

OrderingCache::OrderingCache(std::uint32_t mostSide)
  : m_slots(FIRST_SIZE, Slot{0, 0, {NONE, NONE}, NONE, UNKNOWN, SURVIVES_NOTHING}), m_size(0),
    m_tabled(true), m_mostSide(mostSide), m_side(0), m_mark(0) {}

std::uint32_t OrderingCache::numberOf(const Transaction* t) const {
  if (t == m_lastFound)
    return m_lastNumber;
  const std::uint32_t n = m_index.find(t);
  if (n != NONE) {
    m_lastFound = t;
    m_lastNumber = n;
  }
  return n;
}

std::uint32_t AddressIndex::find(const Transaction* t) const {
  if (m_slots.empty())
    return NONE;
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = addressHash(t) & mask;; i = (i + 1) & mask) {
    if (m_slots[i].first == t)
      return m_slots[i].second;
    if (m_slots[i].first == 0)
      return NONE;
  }
}

void AddressIndex::insert(const Transaction* t, std::uint32_t number) {
  if (2 * (m_indexed + 1) > m_slots.size()) {
    std::vector<std::pair<const Transaction*, std::uint32_t>> old(std::max<std::size_t>(FIRST_SIZE, 2 * m_slots.size()),
                                                                  std::make_pair((const Transaction*) 0, NONE));
    old.swap(m_slots);
    m_indexed = 0;
    for (const auto& member : old)
      if (member.first != 0)
        insert(member.first, member.second);
  }
  const std::size_t mask = m_slots.size() - 1;
  std::size_t i = addressHash(t) & mask;
  while (m_slots[i].first != 0)
    i = (i + 1) & mask;
  m_slots[i] = std::make_pair(t, number);
  ++m_indexed;
}

void AddressIndex::erase(const Transaction* t) {
  const std::size_t mask = m_slots.size() - 1;
  std::size_t i = addressHash(t) & mask;
  while (m_slots[i].first != t)
    i = (i + 1) & mask;
  // As OrderingCache::erase does for its slots.
  for (std::size_t j = (i + 1) & mask; m_slots[j].first != 0; j = (j + 1) & mask) {
    const std::size_t k = addressHash(m_slots[j].first) & mask;
    const bool stays = i <= j ? (i < k && k <= j) : (i < k || k <= j);
    if (stays)
      continue;
    m_slots[i] = m_slots[j];
    i = j;
  }
  m_slots[i] = std::make_pair((const Transaction*) 0, NONE);
  --m_indexed;
}

void OrderingCache::widen(std::uint32_t number) {
  if (!m_tabled || number < m_side)
    return;
  std::uint32_t side = std::max<std::uint32_t>(16, m_side);
  while (side <= number)
    side *= 2;
  if (side > m_mostSide) {
    m_tabled = false;
    m_side = 0;
    std::vector<unsigned char>().swap(m_table);
    m_rows.clear();
    for (const Slot& slot : m_slots)
      if (slot.first != 0)
        setCell(slot, (Order) slot.order);
    return;
  }
  std::vector<unsigned char> table((std::size_t) side * side, 0);
  for (std::uint32_t i = 0; i < m_side; ++i)
    std::copy(m_table.begin() + (std::ptrdiff_t) i * m_side, m_table.begin() + (std::ptrdiff_t) (i + 1) * m_side,
              table.begin() + (std::ptrdiff_t) i * side);
  m_table.swap(table);
  m_side = side;
}

void OrderingCache::setCell(const Slot& slot, Order order) {
  if (m_tabled) {
    m_table[(std::size_t) slot.number[0] * m_side + slot.number[1]] = (unsigned char) (1 + order);
    return;
  }
  setRowCell(slot.number[0], slot.number[1], 0, (unsigned char) (1 + order));
  setRowCell(slot.number[1], slot.number[0], 4, (unsigned char) (1 + order));
}

void OrderingCache::setRowCell(std::uint32_t n, std::uint32_t partner, int half, unsigned char value) {
  if (m_rows.size() <= n)
    m_rows.resize(std::max<std::size_t>(n + 1, 2 * m_rows.size()));
  Row& row = m_rows[n];
  if (value != 0 && 2 * (row.used + 1) > row.cells.size()) {
    std::vector<std::uint64_t> old(std::max<std::size_t>(8, 2 * row.cells.size()), 0);
    old.swap(row.cells);
    const std::size_t mask = row.cells.size() - 1;
    for (std::uint64_t cell : old)
      if (cell != 0) {
        std::size_t i = rowHome(partnerOf(cell)) & mask;
        while (row.cells[i] != 0)
          i = (i + 1) & mask;
        row.cells[i] = cell;
      }
  }
  if (row.cells.empty())
    return;
  const std::size_t mask = row.cells.size() - 1;
  const std::uint64_t key = (std::uint64_t) (partner + 1) << 32;
  std::size_t i = rowHome(partner) & mask;
  for (; row.cells[i] != 0 && (row.cells[i] >> 32) != (key >> 32); i = (i + 1) & mask) {
  }
  if (row.cells[i] == 0) {
    if (value != 0) {
      row.cells[i] = key | ((std::uint64_t) value << half);
      ++row.used;
    }
    return;
  }
  row.cells[i] = (row.cells[i] & ~((std::uint64_t) 0xF << half)) | ((std::uint64_t) value << half);
  if ((row.cells[i] & 0xFF) != 0)
    return;
  // As unindex does for the index.
  for (std::size_t j = (i + 1) & mask; row.cells[j] != 0; j = (j + 1) & mask) {
    const std::size_t k = rowHome(partnerOf(row.cells[j])) & mask;
    const bool stays = i <= j ? (i < k && k <= j) : (i < k || k <= j);
    if (stays)
      continue;
    row.cells[i] = row.cells[j];
    i = j;
  }
  row.cells[i] = 0;
  --row.used;
}

unsigned char OrderingCache::rowCell(std::uint32_t n, std::uint32_t partner) const {
  if (n >= m_rows.size() || m_rows[n].cells.empty())
    return 0;
  lookUpReach() += m_rows[n].used;
  const std::vector<std::uint64_t>& cells = m_rows[n].cells;
  const std::size_t mask = cells.size() - 1;
  for (std::size_t i = rowHome(partner) & mask; cells[i] != 0; i = (i + 1) & mask)
    if (partnerOf(cells[i]) == partner)
      return (unsigned char) (cells[i] & 0xFF);
  return 0;
}

void OrderingCache::findBoth(const Transaction* first, const Transaction* second, const Order*& direct,
                             const Order*& mirror) const {
  direct = mirror = 0;
  const std::uint32_t n1 = numberOf(first);
  if (n1 == NONE)
    return;
  const std::uint32_t n2 = first == second ? n1 : numberOf(second);
  if (n2 == NONE)
    return;
  if (!m_tabled) {
    const unsigned char cell = rowCell(n1, n2);
    if ((cell & 0xF) != 0)
      direct = &ORDERS[(cell & 0xF) - 1];
    else if (cell != 0)
      mirror = &ORDERS[(cell >> 4) - 1];
    return;
  }
  const unsigned char there = m_table[(std::size_t) n1 * m_side + n2];
  if (there != 0) {
    direct = &ORDERS[there - 1];
    return;
  }
  const unsigned char back = m_table[(std::size_t) n2 * m_side + n1];
  if (back != 0)
    mirror = &ORDERS[back - 1];
}

std::size_t OrderingCache::home(const Transaction* first, const Transaction* second) const {
  // Both addresses mixed in full: a transaction meets a hundred partners and
  // more, and homes that follow one address alone pile its entries into one
  // long run that every miss (each mirror look-up starts with one) walks.
  std::uint64_t h = (std::uint64_t) (std::uintptr_t) first * 0x9E3779B97F4A7C15ull + (std::uintptr_t) second;
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
  h ^= h >> 31;
  return (std::size_t) h & (m_slots.size() - 1);
}

const OrderingCache::Order* OrderingCache::find(const Transaction* first, const Transaction* second) const {
  const std::uint32_t n1 = numberOf(first);
  const std::uint32_t n2 = n1 == NONE ? NONE : first == second ? n1 : numberOf(second);
  if (n2 == NONE)
    return 0;
  const unsigned char there = m_tabled ? m_table[(std::size_t) n1 * m_side + n2] : rowCell(n1, n2) & 0xF;
  return there == 0 ? 0 : &ORDERS[there - 1];
}

OrderingCache::Slot& OrderingCache::place(Transaction* first, Transaction* second) {
  const std::size_t mask = m_slots.size() - 1;
  std::size_t i = home(first, second);
  for (;; i = (i + 1) & mask) {
    Slot& slot = m_slots[i];
    if (slot.first == first && slot.second == second)
      return slot;
    if (slot.first == 0)
      break;
  }
  std::uint32_t e;
  if (m_freeEntries.empty()) {
    e = (std::uint32_t) m_entries.size();
    m_entries.push_back(Entry());
  }
  else {
    e = m_freeEntries.back();
    m_freeEntries.pop_back();
  }
  Entry& entry = m_entries[e];
  entry.slot = (std::uint32_t) i;
  entry.pos[0] = entry.pos[1] = NONE;
  std::uint32_t number[2] = {NONE, NONE};
  entry.unchecked = NONE;
  entry.mark = 0;
  for (int side = 0; side < 2; ++side) {
    Transaction* t = side == 0 ? first : second;
    if (side == 1 && second == first)
      break;
    // A member is found by its number, through the index, not by a descent of the map.
    const std::uint32_t known = numberOf(t);
    Member* member = known != NONE ? m_numbered[known] : nullptr;
    if (member == nullptr) {
      const ConstrainedVariable* time = (const ConstrainedVariable*) t->time();
      std::uint32_t n;
      if (m_freeNumbers.empty()) {
        n = (std::uint32_t) m_points.size();
        m_points.push_back(Point{false, 0, 0, -1});
      }
      else {
        n = m_freeNumbers.back();
        m_freeNumbers.pop_back();
      }
      member = &m_members.insert(std::make_pair((const Transaction*) t, Member{time, {}, n})).first->second;
      m_byTime[time].push_back(t);
      if (m_numbered.size() <= n)
        m_numbered.resize(n + 1, 0);
      m_numbered[n] = member;
      m_index.insert(t, n);
      widen(n);
    }
    number[side] = member->number;
    entry.pos[side] = (std::uint32_t) member->entries.size();
    member->entries.push_back(e);
  }
  if (second == first)
    number[1] = number[0];
  Slot& slot = m_slots[i];
  slot = Slot{first, second, {number[0], number[1]}, e, UNKNOWN, SURVIVES_NOTHING};
  ++m_size;
  refile(e);
  return slot;
}

void OrderingCache::refile(std::uint32_t e) {
  Entry& entry = m_entries[e];
  const bool network = (m_slots[entry.slot].survives & FROM_NETWORK) != 0;
  if (!network && entry.unchecked == NONE) {
    entry.unchecked = (std::uint32_t) m_unchecked.size();
    m_unchecked.push_back(e);
  }
  else if (network && entry.unchecked != NONE) {
    const std::uint32_t last = m_unchecked.back();
    m_unchecked[entry.unchecked] = last;
    m_entries[last].unchecked = entry.unchecked;
    m_unchecked.pop_back();
    entry.unchecked = NONE;
  }
}

void OrderingCache::unlist(const Transaction* t, std::uint32_t pos) {
  std::vector<std::uint32_t>& entries = m_numbered[numberOf(t)]->entries;
  const std::uint32_t last = entries.back();
  entries[pos] = last;
  Entry& moved = m_entries[last];
  const Slot& slot = m_slots[moved.slot];
  // The moved entry names t on one side at least; a pair of t with itself
  // is listed once.
  moved.pos[slot.first == t && moved.pos[0] == entries.size() - 1 ? 0 : 1] = pos;
  entries.pop_back();
}

void OrderingCache::erase(std::size_t i) {
  const std::uint32_t e = m_slots[i].entry;
  if (m_tabled)
    m_table[(std::size_t) m_slots[i].number[0] * m_side + m_slots[i].number[1]] = 0;
  else {
    setRowCell(m_slots[i].number[0], m_slots[i].number[1], 0, 0);
    setRowCell(m_slots[i].number[1], m_slots[i].number[0], 4, 0);
  }
  Entry& entry = m_entries[e];
  unlist(m_slots[i].first, entry.pos[0]);
  if (entry.pos[1] != NONE)
    unlist(m_slots[i].second, entry.pos[1]);
  if (entry.unchecked != NONE) {
    // Forces it out of m_unchecked.
    m_slots[i].survives = FROM_NETWORK;
    refile(e);
  }
  m_freeEntries.push_back(e);
  // Linear probing: a later slot of the run whose home does not lie in
  // (i, j] moves back into the gap, which then moves on to j.
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t j = (i + 1) & mask; m_slots[j].first != 0; j = (j + 1) & mask) {
    const std::size_t k = home(m_slots[j].first, m_slots[j].second);
    const bool stays = i <= j ? (i < k && k <= j) : (i < k || k <= j);
    if (stays)
      continue;
    m_slots[i] = m_slots[j];
    m_entries[m_slots[i].entry].slot = (std::uint32_t) i;
    i = j;
  }
  m_slots[i] = Slot{0, 0, {NONE, NONE}, NONE, UNKNOWN, SURVIVES_NOTHING};
  --m_size;
}

void OrderingCache::grow() {
  std::vector<Slot> old(m_slots.size() * 2, Slot{0, 0, {NONE, NONE}, NONE, UNKNOWN, SURVIVES_NOTHING});
  old.swap(m_slots);
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t j = 0; j < old.size(); ++j) {
    if (old[j].first == 0)
      continue;
    std::size_t i = home(old[j].first, old[j].second);
    while (m_slots[i].first != 0)
      i = (i + 1) & mask;
    m_slots[i] = old[j];
    m_entries[old[j].entry].slot = (std::uint32_t) i;
  }
}

void OrderingCache::put(const Key& key, Order order, unsigned char survives) {
  // At most half full, so that probe sequences stay short.
  if (2 * (m_size + 1) > m_slots.size())
    grow();
  Slot& slot = place((Transaction*) key.first, (Transaction*) key.second);
  slot.order = (unsigned char) order;
  slot.survives = survives;
  setCell(slot, order);
  refile(slot.entry);
}

void OrderingCache::forget(const Transaction* t) {
  const auto found = m_members.find(t);
  if (found == m_members.end())
    return;
  while (!found->second.entries.empty())
    erase(m_entries[found->second.entries.back()].slot);
  std::vector<const Transaction*>& same = m_byTime.find(found->second.time)->second;
  same.erase(std::find(same.begin(), same.end(), t));
  if (same.empty())
    m_byTime.erase(found->second.time);
  m_freeNumbers.push_back(found->second.number);
  m_numbered[found->second.number] = 0;
  m_index.erase(t);
  if (t == m_lastFound)
    m_lastFound = nullptr;
  m_members.erase(found);
}

void OrderingCache::clear() {
  m_members.clear();
  m_byTime.clear();
  m_unchecked.clear();
  m_entries.clear();
  m_freeEntries.clear();
  m_points.clear();
  m_freeNumbers.clear();
  m_numbered.clear();
  m_index.clear();
  m_lastFound = nullptr;
  m_tabled = true;
  m_side = 0;
  m_table.clear();
  m_rows.clear();
  if (m_size == 0)
    return;
  std::fill(m_slots.begin(), m_slots.end(), Slot{0, 0, {NONE, NONE}, NONE, UNKNOWN, SURVIVES_NOTHING});
  m_size = 0;
}

void TightenedArcs::readRows(TemporalPropagator& temporal) {
  if (ready)
    return;
  for (std::size_t k = 0; k < arcs.size(); ++k) {
    std::vector<TemporalNetwork::Time> unused;
    temporal.getTimepointDistances(arcs[k].from, unused, arcs[k].toFrom);
    temporal.getTimepointDistances(arcs[k].to, arcs[k].fromTo, unused);
  }
  ready = true;
}

// An answer read from the network fixes the signs of d(t1, t2) (at most 0
// when t1 is at or after t2) and d(t2, t1). Tightenings only lower
// distances, so the answer stands while each of the two that was positive
// still is. A path that they shortened runs through the origin, which gives
// at least ub(t2) - lb(t1) with the bounds as they are now, or through one of
// the arcs between time points they made or tightened; the other paths are
// as long as when the answer was read. Either kind of path, when of length
// 0 or less, is one in the network: the distance it bounds is no longer
// positive, so the answer has moved.
OrderingCache::Verdict TightenedArcs::judge(TemporalPropagator& temporal, int n1, int n2, Order cached) {
  if (n1 < 0 || n2 < 0 || n1 == n2)
    return OrderingCache::ASK;
  readRows(temporal);
  const TemporalNetwork::Time inf = g_infiniteTime();
  // 1: d(x, y) > 0 for certain; -1: a path of length 0 or less from x to y;
  // 0: neither, a distance clipped at the infinite time in the way.
  auto sign = [&](int x, int y) {
    TemporalNetwork::Time lbx, ubx, lby, uby;
    temporal.getTimepointBounds(x, lbx, ubx);
    temporal.getTimepointBounds(y, lby, uby);
    if (uby < inf && lbx > -inf && uby - lbx <= 0)
      return -1;
    int result = 1;
    for (std::size_t k = 0; k < arcs.size(); ++k) {
      const TemporalNetwork::Time toArc = arcs[k].toFrom[x], fromArc = arcs[k].fromTo[y];
      if (toArc >= inf || fromArc >= inf)
        continue;  // no path through this arc
      if (toArc <= -inf || fromArc <= -inf)
        result = 0;
      else if (toArc + arcs[k].weight + fromArc <= 0)
        return -1;
    }
    return result;
  };
  const bool firstAfter = cached == AFTER_OR_AT || cached == STRICTLY_AT;    // d(t1, t2) <= 0
  const bool secondAfter = cached == BEFORE_OR_AT || cached == STRICTLY_AT;  // d(t2, t1) <= 0
  const int first = firstAfter ? 1 : sign(n1, n2);
  if (first < 0)
    return OrderingCache::MOVED;
  const int second = secondAfter ? 1 : sign(n2, n1);
  if (second < 0)
    return OrderingCache::MOVED;
  return first > 0 && second > 0 ? OrderingCache::STANDS : OrderingCache::ASK;
}

}
}
