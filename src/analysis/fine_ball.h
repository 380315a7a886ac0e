// Midpoint–radius arithmetic with a midpoint of about 128 bits: the unevaluated sum hi + lo of two
// extended numbers, |lo| at most half a unit in the last place of hi. It decides the signs that a
// Ball (analysis/ball.h) cannot, at a few times a Ball's cost and far below the cost of exact
// rationals: a polynomial whose coefficients cancel to a thousandth of their terms, or a value
// within half a unit of a double from a root.
//
// Sums and products of the leading parts are split exactly into a rounded value and its error
// (Knuth's two-sum, Dekker's two-product); the lower parts are combined in extended precision
// and their rounding, bounded by half a unit in the last place of each result, goes to the
// radius. A sum or product of two extended numbers is held exactly, with radius 0 (a product
// only away from the underflow range).
// The radius' own rounding is covered by a relative widening, a product near the underflow range
// (where the two-product is no longer exact) by a unit of the product and the smallest
// subnormal, the lower parts' products by the smallest normal number. A FineBall whose parts or
// radius are not finite certifies nothing.
#pragma once

#include <cmath>
#include <limits>

#include "analysis/ball.h"
#include "core/extended.h"

namespace pitch::analysis {

struct FineBall {
  Extended hi = 0;
  Extended lo = 0;
  Extended rad = 0;

  FineBall() = default;
  // An exact value.
  FineBall(Extended value) : hi(value) {}  // NOLINT(google-explicit-constructor)

  bool IsExactZero() const { return hi == 0 && lo == 0 && rad == 0; }
  // An extended number, exactly.
  bool IsExtended() const { return lo == 0 && rad == 0; }
  bool Finite() const { return std::isfinite(hi) && std::isfinite(lo) && std::isfinite(rad); }
  // As Ball::Sign: −1, 0 (an exact zero) or 1 when the ball decides it, else 2.
  int Sign() const {
    if (!Finite()) {
      return 2;
    }
    if (IsExactZero()) {
      return 0;
    }
    // |hi + lo| ≥ |hi| − |lo|; the difference and the product below are each rounded by at
    // most kUnit of themselves, which the factor more than takes back.
    const Extended least = (std::fabs(hi) - std::fabs(lo)) * (1 - 4 * Ball::kUnit);
    if (least > rad) {
      const Extended sum = hi + lo;
      return sum > 0 ? 1 : -1;
    }
    return 2;
  }
};

namespace fine_detail {

struct Split2 {
  Extended value;
  Extended error;
};

inline Split2 TwoSum(Extended a, Extended b) {
  const Extended s = a + b;
  return {s, ball_detail::SumError(a, b, s)};
}

// Exact unless the product underflows or a half overflows (then not finite).
inline Split2 TwoProduct(Extended a, Extended b) {
  const auto split = [](Extended x, Extended& high, Extended& low) {
    const Extended c = (0x1p32L + 1) * x;
    high = c - (c - x);
    low = x - high;
  };
  const Extended p = a * b;
  Extended ah, al, bh, bl;
  split(a, ah, al);
  split(b, bh, bl);
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

// A value that a split holds exactly (|error| at most half a unit in the last place of value).
inline FineBall Exactly(Split2 exact) {
  FineBall r;
  r.hi = exact.value;
  r.lo = exact.error;
  return r;
}

// hi + lo renormalised, with the bound of the rounding of `rest` folded into the radius.
inline FineBall Make(Split2 lead, Extended rest, Extended rest_rounding, Extended rad) {
  const Extended tail = rest + lead.error;
  const Split2 sum = TwoSum(lead.value, tail);
  FineBall r;
  r.hi = sum.value;
  r.lo = sum.error;
  r.rad = (rad + rest_rounding + std::fabs(tail) * Ball::kUnit) * Ball::kWiden;
  return r;
}

}  // namespace fine_detail

inline FineBall operator-(const FineBall& a) {
  FineBall r = a;
  r.hi = -a.hi;
  r.lo = -a.lo;
  return r;
}

inline FineBall operator+(const FineBall& a, const FineBall& b) {
  if (b.IsExactZero()) {
    return a;
  }
  if (a.IsExactZero()) {
    return b;
  }
  if (a.IsExtended() && b.IsExtended()) {
    // The sum of two extended numbers is hi + lo exactly.
    const fine_detail::Split2 sum = fine_detail::TwoSum(a.hi, b.hi);
    return fine_detail::Exactly(sum);
  }
  const Extended rest = a.lo + b.lo;
  return fine_detail::Make(fine_detail::TwoSum(a.hi, b.hi), rest, std::fabs(rest) * Ball::kUnit,
                           a.rad + b.rad);
}
inline FineBall operator-(const FineBall& a, const FineBall& b) { return a + (-b); }

inline FineBall operator*(const FineBall& a, const FineBall& b) {
  if (a.IsExactZero() || b.IsExactZero()) {
    return {};
  }
  const fine_detail::Split2 lead = fine_detail::TwoProduct(a.hi, b.hi);
  if (a.IsExtended() && b.IsExtended() && !(std::fabs(lead.value) < ball_detail::kUnderflowRisk)) {
    // The product of two extended numbers is hi + lo exactly away from the underflow range.
    return fine_detail::Exactly(lead);
  }
  const Extended cross1 = a.hi * b.lo;
  const Extended cross2 = a.lo * b.hi;
  const Extended low = a.lo * b.lo;
  const Extended rest = (cross1 + cross2) + low;
  // Five roundings, each at most a unit of a result no larger than the sum of the magnitudes.
  Extended rounding =
      (std::fabs(cross1) + std::fabs(cross2) + std::fabs(low) + std::fabs(rest)) * 4 * Ball::kUnit;
  // Products of the lower parts may underflow even when the leading product does not: the
  // smallest normal number bounds what four of them lose (a subnormal operand here would cost
  // the x87 unit a slow microcode assist on every product).
  rounding += std::numeric_limits<Extended>::min();
  if (std::fabs(lead.value) < ball_detail::kUnderflowRisk) {
    rounding +=
        std::fabs(lead.value) * Ball::kUnit + 8 * std::numeric_limits<Extended>::denorm_min();
  }
  const Extended magnitude_a = std::fabs(a.hi) + std::fabs(a.lo);
  const Extended magnitude_b = std::fabs(b.hi) + std::fabs(b.lo);
  const Extended rad = (magnitude_a * b.rad + magnitude_b * a.rad + a.rad * b.rad) * Ball::kWiden;
  return fine_detail::Make(lead, rest, rounding, rad);
}

inline FineBall& operator+=(FineBall& a, const FineBall& b) { return a = a + b; }
inline FineBall& operator-=(FineBall& a, const FineBall& b) { return a = a - b; }
inline FineBall& operator*=(FineBall& a, const FineBall& b) { return a = a * b; }

}  // namespace pitch::analysis
