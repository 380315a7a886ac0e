#include "analysis/stability.h"

#include <mpfr.h>

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <climits>
#include <cmath>
#include <complex>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "analysis/eigenvalues4.h"

namespace pitch::analysis {

namespace stability_detail {

Filtered operator+(const Filtered& a, const Filtered& b) {
  return {a.value + b.value, a.magnitude + b.magnitude};
}
Filtered operator-(const Filtered& a) { return {-a.value, a.magnitude}; }
Filtered operator-(const Filtered& a, const Filtered& b) {
  return {a.value - b.value, a.magnitude + b.magnitude};
}
Filtered operator*(const Filtered& a, const Filtered& b) {
  return {a.value * b.value, a.magnitude * b.magnitude};
}

}  // namespace stability_detail

template <>
inline stability_detail::Filtered FromExtended<stability_detail::Filtered>(Extended x) {
  return {x, std::fabs(x)};
}

namespace {

using stability_detail::Filtered;
using stability_detail::HurwitzSigns;

int SignOf(const Ball& b) { return b.Sign(); }
int SignOf(const Exact& e) { return sgn(e); }
// 2 (not told) for a value within the filter's bound, an exact zero among them.
int SignOf(const Filtered& x) {
  const Extended bound = x.magnitude * 0x1p-50L;
  if (!std::isfinite(bound)) {
    return 2;
  }
  if (x.value > bound) {
    return 1;
  }
  return -x.value > bound ? -1 : 2;
}

// The coefficients of det(s·I − M), lowest power first: the sum over the permutations σ of
// sign(σ)·Π (s·I − M)[i][σ(i)], leaving out every term with an off-diagonal entry that is an
// exact zero. The closed loop's matrices have half their entries zero, and four terms remain.
template <class T>
std::array<T, 5> CharacteristicPolynomial(const std::array<std::array<T, 4>, 4>& m) {
  std::array<std::array<bool, 4>, 4> vanishes{};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      vanishes[i][j] = i != j && SignOf(m[i][j]) == 0;
    }
  }
  std::array<T, 5> sum;
  sum.fill(FromExtended<T>(0));
  std::array<int, 4> sigma = {0, 1, 2, 3};
  do {
    bool negative = false;
    bool skip = false;
    for (int i = 0; i < 4 && !skip; ++i) {
      skip = vanishes[i][sigma[i]];
      for (int j = i + 1; j < 4; ++j) {
        negative = negative != (sigma[j] < sigma[i]);  // an inversion
      }
    }
    if (skip) {
      continue;
    }
    // The off-diagonal entries −m_ij first, then the factors s − m_ii.
    std::array<T, 5> p;
    p[0] = FromExtended<T>(1);
    for (int i = 0; i < 4; ++i) {
      if (sigma[i] != i) {
        p[0] = p[0] * m[i][sigma[i]];
        negative = !negative;
      }
    }
    int degree = 0;
    for (int i = 0; i < 4; ++i) {
      if (sigma[i] == i) {
        p[degree + 1] = p[degree];
        for (int k = degree; k > 0; --k) {
          p[k] = p[k - 1] - p[k] * m[i][i];
        }
        p[0] = -(p[0] * m[i][i]);
        ++degree;
      }
    }
    for (int k = 0; k <= degree; ++k) {
      if (negative) {
        sum[k] = sum[k] - p[k];
      } else {
        sum[k] = sum[k] + p[k];
      }
    }
  } while (std::next_permutation(sigma.begin(), sigma.end()));
  return sum;
}

// The closed loop's characteristic polynomial D + N from the loop's inputs (see stability.h).
template <class T>
std::array<T, 5> LoopPolynomial(Real c1, Real c2, Real c3, Real c4, Real c5, Real muv, Real iv,
                                Real nuv) {
  const auto v = [](Real x) { return FromExtended<T>(x); };
  const T c3c4 = v(c3) * v(c4);
  std::array<T, 5> a;
  a[4] = v(1);
  a[3] = v(c1) + v(c4) + v(c5) + v(c3) * v(muv);
  a[2] = v(c1) * v(c4) + v(c2) + c3c4 * v(muv) + v(c3) * v(iv);
  a[1] = c3c4 * v(iv) + v(c3) * v(nuv);
  a[0] = c3c4 * v(nuv);
  return a;
}

// Empty when a ball cannot tell one of the signs.
template <class T>
std::optional<HurwitzSigns> SignsOf(const std::array<T, 5>& a) {
  HurwitzSigns h;
  const T delta2 = a[3] * a[2] - a[4] * a[1];
  const T delta3 = a[1] * delta2 - a[3] * a[3] * a[0];
  for (int k = 0; k < 5; ++k) {
    h.a[k] = SignOf(a[k]);
  }
  h.delta2 = SignOf(delta2);
  h.delta3 = SignOf(delta3);
  // Consulted only for a polynomial without odd part (RootOnImaginaryAxis).
  if (h.a[3] == 0 && h.a[1] == 0) {
    h.discriminant = SignOf(T(a[2] * a[2] - FromExtended<T>(4) * a[4] * a[0]));
  }
  for (const int s : {h.a[0], h.a[1], h.a[2], h.a[3], h.a[4], h.delta2, h.delta3, h.discriminant}) {
    if (s == 2) {
      return std::nullopt;
    }
  }
  return h;
}

// Every root strictly left of the imaginary axis (a4 > 0).
bool Hurwitz(const HurwitzSigns& h) {
  for (const int s : h.a) {
    if (s <= 0) {
      return false;
    }
  }
  return h.delta2 > 0 && h.delta3 > 0;
}

// A root on the imaginary axis (a4 = 1): s = 0, or s = ±jω where the even part a0 − a2·u + u²
// and the odd part a1 − a3·u vanish at one u = ω² > 0.
bool RootOnImaginaryAxis(const HurwitzSigns& h) {
  if (h.a[0] == 0) {
    return true;
  }
  if (h.a[3] != 0) {
    return h.delta3 == 0 && h.a[1] * h.a[3] > 0;
  }
  if (h.a[1] != 0) {
    return false;
  }
  return h.a[0] < 0 || (h.a[2] > 0 && h.discriminant >= 0);
}

template <class T>
std::array<std::array<T, 4>, 4> Entries(const Matrix4& a) {
  std::array<std::array<T, 4>, 4> m;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      m[i][j] = FromExtended<T>(a(i, j));
    }
  }
  return m;
}

// ---------------------------------------------------------------------------------------------
// Polynomials in rationals: the split at the imaginary axis.

using ExactPoly = Poly<Exact>;

void Trim(ExactPoly& p) {
  while (!p.empty() && sgn(p.back()) == 0) {
    p.pop_back();
  }
}

// a = quotient·b + remainder for b ≠ 0 (trimmed); returns the remainder.
ExactPoly DivideWithRemainder(ExactPoly a, const ExactPoly& b, ExactPoly* quotient) {
  Trim(a);
  if (quotient != nullptr) {
    quotient->assign(a.size() >= b.size() ? a.size() - b.size() + 1 : 0, Exact(0));
  }
  while (a.size() >= b.size()) {
    const std::size_t shift = a.size() - b.size();
    const Exact f = a.back() / b.back();
    if (quotient != nullptr) {
      (*quotient)[shift] = f;
    }
    for (std::size_t i = 0; i < b.size(); ++i) {
      a[i + shift] -= f * b[i];
    }
    a.pop_back();  // exactly zero now
    Trim(a);
  }
  return a;
}

// The monic greatest common divisor of two polynomials, not both zero.
ExactPoly Gcd(ExactPoly a, ExactPoly b) {
  Trim(a);
  Trim(b);
  while (!b.empty()) {
    ExactPoly r = DivideWithRemainder(a, b, nullptr);
    a = std::move(b);
    b = std::move(r);
  }
  const Exact lead = a.back();
  for (Exact& c : a) {
    c /= lead;
  }
  return a;
}

// Every root strictly left of the imaginary axis, by the Routh array: its first column is
// positive (the polynomial's leading coefficient made positive). A non-zero constant has no root.
bool StrictlyHurwitz(ExactPoly q) {
  Trim(q);
  if (q.empty()) {
    return false;
  }
  if (sgn(q.back()) < 0) {
    for (Exact& c : q) {
      c = -c;
    }
  }
  const std::size_t n = q.size() - 1;
  std::vector<Exact> upper;
  std::vector<Exact> lower;
  for (std::size_t k = 0; k <= n; ++k) {
    (k % 2 == 0 ? upper : lower).push_back(q[n - k]);
  }
  for (std::size_t row = 1; row <= n; ++row) {
    if (lower.empty() || sgn(lower[0]) <= 0) {
      return false;
    }
    std::vector<Exact> next;
    for (std::size_t i = 0; i + 1 < upper.size(); ++i) {
      const Exact below = i + 1 < lower.size() ? lower[i + 1] : Exact(0);
      next.push_back(upper[i + 1] - upper[0] * below / lower[0]);
    }
    upper = std::move(lower);
    lower = std::move(next);
  }
  return true;
}

// p = s^zeros · h(s²) · rest, where s^zeros · h(s²) = gcd(p(s), p(−s)) holds every root on the
// imaginary axis (and any pair of roots r, −r off it), and rest has no root on the axis.
struct AxisSplit {
  int zeros = 0;
  // H(v) = h(−v): the common factor's roots s = ±j·√v for its roots v.
  ExactPoly pairs;
  // The common factor's roots all lie on the axis: H's roots are all real and positive.
  bool on_axis = true;
  ExactPoly rest;
  Stability verdict = Stability::kUnstable;
};

AxisSplit SplitAtAxis(const std::array<Exact, 5>& a) {
  const ExactPoly p(a.begin(), a.end());
  ExactPoly mirrored = p;  // p(−s)
  for (std::size_t k = 1; k < mirrored.size(); k += 2) {
    mirrored[k] = -mirrored[k];
  }
  const ExactPoly g = Gcd(p, mirrored);
  AxisSplit split;
  DivideWithRemainder(p, g, &split.rest);
  while (sgn(g[static_cast<std::size_t>(split.zeros)]) == 0) {
    ++split.zeros;
  }
  // g / s^zeros is even (g(−s) = ±g(s) and its constant is not zero).
  for (std::size_t k = static_cast<std::size_t>(split.zeros); k < g.size(); ++k) {
    const std::size_t power = k - static_cast<std::size_t>(split.zeros);
    if (power % 2 == 1) {
      split.on_axis = split.on_axis && sgn(g[k]) == 0;
    } else {
      split.pairs.push_back(power % 4 == 0 ? g[k] : Exact(-g[k]));
    }
  }
  const ExactPoly& h = split.pairs;
  if (h.size() == 2) {
    split.on_axis = split.on_axis && sgn(h[0]) * sgn(h[1]) < 0;
  } else if (h.size() == 3) {
    split.on_axis = split.on_axis && sgn(h[1] * h[1] - 4 * h[2] * h[0]) >= 0 &&
                    sgn(h[1]) == -sgn(h[2]) && sgn(h[0]) == sgn(h[2]);
  }
  const bool rest_stable = StrictlyHurwitz(split.rest);
  if (g.size() == 1) {
    split.verdict = rest_stable ? Stability::kStable : Stability::kUnstable;
  } else if (split.on_axis && rest_stable) {
    split.verdict = Stability::kMarginal;
  } else {
    split.verdict = Stability::kUnstable;
  }
  return split;
}

// The verdict from the signs, and from the exact split when a root lies on the axis.
template <class ExactCoefficients>
Stability StabilityFrom(const HurwitzSigns& h, ExactCoefficients exact) {
  if (Hurwitz(h)) {
    return Stability::kStable;
  }
  if (!RootOnImaginaryAxis(h)) {
    return Stability::kUnstable;
  }
  return SplitAtAxis(exact()).verdict;
}

// ---------------------------------------------------------------------------------------------
// The Euler iteration.

// (1 − w)⁴·q((1 + w)/(1 − w)) for the characteristic polynomial q of I + A·dt, its leading
// coefficient q(−1) made positive (a zero leading coefficient is the eigenvalue −1).
template <class T>
std::array<T, 5> UnitCircleToAxis(const Matrix4& a, double dt) {
  std::array<std::array<T, 4>, 4> m = Entries<T>(a);
  const T step = FromExtended<T>(dt);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      m[i][j] = m[i][j] * step;
      if (i == j) {
        m[i][j] = m[i][j] + FromExtended<T>(1);
      }
    }
  }
  const std::array<T, 5> q = CharacteristicPolynomial(m);
  Poly<T> result(5, FromExtended<T>(0));
  const Poly<T> plus = {FromExtended<T>(1), FromExtended<T>(1)};
  const Poly<T> minus = {FromExtended<T>(1), FromExtended<T>(-1)};
  for (int k = 0; k <= 4; ++k) {
    Poly<T> term = {q[k]};
    for (int i = 0; i < k; ++i) {
      term = term * plus;
    }
    for (int i = k; i < 4; ++i) {
      term = term * minus;
    }
    result = result + term;
  }
  std::array<T, 5> r;
  for (int k = 0; k < 5; ++k) {
    r[k] = result[k];
  }
  return r;
}

// x·2^k: a ball scaled by a power of two stays exact (its midpoint and radius only change
// exponent, and a ball that leaves the extended range certifies nothing).
Exact TimesPowerOfTwo(const Exact& x, int k) { return x * (1 << k); }
Filtered TimesPowerOfTwo(const Filtered& x, int k) {
  const auto scale = static_cast<Extended>(1 << k);
  return {x.value * scale, x.magnitude * scale};
}
Ball TimesPowerOfTwo(const Ball& x, int k) {
  const auto scale = static_cast<Extended>(1 << k);
  return {x.mid * scale, x.rad * scale};
}

// The same from the characteristic polynomial p of A: an eigenvalue μ = 1 + λ·dt of I + A·dt is
// (1 + w)/(1 − w) for λ = 2·w/((1 − w)·dt), so the polynomial is dt⁴·(1 − w)⁴·p(2·w/((1 − w)·dt))
// = Σ a_k·2^k·dt^(4−k)·w^k·(1 − w)^(4−k).
template <class T>
std::array<T, 5> UnitCircleToAxis(const std::array<T, 5>& a, double dt) {
  const T step = FromExtended<T>(dt);
  std::array<T, 5> b;  // a_k·2^k·dt^(4−k)
  b[4] = TimesPowerOfTwo(a[4], 4);
  T power = step;
  for (int k = 3; k >= 0; --k) {
    b[k] = TimesPowerOfTwo(a[k] * power, k);
    if (k > 0) {
      power = power * step;
    }
  }
  // The binomial rows of (1 − w)^(4−k), the products 3·b1 (twice) formed once.
  const T three_b1 = b[1] * FromExtended<T>(3);
  return {b[0], T(b[1] - TimesPowerOfTwo(b[0], 2)), T(b[2] - three_b1 + b[0] * FromExtended<T>(6)),
          T(b[3] - TimesPowerOfTwo(b[2], 1) + three_b1 - TimesPowerOfTwo(b[0], 2)),
          T(b[4] - b[3] + b[2] - b[1] + b[0])};
}

// Empty when a ball cannot tell a sign.
template <class T>
std::optional<bool> IterationStable(std::array<T, 5> w) {
  const int lead = SignOf(w[4]);
  if (lead == 2) {
    return std::nullopt;
  }
  if (lead == 0) {
    return false;
  }
  if (lead < 0) {
    for (T& c : w) {
      c = -c;
    }
  }
  const std::optional<HurwitzSigns> h = SignsOf(w);
  if (!h) {
    return std::nullopt;
  }
  return Hurwitz(*h);
}

// ---------------------------------------------------------------------------------------------
// The poles.

// An MPFR number that clears itself.
class Mpfr {
 public:
  explicit Mpfr(mpfr_prec_t bits) { mpfr_init2(v, bits); }
  Mpfr(const Mpfr&) = delete;
  Mpfr& operator=(const Mpfr&) = delete;
  ~Mpfr() { mpfr_clear(v); }
  mpfr_t v;
};

// x in extended precision, correctly rounded.
Extended ToExtended(const Exact& x) {
  Mpfr m(64);
  mpfr_set_q(m.v, x.get_mpq_t(), MPFR_RNDN);
  return mpfr_get_ld(m.v, MPFR_RNDN);
}

// A part of a pole as a double: a part that is not zero never reads as zero (below the least
// subnormal it is that subnormal with its sign).
double PartToDouble(Extended x, long shift) {
  const Extended scaled = std::ldexp(x, static_cast<int>(shift));
  const double d = static_cast<double>(scaled);
  if (d == 0 && scaled != 0) {
    return std::signbit(scaled) ? -std::numeric_limits<double>::denorm_min()
                                : std::numeric_limits<double>::denorm_min();
  }
  return d;
}

using ComplexExtended = std::complex<Extended>;

template <class X>
X EvaluateAt(const std::vector<Extended>& c, X x) {
  X r = 0;
  for (std::size_t k = c.size(); k-- > 0;) {
    r = r * x + c[k];
  }
  return r;
}

// Newton steps on the polynomial c, each kept only when it brings |c| down.
template <class X>
X Polish(const std::vector<Extended>& c, const std::vector<Extended>& derivative, X x) {
  X value = EvaluateAt(c, x);
  for (int i = 0; i < 8 && value != X(0); ++i) {
    const X slope = EvaluateAt(derivative, x);
    if (slope == X(0)) {
      break;
    }
    const X next = x - value / slope;
    const X next_value = EvaluateAt(c, next);
    if (!(std::abs(next_value) < std::abs(value))) {
      break;
    }
    x = next;
    value = next_value;
  }
  return x;
}

// The exponent e for which 2^e bounds the roots of c (c[n] ≠ 0, some other c[k] ≠ 0) within a
// few factors of two (Fujiwara's bound 2·max |c_k/c_n|^(1/(n − k))).
int RootExponent(std::span<const Extended> c) {
  const int n = static_cast<int>(c.size()) - 1;
  const int lead = std::ilogb(c.back());
  int e = INT_MIN;
  for (int k = 0; k < n; ++k) {
    if (c[static_cast<std::size_t>(k)] != 0) {
      // |c_k/c_n| < 2^ratio
      const int ratio = std::ilogb(c[static_cast<std::size_t>(k)]) - lead + 1;
      const int d = n - k;
      e = std::max(e, ratio >= 0 ? (ratio + d - 1) / d : -((-ratio) / d));
    }
  }
  return e;
}

// The roots of c (c(0) ≠ 0), from the companion matrix of c scaled to roots of about unit size by
// s = 2^e·t, in extended precision, refined by Newton steps and scaled back.
std::vector<std::complex<double>> ScaledRoots(std::vector<Extended> c) {
  while (!c.empty() && c.back() == 0) {
    c.pop_back();
  }
  std::vector<std::complex<double>> roots;
  if (c.size() < 2) {
    return roots;
  }
  const std::size_t n = c.size() - 1;
  const int e = RootExponent(c);
  for (std::size_t k = 0; k < n; ++k) {
    c[k] = std::ldexp(c[k] / c[n], -static_cast<int>(n - k) * e);
  }
  c[n] = 1;
  std::vector<Extended> derivative(n);
  for (std::size_t k = 1; k <= n; ++k) {
    derivative[k - 1] = c[k] * static_cast<Extended>(k);
  }
  using MatrixX = Eigen::Matrix<Extended, Eigen::Dynamic, Eigen::Dynamic>;
  MatrixX companion = MatrixX::Zero(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(n));
  for (Eigen::Index i = 0; i < static_cast<Eigen::Index>(n); ++i) {
    if (i > 0) {
      companion(i, i - 1) = 1;
    }
    companion(i, static_cast<Eigen::Index>(n) - 1) = -c[static_cast<std::size_t>(i)];
  }
  const auto values = Eigen::EigenSolver<MatrixX>(companion, false).eigenvalues();
  for (const ComplexExtended& t : values) {
    if (t.imag() == 0) {
      const Extended x = Polish(c, derivative, t.real());
      roots.emplace_back(PartToDouble(x, e), 0.0);
    } else if (t.imag() > 0) {
      const ComplexExtended x = Polish(c, derivative, t);
      const double re = PartToDouble(x.real(), e);
      const double im = PartToDouble(x.imag(), e);
      roots.emplace_back(re, im);
      roots.emplace_back(re, -im);
    }
  }
  return roots;
}

std::vector<Extended> ToExtended(const ExactPoly& p) {
  std::vector<Extended> c;
  c.reserve(p.size());
  for (const Exact& x : p) {
    c.push_back(ToExtended(x));
  }
  return c;
}

// ω = √v, formed at 256 bits and rounded to a double, for every root v > 0 of H (degree at most
// 2, its roots real and positive), as often as the root's multiplicity.
std::vector<double> AxisFrequencies(const ExactPoly& h) {
  std::vector<double> omegas;
  const auto add = [&omegas](Mpfr& v) {
    Mpfr omega(53);
    mpfr_sqrt(omega.v, v.v, MPFR_RNDN);
    double w = mpfr_get_d(omega.v, MPFR_RNDN);
    if (w == 0) {
      w = std::numeric_limits<double>::denorm_min();
    }
    omegas.push_back(w);
  };
  constexpr mpfr_prec_t kBits = 256;
  if (h.size() == 2) {
    Mpfr v(kBits);
    const Exact root = -h[0] / h[1];
    mpfr_set_q(v.v, root.get_mpq_t(), MPFR_RNDN);
    add(v);
  } else if (h.size() == 3) {
    const Exact discriminant = h[1] * h[1] - 4 * h[2] * h[0];
    if (sgn(discriminant) == 0) {
      Mpfr v(kBits);
      const Exact root = -h[1] / (2 * h[2]);
      mpfr_set_q(v.v, root.get_mpq_t(), MPFR_RNDN);
      add(v);
      add(v);
    } else {
      // v1 = (−H1 − sign(H1)·√Δ)/(2·H2) without cancellation, v2 = H0/(H2·v1).
      Mpfr root(kBits);
      Mpfr v1(kBits);
      Mpfr v2(kBits);
      Mpfr t(kBits);
      mpfr_set_q(root.v, discriminant.get_mpq_t(), MPFR_RNDN);
      mpfr_sqrt(root.v, root.v, MPFR_RNDN);
      if (sgn(h[1]) < 0) {
        mpfr_neg(root.v, root.v, MPFR_RNDN);
      }
      const Exact minus_h1 = -h[1];
      mpfr_set_q(t.v, minus_h1.get_mpq_t(), MPFR_RNDN);
      mpfr_sub(v1.v, t.v, root.v, MPFR_RNDN);
      const Exact twice_h2 = 2 * h[2];
      mpfr_set_q(t.v, twice_h2.get_mpq_t(), MPFR_RNDN);
      mpfr_div(v1.v, v1.v, t.v, MPFR_RNDN);
      const Exact ratio = h[0] / h[2];
      mpfr_set_q(t.v, ratio.get_mpq_t(), MPFR_RNDN);
      mpfr_div(v2.v, t.v, v1.v, MPFR_RNDN);
      add(v1);
      add(v2);
    }
  }
  return omegas;
}

// The four poles; a root that the eigenvalue solver did not find (it finds them all) as NaN.
Eigenvalues4 ToEigenvalues4(const std::vector<std::complex<double>>& poles) {
  Eigenvalues4 r;
  r.fill(std::numeric_limits<double>::quiet_NaN());
  for (std::size_t i = 0; i < 4 && i < poles.size(); ++i) {
    r(static_cast<Eigen::Index>(i)) = poles[i];
  }
  return r;
}

// λ is a root of the polynomial c (lowest power first) with each coefficient moved by at most
// 2^−40 of itself: |c(λ)| ≤ 2^−40·Σ |c_k|·|λ|^k, evaluated in extended precision.
bool RootOfNearbyAsDefined(std::span<const Extended> c, std::complex<double> lambda) {
  const ComplexExtended x(lambda.real(), lambda.imag());
  const Extended size = std::abs(x);
  ComplexExtended value = 0;
  Extended bound = 0;
  for (std::size_t k = c.size(); k-- > 0;) {
    value = value * x + c[k];
    bound = bound * size + std::fabs(c[k]);
  }
  return std::abs(value) <= 0x1p-40L * bound;
}

// The same decision without the two hypotenuses: the squares of λ's parts (doubles) cannot leave
// the extended range, so |λ| is a square root within an ulp or two of the hypotenuse, and |c(λ)|²
// is compared with the squared bound. Where the two sides are within 2⁻⁵⁰ of each other, or a
// square leaves the range, the decision is taken as defined above.
bool RootOfNearby(std::span<const Extended> c, std::complex<double> lambda) {
  const Extended re = lambda.real();
  const Extended im = lambda.imag();
  const Extended size = std::sqrt(re * re + im * im);
  Extended value_re = 0;
  Extended value_im = 0;
  Extended bound = 0;
  for (std::size_t k = c.size(); k-- > 0;) {
    const Extended next_re = value_re * re - value_im * im + c[k];
    value_im = value_re * im + value_im * re;
    value_re = next_re;
    bound = bound * size + std::fabs(c[k]);
  }
  const Extended allowed = 0x1p-40L * bound;
  const Extended left = value_re * value_re + value_im * value_im;
  const Extended right = allowed * allowed;
  if (std::isfinite(left) && std::isfinite(right) && right >= 0x1p-16000L) {
    if (left <= right * (1 - 0x1p-50L)) {
      return true;
    }
    if (left >= right * (1 + 0x1p-50L)) {
      return false;
    }
  }
  return RootOfNearbyAsDefined(c, lambda);
}

// The characteristic polynomial's coefficients a0 … a4 in extended precision: exact ones rounded
// once where they have been formed, else the rounded ones (the balls' midpoints, or the filter's
// values, the same numbers but perhaps for the sign of a zero).
template <class Rounded>
std::array<Extended, 5> Coefficients(const std::optional<std::array<Exact, 5>>& exact,
                                     const std::array<Rounded, 5>& rounded) {
  std::array<Extended, 5> c;
  for (std::size_t k = 0; k < 5; ++k) {
    if (exact) {
      c[k] = ToExtended((*exact)[k]);
    } else if constexpr (std::is_same_v<Rounded, Ball>) {
      c[k] = rounded[k].mid;
    } else {
      c[k] = rounded[k].value;
    }
  }
  return c;
}

}  // namespace

ClosedLoop::ClosedLoop(const TController& c)
    : in_{c.c1, c.c2, c.c3, c.c4, c.c5, c.muv, c.iv, c.nuv}, matrix_(ToEigen(ClosedLoopMatrix(c))) {
  finite_ = true;
  for (const Real x : {in_.c1, in_.c2, in_.c3, in_.c4, in_.c5, in_.muv, in_.iv, in_.nuv}) {
    finite_ = finite_ && std::isfinite(x);
  }
  if (finite_) {
    filtered_ =
        LoopPolynomial<Filtered>(in_.c1, in_.c2, in_.c3, in_.c4, in_.c5, in_.muv, in_.iv, in_.nuv);
  }
}

const std::array<Ball, 5>& ClosedLoop::BallCoefficients() const {
  if (!fast_) {
    fast_ = LoopPolynomial<Ball>(in_.c1, in_.c2, in_.c3, in_.c4, in_.c5, in_.muv, in_.iv, in_.nuv);
  }
  return *fast_;
}

const std::array<Exact, 5>& ClosedLoop::ExactCoefficients() const {
  if (!exact_) {
    exact_ =
        LoopPolynomial<Exact>(in_.c1, in_.c2, in_.c3, in_.c4, in_.c5, in_.muv, in_.iv, in_.nuv);
  }
  return *exact_;
}

const HurwitzSigns& ClosedLoop::Signs() const {
  if (!signs_) {
    std::optional<HurwitzSigns> h = SignsOf(filtered_);
    if (!h) {
      h = SignsOf(BallCoefficients());
    }
    if (!h) {
      h = SignsOf(ExactCoefficients());
    }
    signs_ = *h;
  }
  return *signs_;
}

Stability ClosedLoop::Continuous() const {
  if (!continuous_) {
    // A loop beyond the double range is never taken for stable.
    continuous_ = finite_ ? StabilityFrom(Signs(), [this] { return ExactCoefficients(); })
                          : Stability::kUnstable;
  }
  return *continuous_;
}

bool ClosedLoop::EulerIterationStable(double dt) const {
  if (!finite_ || !std::isfinite(dt)) {
    return false;
  }
  if (const std::optional<bool> stable = IterationStable(UnitCircleToAxis(filtered_, dt))) {
    return *stable;
  }
  if (const std::optional<bool> stable =
          IterationStable(UnitCircleToAxis(BallCoefficients(), dt))) {
    return *stable;
  }
  return *IterationStable(UnitCircleToAxis(ExactCoefficients(), dt));
}

Eigenvalues4 ClosedLoop::Eigenvalues() const {
  const auto of_matrix = [this] { return EigenvaluesOf(matrix_); };
  if (!finite_) {
    return of_matrix();
  }
  if (RootOnImaginaryAxis(Signs())) {
    const AxisSplit split = SplitAtAxis(ExactCoefficients());
    const ExactPoly p(ExactCoefficients().begin(), ExactCoefficients().end());
    std::vector<std::complex<double>> poles(static_cast<std::size_t>(split.zeros));
    std::vector<std::complex<double>> others;
    if (split.on_axis) {
      for (const double omega : AxisFrequencies(split.pairs)) {
        poles.emplace_back(0.0, omega);
        poles.emplace_back(0.0, -omega);
      }
      others = ScaledRoots(ToExtended(split.rest));
    } else {
      others = ScaledRoots(ToExtended(ExactPoly(p.begin() + split.zeros, p.end())));
    }
    poles.insert(poles.end(), others.begin(), others.end());
    return ToEigenvalues4(poles);
  }
  // No pole is zero (a0 ≠ 0). The coefficients from the balls, or exact when a ball could not
  // tell their signs.
  const std::array<Extended, 5> c = Coefficients(exact_, filtered_);
  // The matrix's eigenvalues when they are the poles of a loop within rounding of this one (an
  // eigenvalue 0 is a pole lost to rounding): not so when its entries (up to the poles' size
  // cubed) have left the double range, or their rounding errors are large against the poles.
  if (matrix_.allFinite()) {
    const Eigenvalues4 values = of_matrix();
    // The polynomial's coefficients are real, so the test of a conjugate repeats the bits of its
    // partner's (every product and sum only changes the sign of the imaginary part).
    bool poles = true;
    for (Eigen::Index k = 0; k < values.size() && poles; ++k) {
      const std::complex<double> v = values(k);
      poles = v != 0.0 && std::isfinite(v.real()) && std::isfinite(v.imag()) &&
              ((k > 0 && v == std::conj(values(k - 1))) || RootOfNearby(c, v));
    }
    if (poles) {
      return values;
    }
  }
  const std::array<Extended, 5> mids = Coefficients(exact_, BallCoefficients());
  return ToEigenvalues4(ScaledRoots({mids.begin(), mids.end()}));
}

int ClosedLoop::PoleExponent() const {
  const std::array<Extended, 5> c = Coefficients(exact_, filtered_);
  const int e = RootExponent(c);
  return e == INT_MIN ? 0 : e;
}

Matrix4 ClosedLoop::ScaledStep(int e, double dt) const {
  const Extended c3 = in_.c3;
  const Extended c4 = in_.c4;
  const Extended step = dt;
  const auto entry = [step](Extended value, int scale) {
    return static_cast<double>(std::ldexp(value, scale) * step);
  };
  Matrix4 m = Matrix4::Zero();
  m(0, 1) = entry(1, e);
  m(1, 0) = entry(-c3 * in_.iv, -e);
  m(1, 1) = entry(-(static_cast<Extended>(in_.c1) + in_.c5) - c3 * in_.muv, 0);
  m(1, 2) = entry(-c3 * in_.nuv, -2 * e);
  m(1, 3) = entry(-(in_.c2 - c4 * in_.c5), -e);
  m(2, 0) = entry(1, e);
  m(3, 1) = entry(1, e);
  m(3, 3) = entry(-c4, 0);
  return m;
}

Stability ClosedLoopStability(const TController& c) { return ClosedLoop(c).Continuous(); }

bool EulerIterationStable(const TController& c, double dt) {
  return ClosedLoop(c).EulerIterationStable(dt);
}

Stability ClosedLoopStability(const Matrix4& a) {
  if (!a.allFinite()) {
    return Stability::kUnstable;  // a matrix beyond the double range is never taken for stable
  }
  std::optional<HurwitzSigns> h = SignsOf(CharacteristicPolynomial(Entries<Ball>(a)));
  const auto exact = [&a] { return CharacteristicPolynomial(Entries<Exact>(a)); };
  if (!h) {
    h = SignsOf(exact());
  }
  return StabilityFrom(*h, exact);
}

bool EulerIterationStable(const Matrix4& a, double dt) {
  if (!a.allFinite()) {
    return false;
  }
  if (const std::optional<bool> stable = IterationStable(UnitCircleToAxis<Ball>(a, dt))) {
    return *stable;
  }
  return *IterationStable(UnitCircleToAxis<Exact>(a, dt));
}

}  // namespace pitch::analysis
