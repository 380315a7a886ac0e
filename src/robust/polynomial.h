// Polynomials in the five coefficients c1 … c5 with enclosed coefficients: each coefficient is a
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

inline constexpr int kVariables = 5;
using Exponents = std::array<int, kVariables>;
using Point = std::array<Ball, kVariables>;

class Polynomial {
 public:
  Polynomial() : coefficients_(1) {}
  explicit Polynomial(Ball constant) : coefficients_(1, constant) {}
  // The coefficient c_(variable + 1).
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

  friend Polynomial operator+(const Polynomial& a, const Polynomial& b);
  friend Polynomial operator-(const Polynomial& a, const Polynomial& b);
  friend Polynomial operator*(const Polynomial& a, const Polynomial& b);
  friend Polynomial operator*(const Ball& a, const Polynomial& b);

 private:
  Polynomial(const Exponents& degrees);
  // The same polynomial with room for the given degrees.
  Polynomial Widened(const Exponents& degrees) const;

  Exponents degrees_{};
  std::vector<Ball> coefficients_;
};

}  // namespace pitch::robust
