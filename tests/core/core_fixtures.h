// Shared test helpers for the computation core.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "common/coefficients.h"
#include "core/controller.h"

namespace pitch::testing {

// The window's start-up coefficients.
inline constexpr std::array<Real, 5> kDefaults = kDefaultCoefficients;

// A Real with 17 significant digits and as a hexfloat: enough to tell any two apart and to paste
// back into a test.
inline std::string Digits17(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g (%a)", v, v);
  return text;
}

// |actual − expected| within half a unit of the sixth significant digit of expected.
inline ::testing::AssertionResult SixDigits(double actual, double expected) {
  const double unit = std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - 5);
  if (std::fabs(actual - expected) <= 0.5 * unit) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << Digits17(actual) << " is not " << Digits17(expected) << " to six digits";
}

}  // namespace pitch::testing
