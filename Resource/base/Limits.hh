#ifndef KORVAN_RESOURCE_LIMITS_HH
#define KORVAN_RESOURCE_LIMITS_HH

// How a level, a rate or a total meets a limit, for every resource model,
// profile and detector, and for the checks of a finished plan.
//
// Levels and totals are sums of the model's quantities, and quantities are
// written in decimals that binary doubles only approximate: 0.1 + 0.2 is
// 0.30000000000000004. A value breaks a limit only when it lies beyond it by
// more than a billionth of the larger of the two magnitudes, or of 1 when
// both are smaller: the precision at which interval domains take two bounds
// for one point. A sum of up to about a million quantities no larger than
// the limit (or 1) keeps its decimal verdict; whole numbers up to the
// horizon, 2^27, are compared exactly, since they differ by at least 1.

#include <algorithm>
#include <cmath>

namespace KORVAN {

/// True when `value` and `limit` are one decimal value apart from rounding.
inline bool sameAtLimitPrecision(double value, double limit) {
  return std::isfinite(value) && std::isfinite(limit) &&
         std::fabs(value - limit) <= 1e-9 * std::max(1.0, std::max(std::fabs(value), std::fabs(limit)));
}

/// True when `value` lies above `limit` by more than rounding; never for a value that is not a number.
inline bool aboveLimit(double value, double limit) {
  return value > limit && !sameAtLimitPrecision(value, limit);
}

/// True when `value` lies below `limit` by more than rounding; never for a value that is not a number.
inline bool belowLimit(double value, double limit) {
  return value < limit && !sameAtLimitPrecision(value, limit);
}

}

#endif
