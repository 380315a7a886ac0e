// Midpoint–radius arithmetic in extended precision: a Ball holds a value mid and a bound rad such
// that the exact value it stands for lies within [mid − rad, mid + rad]. Every operation rounds
// its midpoint to nearest and adds that rounding error to the radius: found exactly by an
// error-free transform for a sum; for a product, zero when the operands are exact and their
// significands fit together in 64 bits, else bounded by half a unit in the last place (so a result
// that is exact keeps radius 0). The radius' own rounding is covered by a relative widening, a
// product near the underflow range by an extra unit and the smallest subnormal. A Ball whose
// midpoint or radius is not finite certifies nothing.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/extended.h"

namespace pitch::analysis {

struct Ball {
  Extended mid = 0;
  Extended rad = 0;

  Ball() = default;
  // An exact value.
  Ball(Extended value) : mid(value) {}  // NOLINT(google-explicit-constructor)
  Ball(Extended m, Extended r) : mid(m), rad(r) {}

  // The most that rounding to nearest moves a normal extended result, relative to the result:
  // half a unit in the last place, 2⁻⁶⁴.
  static constexpr Extended kUnit = 0x1p-64L;
  // The radius grows by this factor to cover its own rounding.
  static constexpr Extended kWiden = 1 + 0x1p-60L;

  bool IsExactZero() const { return mid == 0 && rad == 0; }
  bool Finite() const { return std::isfinite(mid) && std::isfinite(rad); }
  // The sign of the exact value when the ball decides it: −1, 0 (an exact zero) or 1; 2 when it
  // does not.
  int Sign() const {
    if (!Finite()) {
      return 2;
    }
    if (IsExactZero()) {
      return 0;
    }
    if (mid > rad) {
      return 1;
    }
    if (-mid > rad) {
      return -1;
    }
    return 2;
  }
};

namespace ball_detail {

// The rounding error of a + b, exactly (Knuth's two-sum).
inline Extended SumError(Extended a, Extended b, Extended s) {
  const Extended bb = s - a;
  return (a - (s - bb)) + (b - bb);
}

// The x87 format in memory: a 64-bit significand with its leading bit, the sign and the 15-bit
// biased exponent, and padding (bytes, which may hold anything).
struct ExtendedBits {
  std::uint64_t significand;
  std::uint16_t sign_exponent;
  unsigned char padding[sizeof(Extended) - 10];
};
static_assert(sizeof(ExtendedBits) == sizeof(Extended));

// The bits of a finite extended number's significand from its highest set bit to its lowest.
inline int SignificantBits(Extended x) {
  const std::uint64_t m = std::bit_cast<ExtendedBits>(x).significand;
  return m == 0 ? 0 : 64 - std::countl_zero(m) - std::countr_zero(m);
}

// A product of normal numbers whose significands together hold at most 64 bits is exact (the
// integers' product fits in 64 bits): the error-free transform is needed only for the others.
inline bool ProductIsExact(Extended a, Extended b) {
  return SignificantBits(a) + SignificantBits(b) <= 64;
}

// Below this magnitude a product may have lost bits to underflow.
inline constexpr Extended kUnderflowRisk = 0x1p-16000L;

}  // namespace ball_detail

// The rounding of mid is added exactly; the radius' own rounding is covered by kWiden.
inline Ball operator+(const Ball& a, const Ball& b) {
  // An exact zero adds nothing, not even a widening.
  if (b.IsExactZero()) {
    return a;
  }
  if (a.IsExactZero()) {
    return b;
  }
  const Extended m = a.mid + b.mid;
  const Extended e = ball_detail::SumError(a.mid, b.mid, m);
  return {m, (a.rad + b.rad + std::fabs(e)) * Ball::kWiden};
}
inline Ball operator-(const Ball& a) { return {-a.mid, a.rad}; }
inline Ball operator-(const Ball& a, const Ball& b) { return a + (-b); }
inline Ball operator*(const Ball& a, const Ball& b) {
  if (a.IsExactZero() || b.IsExactZero()) {
    return {};
  }
  const Extended m = a.mid * b.mid;
  // The rounding: 0 for an exact product of exact operands (so that it stays exact), else
  // bounded by half a unit in the last place.
  const Extended rounding = a.rad == 0 && b.rad == 0 && ball_detail::ProductIsExact(a.mid, b.mid)
                                ? 0
                                : std::fabs(m) * Ball::kUnit;
  Extended r = std::fabs(a.mid) * b.rad + std::fabs(b.mid) * a.rad + a.rad * b.rad + rounding;
  if (std::fabs(m) < ball_detail::kUnderflowRisk) {
    r += std::fabs(m) * Ball::kUnit + std::numeric_limits<Extended>::denorm_min();
  }
  return {m, r * Ball::kWiden};
}
inline Ball& operator+=(Ball& a, const Ball& b) { return a = a + b; }
inline Ball& operator-=(Ball& a, const Ball& b) { return a = a - b; }
inline Ball& operator*=(Ball& a, const Ball& b) { return a = a * b; }

}  // namespace pitch::analysis
