#ifndef KORVAN_UTILS_UTILS_HH
#define KORVAN_UTILS_UTILS_HH

#include <list>
#include <set>
#include <string>

#include "Utils/base/Error.hh"
#include "Utils/base/Id.hh"

namespace KORVAN {

/// The planning horizon. A power of two, so that single-precision floats (model arguments are
/// narrowed to float) represent it and its negation exactly and "infinite" stays recognisable.
inline int g_infiniteTime() { return 134217728; }

/// The infinite time as a double, the unbounded value of quantities and limits.
inline double g_infiniteTimeAsDouble() { return static_cast<double>(g_infiniteTime()); }

/// The name of a variable that was given none.
inline const std::string& g_noVarName() {
  static const std::string sl_name("NO_NAME_ConstrainedVariable");
  return sl_name;
}

/// Text of a number without trailing zeros: 3 -> "3", 2.5 -> "2.5".
std::string toString(double value);

/// Whether the text is a number written in decimals: an optional sign, digits with an optional
/// fraction, an optional exponent ("-2.5", "1e3"). Hexadecimal ("0x10"), "nan" and "infinity",
/// which the C library also reads, are not.
bool isDecimalNumeral(const std::string& text);
/// The value of a decimal numeral; false for other text and for one beyond a double's range or
/// too close to 0 to be told from it (1e-400). A subnormal value (5e-324) is a number.
bool decimalValue(const std::string& text, double& value);

/// Memory for the way out of an allocation failure. While armed, the first failed allocation
/// frees a reserve before std::bad_alloc is raised, so that what unwinds and what reports the
/// failure find memory; every failure is counted, since an output stream swallows the exception
/// but not the count.
class MemoryReserve {
public:
  /// Installs the new-handler and takes a reserve of the given size (again after a failure).
  static void arm(size_t bytes);
  /// Gives the reserve back and restores the new-handler found by arm().
  static void disarm();
  /// Failed allocations seen while armed.
  static unsigned long failures();
  /// While one lives, a failed allocation that still finds the reserve frees it and is tried
  /// again instead of raising: for teardowns, whose destructors nothing may leave. It is counted
  /// as a failure all the same.
  class NoRaise {
  public:
    NoRaise();
    ~NoRaise();
    NoRaise(const NoRaise&) = delete;
    NoRaise& operator=(const NoRaise&) = delete;
  };
};

/// Deletes every object of the set; every handle must be valid.
template <class T, class C>
void cleanup(std::set<Id<T>, C>& objects) {
  for (auto it = objects.begin(); it != objects.end();) {
    check_error((*it).isValid());
    T* element = (T*)(*it);
    ++it;
    delete element;
  }
  objects.clear();
}

/// Deletes every object of the list; empty handles are skipped, the others must be valid.
template <class T>
void cleanup(std::list<Id<T>>& objects) {
  for (auto it = objects.begin(); it != objects.end();) {
    Id<T> object = *it;
    ++it;
    if (object.isNoId())
      continue;
    check_error(object.isValid());
    delete (T*)object;
  }
  objects.clear();
}

} // namespace KORVAN

#endif
