#include "Utils/base/IdTable.hh"

#include <cstdlib>
#include <cstring>
#include <new>

namespace KORVAN {

namespace {

// Open addressing with linear probing; a slot is free when its key is 0 (keys never are).
// Type names live in a parallel array so that a look-up touches 16 bytes per probe.
struct Slot {
  unsigned long hidden; // scrambled address
  unsigned int key;
};

// Plain globals without destructors: the table must outlive the destructors of static
// objects that still unregister handles at exit. Until the first insert the table is two
// empty slots, so a look-up needs no emptiness test.
Slot s_emptySlots[2] = {{0, 0}, {0, 0}};
Slot* s_slots = s_emptySlots;
const char** s_typeNames = nullptr;
std::size_t s_mask = 1;    // capacity - 1, capacity a power of two
unsigned int s_shift = 63; // 64 - log2(capacity)
std::size_t s_count = 0;   // live entries
unsigned int s_nextKey = 0;

// The direct-mapped array: a single free place until the first insert, so that isLive needs
// no emptiness test. Kept at least twice as large as the live registrations.
IdTable::Direct s_noDirect[1] = {{0, 0}};

inline unsigned long hide(unsigned long address) { return IdTable::hide(address); }

// Fibonacci hashing: the low bits of heap addresses are constant (alignment); only the
// top bits of the product depend on all of them, so the slot comes from those.
inline std::size_t home(unsigned long hidden) {
  return static_cast<std::size_t>((hidden * 0x9E3779B97F4A7C15UL) >> s_shift);
}

void* allocate(std::size_t count, std::size_t size) {
  void* p = std::calloc(count, size);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}

void placeFresh(unsigned long hidden, unsigned int key, const char* typeName) {
  std::size_t i = home(hidden);
  while (s_slots[i].key != 0)
    i = (i + 1) & s_mask;
  s_slots[i].hidden = hidden;
  s_slots[i].key = key;
  s_typeNames[i] = typeName;
}

void grow() {
  const std::size_t oldCapacity = s_typeNames == nullptr ? 0 : s_mask + 1;
  const std::size_t capacity = oldCapacity == 0 ? 1024 : 2 * oldCapacity;
  Slot* oldSlots = s_slots;
  const char** oldTypeNames = s_typeNames;
  Slot* slots = static_cast<Slot*>(allocate(capacity, sizeof(Slot)));
  const char** typeNames;
  try {
    typeNames = static_cast<const char**>(allocate(capacity, sizeof(const char*)));
  } catch (...) {
    std::free(slots);
    throw;
  }
  s_slots = slots;
  s_typeNames = typeNames;
  s_mask = capacity - 1;
  s_shift = 64;
  for (std::size_t c = capacity; c > 1; c >>= 1)
    --s_shift;
  for (std::size_t i = 0; i < oldCapacity; ++i)
    if (oldSlots[i].key != 0)
      placeFresh(oldSlots[i].hidden, oldSlots[i].key, oldTypeNames[i]);
  if (oldCapacity != 0) {
    std::free(oldSlots);
    std::free(oldTypeNames);
  }
}

// Index of the slot holding the address, or of the free slot ending its probe sequence.
inline std::size_t find(unsigned long hidden) {
  std::size_t i = home(hidden);
  while (s_slots[i].key != 0 && s_slots[i].hidden != hidden)
    i = (i + 1) & s_mask;
  return i;
}

} // namespace

IdTable::Direct* IdTable::s_direct = s_noDirect;
std::size_t IdTable::s_directMask = 0;

namespace {

// Takes the place of the key when it is free; a registration left out is found by address.
inline void placeDirect(IdTable::Direct* direct, std::size_t mask, unsigned long hidden, unsigned int key) {
  IdTable::Direct& d = direct[key & mask];
  if (d.key == 0) {
    d.hidden = hidden;
    d.key = key;
  }
}

} // namespace

void IdTable::growDirect() {
  const std::size_t capacity = s_direct == s_noDirect ? 2048 : 2 * (s_directMask + 1);
  Direct* direct = static_cast<Direct*>(allocate(capacity, sizeof(Direct)));
  // Those placed keep a place (no two meet in the doubled array), then those left out take the
  // places still free.
  for (std::size_t i = 0; i <= s_directMask; ++i)
    if (s_direct[i].key != 0)
      placeDirect(direct, capacity - 1, s_direct[i].hidden, s_direct[i].key);
  if (s_typeNames != nullptr)
    for (std::size_t i = 0; i <= s_mask; ++i)
      if (s_slots[i].key != 0)
        placeDirect(direct, capacity - 1, s_slots[i].hidden, s_slots[i].key);
  if (s_direct != s_noDirect)
    std::free(s_direct);
  s_direct = direct;
  s_directMask = capacity - 1;
}

unsigned int IdTable::insert(unsigned long address, const char* typeName) {
  const unsigned long hidden = hide(address);
  // Keep the load at most 5/8 so that probe sequences stay short.
  if (s_typeNames == nullptr || 8 * (s_count + 1) > 5 * (s_mask + 1))
    grow();
  std::size_t i = find(hidden);
  if (s_slots[i].key != 0)
    return 0;
  if (++s_nextKey == 0) // wrapped: keys must stay non-zero
    ++s_nextKey;
  if (2 * (s_count + 1) > s_directMask + 1)
    growDirect();
  s_slots[i].hidden = hidden;
  s_slots[i].key = s_nextKey;
  s_typeNames[i] = typeName;
  ++s_count;
  placeDirect(s_direct, s_directMask, hidden, s_nextKey);
  return s_nextKey;
}

unsigned int IdTable::getKey(unsigned long address) { return s_slots[find(hide(address))].key; }

void IdTable::remove(unsigned long address) {
  std::size_t i = find(hide(address));
  if (s_slots[i].key == 0)
    return;
  Direct& d = s_direct[s_slots[i].key & s_directMask];
  if (d.key == s_slots[i].key && d.hidden == s_slots[i].hidden) {
    d.key = 0;
    d.hidden = 0;
  }
  // Backward-shift deletion: pull later members of the cluster into the hole when the hole
  // lies between their home and their slot, so no tombstones are needed.
  for (std::size_t j = (i + 1) & s_mask; s_slots[j].key != 0; j = (j + 1) & s_mask) {
    const std::size_t h = home(s_slots[j].hidden);
    if (((j - h) & s_mask) >= ((j - i) & s_mask)) {
      s_slots[i] = s_slots[j];
      s_typeNames[i] = s_typeNames[j];
      i = j;
    }
  }
  s_slots[i].key = 0;
  s_slots[i].hidden = 0;
  s_typeNames[i] = nullptr;
  --s_count;
}

std::size_t IdTable::size() { return s_count; }

std::size_t IdTable::size(const char* typeName) {
  std::size_t count = 0;
  if (s_typeNames == nullptr)
    return 0;
  for (std::size_t i = 0; i <= s_mask; ++i)
    if (s_slots[i].key != 0 && std::strcmp(s_typeNames[i], typeName) == 0)
      ++count;
  return count;
}

} // namespace KORVAN
