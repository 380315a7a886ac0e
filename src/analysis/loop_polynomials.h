// The loop L = N/D as exact data and the polynomials whose positive roots are its crossings.
//
// Every coefficient of N and D is a sum of products of two numbers given in the loop's own inputs
// (the doubles c1 … c5, muv, iv, nuv, or a factored transfer function's extended roots), so it is
// an exact rational. With s = jω and u = ω², a real polynomial P splits into P(jω) = E(u) + jω·O(u)
// and
//   |N|² − |D|²      = G(u)                 gain crossovers: the positive roots of G,
//   N·conj D         = R(u) + jω·H(u)       phase crossings: the positive roots of H where R < 0,
//   |D + N|²/|D|²    = A(u)/B(u)            least distance from −1: the roots of A'·B − A·B'.
// The polynomials are formed either exactly (Exact) or in midpoint–radius arithmetic with extended
// (Ball) or double-extended (FineBall) midpoints, whose balls contain the exact coefficients.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <initializer_list>
#include <new>
#include <type_traits>
#include <vector>

#include "analysis/polynomial.h"
#include "analysis/transfer_function.h"
#include "core/controller.h"

namespace pitch::analysis {

// At most N values, kept in place: a loop is described without allocating for each of its
// numbers. Only the values held are initialised and copied.
template <class T, std::size_t N>
class Few {
  static_assert(std::is_trivially_destructible_v<T>);

 public:
  Few() = default;
  Few(std::initializer_list<T> values) {
    for (const T& v : values) {
      push_back(v);
    }
  }
  Few(const Few& other) { CopyFrom(other); }
  Few& operator=(const Few& other) {
    if (this != &other) {
      CopyFrom(other);
    }
    return *this;
  }
  ~Few() = default;
  void push_back(const T& value) {
    if (size_ == N) {
      std::abort();  // more values than the loop's description has room for: a coding error
    }
    ::new (static_cast<void*>(Values() + size_)) T(value);
    ++size_;
  }
  const T* begin() const { return Values(); }
  const T* end() const { return Values() + size_; }
  std::size_t size() const { return size_; }
  const T& operator[](std::size_t k) const { return Values()[k]; }
  const T& back() const { return Values()[size_ - 1]; }

 private:
  T* Values() { return std::launder(reinterpret_cast<T*>(storage_)); }
  const T* Values() const { return std::launder(reinterpret_cast<const T*>(storage_)); }
  void CopyFrom(const Few& other) {
    for (std::size_t k = 0; k < other.size_; ++k) {
      ::new (static_cast<void*>(Values() + k)) T(other.Values()[k]);
    }
    size_ = other.size_;
  }

  alignas(T) unsigned char storage_[N * sizeof(T)];
  std::size_t size_ = 0;
};

// x·y of two inputs.
struct Product {
  Extended x = 0;
  Extended y = 1;
};
// Σ x·y (c1 + c4 + c5 has three terms)
using Coefficient = Few<Product, 3>;
// A real polynomial in s of degree at most 2, coefficients lowest power first.
using Factor = Few<Coefficient, 3>;

struct RationalLoop {
  std::vector<Factor> numerator;    // N = Π numerator factors
  std::vector<Factor> denominator;  // D = Π denominator factors
};

// The exact sign of a coefficient: −1, 0 or 1.
int SignOf(const Coefficient& c);

// c3·(s + c4)·(muv·s² + iv·s + nuv) / (s²·(s² + (c1 + c4 + c5)·s + c1·c4 + c2)).
RationalLoop PitchRationalLoop(const TController& c);
// gain·Π(s − z)/Π(s − p), a conjugate pair a ± jb as the factor s² − 2a·s + (a² + b²). Roots
// with a negative imaginary part stand in for their pair and are skipped.
RationalLoop RationalLoopOf(const TransferFunction& l);

// N(jω) = E_N(u) + jω·O_N(u) and D(jω) = E_D(u) + jω·O_D(u): every crossing polynomial is formed
// from these four.
template <class T>
struct LoopParts {
  Poly<T> numerator_even;
  Poly<T> numerator_odd;
  Poly<T> denominator_even;
  Poly<T> denominator_odd;
};

template <class T>
struct CrossingPolynomials {
  Poly<T> gain;                 // G
  Poly<T> phase;                // H
  Poly<T> real_part;            // R
  Poly<T> distance;             // A'·B − A·B'
  Poly<T> squared_denominator;  // B = |D(jω)|²
  Poly<T> squared_sum;          // A = |D(jω) + N(jω)|²
  LoopParts<T> parts;
};

// One of the crossing polynomials.
enum class CrossingPolynomial {
  kGain,
  kPhase,
  kRealPart,
  kDistance,
  kSquaredDenominator,
  kSquaredSum
};

// One of the set.
template <class T>
const Poly<T>& CrossingPolynomialIn(const CrossingPolynomials<T>& c, CrossingPolynomial which) {
  switch (which) {
    case CrossingPolynomial::kGain:
      return c.gain;
    case CrossingPolynomial::kPhase:
      return c.phase;
    case CrossingPolynomial::kRealPart:
      return c.real_part;
    case CrossingPolynomial::kDistance:
      return c.distance;
    case CrossingPolynomial::kSquaredDenominator:
      return c.squared_denominator;
    case CrossingPolynomial::kSquaredSum:
      break;
  }
  return c.squared_sum;
}

// The parts of N and D at u = ω² as balls (Ball, or FineBall for the finer stage), and from them
// the values of the crossing polynomials there: near a crossing these cancel far less than the
// expanded polynomials (whose coefficients are larger than their value by orders of magnitude),
// so they enclose the value more tightly. Each is an enclosure of the exact value at every point
// of u.
template <class T>
struct PartValuesOf {
  T u;
  T numerator_even;
  T numerator_odd;
  T denominator_even;
  T denominator_odd;

  // G = |N|² − |D|²
  T Gain() const {
    return numerator_even * numerator_even + u * (numerator_odd * numerator_odd) -
           SquaredDenominator();
  }
  // H = O_N·E_D − E_N·O_D
  T Phase() const { return numerator_odd * denominator_even - numerator_even * denominator_odd; }
  // R = E_N·E_D + u·O_N·O_D
  T RealPart() const {
    return numerator_even * denominator_even + u * (numerator_odd * denominator_odd);
  }
  // B = E_D² + u·O_D²
  T SquaredDenominator() const {
    return denominator_even * denominator_even + u * (denominator_odd * denominator_odd);
  }
  // A = |D + N|²
  T SquaredSum() const {
    const T even = denominator_even + numerator_even;
    const T odd = denominator_odd + numerator_odd;
    return even * even + u * (odd * odd);
  }
  // B + R = Re(D·conj(D + N))
  T SquaredDenominatorPlusRealPart() const {
    return denominator_even * (denominator_even + numerator_even) +
           u * (denominator_odd * (denominator_odd + numerator_odd));
  }
};
using PartValues = PartValuesOf<Ball>;
PartValues PartsAt(const CrossingPolynomials<Ball>& c, const Ball& u);

// A pair of roots ±jω (ω > 0) of a factor c0 + c2·s², c0/c2 > 0.
struct AxisPair {
  Coefficient c0;
  Coefficient c2;
};

// The loop with the factors that N and D share on the imaginary axis cancelled, decided from
// exact signs factor by factor. Such a pair, or a root at s = 0, makes every crossing polynomial
// vanish at its frequency without being a crossing of N/D in lowest terms. The loop is the given
// one when nothing cancels.
struct ReducedLoop {
  const RationalLoop& loop() const { return cancelled ? reduced : *given; }
  bool vanishes = false;        // N ≡ 0: L ≡ 0
  int origin_excess = 0;        // poles at s = 0 less zeros there
  int relative_degree = 0;      // deg D − deg N
  std::vector<AxisPair> poles;  // of L on the imaginary axis at ω > 0, after the cancellation
  std::vector<AxisPair> zeros;
  // L(0) = Π low_N / Π low_D when origin_excess = 0, L(∞) = Π high_N / Π high_D when
  // relative_degree = 0 (each factor's lowest and highest non-zero coefficient; else empty).
  std::vector<Coefficient> low_numerator;
  std::vector<Coefficient> low_denominator;
  std::vector<Coefficient> high_numerator;
  std::vector<Coefficient> high_denominator;
  bool cancelled = false;
  const RationalLoop* given = nullptr;
  RationalLoop reduced;  // when cancelled
};
// The reduced loop refers to the given one, which must outlive it.
ReducedLoop ReduceOnTheAxis(const RationalLoop& loop);

// Π c over the coefficients, exactly or as a ball.
template <class T>
T ProductOf(const std::vector<Coefficient>& coefficients);

template <class T>
CrossingPolynomials<T> CrossingPolynomialsOf(const RationalLoop& loop);
template <class T>
LoopParts<T> LoopPartsOf(const RationalLoop& loop);
// One crossing polynomial alone, from the parts.
template <class T>
Poly<T> CrossingPolynomialOf(const LoopParts<T>& parts, CrossingPolynomial which);

extern template CrossingPolynomials<Ball> CrossingPolynomialsOf<Ball>(const RationalLoop&);
extern template CrossingPolynomials<Exact> CrossingPolynomialsOf<Exact>(const RationalLoop&);
extern template LoopParts<FineBall> LoopPartsOf<FineBall>(const RationalLoop&);
extern template Poly<FineBall> CrossingPolynomialOf<FineBall>(const LoopParts<FineBall>&,
                                                              CrossingPolynomial);
extern template Ball ProductOf<Ball>(const std::vector<Coefficient>&);
extern template Exact ProductOf<Exact>(const std::vector<Coefficient>&);

}  // namespace pitch::analysis
