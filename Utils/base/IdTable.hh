#ifndef KORVAN_UTILS_IDTABLE_HH
#define KORVAN_UTILS_IDTABLE_HH

#include <cstddef>

namespace KORVAN {

/// Process-wide table of live objects behind Id<T>: address -> non-zero key.
///
/// Besides the index by address, registrations are kept in a direct-mapped array indexed by the
/// low bits of their key (a registration whose place is taken is left out of it), so that a
/// handle, which knows its key, mostly checks itself with one read and no hashing (isLive).
class IdTable {
public:
  /// Registers the address; returns its new key, or 0 when it is still registered.
  static unsigned int insert(unsigned long address, const char* typeName);
  /// Key of a registered address, 0 when the address is not registered.
  static unsigned int getKey(unsigned long address);
  /// Exactly getKey(address) == key, for a key != 0.
  static bool isLive(unsigned long address, unsigned int key) {
    const Direct& d = s_direct[key & s_directMask];
    if (d.key == key && d.hidden == hide(address))
      return true;
    return getKey(address) == key;
  }
  static void remove(unsigned long address);
  /// Live registrations, all types together.
  static std::size_t size();
  /// Live registrations under one type name.
  static std::size_t size(const char* typeName);

  /// A registration in the direct-mapped array; key 0 when the place is free.
  struct Direct {
    unsigned long hidden;
    unsigned int key;
  };

  // Addresses are stored scrambled so that the table does not count as a reference to its
  // objects: LeakSanitizer still reports an object that was never deleted.
  static unsigned long hide(unsigned long address) { return address ^ 0xA5A5A5A5A5A5A5A5UL; }

private:
  static void growDirect();

  static Direct* s_direct;
  static std::size_t s_directMask;
};

} // namespace KORVAN

#endif
