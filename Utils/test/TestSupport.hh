#ifndef KORVAN_UTILS_TEST_SUPPORT_HH
#define KORVAN_UTILS_TEST_SUPPORT_HH

#include <gtest/gtest.h>

#include <string>

#include "Utils/base/Error.hh"

/// Runs f and returns the Error it raised; a test failure when it raised none.
template <class F>
KORVAN::Error raised(F f) {
  try {
    f();
  } catch (const KORVAN::Error& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return KORVAN::Error("", "", 0);
}

/// The condition text and message of a failed check.
#define EXPECT_CHECK(error, condition, message)                \
  do {                                                         \
    const KORVAN::Error e_ = (error);                          \
    EXPECT_EQ(std::string(condition), e_.getCondition());     \
    EXPECT_EQ(std::string(message), e_.getMsg());             \
  } while (0)

#endif
