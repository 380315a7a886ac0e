// A polynomial in FLINT's rational form (integer coefficients over one positive denominator) that
// frees itself: greatest common divisors, remainders and signs far faster than in GMP rationals
// coefficient by coefficient.
#pragma once

#include <flint/fmpq_poly.h>

#include "analysis/polynomial.h"

namespace pitch::analysis {

class RationalPolynomial {
 public:
  RationalPolynomial() { fmpq_poly_init(value_); }
  explicit RationalPolynomial(const Poly<Exact>& p) : RationalPolynomial() {
    for (std::size_t k = 0; k < p.size(); ++k) {
      fmpq_poly_set_coeff_mpq(value_, static_cast<slong>(k), p[k].get_mpq_t());
    }
  }
  ~RationalPolynomial() { fmpq_poly_clear(value_); }
  RationalPolynomial(const RationalPolynomial&) = delete;
  RationalPolynomial& operator=(const RationalPolynomial&) = delete;
  fmpq_poly_struct* get() { return value_; }
  const fmpq_poly_struct* get() const { return value_; }

  // The coefficients as GMP rationals, lowest power first.
  Poly<Exact> ToPoly() const {
    Poly<Exact> p(static_cast<std::size_t>(fmpq_poly_length(value_)));
    for (std::size_t k = 0; k < p.size(); ++k) {
      fmpq_poly_get_coeff_mpq(p[k].get_mpq_t(), value_, static_cast<slong>(k));
    }
    return p;
  }

 private:
  fmpq_poly_t value_;
};

}  // namespace pitch::analysis
