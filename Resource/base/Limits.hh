#ifndef KORVAN_RESOURCE_LIMITS_HH
#define KORVAN_RESOURCE_LIMITS_HH

// How a level, a rate or a total meets a limit, for every resource model,
// profile and detector, and for the checks of a finished plan.
//
// Levels and totals are sums of the model's quantities, and quantities are
// written in decimals that binary doubles only approximate: 0.1 + 0.2 is
// 0.30000000000000004. Summing n values x_i in doubles errs by at most
// (n - 1) u sum|x_i|, u = 2^-53 the unit roundoff. A value breaks a limit only
// when it lies beyond it by more than (n + 1) eps sum|x_i|, eps = 2u, where
// the sum of magnitudes is taken to be at least the larger of the value and
// the limit: rounding is forgiven, a digit the user wrote is not
// (1000000.0005 breaks 1000000). The caller says what was summed (Rounding);
// without it, the value is taken to be one written value. Whole numbers are
// compared exactly while (n + 1) sum|x_i| stays below 2^51.
//
// A limit at the horizon is the model's "no limit": quantities are
// finite and at most the horizon, but their sums may pass it, and no finite
// sum breaks a limit the model did not set.

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "Utils/base/Utils.hh"

namespace KORVAN {

/// What a value was summed from: how many values, and the sum of their magnitudes. Values that
/// are not finite add nothing: a bound at infinity is compared as such.
struct Rounding {
  double terms = 1;
  double magnitude = 0;

  /// Nothing summed yet.
  static Rounding none() {
    Rounding r;
    r.terms = 0;
    return r;
  }
  void add(double value) {
    if (std::isfinite(value)) {
      terms += 1;
      magnitude += std::fabs(value);
    }
  }
  /// Both sums, for a value compared with one from another sum.
  Rounding& merge(const Rounding& other) {
    terms += other.terms;
    magnitude += other.magnitude;
    return *this;
  }
};

/// The most that rounding can have moved `value` off `limit` when `value` was summed as `r` says.
inline double roundingAllowance(double value, double limit, const Rounding& r = Rounding()) {
  const double magnitude = std::max(r.magnitude, std::max(std::fabs(value), std::fabs(limit)));
  return (std::max(1.0, r.terms) + 1) * DBL_EPSILON * magnitude;
}

/// True when `value` and `limit` are one decimal value apart from rounding.
inline bool sameAtLimitPrecision(double value, double limit, const Rounding& r = Rounding()) {
  return std::isfinite(value) && std::isfinite(limit) && std::fabs(value - limit) <= roundingAllowance(value, limit, r);
}

/// True when `a` exceeds `b` by more than rounding: two sums compared, neither of them a limit.
inline bool beyondRounding(double a, double b, const Rounding& r = Rounding()) {
  return a > b && !sameAtLimitPrecision(a, b, r);
}

/// True when `value` lies above `limit` by more than rounding; never for a value that is not a
/// number, nor for a limit at the horizon: no value written passes it, and there it is none.
inline bool aboveLimit(double value, double limit, const Rounding& r = Rounding()) {
  return limit != g_infiniteTimeAsDouble() && beyondRounding(value, limit, r);
}

/// True when `value` lies below `limit` by more than rounding; never for a value that is not a
/// number, nor for a limit at the horizon: no value written passes it, and there it is none.
inline bool belowLimit(double value, double limit, const Rounding& r = Rounding()) {
  return limit != -g_infiniteTimeAsDouble() && beyondRounding(limit, value, r);
}

/// A limit or an initial level at the horizon is one the model did not set: in sums it is
/// infinite, so that no finite amount taken from it makes it a number (the horizon would not do:
/// a sum can pass it, and one that takes from it is a number below it).
inline double unboundedAtHorizon(double bound) {
  if (std::fabs(bound) == g_infiniteTimeAsDouble())
    return std::copysign(std::numeric_limits<double>::infinity(), bound);
  return bound;
}

/// What a limit still allows once `used` of it is taken: without end for one the model did not
/// set, however far a finite sum went.
inline double remainingOf(double limit, double used) {
  const double unbounded = unboundedAtHorizon(limit);
  return std::isinf(unbounded) ? unbounded : unbounded - used;
}

}

#endif
