// Shared test helpers for the computation core.
#pragma once

#include <array>
#include <cmath>
#include <string>

#include "common/coefficients.h"
#include "core/controller.h"

namespace pitch::testing {

// The window's start-up coefficients.
inline constexpr std::array<Real, 5> kDefaults = kDefaultCoefficients;

// |actual − expected| within half a unit of the sixth significant digit of expected.
inline ::testing::AssertionResult SixDigits(double actual, double expected) {
  const double unit = std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - 5);
  if (std::fabs(actual - expected) <= 0.5 * unit) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << actual << " is not " << expected << " to six digits";
}

}  // namespace pitch::testing
