#include "analysis/real_roots.h"

#include <flint/fmpz.h>
#include <mpfr.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <span>

#include "analysis/rational_polynomial.h"
#include "analysis/transfer_function.h"

namespace pitch::analysis {

namespace {

// The short arrays of the root isolation: a polynomial's coefficients, roots and radii, held
// inline up to sixteen.
template <class T>
using Small = InlineVector<T, 16>;

// ---------------------------------------------------------------------------------------------
// Signs of P(ω²) at doubles and at the midpoints between adjacent doubles.

// ω² as a ball, the one that Ball(ω)·Ball(ω) forms: ω is exact in extended precision (a double,
// the midpoint of two adjacent doubles, an end of a root's place); the ball bounds the rounding of
// its square, none when ω has at most 32 significant bits. Those are told without reading ω's
// bits out of the x87 register (a stall when a value just computed is stored and read back in
// another width): Veltkamp's split ω·(2³² + 1) − (ω·(2³² + 1) − ω) rounds ω to 32 bits, ω itself
// when it has no more (within a range where the split neither overflows nor underflows).
Ball Squared(Extended omega) {
  const Extended size = std::fabs(omega);
  if (!(size > 0x1p-8000L && size < 0x1p8000L)) {
    const Ball w(omega);
    return w * w;
  }
  const Extended split = omega * (0x1p32L + 1);
  const Extended square = omega * omega;
  if (split - (split - omega) == omega) {
    return {square, 0};
  }
  return {square, square * Ball::kUnit * Ball::kWiden};
}

int ExactSign(const Poly<Exact>& p, Extended omega) {
  const Exact w = ToExact(omega);
  const Exact u = w * w;
  return sgn(Evaluate(p, u));
}

// P over u: Horner's rule on the balls, or the tighter enclosure where there is one (when
// Horner's rule leaves the sign open, or always when narrowest).
Ball ValueOver(const Poly<Ball>& fast, const Refinements& finer, const Ball& u,
               bool narrowest = false) {
  const Ball horner = EnclosedValue(fast, u);
  if (!finer.HasTighter() || (horner.Sign() != 2 && !narrowest)) {
    return horner;
  }
  const Ball tighter = finer.Tighter(u);
  return tighter.Finite() && (!horner.Finite() || tighter.rad < horner.rad) ? tighter : horner;
}

// The sign of P over u that ValueOver decides, 2 when it does not. The balls stay where they are
// formed: returning one from a function costs a stall of the kind Squared avoids.
int SignOver(const Poly<Ball>& fast, const Refinements& finer, const Ball& u) {
  const Ball horner = EnclosedValue(fast, u);
  const int s = horner.Sign();
  if (s == 2 && finer.HasTighter()) {
    const Ball tighter = finer.Tighter(u);
    if (tighter.Finite() && (!horner.Finite() || tighter.rad < horner.rad)) {
      return tighter.Sign();
    }
  }
  return s;
}

int SignAtExtended(const Poly<Ball>& fast, Refinements& finer, Extended omega) {
  if (const int s = SignOver(fast, finer, Squared(omega)); s != 2) {
    return s;
  }
  const FineBall w(omega);
  if (const int s = Evaluate(finer.Fine(), w * w).Sign(); s != 2) {
    return s;
  }
  return ExactSign(finer.Exactly(), omega);
}

// For positive doubles the bit patterns are ordered like the values.
double BitMidpoint(double a, double b) {
  const auto ia = std::bit_cast<std::uint64_t>(a);
  const auto ib = std::bit_cast<std::uint64_t>(b);
  return std::bit_cast<double>(ia + (ib - ia) / 2);
}

// The doubles next to x towards 0 and towards the largest double, as std::nextafter gives them:
// for a positive finite x from its bits.
double Below(double x) {
  return x > 0 && x <= DBL_MAX ? std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) - 1)
                               : std::nextafter(x, 0.0);
}
double Above(double x) {
  return x >= 0 && x < DBL_MAX ? std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) + 1)
                               : std::nextafter(x, DBL_MAX);
}

// The midpoint of two adjacent positive doubles, exact in extended precision.
Extended Halfway(double a, double b) {
  return (static_cast<Extended>(a) + static_cast<Extended>(b)) / 2;
}

// Of adjacent doubles a < b with the one root strictly between them, the nearer: the sign at
// their midpoint tells which half holds the root, exactly; a root on the midpoint itself goes
// to the double with an even last bit.
double Nearer(const Poly<Ball>& p, Refinements& finer, double a, double b, int sign_a) {
  const int s = SignAtExtended(p, finer, Halfway(a, b));
  if (s == 0) {
    return (std::bit_cast<std::uint64_t>(a) & 1) == 0 ? a : b;
  }
  return s == sign_a ? b : a;
}

// ---------------------------------------------------------------------------------------------
// Fast path.

// ⌊log₂ |x|⌋ of a normal extended x from its bits (libm's ilogb, without the call): the two bytes
// of the sign and exponent read where x is stored, not the whole number copied out of the x87
// register.
int BinaryExponent(const Extended& x) {
  std::uint16_t sign_exponent = 0;
  std::memcpy(&sign_exponent,
              reinterpret_cast<const unsigned char*>(&x) +
                  offsetof(ball_detail::ExtendedBits, sign_exponent),
              sizeof sign_exponent);
  return (sign_exponent & 0x7fff) - 16383;
}

// Whether an extended x is finite, from the same two bytes: its exponent is not all ones.
bool IsFinite(const Extended& x) { return BinaryExponent(x) != 0x7fff - 16383; }

// The midpoint coefficients with exact zeros stripped at both ends; empty optional when a ball
// cannot tell whether an end coefficient vanishes.
struct Stripped {
  std::span<const Ball> coefficients;
  bool identically_zero = false;
};
std::optional<Stripped> Strip(const Poly<Ball>& p) {
  Stripped s;
  std::size_t high = p.size();
  while (high > 0 && p[high - 1].IsExactZero()) {
    --high;
  }
  if (high == 0) {
    s.identically_zero = true;
    return s;
  }
  std::size_t low = 0;
  while (p[low].IsExactZero()) {
    ++low;
  }
  for (std::size_t k = low; k < high; ++k) {
    if (!IsFinite(p[k].mid) || !IsFinite(p[k].rad)) {
      return std::nullopt;
    }
  }
  if (p[high - 1].Sign() == 2 || p[low].Sign() == 2) {
    return std::nullopt;
  }
  s.coefficients = std::span<const Ball>(p).subspan(low, high - low);
  return s;
}

// The approximations and the inclusion test run in double precision on P scaled to its roots'
// size: b_k = a_k·σ^(k−n)/a_n with σ a power of two, so b_n = 1 and the roots of b are those of
// P over σ. br_k bounds |b_k − the exact scaled coefficient|: the balls' radii, the division by
// the leading coefficient and the rounding to a double. When the roots spread too far for the
// double range (crossings near 1e7 and 1e154 of one loop: the scaled roots reach 1e±150 and their
// powers overflow), the same runs in extended precision, whose range holds them.
template <class T>
struct Scaled {
  Small<T> b;
  Small<T> br;
  int scale = 0;  // σ = 2^scale
};

// What the scaled coefficients' rounding to T (after the extended division and scaling) is
// bounded by, relative to them.
template <class T>
constexpr T kScaledRounding = 0x1p-52;
template <>
constexpr Extended kScaledRounding<Extended> = 0x1p-62L;

// x·2^e. For e in the normal exponent range the product with 2^e built from its bits, which
// rounds as ldexp does (also into the subnormal range) and costs less than libm's ldexp.
Extended TimesTwoToThe(Extended x, int e) {
  if (e < -16382 || e > 16383) {
    return std::ldexp(x, e);
  }
  return x * std::bit_cast<Extended>(ball_detail::ExtendedBits{
                 std::uint64_t{1} << 63, static_cast<std::uint16_t>(e + 16383), {}});
}

template <class T>
std::optional<Scaled<T>> Scale(std::span<const Ball> a) {
  const std::size_t n = a.size() - 1;
  const Extended lead = std::fabs(a.back().mid) - a.back().rad;
  const Extended magnitude =
      std::log2(std::fabs(a.front().mid / a.back().mid)) / static_cast<Extended>(n);
  if (!(lead > 0) || !std::isfinite(magnitude)) {
    return std::nullopt;
  }
  Scaled<T> s;
  s.scale = static_cast<int>(std::lround(magnitude));
  s.b.resize(n + 1);
  s.br.resize(n + 1);
  for (std::size_t k = 0; k <= n; ++k) {
    const int e = s.scale * (static_cast<int>(k) - static_cast<int>(n));
    const Extended value = TimesTwoToThe(a[k].mid / a.back().mid, e);
    const Extended radius = TimesTwoToThe(
        (a[k].rad + std::fabs(a[k].mid) * a.back().rad / std::fabs(a.back().mid)) / lead, e);
    s.b[k] = static_cast<T>(value);
    s.br[k] = static_cast<T>(radius * (1 + 0x1p-50L) + std::fabs(value) * kScaledRounding<T>) +
              std::numeric_limits<T>::denorm_min();
    if (!std::isfinite(s.b[k]) || !std::isfinite(s.br[k])) {
      return std::nullopt;
    }
  }
  s.b[n] = 1;
  s.br[n] = 0;
  return s;
}

// The complex arithmetic is written out in real operations: std::complex's product also
// handles infinities and NaNs, which costs more than the iteration's own work.
template <class T>
T SquaredModulus(std::complex<T> z) {
  return z.real() * z.real() + z.imag() * z.imag();
}
template <class T>
T Modulus(std::complex<T> z) {
  return std::sqrt(SquaredModulus(z));
}
template <class T>
std::complex<T> Times(std::complex<T> x, std::complex<T> y) {
  return {x.real() * y.real() - x.imag() * y.imag(), x.real() * y.imag() + x.imag() * y.real()};
}
// 1/y, with one division: used only to approximate the roots, never to bound them.
template <class T>
std::complex<T> Reciprocal(std::complex<T> y) {
  const T inverse = 1 / SquaredModulus(y);
  return {y.real() * inverse, -y.imag() * inverse};
}

// P and P' at z by Horner's rule.
template <class T>
void Horner(const Small<T>& b, std::complex<T> z, std::complex<T>& value, std::complex<T>& slope) {
  const T x = z.real();
  const T y = z.imag();
  T vr = 0;
  T vi = 0;
  T sr = 0;
  T si = 0;
  for (std::size_t k = b.size(); k-- > 0;) {
    const T next_sr = sr * x - si * y + vr;
    si = sr * y + si * x + vi;
    sr = next_sr;
    const T next_vr = vr * x - vi * y + b[k];
    vi = vr * y + vi * x;
    vr = next_vr;
  }
  value = {vr, vi};
  slope = {sr, si};
}

// All roots of the monic b (degree n ≥ 1, b_0 ≠ 0): directly for n ≤ 2, else by the
// Aberth–Ehrlich iteration from points on the unit circle (the scaled roots' geometric mean).
template <class T>
Small<std::complex<T>> ApproximateRoots(const Small<T>& b) {
  using ComplexD = std::complex<T>;
  const std::size_t n = b.size() - 1;
  if (n == 1) {
    return {ComplexD(-b[0])};
  }
  if (n == 2) {
    const std::vector<ComplexExtended> r = QuadraticRoots(1, b[1], b[0]);
    return {ComplexD(static_cast<T>(r[0].real()), static_cast<T>(r[0].imag())),
            ComplexD(static_cast<T>(r[1].real()), static_cast<T>(r[1].imag()))};
  }
  // Starting points on circles whose radii the Newton polygon gives: the upper convex hull of
  // the points (k, log|b_k|); an edge from i to j stands for j − i roots of modulus about
  // (|b_i|/|b_j|)^(1/(j−i)) (Bini's choice), spread evenly around their circle.
  Small<std::size_t> hull;
  const auto height = [&b](std::size_t k) { return std::log(std::fabs(b[k])); };
  for (std::size_t k = 0; k <= n; ++k) {
    if (b[k] == 0) {
      continue;
    }
    while (hull.size() >= 2) {
      const std::size_t i = hull[hull.size() - 2];
      const std::size_t j = hull.back();
      // j lies on or below the chord from i to k: not a vertex of the upper hull
      if ((height(j) - height(i)) * static_cast<T>(k - i) <=
          (height(k) - height(i)) * static_cast<T>(j - i)) {
        hull.pop_back();
      } else {
        break;
      }
    }
    hull.push_back(k);
  }
  Small<ComplexD> z;
  z.reserve(n);
  for (std::size_t e = 0; e + 1 < hull.size(); ++e) {
    const std::size_t i = hull[e];
    const std::size_t j = hull[e + 1];
    const auto count = static_cast<T>(j - i);
    const T radius = std::exp((height(i) - height(j)) / count);
    for (std::size_t m = 0; m < j - i; ++m) {
      z.push_back(
          std::polar(radius, 2 * std::numbers::pi_v<T> * (static_cast<T>(m) + T{0.25}) / count +
                                 T{0.4} + static_cast<T>(e)));
    }
  }
  for (int iteration = 0; iteration < 100; ++iteration) {
    bool moved = false;
    for (std::size_t i = 0; i < n; ++i) {
      ComplexD value;
      ComplexD slope;
      Horner(b, z[i], value, slope);
      if (value == ComplexD(0)) {
        continue;
      }
      const ComplexD ratio = Times(value, Reciprocal(slope));
      ComplexD sum = 0;
      for (std::size_t j = 0; j < n; ++j) {
        if (j != i) {
          sum += Reciprocal(z[i] - z[j]);
        }
      }
      const ComplexD step = Times(ratio, Reciprocal(T{1} - Times(ratio, sum)));
      if (!std::isfinite(step.real()) || !std::isfinite(step.imag())) {
        return {};
      }
      z[i] -= step;
      // Converged when no root moves by more than 2⁻³⁰ of itself: the iteration converges
      // cubically, so the last step has left each root within a few units of the last place.
      if (SquaredModulus(step) > 0x1p-60 * SquaredModulus(z[i])) {
        moved = true;
      }
    }
    if (!moved) {
      break;
    }
  }
  return z;
}

// Smith's radii: every root lies in a disk |w − z_i| ≤ ρ_i, and a connected group of m disks
// holds exactly m roots. |b(z_i)| is bounded from above through the coefficients' bounds br and a
// generous bound on the rounding of Horner's rule; the other factors are bounded from below.
template <class T>
Small<T> InclusionRadii(const Scaled<T>& s, const Small<std::complex<T>>& z) {
  using ComplexD = std::complex<T>;
  const std::size_t n = z.size();
  const T rounding = 8 * static_cast<T>(n + 1) * std::numeric_limits<T>::epsilon() / 2;
  Small<T> rho(n);
  for (std::size_t i = 0; i < n; ++i) {
    ComplexD value;
    ComplexD slope;
    Horner(s.b, z[i], value, slope);
    const T r = Modulus(z[i]);
    T bound = 0;
    for (std::size_t k = s.b.size(); k-- > 0;) {
      bound = bound * r + s.br[k] + rounding * std::fabs(s.b[k]);
    }
    T product = 1;
    for (std::size_t j = 0; j < n; ++j) {
      if (j != i) {
        product *= Modulus(z[i] - z[j]);
      }
    }
    const T numerator = (Modulus(value) + bound) * (1 + T{0x1p-48});
    const T denominator = product * (1 - T{0x1p-48} * static_cast<T>(n + 2));
    rho[i] = static_cast<T>(n) * numerator / denominator * (1 + 0x1p-48);
    if (!(denominator > 0) || !std::isfinite(rho[i])) {
      return {};
    }
  }
  return rho;
}

struct Disk {
  Extended centre = 0;
  Extended radius = 0;
  Extended guess = 0;  // the root's ω refined already, or 0
};

// The disks of the positive real roots, the approximations and the radii in T; empty optional
// when the disks do not certify them, and out_of_range set when that is because a value left
// T's range (a non-finite coefficient, step or radius).
template <class T>
std::optional<Small<Disk>> PositiveRootDisksIn(std::span<const Ball> a, bool& out_of_range) {
  using ComplexD = std::complex<T>;
  out_of_range = false;
  const std::optional<Scaled<T>> s = Scale<T>(a);
  if (!s) {
    out_of_range = true;
    return std::nullopt;
  }
  Small<ComplexD> z = ApproximateRoots(s->b);
  if (z.empty()) {
    out_of_range = true;
    return std::nullopt;
  }
  Small<T> rho = InclusionRadii(*s, z);
  if (rho.empty()) {
    out_of_range = true;
    return std::nullopt;
  }
  // Disjoint disks hold one root each.
  for (std::size_t i = 0; i < z.size(); ++i) {
    for (std::size_t j = i + 1; j < z.size(); ++j) {
      if (!(Modulus(z[i] - z[j]) > (rho[i] + rho[j]) * (1 + 0x1p-48))) {
        return std::nullopt;
      }
    }
  }
  // A disk that reaches the real axis is moved onto it and widened to keep covering itself:
  // when the wider disk still misses every other disk, it holds this root alone; being
  // symmetric about the axis, it holds the root's conjugate (a root of the real polynomial,
  // lying in the mirror image of the first disk) as well, so the root is real.
  for (std::size_t i = 0; i < z.size(); ++i) {
    if (z[i].imag() == 0 || std::fabs(z[i].imag()) > rho[i]) {
      continue;
    }
    const T wider = (rho[i] + std::fabs(z[i].imag())) * (1 + T{0x1p-50});
    const ComplexD centre = z[i].real();
    for (std::size_t j = 0; j < z.size(); ++j) {
      if (j != i && !(Modulus(centre - z[j]) > (wider + rho[j]) * (1 + 0x1p-48))) {
        return std::nullopt;
      }
    }
    z[i] = centre;
    rho[i] = wider;
  }
  Small<Disk> disks;
  for (std::size_t i = 0; i < z.size(); ++i) {
    if (z[i].imag() != 0) {
      if (!(std::fabs(z[i].imag()) > rho[i])) {
        return std::nullopt;
      }
      continue;  // a complex root
    }
    const T x = z[i].real();
    if (x - rho[i] > 0) {
      disks.push_back({std::ldexp(static_cast<Extended>(x), s->scale),
                       std::ldexp(static_cast<Extended>(rho[i]), s->scale)});
    } else if (!(x + rho[i] < 0)) {
      return std::nullopt;  // cannot tell the root's sign
    }
  }
  std::sort(disks.begin(), disks.end(),
            [](const Disk& l, const Disk& r) { return l.centre < r.centre; });
  return disks;
}

// The disks in double precision, and in extended precision where the double range cannot hold
// the scaled polynomial or its roots.
std::optional<Small<Disk>> PositiveRootDisks(std::span<const Ball> a) {
  bool out_of_range = false;
  if (std::optional<Small<Disk>> disks = PositiveRootDisksIn<double>(a, out_of_range)) {
    return disks;
  }
  if (!out_of_range) {
    return std::nullopt;
  }
  return PositiveRootDisksIn<Extended>(a, out_of_range);
}

// ---------------------------------------------------------------------------------------------
// Descartes' rule of signs: when every coefficient's ball decides its sign, the exact P has the
// same signs, and its positive roots number V (the sign variations) or fewer by an even count. V =
// 0 leaves none and V = 1 exactly one, a simple one: then it needs no approximation of the complex
// roots, only a bracket whose ends' signs the balls decide.

// The signs of the finite coefficients a (Strip's): V, or −1 when a ball does not decide a sign,
// and how many are positive and negative.
struct Signs {
  int variations = 0;
  std::size_t positive = 0;
  std::size_t negative = 0;
};
Signs SignVariations(std::span<const Ball> a) {
  Signs signs;
  int previous = 0;
  for (const Ball& c : a) {
    int s = 0;
    if (c.mid > c.rad) {
      s = 1;
      ++signs.positive;
    } else if (-c.mid > c.rad) {
      s = -1;
      ++signs.negative;
    } else if (!c.IsExactZero()) {
      signs.variations = -1;
      return signs;
    }
    if (s != 0) {
      signs.variations += previous != 0 && s != previous ? 1 : 0;
      previous = s;
    }
  }
  return signs;
}

// ⌈log₂ m⌉ for m ≥ 1.
int CeilLog2(std::size_t m) { return static_cast<int>(std::bit_width(m - 1)); }

// Floor and ceiling of x/d for d > 0, |x| < 2²⁰ (binary exponents) and d < 2³⁰: x/d lies at
// least 1/d from every integer it is not, more than its rounding to a double (at most 2⁻³³), so
// that truncating the double and stepping down where it was negative is exact; a floating-point
// division costs less than the integer one.
int FloorDiv(int x, int d) {
  const int q = static_cast<int>(static_cast<double>(x) / static_cast<double>(d));
  return q * d > x ? q - 1 : q;
}
int CeilDiv(int x, int d) { return -FloorDiv(-x, d); }

// e^x: for |x| below 1/16 by its Taylor series to about 2⁻⁴⁰ of itself, else libm's.
template <class T>
T Exp(T x) {
  if (!(std::fabs(x) < T{0.0625})) {
    return std::exp(x);
  }
  return 1 + x * (1 + x * (T{1} / 2 +
                           x * (T{1} / 6 + x * (T{1} / 24 + x * (T{1} / 120 + x * (T{1} / 720))))));
}

// Where the one positive root u* of a lies, roughly: within [lo, hi], near u.
struct Approximation {
  Extended u = 0;
  Extended lo = 0;
  Extended hi = 0;
};

// The one positive root u* of a (a_0 ≠ 0, one sign variation), approximated on the midpoints to
// about 2⁻¹⁶ of itself (the steps converge quadratically), in double precision where the terms stay
// within its normal range, else in extended precision. With the leading coefficient made positive,
// P = P₊ − P₋, both sums of positive terms, the positive ones of higher powers than the negative
// ones: Φ(t) = ln P₊(eᵗ) − ln P₋(eᵗ) increases with a slope of at least 1 and at most n, and is
// nearly straight, so Newton's steps on Φ in t = ln u approach u* from far away, until a step moves
// by less than 2⁻⁸ (the logarithm and exponential there taken from short series). Every step is
// kept within a bracket [lo, hi] of u whose ends' signs differ, halved (on the logarithmic scale
// while it is wide) when a step leaves it. The first bracket is Cauchy's bound from above and from
// below, to powers of two: a_n·u*ⁿ ≤ Σ over the m negative a_k of |a_k|·u*^k, so some |a_k|·u*^k ≥
// a_n·u*ⁿ/m, and likewise |a_0| ≤ Σ over the p positive a_k of a_k·u*^k. Empty when a value
// leaves the range.
template <class T>
std::optional<Approximation> ApproximateOnePositiveRootIn(std::span<const Ball> a, int low,
                                                          int high) {
  // The coefficients of P₊ and of P₋.
  Small<T> positive;
  Small<T> negative;
  positive.reserve(a.size());
  negative.reserve(a.size());
  const bool flip = a.back().mid < 0;
  for (const Ball& coefficient : a) {
    const auto c = static_cast<T>(flip ? -coefficient.mid : coefficient.mid);
    positive.push_back(c > 0 ? c : 0);
    negative.push_back(c < 0 ? -c : 0);
  }
  T lo = std::ldexp(T{1}, low);
  T hi = std::ldexp(T{1}, high);
  const auto bisected = [&lo, &hi] {
    return hi > 4 * lo ? std::sqrt(lo) * std::sqrt(hi) : (lo + hi) / 2;
  };
  T u = bisected();
  for (int i = 0; i < 100; ++i) {
    // P₊, P₋ and their slopes at u.
    T plus = 0;
    T minus = 0;
    T plus_slope = 0;
    T minus_slope = 0;
    for (std::size_t k = a.size(); k-- > 0;) {
      plus_slope = plus_slope * u + plus;
      minus_slope = minus_slope * u + minus;
      plus = plus * u + positive[k];
      minus = minus * u + negative[k];
    }
    if (!std::isfinite(plus) || !std::isfinite(minus) || !std::isfinite(plus_slope) ||
        !std::isfinite(minus_slope) || !(plus > 0) || !(minus > 0)) {
      return std::nullopt;
    }
    if (plus == minus) {
      return Approximation{u, u, u};
    }
    (plus < minus ? lo : hi) = u;
    // Φ = ln(P₊/P₋) = 2·artanh((P₊ − P₋)/(P₊ + P₋)), its slope in t u·(P₊'/P₊ − P₋'/P₋).
    const T inverse_plus = 1 / plus;
    const T inverse_minus = 1 / minus;
    const T ratio = plus * inverse_minus;
    const T x = (inverse_minus - inverse_plus) / (inverse_minus + inverse_plus);
    T phi = 0;
    if (std::fabs(x) < T{0.0625}) {
      const T x2 = x * x;
      phi = 2 * x * (1 + x2 * (T{1} / 3 + x2 * (T{1} / 5 + x2 * (T{1} / 7 + x2 * (T{1} / 9)))));
    } else {
      phi = std::isfinite(ratio) && ratio > 0 ? std::log(ratio) : std::log(plus) - std::log(minus);
    }
    const T step = phi / (u * (plus_slope * inverse_plus - minus_slope * inverse_minus));
    T next = u * Exp(-step);
    if (!(next > lo && next < hi)) {
      next = bisected();
    }
    u = next;
    if (std::fabs(step) < T{0x1p-8}) {
      return Approximation{u, lo, hi};
    }
  }
  return std::nullopt;
}

// signs: a's (the coefficients of the leading one's sign are counted as positive here).
std::optional<Approximation> ApproximateOnePositiveRoot(std::span<const Ball> a,
                                                        const Signs& signs) {
  const std::size_t n = a.size() - 1;
  const bool leading_positive = a[n].mid > 0;
  const std::size_t positive = leading_positive ? signs.positive : signs.negative;
  const std::size_t negative = leading_positive ? signs.negative : signs.positive;
  const int top = BinaryExponent(a[n].mid);
  const int bottom = BinaryExponent(a[0].mid);
  int high = std::numeric_limits<int>::min();
  int low = std::numeric_limits<int>::max();
  int largest = 0;  // of |log₂ |a_k||
  for (std::size_t k = 0; k <= n; ++k) {
    if (a[k].mid == 0) {
      continue;
    }
    const int e = BinaryExponent(a[k].mid);
    largest = std::max(largest, std::abs(e));
    if ((a[k].mid > 0) != leading_positive) {
      high = std::max(high, CeilDiv(CeilLog2(negative) + e + 1 - top, static_cast<int>(n - k)));
    } else if (k > 0) {
      low = std::min(low, FloorDiv(bottom - CeilLog2(positive) - e - 1, static_cast<int>(k)));
    }
  }
  if (high > 16000 || low < -16000) {
    return std::nullopt;
  }
  // In double precision when no term a_k·u^k nor a partial sum of Horner's rule can leave the
  // normal range for u within the bracket, else in extended precision.
  const int reach = largest + static_cast<int>(n) * (std::max(-low, high) + 1) + 8;
  return reach < 960 ? ApproximateOnePositiveRootIn<double>(a, low, high)
                     : ApproximateOnePositiveRootIn<Extended>(a, low, high);
}

// Newton steps on f(ω) = P(ω²) from guess, kept within [lo, hi], and one more once a step has
// moved by less than 2⁻⁵⁸ of ω: the estimate is then as near as the extended evaluation allows.
// stop > 0 (P's one positive root, approached from afar): the bracket is narrowed to the guesses
// where f's signs differ, and halved on the logarithmic scale while it is wide; the steps stop at
// the first one that moves by at most stop·ω. They converge quadratically: a step of 2⁻³⁰ leaves
// the estimate within about 2⁻⁶⁰ of the root, near enough to round it (the signs that round it
// find it also a unit away); one of 2⁻⁵⁸ leaves it as near as the extended evaluation tells.
Extended Newton(std::span<const Ball> a, Extended guess, Extended lo, Extended hi,
                Extended stop = 0) {
  const bool narrow = stop > 0;
  const Extended orientation = a.back().mid > 0 ? 1 : -1;
  Extended w = guess;
  bool converged = false;
  for (int i = 0; i < 40; ++i) {
    Extended value = 0;
    Extended slope = 0;
    const Extended u = w * w;
    for (std::size_t k = a.size(); k-- > 0;) {
      slope = slope * u + value;
      value = value * u + a[k].mid;
    }
    if (narrow && value != 0) {
      (value * orientation < 0 ? lo : hi) = w;
    }
    const Extended step = value / (2 * w * slope);
    if (!std::isfinite(step)) {
      break;
    }
    Extended next = w - step;
    if (narrow ? !(next >= lo && next <= hi) : !(next > lo && next < hi)) {
      next = narrow && hi > 4 * lo ? std::sqrt(lo) * std::sqrt(hi) : (lo + hi) / 2;
    }
    const Extended moved = std::fabs(next - w);
    const bool small = moved <= 0x1p-58L * w;
    const bool stopped = moved <= stop * w;
    w = next;
    if (converged || stopped || (!narrow && i == 29)) {
      break;
    }
    converged = small;
  }
  return w;
}

// The disk of the one positive root when Descartes' rule counts one (V = 1), [c − r, c + r] (c the
// square of the refined ω cut to a multiple of 2⁻⁴⁰ of its binade 2^e, r = 2^(e − 38): the ends are
// exact extended numbers and the root lies well inside, which HoldsTheRoot proves). ω is refined
// as far as the extended evaluation tells for a tight place, else as far as rounding it needs.
// Empty when the approximation fails.
std::optional<Disk> OneRootDisk(std::span<const Ball> a, const Signs& signs, bool tight) {
  const std::optional<Approximation> approximation = ApproximateOnePositiveRoot(a, signs);
  if (!approximation || !std::isnormal(approximation->u) || approximation->u <= 0) {
    return std::nullopt;
  }
  const Extended omega = Newton(a, std::sqrt(approximation->u), std::sqrt(approximation->lo),
                                std::sqrt(approximation->hi), tight ? 0x1p-58L : 0x1p-30L);
  const Extended root = omega * omega;
  if (!std::isnormal(root) || !std::isnormal(omega)) {
    return std::nullopt;
  }
  // The significand's leading 41 bits, and 2^(e − 38), from the bits.
  auto bits = std::bit_cast<ball_detail::ExtendedBits>(root);
  bits.significand &= ~((std::uint64_t{1} << 23) - 1);
  const Extended centre = std::bit_cast<Extended>(bits);
  const int e = BinaryExponent(root);
  const Extended radius =
      e - 38 >= -16382 ? TimesTwoToThe(1, e - 38) : std::ldexp(Extended{1}, e - 38);
  if (!(centre - radius > 0) || !std::isfinite(centre + radius)) {
    return std::nullopt;
  }
  return Disk{centre, radius, omega};
}

// The double nearest the one root of P(ω²) in [lo, hi], ω rounded to nearest. First from the
// guess g (Newton's, rounded to a double): when P changes sign between the midpoints around g
// and both lie in [lo, hi], the root lies between them and g is the nearest double. Else by
// halving between the doubles lo_d ≤ lo and hi_d ≥ hi just outside; empty when the signs there
// are not opposite.
std::optional<double> RoundRoot(const Poly<Ball>& p, Refinements& finer, Extended lo, Extended hi,
                                Extended guess) {
  const double g = static_cast<double>(guess);
  const Extended below = Halfway(Below(g), g);
  const Extended above = Halfway(g, Above(g));
  int sign_below = 0;
  int sign_above = 0;
  if (below >= lo && above <= hi) {
    sign_below = SignAtExtended(p, finer, below);
    sign_above = SignAtExtended(p, finer, above);
    if (sign_below != 0 && sign_above == -sign_below) {
      return g;
    }
    // A root on a midpoint, or beyond one: the next double's far midpoint or the halving below
    // decides.
  }
  double lo_d = static_cast<double>(lo);
  if (lo_d > lo) {
    lo_d = std::nextafter(lo_d, 0.0);
  }
  double hi_d = static_cast<double>(hi);
  if (hi_d < hi) {
    hi_d = std::nextafter(hi_d, DBL_MAX);
  }
  const int sign_lo = SignAt(p, finer, lo_d);
  if (sign_lo == 0) {
    return lo_d;
  }
  const int sign_hi = SignAt(p, finer, hi_d);
  if (sign_hi == 0) {
    return hi_d;
  }
  if (sign_lo == sign_hi) {
    return std::nullopt;
  }
  if (sign_below != 0 && sign_above == sign_below) {
    // The root lies beyond the midpoints around g, on the side whose sign they share: when the
    // sign changes between there and the far midpoint of the double next to g, that double is the
    // nearest.
    const bool up = sign_below == sign_lo;
    const double next = up ? Above(g) : Below(g);
    const Extended far = up ? Halfway(next, Above(next)) : Halfway(Below(next), next);
    if (far >= lo && far <= hi && SignAtExtended(p, finer, far) == (up ? sign_hi : sign_lo)) {
      return next;
    }
  }
  double a = lo_d;
  double b = hi_d;
  while (std::nextafter(a, b) != b) {
    const double mid = BitMidpoint(a, b);
    const int s = SignAt(p, finer, mid);
    if (s == 0) {
      return mid;
    }
    (s == sign_lo ? a : b) = mid;
  }
  return Nearer(p, finer, a, b, sign_lo);
}

// Every ω within [omega_lo, omega_hi] has a positive finite double nearest to it (a subnormal one
// too).
bool InDoubleRange(Extended omega_lo, Extended omega_hi) {
  return omega_lo >= std::numeric_limits<double>::denorm_min() && omega_hi <= DBL_MAX;
}

// Every ω within [omega_lo, omega_hi] rounds to 0 (at most half the least subnormal, a tie
// going to the even 0) or beyond the largest double (from halfway past it up).
bool BeyondDoubleRange(Extended omega_lo, Extended omega_hi) {
  return omega_hi <= 0x1p-1075L || omega_lo >= 0x1p1024L - 0x1p970L;
}

// Where the root of a disk lies narrowly: between guess ∓ δ when P(ω²) changes sign there and
// both ends lie within the disk (so the root between them is the disk's); empty when none of the
// δ tried certifies. δ is first what the balls' width at the guess allows, |P| + radius over the
// slope, then wider.
std::optional<std::pair<Extended, Extended>> NarrowPlace(const Poly<Ball>& p,
                                                         const Refinements& finer, const Disk& d,
                                                         Extended guess) {
  const Ball low_end = Ball(d.centre) - Ball(d.radius);
  const Ball high_end = Ball(d.centre) + Ball(d.radius);
  const Ball at_guess = ValueOver(p, finer, Squared(guess), true);
  Extended slope = 0;
  const Extended u = guess * guess;
  // P's own slope: a lacks P's factor u^k for roots at 0
  for (std::size_t k = p.size(); k-- > 1;) {
    slope = slope * u + static_cast<Extended>(k) * p[k].mid;
  }
  // δω = δu/(2ω), at least a unit and a half in the last place of the extended guess
  Extended delta = 2 * (std::fabs(at_guess.mid) + at_guess.rad) / std::fabs(slope) / (2 * guess);
  if (!(delta >= guess * 0x1p-63L)) {
    delta = std::isfinite(delta) ? guess * 0x1p-63L : guess * 0x1p-56L;
  }
  for (int attempt = 0; attempt < 3; ++attempt, delta *= 16) {
    const Extended lo = guess - delta;
    const Extended hi = guess + delta;
    const Ball ua = Squared(lo);
    const Ball ub = Squared(hi);
    if (!(ua.mid - ua.rad > low_end.mid + low_end.rad &&
          ub.mid + ub.rad < high_end.mid - high_end.rad)) {
      break;
    }
    const int sign_a = SignOver(p, finer, ua);
    const int sign_b = SignOver(p, finer, ub);
    if (sign_a != 2 && sign_b != 2 && sign_a * sign_b <= 0) {
      return std::pair{lo, hi};
    }
  }
  return std::nullopt;
}

// Whether the disk of P's one positive root (V = 1) holds it: when the half-units around ω, the
// double nearest the root, lie inside it (they hold the root), else when the balls decide
// opposite signs of P at its ends (ω none: not rounded).
bool HoldsTheRoot(const Poly<Ball>& p, const Refinements& finer, const Disk& d,
                  std::optional<double> omega) {
  const Extended below = d.centre - d.radius;  // both exact
  const Extended above = d.centre + d.radius;
  if (omega) {
    const Ball low = Squared(Halfway(Below(*omega), *omega));
    const Ball high = Squared(Halfway(*omega, Above(*omega)));
    // rounding is monotone: a rounded difference above an extended number is one exactly
    if (low.mid - low.rad > below && high.mid + high.rad < above) {
      return true;
    }
  }
  const int sign_below = SignOver(p, finer, Ball(below));
  const int sign_above = SignOver(p, finer, Ball(above));
  return sign_below != 2 && sign_above != 2 && sign_below * sign_above == -1;
}

// The roots of the disks, added to roots; false when one cannot be rounded, or (one_root: the one
// positive root's disk from Descartes' rule, not yet proved to hold it) when the disk does not
// hold it.
// With one positive root, a sign change that RoundRoot finds anywhere is that root's, so its ω
// is right wherever the disk lies; the disk then only needs to hold the root for its place.
bool RootsOfDisks(const Poly<Ball>& p, Refinements& finer, std::span<const Ball> a,
                  std::span<const Disk> disks, bool tight, bool one_root, PositiveRoots& roots) {
  for (const Disk& d : disks) {
    const Extended lo = std::sqrt(d.centre - d.radius) * (1 - 0x1p-62L);
    const Extended hi = std::sqrt(d.centre + d.radius) * (1 + 0x1p-62L);
    if (!InDoubleRange(lo, hi)) {
      if (!BeyondDoubleRange(lo, hi)) {
        // At an end of the range (ω near the largest double or the least subnormal), where a
        // root's nearest double may lie on either side of it: the exact path tells.
        return false;
      }
      if (one_root && !HoldsTheRoot(p, finer, d, std::nullopt)) {
        return false;
      }
      roots.beyond_double_range = true;
      continue;
    }
    const Extended guess =
        d.guess > lo && d.guess < hi ? d.guess : Newton(a, std::sqrt(d.centre), lo, hi);
    // In [lo, hi] the only root is this disk's: the disks of the others lie apart. A narrow place
    // (tight) between the midpoints around the guess's double holds the root nearest that double;
    // else the signs at those midpoints tell, or RoundRoot's further steps.
    std::optional<std::pair<Extended, Extended>> narrow;
    std::optional<double> omega;
    if (tight) {
      narrow = NarrowPlace(p, finer, d, guess);
      const double g = static_cast<double>(guess);
      if (narrow && Halfway(Below(g), g) < narrow->first && narrow->second < Halfway(g, Above(g))) {
        omega = g;
      }
    }
    if (!omega) {
      omega = RoundRoot(p, finer, lo, hi, guess);
    }
    if (!omega || (one_root && !HoldsTheRoot(p, finer, d, omega))) {
      return false;
    }
    // Else within the half-units around ω.
    const auto [place_lo, place_hi] =
        narrow.value_or(std::pair{Halfway(Below(*omega), *omega), Halfway(*omega, Above(*omega))});
    roots.omega.push_back(*omega);
    roots.places.push_back({place_lo, place_hi, d.centre, d.radius});
  }
  return true;
}

// The fast path, adding to roots; false when it cannot certify.
bool FastRoots(const Poly<Ball>& p, Refinements& finer, bool tight, PositiveRoots& roots) {
  const std::optional<Stripped> s = Strip(p);
  if (!s) {
    return false;
  }
  if (s->identically_zero) {
    roots.identically_zero = true;
    return true;
  }
  const std::span<const Ball> a = s->coefficients;
  if (a.size() < 2) {
    return true;
  }
  const Signs signs = SignVariations(a);
  if (signs.variations == 0) {
    return true;
  }
  if (signs.variations == 1) {
    if (const std::optional<Disk> disk = OneRootDisk(a, signs, tight)) {
      if (RootsOfDisks(p, finer, a, std::span<const Disk>(&*disk, 1), tight, true, roots)) {
        return true;
      }
      roots = PositiveRoots{};
    }
  }
  const std::optional<Small<Disk>> disks = PositiveRootDisks(a);
  return disks && RootsOfDisks(p, finer, a, *disks, tight, false, roots);
}

// ---------------------------------------------------------------------------------------------
// Exact path.

void Trim(Poly<Exact>& p) {
  while (!p.empty() && sgn(p.back()) == 0) {
    p.pop_back();
  }
}

// A positive multiple of a rational polynomial with integer coefficients, whose sign at a point
// m/d (d > 0) is found in integers alone: Σ a_i·m^i·d^(n − i) by Horner's rule, without the
// greatest common divisors every rational operation takes (which dominate when the coefficients
// span hundreds of binary orders). The points the isolation evaluates at are dyadic, d = 2^k:
// the powers of d are shifts.
class IntegerPolynomial {
 public:
  explicit IntegerPolynomial(const RationalPolynomial& p) {
    const slong length = fmpq_poly_length(p.get());
    for (slong k = 0; k < length; ++k) {
      mpz_class c;
      fmpz_get_mpz(c.get_mpz_t(), fmpq_poly_numref(p.get()) + k);
      coefficients_.push_back(std::move(c));
    }
  }

  int SignAt(const Exact& x) const {
    if (coefficients_.empty()) {
      return 0;
    }
    const mpz_srcptr m = x.get_num_mpz_t();
    const mpz_srcptr d = x.get_den_mpz_t();
    const mp_bitcnt_t k = mpz_scan1(d, 0);
    const bool dyadic = mpz_sizeinbase(d, 2) == k + 1;
    mpz_class sum = coefficients_.back();
    mpz_class term;
    mpz_class power = 1;  // d^(n − i)
    for (std::size_t i = coefficients_.size() - 1; i-- > 0;) {
      mpz_mul(sum.get_mpz_t(), sum.get_mpz_t(), m);
      if (dyadic) {
        mpz_mul_2exp(term.get_mpz_t(), coefficients_[i].get_mpz_t(),
                     k * (coefficients_.size() - 1 - i));
      } else {
        power *= mpz_class(d);
        mpz_mul(term.get_mpz_t(), coefficients_[i].get_mpz_t(), power.get_mpz_t());
      }
      sum += term;
    }
    return sgn(sum);
  }

 private:
  std::vector<mpz_class> coefficients_;
};

int Variations(const std::vector<IntegerPolynomial>& sturm, const Exact& x) {
  int count = 0;
  int previous = 0;
  for (const IntegerPolynomial& p : sturm) {
    const int s = p.SignAt(x);
    if (s != 0) {
      if (previous != 0 && s != previous) {
        ++count;
      }
      previous = s;
    }
  }
  return count;
}

// An approximate binary logarithm of a positive rational (within 1).
long Log2(const Exact& x) {
  return static_cast<long>(mpz_sizeinbase(x.get_num_mpz_t(), 2)) -
         static_cast<long>(mpz_sizeinbase(x.get_den_mpz_t(), 2));
}

Exact PowerOfTwo(long e) {
  Exact r(1);
  if (e >= 0) {
    mpq_mul_2exp(r.get_mpq_t(), r.get_mpq_t(), static_cast<mp_bitcnt_t>(e));
  } else {
    mpq_div_2exp(r.get_mpq_t(), r.get_mpq_t(), static_cast<mp_bitcnt_t>(-e));
  }
  return r;
}

// A point strictly between 0 < lo < hi: a power of two halfway on the logarithmic scale while
// the ends are far apart, else the arithmetic mean.
Exact Between(const Exact& lo, const Exact& hi) {
  if (hi > 4 * lo) {
    const Exact mid = PowerOfTwo((Log2(lo) + Log2(hi)) / 2);
    if (mid > lo && mid < hi) {
      return mid;
    }
  }
  return (lo + hi) / 2;
}

// ω = √u rounded to the nearest double; false beyond the double range.
bool SquareRoot(const Exact& u, double& omega) {
  mpfr_t x;
  mpfr_t r;
  mpfr_init2(x, 256);
  mpfr_init2(r, 53);
  mpfr_set_q(x, u.get_mpq_t(), MPFR_RNDN);
  mpfr_sqrt(r, x, MPFR_RNDN);
  // A subnormal ω rounds twice here (to 53 bits, then to the subnormal's bits): the caller
  // corrects by the signs at the midpoints next to it.
  const bool in_range =
      mpfr_cmp_d(r, std::numeric_limits<double>::denorm_min()) >= 0 && mpfr_cmp_d(r, DBL_MAX) <= 0;
  omega = mpfr_get_d(r, MPFR_RNDN);
  mpfr_clear(x);
  mpfr_clear(r);
  return in_range;
}

// √u rounded down or up to an extended number.
Extended SquareRootBound(const Exact& u, mpfr_rnd_t direction) {
  mpfr_t x;
  mpfr_t r;
  mpfr_init2(x, 256);
  mpfr_init2(r, 64);
  mpfr_set_q(x, u.get_mpq_t(), direction);
  mpfr_sqrt(r, x, direction);
  const Extended bound = mpfr_get_ld(r, direction);
  mpfr_clear(x);
  mpfr_clear(r);
  return bound;
}

}  // namespace

int SignAt(const Poly<Ball>& fast, Refinements& finer, double omega) {
  return SignAtExtended(fast, finer, omega);
}

PositiveRoots FindPositiveRootsExactly(const Poly<Exact>& polynomial) {
  PositiveRoots roots;
  roots.exact_path = true;
  Poly<Exact> p = polynomial;
  Trim(p);
  if (p.empty()) {
    roots.identically_zero = true;
    return roots;
  }
  while (sgn(p.front()) == 0) {
    p.erase(p.begin());
  }
  if (p.size() < 2) {
    return roots;
  }
  // The square-free part (the same roots, each simple) and its Sturm sequence.
  const RationalPolynomial given(p);
  RationalPolynomial slope;
  RationalPolynomial common;
  RationalPolynomial square_free;
  fmpq_poly_derivative(slope.get(), given.get());
  fmpq_poly_gcd(common.get(), given.get(), slope.get());
  fmpq_poly_div(square_free.get(), given.get(), common.get());
  fmpq_poly_make_monic(square_free.get(), square_free.get());
  Poly<Exact> q = square_free.ToPoly();
  if (q.size() < 2) {
    return roots;
  }
  std::vector<IntegerPolynomial> signs;
  signs.emplace_back(square_free);
  {
    RationalPolynomial before;
    RationalPolynomial last;
    RationalPolynomial remainder;
    fmpq_poly_set(before.get(), square_free.get());
    fmpq_poly_derivative(last.get(), square_free.get());
    signs.emplace_back(last);
    while (fmpq_poly_degree(last.get()) > 0) {
      fmpq_poly_rem(remainder.get(), before.get(), last.get());
      if (fmpq_poly_is_zero(remainder.get())) {
        break;
      }
      fmpq_poly_neg(remainder.get(), remainder.get());
      signs.emplace_back(remainder);
      fmpq_poly_swap(before.get(), last.get());
      fmpq_poly_swap(last.get(), remainder.get());
    }
  }
  const IntegerPolynomial& q_signs = signs.front();
  // Every root has |u| below 1 + max|q_k| (q monic) and above |q_0|/(|q_0| + max|q_k|).
  Exact largest(0);
  for (std::size_t k = 0; k + 1 < q.size(); ++k) {
    largest = std::max(largest, Exact(abs(q[k])));
  }
  const Exact q0 = abs(q.front());
  const Exact lo = PowerOfTwo(Log2(q0 / (q0 + std::max(largest, Exact(1)))) - 2);
  const Exact hi = PowerOfTwo(Log2(1 + largest) + 2);
  struct Interval {
    Exact lo;
    Exact hi;
    int v_lo;
    int v_hi;
  };
  std::vector<Interval> pending = {{lo, hi, Variations(signs, lo), Variations(signs, hi)}};
  // One root in (lo, hi], exactly hi when sign_hi is 0.
  struct Isolated {
    Exact lo;
    Exact hi;
    int sign_hi;
  };
  std::vector<Isolated> found;
  while (!pending.empty()) {
    Interval i = pending.back();
    pending.pop_back();
    const int count = i.v_lo - i.v_hi;  // roots in (lo, hi]
    if (count == 0) {
      continue;
    }
    if (count > 1) {
      const Exact mid = Between(i.lo, i.hi);
      const int v_mid = Variations(signs, mid);
      pending.push_back({mid, i.hi, v_mid, i.v_hi});
      pending.push_back({i.lo, mid, i.v_lo, v_mid});
      continue;
    }
    // One simple root in (lo, hi]: halve on the sign at hi until 120 bits are known.
    int sign_hi = q_signs.SignAt(i.hi);
    if (sign_hi != 0) {
      const Exact width = PowerOfTwo(-120);
      while (i.hi - i.lo > width * i.hi) {
        const Exact mid = Between(i.lo, i.hi);
        const int s = q_signs.SignAt(mid);
        if (s == 0) {
          i.hi = mid;
          sign_hi = 0;
          break;
        }
        (s == sign_hi ? i.hi : i.lo) = mid;
      }
    }
    found.push_back({i.lo, i.hi, sign_hi});
  }
  std::sort(found.begin(), found.end(),
            [](const Isolated& x, const Isolated& y) { return x.hi < y.hi; });
  for (const Isolated& root : found) {
    double omega = 0;
    if (!SquareRoot(root.hi, omega)) {
      roots.beyond_double_range = true;
      continue;
    }
    // ω = √hi rounded is the nearest double to the root's ω unless a midpoint between doubles
    // lies in (lo, hi]: there the sign of q decides the side, exactly.
    const auto side = [&](double a, double b) {  // a < b adjacent; the one nearer the root
      const Exact w = ToExact(Halfway(a, b));
      const Exact m = w * w;
      if (root.hi < m || (root.sign_hi == 0 && root.hi == m)) {
        return root.hi < m ? a : ((std::bit_cast<std::uint64_t>(a) & 1) == 0 ? a : b);
      }
      if (root.lo >= m && root.sign_hi != 0) {
        return b;
      }
      if (root.sign_hi == 0) {
        return b;  // exactly hi, above the midpoint
      }
      const int s = q_signs.SignAt(m);
      if (s == 0) {
        return (std::bit_cast<std::uint64_t>(a) & 1) == 0 ? a : b;
      }
      return s == root.sign_hi ? a : b;  // the root lies below m, or above it
    };
    omega = side(std::nextafter(omega, 0.0), omega) == omega
                ? side(omega, std::nextafter(omega, DBL_MAX))
                : std::nextafter(omega, 0.0);
    roots.omega.push_back(omega);
    RootPlace place;
    place.lo = SquareRootBound(root.sign_hi == 0 ? root.hi : root.lo, MPFR_RNDD);
    place.hi = SquareRootBound(root.hi, MPFR_RNDU);
    roots.places.push_back(place);
    roots.isolation.emplace_back(root.lo, root.hi);
  }
  roots.square_free = std::move(q);
  return roots;
}

PositiveRoots FindPositiveRoots(const Poly<Ball>& fast, Refinements& finer, bool tight) {
  PositiveRoots roots;
  if (FastRoots(fast, finer, tight, roots)) {
    return roots;
  }
  return FindPositiveRootsExactly(finer.Exactly());
}

}  // namespace pitch::analysis
