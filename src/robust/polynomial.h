// Polynomials in the five coefficients c1 … c5 (and one more variable, the frequency where the
// margins need it) with enclosed coefficients: each coefficient is a
// Ball (analysis/ball.h) that holds the exact rational value, so every sum and product stays a
// rigorous enclosure of the exact polynomial. Dense in the power basis: the loop's polynomials
// have degree at most 3 in each coefficient, so they hold at most 4⁵ terms.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "analysis/ball.h"

namespace pitch::robust {

using analysis::Ball;

inline constexpr int kVariables = 6;
using Exponents = std::array<int, kVariables>;
using Point = std::array<Ball, kVariables>;

class Polynomial {
 public:
  Polynomial() : coefficients_(1) {}
  explicit Polynomial(Ball constant) : coefficients_(1, constant) {}
  // The variable: c_(variable + 1) for 0 … 4, the frequency variable for 5.
  static Polynomial Variable(int variable);

  const Exponents& Degrees() const { return degrees_; }
  const std::vector<Ball>& Coefficients() const { return coefficients_; }
  // The coefficient of c1^e1 … c5^e5 (zero beyond the degrees).
  Ball Coefficient(const Exponents& e) const;
  // An enclosure of the value at x.
  Ball Evaluate(const Point& x) const;

  // Index of a term in Coefficients(): the exponents in mixed radix, c1 slowest.
  std::size_t Index(const Exponents& e) const;
  Exponents ExponentsOf(std::size_t index) const;

  // The same polynomial with room for the given degrees (at least its own).
  Polynomial Widened(const Exponents& degrees) const;
  // p(…, scale·x_v, …).
  Polynomial Scaled(int v, const Ball& scale) const;
  // x_v^d·p(…, scale/x_v, …) for d the degree in x_v (of its non-zero terms).
  Polynomial Reversed(int v, const Ball& scale) const;
  // p/x_v when every term holds x_v (the terms without it are exact zeros); else p itself.
  Polynomial DividedBy(int v) const;

  friend Polynomial operator+(const Polynomial& a, const Polynomial& b);
  friend Polynomial operator-(const Polynomial& a, const Polynomial& b);
  friend Polynomial operator*(const Polynomial& a, const Polynomial& b);
  friend Polynomial operator*(const Ball& a, const Polynomial& b);

 private:
  explicit Polynomial(const Exponents& degrees);

  Exponents degrees_{};
  std::vector<Ball> coefficients_;
};

}  // namespace pitch::robust
