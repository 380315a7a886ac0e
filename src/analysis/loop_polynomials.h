// The loop L = N/D as exact data and the polynomials whose positive roots are its crossings.
//
// Every coefficient of N and D is a sum of products of two numbers given in the loop's own inputs
// (the doubles c1 … c5, muv, iv, nuv, or a factored transfer function's extended roots), so it is
// an exact rational. With s = jω and u = ω², a real polynomial P splits into P(jω) = E(u) + jω·O(u)
// and
//   |N|² − |D|²      = G(u)                 gain crossovers: the positive roots of G,
//   N·conj D         = R(u) + jω·H(u)       phase crossings: the positive roots of H where R < 0,
//   |D + N|²/|D|²    = A(u)/B(u)            least distance from −1: the roots of A'·B − A·B'.
// The polynomials are formed either exactly (Exact) or in midpoint–radius extended arithmetic
// (Ball), whose balls contain the exact coefficients.
#pragma once

#include <vector>

#include "analysis/polynomial.h"
#include "analysis/transfer_function.h"
#include "core/controller.h"

namespace pitch::analysis {

// x·y of two inputs.
struct Product {
  Extended x = 0;
  Extended y = 1;
};
// Σ x·y
using Coefficient = std::vector<Product>;
// A real polynomial in s, coefficients lowest power first.
using Factor = std::vector<Coefficient>;

struct RationalLoop {
  std::vector<Factor> numerator;    // N = Π numerator factors
  std::vector<Factor> denominator;  // D = Π denominator factors
};

// c3·(s + c4)·(muv·s² + iv·s + nuv) / (s²·(s² + (c1 + c4 + c5)·s + c1·c4 + c2)).
RationalLoop PitchRationalLoop(const TController& c);
// gain·Π(s − z)/Π(s − p), a conjugate pair a ± jb as the factor s² − 2a·s + (a² + b²). Roots
// with a negative imaginary part stand in for their pair and are skipped.
RationalLoop RationalLoopOf(const TransferFunction& l);

template <class T>
struct CrossingPolynomials {
  Poly<T> gain;       // G
  Poly<T> phase;      // H
  Poly<T> real_part;  // R
  Poly<T> distance;   // A'·B − A·B'
};

template <class T>
CrossingPolynomials<T> CrossingPolynomialsOf(const RationalLoop& loop);

extern template CrossingPolynomials<Ball> CrossingPolynomialsOf<Ball>(const RationalLoop&);
extern template CrossingPolynomials<Exact> CrossingPolynomialsOf<Exact>(const RationalLoop&);

}  // namespace pitch::analysis
