#include "Utils/base/IdTable.hh"

#include <cstring>
#include <string>
#include <unordered_map>

namespace KORVAN {

namespace {

struct Entry {
  unsigned int key;
  const char* typeName;
};

// Leaked on purpose: handles are removed by destructors of static objects at exit.
std::unordered_map<unsigned long, Entry>& table() {
  static auto* sl_table = new std::unordered_map<unsigned long, Entry>(1024);
  return *sl_table;
}

unsigned int s_nextKey = 0;

// Addresses are stored scrambled so that the table does not count as a reference to its objects:
// LeakSanitizer still reports an object that was never deleted.
inline unsigned long hide(unsigned long address) { return address ^ 0xA5A5A5A5A5A5A5A5UL; }

} // namespace

unsigned int IdTable::insert(unsigned long address, const char* typeName) {
  auto result = table().emplace(hide(address), Entry{0, typeName});
  if (!result.second)
    return 0;
  if (++s_nextKey == 0) // wrapped: keys must stay non-zero
    ++s_nextKey;
  result.first->second.key = s_nextKey;
  return s_nextKey;
}

unsigned int IdTable::getKey(unsigned long address) {
  auto& t = table();
  auto it = t.find(hide(address));
  return it == t.end() ? 0 : it->second.key;
}

void IdTable::remove(unsigned long address) { table().erase(hide(address)); }

std::size_t IdTable::size() { return table().size(); }

std::size_t IdTable::size(const char* typeName) {
  std::size_t count = 0;
  for (const auto& entry : table())
    if (std::strcmp(entry.second.typeName, typeName) == 0)
      ++count;
  return count;
}

} // namespace KORVAN
