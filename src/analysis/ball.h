// Midpoint–radius arithmetic in extended precision: a Ball holds a value mid and a bound rad such
// that the exact value it stands for lies within [mid − rad, mid + rad]. Every operation rounds
// its midpoint to nearest and adds that rounding error to the radius: found exactly by an
// error-free transform for a sum and for a product of exact operands (so a result that is exact
// keeps radius 0), bounded by a unit in the last place otherwise. The radius' own rounding is
// covered by a relative widening, a product near the underflow range by an extra unit and the
// smallest subnormal. A Ball whose midpoint or radius is not finite certifies nothing.
#pragma once

#include <cmath>
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

  // One unit in the last place of an extended value, relative: 2⁻⁶³.
  static constexpr Extended kUnit = 0x1p-63L;
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

// The rounding error of a·b, exactly unless the product underflows (Dekker's two-product with
// Veltkamp's split of the 64-bit significands into halves).
inline void Split(Extended a, Extended& high, Extended& low) {
  const Extended c = (0x1p32L + 1) * a;
  high = c - (c - a);
  low = a - high;
}
inline Extended ProductError(Extended a, Extended b, Extended p) {
  Extended ah, al, bh, bl;
  Split(a, ah, al);
  Split(b, bh, bl);
  return ((ah * bh - p) + ah * bl + al * bh) + al * bl;
}

// Below this magnitude a product may have lost bits to underflow.
inline constexpr Extended kUnderflowRisk = 0x1p-16000L;

}  // namespace ball_detail

// The rounding of mid is added exactly; the radius' own rounding is covered by kWiden.
inline Ball operator+(const Ball& a, const Ball& b) {
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
  // The rounding exactly for exact operands (so that an exact product stays exact); a bound of
  // one unit in the last place when a radius is there anyway.
  const Extended rounding = a.rad == 0 && b.rad == 0
                                ? std::fabs(ball_detail::ProductError(a.mid, b.mid, m))
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
