// Shared test helpers for the computation core.
#pragma once

#include <array>
#include <cmath>
#include <string>

#include "core/controller.h"

namespace pitch::testing {

// The window's start-up coefficients.
inline constexpr std::array<Real, 5> kDefaults = {0.880, 0.404, 7.028, 0.987, 0.251};

inline void SetCoefficients(TController& c, const std::array<Real, 5>& v) {
  c.c1 = v[0];
  c.c2 = v[1];
  c.c3 = v[2];
  c.c4 = v[3];
  c.c5 = v[4];
}

// |actual − expected| within half a unit of the sixth significant digit of expected.
inline ::testing::AssertionResult SixDigits(double actual, double expected) {
  const double unit = std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - 5);
  if (std::fabs(actual - expected) <= 0.5 * unit) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << actual << " is not " << expected << " to six digits";
}

}  // namespace pitch::testing
