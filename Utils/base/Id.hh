#ifndef KORVAN_UTILS_ID_HH
#define KORVAN_UTILS_ID_HH

#include <cstdint>
#include <ostream>
#include <string>
#include <typeinfo>

#include "Utils/base/Error.hh"
#include "Utils/base/IdTable.hh"

namespace KORVAN {

/// Carries the error type of every failed handle check.
class IdErr {
public:
  static const std::string& IdMgrInvalidItemPtrError() {
    static const std::string sl_lblStr("IdMgrInvalidItemPtrError");
    return sl_lblStr;
  }
};

/// Validating handle: an object's address and the key under which the object registered itself
/// in the table of live objects. A handle never owns its object; isValid() never reads it.
template <class T>
class Id {
public:
  Id(T* ptr);
  Id(const Id& org) : m_ptr(org.m_ptr), m_key(org.m_key) {}
  Id() : m_ptr(nullptr), m_key(0) {}
  /// The handle of the object registered at the address that an object-domain value carries.
  explicit Id(double val);

  template <class X>
  Id(const Id<X>& org) { copyAndCastFromId(org); }

  /// The address as a double: how objects stand in the value domain of an object variable.
  operator double() const { return static_cast<double>(reinterpret_cast<std::uintptr_t>(m_ptr)); }

  Id& operator=(const Id& org) {
    m_ptr = org.m_ptr;
    m_key = org.m_key;
    return *this;
  }
  template <class X>
  Id& operator=(const Id<X>& org) {
    copyAndCastFromId(org);
    return *this;
  }

  T* operator->() const { return m_ptr; }
  T& operator*() const { return *m_ptr; }
  template <class X>
  operator X*() const { return static_cast<X*>(m_ptr); }

  static const Id& noId() {
    static const Id* s_noId = new Id();
    return *s_noId;
  }

  bool isNoId() const { return m_ptr == nullptr && m_key == 0; }
  bool isValid() const {
    return m_ptr != nullptr && m_key != 0 && IdTable::isLive(address(m_ptr), m_key);
  }

  bool operator==(const Id& comp) const { return m_ptr == comp.m_ptr && m_key == comp.m_key; }
  bool operator!=(const Id& comp) const { return !(*this == comp); }
  bool operator<(const Id& comp) const { return address(m_ptr) < address(comp.m_ptr); }

  void print(std::ostream& os) const {
    if (isNoId())
      os << "noId";
    else
      os << "id_" << m_key;
  }

  /// Unregisters the object (never deletes it); this handle becomes empty, its copies stale.
  void remove();

  template <class X>
  static bool convertable(const Id<X>& id) {
    return id.m_ptr != nullptr && dynamic_cast<T*>(id.m_ptr) != nullptr;
  }

  /// The key under which the object is registered (0 for none); for diagnostics and tests.
  unsigned int getKey() const { return m_key; }

private:
  template <class X>
  friend class Id;

  static unsigned long address(const void* p) {
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p));
  }
  static std::string typeName() { return typeid(T).name(); }

  template <class X>
  void copyAndCastFromId(const Id<X>& org);

  T* m_ptr;
  unsigned int m_key;
};

template <class T>
Id<T>::Id(T* ptr) : m_ptr(nullptr), m_key(0) {
  checkErrorType(ptr != 0, "Cannot generate an Id<" << typeName() << "> for 0 pointer.",
                 IdErr::IdMgrInvalidItemPtrError());
  m_key = IdTable::insert(address(ptr), typeid(T).name());
  checkErrorType(m_key != 0,
                 "Cannot generate an Id<" << typeName()
                                          << "> for a pointer that has not been cleaned up.",
                 IdErr::IdMgrInvalidItemPtrError());
  m_ptr = ptr;
}

template <class T>
Id<T>::Id(double val) : m_ptr(nullptr), m_key(0) {
  if (val == 0.0)
    return;
  // A value that is no address (negative, fractional, too large) finds no registration.
  unsigned long addr = 0;
  if (val > 0.0 && val < 18446744073709551616.0 && val == static_cast<double>(static_cast<unsigned long>(val)))
    addr = static_cast<unsigned long>(val);
  m_key = addr == 0 ? 0 : IdTable::getKey(addr);
  checkErrorType(m_key != 0,
                 "Cannot instantiate an Id<" << typeName()
                                             << "> for this address. No instance present.",
                 IdErr::IdMgrInvalidItemPtrError());
  m_ptr = reinterpret_cast<T*>(static_cast<std::uintptr_t>(addr));
}

template <class T>
void Id<T>::remove() {
  checkErrorType(isValid(), "Cannot remove an invalid Id<" << typeName() << ">.",
                 IdErr::IdMgrInvalidItemPtrError());
  IdTable::remove(address(m_ptr));
  m_key = 0;
  m_ptr = nullptr;
}

template <class T>
template <class X>
void Id<T>::copyAndCastFromId(const Id<X>& org) {
  if (org.isNoId()) {
    m_ptr = nullptr;
    m_key = 0;
    return;
  }
  // A live source at the address of the cast result lends its key: no look-up.
  const bool live = org.m_key != 0 && IdTable::isLive(address(org.m_ptr), org.m_key);
  // The run-time type test reads the object: make sure it is still alive first.
  if (!live && IdTable::getKey(address(org.m_ptr)) == 0)
    Error("m_key != 0",
          "Cannot create an Id<" + Id<X>::typeName() +
              "> for this address since no instance is present.",
          IdErr::IdMgrInvalidItemPtrError(), KORVAN_ERROR_FILE(), __LINE__)
        .handleAssert();
  T* ptr = dynamic_cast<T*>(org.m_ptr);
  if (ptr == nullptr)
    Error("Id<T>::convertable(org)",
          "Invalid cast from Id<" + Id<X>::typeName() + "> to Id<" + typeName() + ">.",
          IdErr::IdMgrInvalidItemPtrError(), KORVAN_ERROR_FILE(), __LINE__)
        .handleAssert();
  m_ptr = ptr;
  if (live && address(ptr) == address(org.m_ptr)) {
    m_key = org.m_key;
    return;
  }
  m_key = IdTable::getKey(address(ptr));
  checkErrorType(m_key != 0,
                 "Cannot create an Id<" << Id<X>::typeName()
                                        << "> for this address since no instance is present.",
                 IdErr::IdMgrInvalidItemPtrError());
}

template <class T>
std::ostream& operator<<(std::ostream& outStream, const Id<T>& id) {
  id.print(outStream);
  return outStream;
}

} // namespace KORVAN

#endif
