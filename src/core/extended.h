// Number types and checked extended-precision arithmetic.
//
// Every formula of the controller is evaluated in x87 extended precision from Real operands and
// rounded to a Real where it is stored. Faults are found by testing operands and results at each
// operation, never by reading the floating-point status flags (the compiler may move extended
// operations across such reads).
#pragma once

#include <cmath>
#include <limits>

#include "core/errors.h"

namespace pitch {

using Real = double;
using Extended = long double;

static_assert(std::numeric_limits<Real>::digits == 53, "Real must be an IEEE double");
static_assert(std::numeric_limits<Extended>::digits == 64 &&
                  std::numeric_limits<Extended>::max_exponent == 16384,
              "Extended must be the x87 80-bit format with a 64-bit significand");

namespace fp {

// An extended result: NaN means an invalid operation, infinity an overflow of the extended range.
inline Extended Checked(Extended r) {
  if (std::isnan(r)) {
    throw EInvalidOp();
  }
  if (std::isinf(r)) {
    throw EOverflow();
  }
  return r;
}

inline Extended Add(Extended a, Extended b) { return Checked(a + b); }
inline Extended Sub(Extended a, Extended b) { return Checked(a - b); }
inline Extended Mul(Extended a, Extended b) { return Checked(a * b); }

inline Extended Div(Extended a, Extended b) {
  if (b == 0) {
    if (a == 0 || std::isnan(a)) {
      throw EInvalidOp();  // 0/0
    }
    throw EZeroDivide();
  }
  return Checked(a / b);
}

// Square root; the root of -0 is -0 and no fault.
inline Extended Sqrt(Extended a) {
  if (a < 0 || std::isnan(a)) {
    throw EInvalidOp();
  }
  return std::sqrt(a);
}

// Rounds an extended value to a Real (to nearest, ties to even) as it is stored in a field or a
// named intermediate; a value beyond the largest Real is an overflow. Tiny values become subnormal
// or zero silently.
inline Real Store(Extended v) {
  const Real r = static_cast<Real>(v);
  if (std::isinf(r)) {
    throw EOverflow();
  }
  if (std::isnan(r)) {
    throw EInvalidOp();
  }
  return r;
}

}  // namespace fp
}  // namespace pitch
