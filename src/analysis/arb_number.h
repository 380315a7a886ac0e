// An Arb ball as a value type, so that the templated polynomial code forms the loop's crossing
// polynomials in balls of any precision: every operation rounds at ArbNumber::precision bits
// (set for the calling thread with ArbPrecision) and adds its rounding to the ball's radius.
#pragma once

#include <arb.h>

#include "analysis/loop_polynomials.h"
#include "analysis/polynomial.h"
#include "core/extended.h"

namespace pitch::analysis {

class ArbNumber {
 public:
  // The working precision of this thread, in bits.
  static inline thread_local slong precision = 128;

  ArbNumber() { arb_init(value_); }
  ArbNumber(const ArbNumber& other) : ArbNumber() { arb_set(value_, other.value_); }
  ArbNumber(ArbNumber&& other) noexcept : ArbNumber() { arb_swap(value_, other.value_); }
  ArbNumber& operator=(const ArbNumber& other) {
    arb_set(value_, other.value_);
    return *this;
  }
  ArbNumber& operator=(ArbNumber&& other) noexcept {
    arb_swap(value_, other.value_);
    return *this;
  }
  ~ArbNumber() { arb_clear(value_); }

  // The exact value of an extended number.
  static ArbNumber Of(Extended x) {
    ArbNumber r;
    SetExtended(arb_midref(r.value_), x);
    return r;
  }
  static void SetExtended(arf_t r, Extended x);

  arb_ptr get() { return value_; }
  arb_srcptr get() const { return value_; }

  friend ArbNumber operator+(const ArbNumber& a, const ArbNumber& b) {
    ArbNumber r;
    arb_add(r.value_, a.value_, b.value_, precision);
    return r;
  }
  friend ArbNumber operator-(const ArbNumber& a, const ArbNumber& b) {
    ArbNumber r;
    arb_sub(r.value_, a.value_, b.value_, precision);
    return r;
  }
  friend ArbNumber operator-(const ArbNumber& a) {
    ArbNumber r;
    arb_neg(r.value_, a.value_);
    return r;
  }
  friend ArbNumber operator*(const ArbNumber& a, const ArbNumber& b) {
    ArbNumber r;
    arb_mul(r.value_, a.value_, b.value_, precision);
    return r;
  }
  ArbNumber& operator+=(const ArbNumber& b) {
    arb_add(value_, value_, b.value_, precision);
    return *this;
  }
  ArbNumber& operator-=(const ArbNumber& b) {
    arb_sub(value_, value_, b.value_, precision);
    return *this;
  }
  ArbNumber& operator*=(const ArbNumber& b) {
    arb_mul(value_, value_, b.value_, precision);
    return *this;
  }

 private:
  arb_t value_;
};

// Sets ArbNumber::precision for a scope.
class ArbPrecision {
 public:
  explicit ArbPrecision(slong bits) : saved_(ArbNumber::precision) { ArbNumber::precision = bits; }
  ~ArbPrecision() { ArbNumber::precision = saved_; }
  ArbPrecision(const ArbPrecision&) = delete;
  ArbPrecision& operator=(const ArbPrecision&) = delete;

 private:
  slong saved_;
};

template <>
inline ArbNumber FromExtended<ArbNumber>(Extended x) {
  return ArbNumber::Of(x);
}

extern template LoopParts<ArbNumber> LoopPartsOf<ArbNumber>(const RationalLoop&);
extern template Poly<ArbNumber> CrossingPolynomialOf<ArbNumber>(const LoopParts<ArbNumber>&,
                                                                CrossingPolynomial);

}  // namespace pitch::analysis
