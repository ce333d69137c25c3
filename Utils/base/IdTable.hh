#ifndef KORVAN_UTILS_IDTABLE_HH
#define KORVAN_UTILS_IDTABLE_HH

#include <cstddef>

namespace KORVAN {

/// Process-wide table of live objects behind Id<T>: address -> non-zero key.
class IdTable {
public:
  /// Registers the address; returns its new key, or 0 when it is still registered.
  static unsigned int insert(unsigned long address, const char* typeName);
  /// Key of a registered address, 0 when the address is not registered.
  static unsigned int getKey(unsigned long address);
  static void remove(unsigned long address);
  /// Live registrations, all types together.
  static std::size_t size();
  /// Live registrations under one type name.
  static std::size_t size(const char* typeName);
};

} // namespace KORVAN

#endif
