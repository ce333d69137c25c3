#ifndef KORVAN_UTILS_IDTABLE_HH
#define KORVAN_UTILS_IDTABLE_HH

#include <cstddef>

namespace KORVAN {

/// Process-wide table of live objects behind Id<T>: address -> non-zero key.
///
/// Each registration also owns a record at a fixed index (its slot) until it is removed, so a
/// handle that kept the slot checks itself with one read and no hashing (isLive).
class IdTable {
public:
  /// Registers the address; returns its new key, or 0 when it is still registered.
  static unsigned int insert(unsigned long address, const char* typeName);
  /// The same, also giving the slot of the new registration (0 when none).
  static unsigned int insert(unsigned long address, const char* typeName, unsigned int& slot);
  /// Key of a registered address, 0 when the address is not registered.
  static unsigned int getKey(unsigned long address);
  /// The same, also giving the slot of the registration (0 when none).
  static unsigned int getKey(unsigned long address, unsigned int& slot);
  /// True exactly when getKey(address) == key, for a slot that insert() or getKey() gave for
  /// this address and key (key != 0). Slots are never moved while their registration lives.
  static bool isLive(unsigned long address, unsigned int key, unsigned int slot) {
    const Record& r = s_records[slot];
    return r.key == key && r.hidden == hide(address);
  }
  static void remove(unsigned long address);
  /// Live registrations, all types together.
  static std::size_t size();
  /// Live registrations under one type name.
  static std::size_t size(const char* typeName);

  /// One registration by slot; key 0 when the slot is free.
  struct Record {
    unsigned long hidden;
    unsigned int key;
    unsigned int nextFree;
  };

  // Addresses are stored scrambled so that the table does not count as a reference to its
  // objects: LeakSanitizer still reports an object that was never deleted.
  static unsigned long hide(unsigned long address) { return address ^ 0xA5A5A5A5A5A5A5A5UL; }

private:
  /// A free record index, growing the records when none is left.
  static unsigned int takeRecord();

  static Record* s_records;
};

} // namespace KORVAN

#endif
