#ifndef KORVAN_CE_TEST_BOUNDS_HH
#define KORVAN_CE_TEST_BOUNDS_HH

#include <gtest/gtest.h>

#include <utility>

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"

/// The bounds of a variable's current domain, as one comparable value.
inline std::pair<double, double> bounds(const KORVAN::ConstrainedVariableId& var) {
  return std::make_pair(var->lastDomain().getLowerBound(), var->lastDomain().getUpperBound());
}

inline std::pair<double, double> bounds(const KORVAN::AbstractDomain& dom) {
  return std::make_pair(dom.getLowerBound(), dom.getUpperBound());
}

#define EXPECT_BOUNDS(x, lb, ub) EXPECT_EQ(std::make_pair(double(lb), double(ub)), bounds(x))
#define ASSERT_BOUNDS(x, lb, ub) ASSERT_EQ(std::make_pair(double(lb), double(ub)), bounds(x))

#endif
