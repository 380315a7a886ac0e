#include "core/extended.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <limits>
#include <string>

namespace pitch {
namespace {

TEST(CheckedArithmetic, DivisionFaultsDependOnTheNumerator) {
  EXPECT_THROW(fp::Div(1, 0), EZeroDivide);
  EXPECT_THROW(fp::Div(-1, -0.0L), EZeroDivide);
  EXPECT_THROW(fp::Div(0, 0), EInvalidOp);
  EXPECT_THROW(fp::Div(-0.0L, 0), EInvalidOp);
  EXPECT_EQ(fp::Div(1, 4), 0.25L);
}

TEST(CheckedArithmetic, RootOfNegativeZeroIsNoFault) {
  EXPECT_THROW(fp::Sqrt(-1e-4000L), EInvalidOp);
  const Extended root = fp::Sqrt(-0.0L);
  EXPECT_EQ(root, 0);
  EXPECT_TRUE(std::signbit(root));
}

TEST(CheckedArithmetic, StoreOverflowsOnlyWhenTheRoundedValueLeavesTheRealRange) {
  const Extended max = DBL_MAX;
  const Extended half_ulp = std::ldexp(1.0L, 1023 - 53);
  // Just below the midpoint to the next binade, the value still rounds to the largest Real.
  EXPECT_EQ(fp::Store(max + half_ulp * 0.99L), DBL_MAX);
  EXPECT_THROW(fp::Store(max + half_ulp), EOverflow);
  EXPECT_THROW(fp::Store(-2 * max), EOverflow);
  // Underflow is silent: a subnormal or a zero.
  EXPECT_EQ(fp::Store(1e-400L), 0.0);
  EXPECT_EQ(fp::Store(std::numeric_limits<double>::denorm_min() * 1.2L),
            std::numeric_limits<double>::denorm_min());
}

TEST(ErrorMessages, FullStopIsAddedAfterCharactersAboveTheFullStop) {
  struct Row {
    std::string message;
    std::string shown;
  };
  const Row rows[] = {
      {"Floating point overflow", "Floating point overflow."},
      {"Code 123", "Code 123."},
      {"Question?", "Question?."},
      {"Heading:", "Heading:."},
      {"Ошибка", "Ошибка."},
      {"Done.", "Done."},
      {"Comma,", "Comma,"},
      {"Hyphen-", "Hyphen-"},
      {"(paren)", "(paren)"},
      {"'quoted'", "'quoted'"},
      {"\"quoted\"", "\"quoted\""},
      {"Bang!", "Bang!"},
      {"Space ", "Space "},
      {"", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(WithFullStop(row.message), row.shown) << row.message;
  }
}

}  // namespace
}  // namespace pitch
