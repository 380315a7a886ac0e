#include "analysis/crossing_values.h"

#include <arf.h>
#include <flint/fmpq.h>
#include <flint/fmpq_poly.h>
#include <flint/fmpz.h>
#include <mpfr.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <utility>

#include "analysis/arb_number.h"
#include "analysis/rational_polynomial.h"

namespace pitch::analysis {

namespace {

// ---------------------------------------------------------------------------------------------
// Enclosures in extended arithmetic: lo ≤ the exact value ≤ hi.

struct Range {
  Extended lo = 0;
  Extended hi = 0;
  bool HasZero() const { return lo <= 0 && hi >= 0; }
};

// Covers what a result near the underflow range loses; a normal number, as a subnormal operand
// costs the x87 unit a slow microcode assist.
constexpr Extended kTiny = std::numeric_limits<Extended>::min();

// Below and above a result rounded to nearest, at most half a unit in its last place away from
// the exact one: a whole unit (2⁻⁶³ of it, at least) is taken off or added, which the rounding of
// this correction cannot undo; the normal tiny covers underflow.
Extended Down(Extended x) { return x - (std::fabs(x) * 0x1p-63L + kTiny); }
Extended Up(Extended x) { return x + (std::fabs(x) * 0x1p-63L + kTiny); }
// The same for the x87 unit's arctangent and logarithm, within one unit in the last place
// (Intel's manual; glibc's extended atan2l and log10l are these instructions and an exactly
// rounded constant): four units are allowed.
Extended DownLibm(Extended x) { return x - (std::fabs(x) * 0x1p-61L + kTiny); }
Extended UpLibm(Extended x) { return x + (std::fabs(x) * 0x1p-61L + kTiny); }

Range RangeOf(const Ball& b) { return {Down(b.mid - b.rad), Up(b.mid + b.rad)}; }

bool Finite(const Range& r) { return std::isfinite(r.lo) && std::isfinite(r.hi); }

Range Negate(const Range& r) { return {-r.hi, -r.lo}; }

Range Times(const Range& a, const Range& b) {
  // By the signs where they are known: two products instead of four and their extremes.
  if (a.lo >= 0) {
    if (b.lo >= 0) {
      return {Down(a.lo * b.lo), Up(a.hi * b.hi)};
    }
    if (b.hi <= 0) {
      return {Down(a.hi * b.lo), Up(a.lo * b.hi)};
    }
  } else if (a.hi <= 0) {
    if (b.lo >= 0) {
      return {Down(a.lo * b.hi), Up(a.hi * b.lo)};
    }
    if (b.hi <= 0) {
      return {Down(a.hi * b.hi), Up(a.lo * b.lo)};
    }
  }
  const Extended p[4] = {a.lo * b.lo, a.lo * b.hi, a.hi * b.lo, a.hi * b.hi};
  Range r{p[0], p[0]};
  for (const Extended x : p) {
    r.lo = std::min(r.lo, x);
    r.hi = std::max(r.hi, x);
  }
  return {Down(r.lo), Up(r.hi)};
}

// a/b for b of one sign.
Range Quotient(const Range& a, const Range& b) {
  if (b.lo > 0) {
    return {Down(a.lo / (a.lo >= 0 ? b.hi : b.lo)), Up(a.hi / (a.hi >= 0 ? b.lo : b.hi))};
  }
  return Negate(Quotient(a, Negate(b)));
}

Range Plus(const Range& a, Extended c) { return {Down(a.lo + c), Up(a.hi + c)}; }
Range Plus(const Range& a, const Range& b) { return {Down(a.lo + b.lo), Up(a.hi + b.hi)}; }
Range Minus(const Range& a, const Range& b) { return Plus(a, Negate(b)); }
Range Square(const Range& a) {
  if (a.lo >= 0) {
    return {Down(a.lo * a.lo), Up(a.hi * a.hi)};
  }
  if (a.hi <= 0) {
    return {Down(a.hi * a.hi), Up(a.lo * a.lo)};
  }
  const Extended m = std::max(-a.lo, a.hi);
  return {0, Up(m * m)};
}

// The mean-value form over the root's ball U = u_m ± δ: V(u*) within V(u_m) + V'(U)·[−δ, δ].
// The values at the midpoint carry only the rounding; the slope's enclosure over U, however
// coarse, is multiplied by the small δ. This keeps what a quotient or an angle of two values
// loses when both change with u alike (B and R grow together as ω⁸).
struct MeanValue {
  Extended mid = 0;  // u_m, an extended number
  Range spread;      // [−δ, δ]
};
MeanValue MeanValueOf(const Ball& u) { return {u.mid, {-Up(u.rad), Up(u.rad)}}; }
Range AtMid(const Poly<Ball>& p, const MeanValue& m) {
  return RangeOf(EnclosedValue(p, Ball(m.mid)));
}
Range Over(const Poly<Ball>& p, const Ball& u) { return RangeOf(EnclosedValue(p, u)); }
// p' over u, the derivative's balls k·a_k formed in place: each midpoint rounded once (half a
// unit of it, taken as a whole unit), the radius' own rounding covered by a relative widening
// and the underflow by the normal tiny.
Range SlopeOver(const Poly<Ball>& p, const Ball& u) {
  if (p.size() < 2) {
    return {0, 0};
  }
  Poly<Ball> slope(p.size() - 1);
  for (std::size_t k = 1; k < p.size(); ++k) {
    const auto factor = static_cast<Extended>(k);
    const Extended mid = p[k].mid * factor;
    slope[k - 1] = Ball(mid, (p[k].rad * factor + std::fabs(mid) * 0x1p-63L) * (1 + 0x1p-61L) +
                                 std::numeric_limits<Extended>::min());
  }
  return Over(slope, u);
}
// Two enclosures of one value: their common part.
Range Common(const Range& a, const Range& b) {
  if (!Finite(b)) {
    return a;
  }
  if (!Finite(a)) {
    return b;
  }
  return {std::max(a.lo, b.lo), std::min(a.hi, b.hi)};
}
// The parts of N and D at u_m.
PartValues PartsAtMid(const CrossingPolynomials<Ball>& fast, const MeanValue& m) {
  return PartsAt(fast, Ball(m.mid));
}
// f(u_m) + f'(U)·[−δ, δ]
Range Spread(const Range& at_mid, const Range& slope, const MeanValue& m) {
  const Extended e = Up(std::max(std::fabs(slope.lo), std::fabs(slope.hi)) * m.spread.hi);
  return {Down(at_mid.lo - e), Up(at_mid.hi + e)};
}

// c·a for a constant c > 0 known within [c_lo, c_hi].
Range Scaled(const Range& a, const Range& c) { return Times(a, c); }

constexpr Extended kPi = std::numbers::pi_v<Extended>;
// 180/π and 2π within their extended roundings.
const Range kDegreesPerRadian{Down(180 / kPi), Up(180 / kPi)};
const Range kTwoPi{Down(2 * kPi), Up(2 * kPi)};
const Range kTwenty{20, 20};

// The box [x]×[y] keeps off the cut of atan2 along the negative real axis and off the origin.
bool OffTheCut(const Range& y, const Range& x) { return !(y.HasZero() && x.lo <= 0); }

// atan2(y, x) over a box off the cut (empty otherwise, and for a box too wide for the bound):
// the angle at its centre c, and every point of the box within |box|/|c| of c's direction, an
// angle of at most asin t ≤ t·(1 + t) for t = (x's half-width + y's)/|c| ≤ 1/2.
std::optional<Range> Atan2(const Range& y, const Range& x) {
  if (!OffTheCut(y, x)) {
    return std::nullopt;
  }
  const Extended xc = (x.lo + x.hi) / 2;
  const Extended yc = (y.lo + y.hi) / 2;
  const Extended xr = Up(std::max(x.hi - xc, xc - x.lo));
  const Extended yr = Up(std::max(y.hi - yc, yc - y.lo));
  const Extended modulus = Down(std::sqrt(Down(Down(xc * xc) + Down(yc * yc))));
  const Extended t = Up(Up(xr + yr) / modulus);
  if (!(t <= 0.5L)) {
    return std::nullopt;
  }
  const Extended e = Up(t * Up(1 + t));
  const Extended c = std::atan2(yc, xc);
  return Range{Down(DownLibm(c) - e), Up(UpLibm(c) + e)};
}

// atan2(y, x) over a box off the cut from the angles at its corners: the directions of a convex
// set that keeps off the origin are spanned by its corners', and the angle is continuous there.
// Four arctangents for the tightest enclosure, where the one at the centre is too coarse.
std::optional<Range> Atan2OfCorners(const Range& y, const Range& x) {
  if (!OffTheCut(y, x) || !Finite(y) || !Finite(x)) {
    return std::nullopt;
  }
  Range r{std::atan2(y.lo, x.lo), std::atan2(y.lo, x.lo)};
  for (const Extended a :
       {std::atan2(y.lo, x.hi), std::atan2(y.hi, x.lo), std::atan2(y.hi, x.hi)}) {
    r.lo = std::min(r.lo, a);
    r.hi = std::max(r.hi, a);
  }
  return Range{DownLibm(r.lo), UpLibm(r.hi)};
}

// 1 + q, the bounds rounded outwards by the sum's exact error alone (one unit of the sum when it
// is not exact), so that a sum near 1 keeps q's digits.
Range OnePlus(const Range& q) {
  const Extended lo = 1 + q.lo;
  const Extended hi = 1 + q.hi;
  return {ball_detail::SumError(1, q.lo, lo) < 0 ? std::nextafter(lo, Extended{0}) : lo,
          ball_detail::SumError(1, q.hi, hi) > 0
              ? std::nextafter(hi, std::numeric_limits<Extended>::infinity())
              : hi};
}

// lg over a positive range.
Range Log10(const Range& x) { return {DownLibm(std::log10(x.lo)), UpLibm(std::log10(x.hi))}; }

Range Sqrt(const Range& x) {
  return {Down(std::sqrt(std::max(x.lo, Extended{0}))), Up(std::sqrt(x.hi))};
}

// ln(1 + q) over a range within |q| < 1/4: the x87 unit's FYL2XP1 (glibc's extended log1pl
// below 0.29), within one unit in the last place, keeps q's digits where 1 + q would lose them.
Range Log1p(const Range& q) { return {DownLibm(std::log1p(q.lo)), UpLibm(std::log1p(q.hi))}; }
constexpr Extended kLog1pReach = 0.25L;

// 20/ln 10, the decibels of a neper.
constexpr Extended kDecibelsPerNeper = 8.6858896380650365530225783783321016458879401160732L;
const Range kDecibelsPerNeperRange{Down(kDecibelsPerNeper), Up(kDecibelsPerNeper)};

// 20·lg f for f = 1 + q > 0, from q where it is small.
Range DecibelRange(const Range& f, const Range& q) {
  if (Finite(q) && q.lo > -kLog1pReach && q.hi < kLog1pReach) {
    return Scaled(Log1p(q), kDecibelsPerNeperRange);
  }
  return Scaled(Log10(f), kTwenty);
}

// a + b rounded down and up: one step aside where the sum's exact error says it rounded the
// other way.
Extended SumDown(Extended a, Extended b) {
  const Extended s = a + b;
  return ball_detail::SumError(a, b, s) < 0
             ? std::nextafter(s, -std::numeric_limits<Extended>::infinity())
             : s;
}
Extended SumUp(Extended a, Extended b) {
  const Extended s = a + b;
  return ball_detail::SumError(a, b, s) > 0
             ? std::nextafter(s, std::numeric_limits<Extended>::infinity())
             : s;
}

// A ball with a 128-bit midpoint as a range: hi + (lo ∓ rad), each end rounded outwards.
Range RangeOf(const FineBall& b) {
  if (!b.Finite()) {
    const Extended infinity = std::numeric_limits<Extended>::infinity();
    return {-infinity, infinity};
  }
  return {SumDown(b.hi, Down(b.lo - b.rad)), SumUp(b.hi, Up(b.lo + b.rad))};
}

// The double nearest every value of the range, when there is one (and one sign of zero).
std::optional<double> Rounded(const Range& r) {
  if (!Finite(r) && !(std::isinf(r.lo) && r.lo == r.hi)) {
    return std::nullopt;
  }
  const double a = static_cast<double>(r.lo);
  const double b = static_cast<double>(r.hi);
  if (a == b && std::signbit(a) == std::signbit(b)) {
    return a;
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Arb and FLINT values that free themselves.

class Arf {
 public:
  Arf() { arf_init(value_); }
  ~Arf() { arf_clear(value_); }
  Arf(const Arf&) = delete;
  Arf& operator=(const Arf&) = delete;
  arf_ptr get() { return value_; }
  arf_srcptr get() const { return value_; }

 private:
  arf_t value_;
};

class Rational {
 public:
  Rational() { fmpq_init(value_); }
  ~Rational() { fmpq_clear(value_); }
  Rational(const Rational&) = delete;
  Rational& operator=(const Rational&) = delete;
  fmpq* get() { return value_; }
  const fmpq* get() const { return value_; }

 private:
  fmpq_t value_;
};

void SetExtended(arf_t r, Extended x) { ArbNumber::SetExtended(r, x); }

// A rational as a ball: exactly when its denominator is a power of two (every coefficient formed
// from extended numbers is), else to prec bits.
void SetRational(arb_t r, const fmpq_t q, slong prec) {
  const fmpz* den = fmpq_denref(q);
  if (fmpz_val2(den) + 1 == fmpz_bits(den)) {
    arb_set_round_fmpz(r, fmpq_numref(q), ARF_PREC_EXACT);
    arb_mul_2exp_si(r, r, -static_cast<slong>(fmpz_val2(den)));
  } else {
    arb_set_fmpq(r, q, prec);
  }
}

void SetRational(arb_t r, const Exact& q, slong prec) {
  Rational f;
  fmpq_set_mpq(f.get(), q.get_mpq_t());
  SetRational(r, f.get(), prec);
}

int SignAt(const fmpq_poly_t p, const Exact& x) {
  Rational point;
  Rational value;
  fmpq_set_mpq(point.get(), x.get_mpq_t());
  fmpq_poly_evaluate_fmpq(value.get(), p, point.get());
  return fmpq_sgn(value.get());
}

// The square-free part p/gcd(p, p').
void SquareFreePart(fmpq_poly_t out, const fmpq_poly_t p) {
  RationalPolynomial derivative;
  RationalPolynomial common;
  fmpq_poly_derivative(derivative.get(), p);
  fmpq_poly_gcd(common.get(), p, derivative.get());
  fmpq_poly_div(out, p, common.get());
}

// A finite ball with a 128-bit midpoint as an Arb ball, exactly: hi + lo ± rad.
void SetFineBall(arb_t r, const FineBall& b) {
  Arf part;
  SetExtended(arb_midref(r), b.hi);
  SetExtended(part.get(), b.lo);
  arf_add(arb_midref(r), arb_midref(r), part.get(), ARF_PREC_EXACT, ARF_RND_DOWN);
  mag_zero(arb_radref(r));
  SetExtended(part.get(), b.rad);
  arb_add_error_arf(r, part.get());
}

// The doubles nearest the ball's lower and upper bounds, for a finite ball.
std::optional<std::pair<double, double>> RoundedBounds(arb_srcptr x) {
  if (!arb_is_finite(x)) {
    return std::nullopt;
  }
  Arf lo;
  Arf hi;
  arb_get_lbound_arf(lo.get(), x, 128);
  arb_get_ubound_arf(hi.get(), x, 128);
  return std::pair(arf_get_d(lo.get(), ARF_RND_NEAR), arf_get_d(hi.get(), ARF_RND_NEAR));
}

// The double nearest every value of the ball, when there is one (and one sign of zero).
std::optional<double> Rounded(arb_srcptr x) {
  const auto bounds = RoundedBounds(x);
  if (bounds && bounds->first == bounds->second &&
      std::signbit(bounds->first) == std::signbit(bounds->second)) {
    return bounds->first;
  }
  return std::nullopt;
}

// When the ball straddles the midpoint m between two adjacent doubles a < b and nothing else
// that decides the rounding: the three.
struct Straddle {
  double below = 0;
  double above = 0;
  Exact midpoint;
};
std::optional<Straddle> StraddledMidpoint(arb_srcptr x) {
  const auto bounds = RoundedBounds(x);
  if (!bounds) {
    return std::nullopt;
  }
  const auto [a, b] = *bounds;
  if (!std::isfinite(a) || !std::isfinite(b) || a == 0 || b == 0 ||
      std::nextafter(a, DBL_MAX) != b) {
    return std::nullopt;
  }
  Straddle s;
  s.below = a;
  s.above = b;
  s.midpoint = (Exact(a) + Exact(b)) / 2;
  return s;
}

double EvenOf(double a, double b) { return (std::bit_cast<std::uint64_t>(a) & 1) == 0 ? a : b; }

// Arb precisions tried in turn: 128 bits, then doubling. A value that needs more has been
// recognised as a zero or a tie before.
constexpr slong kFirstPrecision = 128;
constexpr slong kLastPrecision = 1 << 16;

}  // namespace

// ---------------------------------------------------------------------------------------------

LoopPolynomials::LoopPolynomials(const RationalLoop& loop)
    : loop_(loop), fast_(CrossingPolynomialsOf<Ball>(loop)) {}

LoopPolynomials::~LoopPolynomials() = default;

namespace {

LoopPolynomials::Polynomial PolynomialOf(CrossingKind kind) {
  switch (kind) {
    case CrossingKind::kGainCrossover:
      return LoopPolynomials::Polynomial::kGain;
    case CrossingKind::kPhaseCrossing:
      return LoopPolynomials::Polynomial::kPhase;
    case CrossingKind::kDistanceExtreme:
      break;
  }
  return LoopPolynomials::Polynomial::kDistance;
}

}  // namespace

const Poly<FineBall>& LoopPolynomials::Fine(Polynomial which) {
  std::optional<Poly<FineBall>>& slot = fine_[static_cast<std::size_t>(which)];
  if (!slot) {
    slot = CrossingPolynomialOf(FineParts(), which);
  }
  return *slot;
}

const LoopParts<FineBall>& LoopPolynomials::FineParts() {
  if (!fine_parts_) {
    fine_parts_ = LoopPartsOf<FineBall>(loop_);
  }
  return *fine_parts_;
}

const CrossingPolynomials<Exact>& LoopPolynomials::Exactly() {
  if (!exact_) {
    exact_ = CrossingPolynomialsOf<Exact>(loop_);
  }
  return *exact_;
}

struct LoopPolynomials::ArbLevel {
  slong prec = 0;
  LoopParts<ArbNumber> parts;
  std::array<ArbPolynomial, 6> polynomials;
  std::array<bool, 6> formed{};
};

const ArbPolynomial& LoopPolynomials::Arb(Polynomial which, slong prec) {
  ArbLevel* level = nullptr;
  for (const std::unique_ptr<ArbLevel>& l : arb_) {
    if (l->prec == prec) {
      level = l.get();
    }
  }
  const ArbPrecision working(prec);
  if (level == nullptr) {
    level = arb_.emplace_back(std::make_unique<ArbLevel>()).get();
    level->prec = prec;
    level->parts = LoopPartsOf<ArbNumber>(loop_);
  }
  const auto k = static_cast<std::size_t>(which);
  arb_poly_struct* out = level->polynomials[k].get();
  if (!level->formed[k]) {
    const Poly<ArbNumber> p = CrossingPolynomialOf(level->parts, which);
    arb_poly_fit_length(out, static_cast<slong>(p.size()));
    for (std::size_t i = 0; i < p.size(); ++i) {
      arb_set(out->coeffs + i, p[i].get());
    }
    _arb_poly_set_length(out, static_cast<slong>(p.size()));
    _arb_poly_normalise(out);
    level->formed[k] = true;
  }
  return level->polynomials[k];
}

namespace {

// The parts of N and D over a ball with a 128-bit midpoint.
PartValuesOf<FineBall> FinePartsAt(const LoopParts<FineBall>& p, const FineBall& u) {
  return {u, Evaluate(p.numerator_even, u), Evaluate(p.numerator_odd, u),
          Evaluate(p.denominator_even, u), Evaluate(p.denominator_odd, u)};
}

// p(u) and p'(u) in one pass of Horner's rule.
struct ValueAndSlope {
  FineBall value;
  FineBall slope;
};
ValueAndSlope ValueAndSlopeAt(const Poly<FineBall>& p, const FineBall& u) {
  ValueAndSlope r;
  for (std::size_t k = p.size(); k-- > 0;) {
    r.slope = r.slope * u + r.value;
    r.value = r.value * u + p[k];
  }
  return r;
}

// W = A'·B − A·B' at u from the parts of N and D and their slopes, with A = E² + u·O² for
// E = E_D + E_N, O = O_D + O_N, and B = E_D² + u·O_D²: far fewer products than W's expanded
// form.
FineBall DistancePolynomialAt(const LoopParts<FineBall>& p, const FineBall& u) {
  const ValueAndSlope ne = ValueAndSlopeAt(p.numerator_even, u);
  const ValueAndSlope no = ValueAndSlopeAt(p.numerator_odd, u);
  const ValueAndSlope de = ValueAndSlopeAt(p.denominator_even, u);
  const ValueAndSlope dd = ValueAndSlopeAt(p.denominator_odd, u);
  const FineBall two(2);
  // |P|² = E² + u·O² and its slope 2·E·E' + O² + 2·u·O·O'.
  const auto squared = [&u, &two](const FineBall& e, const FineBall& de_du, const FineBall& o,
                                  const FineBall& do_du) {
    return ValueAndSlope{e * e + u * (o * o), two * (e * de_du) + o * o + two * (u * (o * do_du))};
  };
  const ValueAndSlope a =
      squared(de.value + ne.value, de.slope + ne.slope, dd.value + no.value, dd.slope + no.slope);
  const ValueAndSlope b = squared(de.value, de.slope, dd.value, dd.slope);
  return a.slope * b.value - a.value * b.slope;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The root, narrowed on demand.

struct CrossingRoot::ArbState {
  // u* within [a, b] (exact bounds); a point when a = b.
  Arf a;
  Arf b;
  // The sign of the refining polynomial just above u*: 2 while unknown.
  int sign_above = 2;
  // The refining polynomial (P in balls at the last precision, or its square-free part on the
  // exact path) and its derivative.
  ArbPolynomial p;
  ArbPolynomial dp;
  ArbBall ball;
  slong ball_prec = 0;
  // The square-free part of P and, on the fast path, the isolating disk's ends.
  std::unique_ptr<RationalPolynomial> square_free;
  bool closed_isolation = true;
  Exact isolation_lo;
  Exact isolation_hi;
};

CrossingRoot::CrossingRoot(LoopPolynomials& polynomials, CrossingKind kind,
                           const PositiveRoots& roots, std::size_t index)
    : polynomials_(polynomials),
      kind_(kind),
      omega_(roots.omega[index]),
      place_(roots.places[index]),
      roots_(&roots),
      index_(index) {
  // u within [lo², hi²]: the ball of a ball around ω, squared.
  const Extended mid = (place_.lo + place_.hi) / 2;
  const Ball w(mid, std::max(Up(place_.hi - mid), Up(mid - place_.lo)));
  u_ = w * w;
}

CrossingRoot::CrossingRoot(CrossingRoot&&) noexcept = default;
CrossingRoot::~CrossingRoot() = default;

arb_srcptr CrossingRoot::Enclosure(slong prec) {
  const bool exact_path = roots_->exact_path;
  if (!arb_) {
    arb_ = std::make_unique<ArbState>();
    ArbState& s = *arb_;
    Arf lo;
    Arf hi;
    SetExtended(lo.get(), place_.lo);
    SetExtended(hi.get(), place_.hi);
    arf_mul(lo.get(), lo.get(), lo.get(), ARF_PREC_EXACT, ARF_RND_DOWN);
    arf_mul(hi.get(), hi.get(), hi.get(), ARF_PREC_EXACT, ARF_RND_DOWN);
    if (exact_path) {
      // (lo, hi] of the exact path; u* = hi when the square-free part vanishes there.
      const auto& [q_lo, q_hi] = roots_->isolation[index_];
      ArbBall x;
      SetRational(x.get(), q_lo, kLastPrecision);
      arf_set(s.a.get(), arb_midref(x.get()));
      SetRational(x.get(), q_hi, kLastPrecision);
      arf_set(s.b.get(), arb_midref(x.get()));
      s.square_free = std::make_unique<RationalPolynomial>(roots_->square_free);
      if (SignAt(s.square_free->get(), q_hi) == 0) {
        arf_set(s.a.get(), s.b.get());
      } else {
        s.sign_above = SignAt(s.square_free->get(), q_hi);
      }
      s.closed_isolation = false;
      s.isolation_lo = q_lo;
      s.isolation_hi = q_hi;
    } else {
      // The disk's real segment, cut to the enclosure from the extended balls.
      Arf centre;
      Arf radius;
      SetExtended(centre.get(), place_.centre);
      SetExtended(radius.get(), place_.radius);
      arf_sub(s.a.get(), centre.get(), radius.get(), ARF_PREC_EXACT, ARF_RND_DOWN);
      arf_add(s.b.get(), centre.get(), radius.get(), ARF_PREC_EXACT, ARF_RND_DOWN);
      s.isolation_lo = ToExact(place_.centre) - ToExact(place_.radius);
      s.isolation_hi = ToExact(place_.centre) + ToExact(place_.radius);
      if (arf_cmp(lo.get(), s.a.get()) > 0) {
        arf_set(s.a.get(), lo.get());
      }
      if (arf_cmp(hi.get(), s.b.get()) < 0) {
        arf_set(s.b.get(), hi.get());
      }
    }
  }
  ArbState& s = *arb_;
  if (s.ball_prec >= prec) {
    return s.ball.get();
  }
  {
    if (exact_path) {
      ArbBall c;
      Rational q;
      arb_poly_zero(s.p.get());
      for (slong k = 0; k < fmpq_poly_length(s.square_free->get()); ++k) {
        fmpq_poly_get_coeff_fmpq(q.get(), s.square_free->get(), k);
        SetRational(c.get(), q.get(), prec + 16);
        arb_poly_set_coeff_arb(s.p.get(), k, c.get());
      }
    } else {
      arb_poly_set(s.p.get(), polynomials_.Arb(PolynomialOf(kind_), prec).get());
    }
    arb_poly_derivative(s.dp.get(), s.p.get(), prec);
  }
  // Interval Newton steps, N(X) = m − p(m)/p'(X), which keep u* (the only root in X) and converge
  // quadratically; halving by the sign at the midpoint where p' may vanish in X.
  ArbBall m;
  ArbBall x;
  ArbBall value;
  ArbBall slope;
  Arf width;
  Arf target;
  int stalls = 0;
  for (int iteration = 0; iteration < 400 && arf_cmp(s.a.get(), s.b.get()) < 0; ++iteration) {
    arf_sub(width.get(), s.b.get(), s.a.get(), ARF_PREC_EXACT, ARF_RND_DOWN);
    arf_mul_2exp_si(target.get(), s.b.get(), 12 - prec);
    if (arf_cmpabs(width.get(), target.get()) <= 0) {
      break;
    }
    arb_set_interval_arf(x.get(), s.a.get(), s.b.get(), prec);
    arb_set_arf(m.get(), arb_midref(x.get()));
    arb_poly_evaluate(value.get(), s.p.get(), m.get(), prec);
    arb_poly_evaluate(slope.get(), s.dp.get(), x.get(), prec);
    if (!arb_contains_zero(slope.get())) {
      ArbBall n;
      arb_div(n.get(), value.get(), slope.get(), prec);
      arb_sub(n.get(), m.get(), n.get(), prec);
      Arf lo;
      Arf hi;
      arb_get_lbound_arf(lo.get(), n.get(), prec);
      arb_get_ubound_arf(hi.get(), n.get(), prec);
      if (arf_cmp(lo.get(), s.a.get()) < 0) {
        arf_set(lo.get(), s.a.get());
      }
      if (arf_cmp(hi.get(), s.b.get()) > 0) {
        arf_set(hi.get(), s.b.get());
      }
      if (arf_cmp(lo.get(), hi.get()) > 0) {
        break;  // no overlap: the polynomial's radii at this precision are too coarse
      }
      Arf next_width;
      arf_sub(next_width.get(), hi.get(), lo.get(), ARF_PREC_EXACT, ARF_RND_DOWN);
      arf_mul_2exp_si(next_width.get(), next_width.get(), 1);
      stalls = arf_cmp(next_width.get(), width.get()) > 0 ? stalls + 1 : 0;
      arf_set(s.a.get(), lo.get());
      arf_set(s.b.get(), hi.get());
      if (stalls >= 2) {
        break;
      }
      continue;
    }
    // Halving: the root lies below m where p(m) has the sign p has above u*.
    if (s.sign_above == 2) {
      ArbBall end;
      arb_set_arf(end.get(), s.b.get());
      arb_poly_evaluate(end.get(), s.p.get(), end.get(), prec);
      if (arb_is_positive(end.get())) {
        s.sign_above = 1;
      } else if (arb_is_negative(end.get())) {
        s.sign_above = -1;
      } else {
        break;
      }
    }
    int sign = 2;
    if (arb_is_zero(value.get())) {
      sign = 0;
    } else if (arb_is_positive(value.get())) {
      sign = 1;
    } else if (arb_is_negative(value.get())) {
      sign = -1;
    }
    if (sign == 2) {
      break;
    }
    if (sign == 0) {
      arf_set(s.a.get(), arb_midref(m.get()));
      arf_set(s.b.get(), arb_midref(m.get()));
      break;
    }
    arf_set(sign == s.sign_above ? s.b.get() : s.a.get(), arb_midref(m.get()));
  }
  arb_set_interval_arf(s.ball.get(), s.a.get(), s.b.get(), prec);
  s.ball_prec = prec;
  return s.ball.get();
}

const FineBall* CrossingRoot::Narrowed() {
  if (narrowed_) {
    return fine_u_ ? &*fine_u_ : nullptr;
  }
  narrowed_ = true;
  // u* = u_m − P(u_m)/P'(ξ) for a ξ in U: within u_m − P(u_m)/P'(U) where P' keeps its sign.
  const LoopPolynomials::Polynomial which = PolynomialOf(kind_);
  const Range slope = SlopeOver(CrossingPolynomialIn(polynomials_.Fast(), which), u_);
  if (!Finite(slope) || slope.HasZero()) {
    return nullptr;
  }
  // P(u_m) from the parts of N and D: far fewer products than the expanded polynomial's.
  const FineBall at(u_.mid);
  FineBall value;
  if (kind_ == CrossingKind::kDistanceExtreme) {
    value = DistancePolynomialAt(polynomials_.FineParts(), at);
  } else {
    const PartValuesOf<FineBall> parts = FinePartsAt(polynomials_.FineParts(), at);
    value = kind_ == CrossingKind::kGainCrossover ? parts.Gain() : parts.Phase();
  }
  const Range step = Quotient(RangeOf(value), slope);
  if (!Finite(step)) {
    return nullptr;
  }
  const Extended centre = step.lo / 2 + step.hi / 2;
  const Extended rad = Up(std::max(step.hi - centre, centre - step.lo));
  FineBall u(u_.mid);
  if (rad < u_.rad) {
    // hi + lo = u_m − centre exactly.
    const fine_detail::Split2 mid = fine_detail::TwoSum(u_.mid, -centre);
    u.hi = mid.value;
    u.lo = mid.error;
    u.rad = rad;
  } else {
    u.rad = u_.rad;
  }
  fine_u_ = u;
  return &*fine_u_;
}

bool CrossingRoot::Vanishes(const Poly<Exact>& v) {
  Enclosure(kFirstPrecision);  // sets up the isolation
  ArbState& s = *arb_;
  if (!s.square_free) {
    const RationalPolynomial p(CrossingPolynomialIn(polynomials_.Exactly(), PolynomialOf(kind_)));
    s.square_free = std::make_unique<RationalPolynomial>();
    SquareFreePart(s.square_free->get(), p.get());
  }
  const RationalPolynomial value(v);
  RationalPolynomial common;
  fmpq_poly_gcd(common.get(), s.square_free->get(), value.get());
  if (fmpq_poly_degree(common.get()) < 1) {
    return false;
  }
  // The common factor is square-free, and its roots within the isolating interval are u* or none.
  const int at_hi = SignAt(common.get(), s.isolation_hi);
  const int at_lo = SignAt(common.get(), s.isolation_lo);
  if (at_hi == 0) {
    return true;
  }
  if (at_lo == 0) {
    return s.closed_isolation;
  }
  return at_lo != at_hi;
}

// ---------------------------------------------------------------------------------------------
// The values.

namespace {

using P = LoopPolynomials::Polynomial;

PartValuesOf<FineBall> FinePartsAt(CrossingRoot& root, const FineBall& u) {
  return FinePartsAt(root.polynomials().FineParts(), u);
}

void EvaluateAt(CrossingRoot& root, P which, arb_srcptr u, slong prec, arb_t out) {
  arb_poly_evaluate(out, root.polynomials().Arb(which, prec).get(), u, prec);
}

// (−R − jω·H) at the crossover: y = −ω·H, x = −R.
void Opposite(CrossingRoot& root, slong prec, arb_t y, arb_t x) {
  arb_srcptr u = root.Enclosure(prec);
  ArbBall w;
  arb_sqrtpos(w.get(), u, prec);
  EvaluateAt(root, P::kPhase, u, prec, y);
  arb_mul(y, y, w.get(), prec);
  arb_neg(y, y);
  EvaluateAt(root, P::kRealPart, u, prec, x);
  arb_neg(x, x);
}

// The phase margin in radians, when the ball can tell it from the cut at ±180°.
bool MarginRadians(CrossingRoot& root, slong prec, arb_t out) {
  ArbBall y;
  ArbBall x;
  Opposite(root, prec, y.get(), x.get());
  if (arb_contains_zero(y.get()) && !arb_is_positive(x.get())) {
    return false;
  }
  arb_atan2(out, y.get(), x.get(), prec);
  return true;
}

void RadiansToDegrees(arb_t x, slong prec) {
  ArbBall pi;
  arb_const_pi(pi.get(), prec);
  arb_mul_ui(x, x, 180, prec);
  arb_div(x, x, pi.get(), prec);
}

// Poly a + c·b.
Poly<Exact> Combination(const Poly<Exact>& a, const Exact& c, const Poly<Exact>& b) {
  Poly<Exact> r(std::max(a.size(), b.size()), Exact(0));
  for (std::size_t k = 0; k < a.size(); ++k) {
    r[k] += a[k];
  }
  for (std::size_t k = 0; k < b.size(); ++k) {
    r[k] += c * b[k];
  }
  return r;
}

}  // namespace

CrossoverValues ValuesAtCrossover(CrossingRoot& root, Extended continuous_phase_degrees) {
  const CrossingPolynomials<Ball>& fast = root.polynomials().Fast();
  const MeanValue mv = MeanValueOf(root.u());
  const Range w{root.omega_lo(), root.omega_hi()};
  const Range w_mid = Sqrt(Range{mv.mid, mv.mid});
  const Range h_mid = AtMid(fast.phase, mv);
  const Range r_mid = AtMid(fast.real_part, mv);
  const Range dh = SlopeOver(fast.phase, root.u());
  const Range dr = SlopeOver(fast.real_part, root.u());
  // y = −ω·H and x = −R over U
  const Range h = Spread(h_mid, dh, mv);
  const Range y = Negate(Times(w, h));
  const Range x = Negate(Spread(r_mid, dr, mv));
  // The angle θ = atan2(y, x) at u_m, and dθ/du = (x·y' − y·x')/(x² + y²) over U, where
  // y' = −(H/(2ω) + ω·H') and x' = −R'; the angle is smooth over U when (x, y) keeps off the cut.
  std::optional<Range> angle;
  if (const std::optional<Range> at_mid = Atan2(Negate(Times(w_mid, h_mid)), Negate(r_mid));
      at_mid && OffTheCut(y, x)) {
    const Range dy = Negate(Plus(Quotient(h, Times(Range{2, 2}, w)), Times(w, dh)));
    const Range dx = Negate(dr);
    const Range den = Plus(Square(x), Square(y));
    if (den.lo > 0) {
      angle = Spread(*at_mid, Quotient(Minus(Times(x, dy), Times(y, dx)), den), mv);
    }
  }

  std::optional<double> degrees;
  std::optional<double> delay;
  std::optional<double> phase;
  std::optional<Range> degrees_range;
  const auto finish_phase = [&](double d) {
    const Extended turns = std::round((continuous_phase_degrees + 180 - d) / 360);
    return turns;
  };
  Extended turns = 0;
  int margin_sign = 2;     // of the exact phase margin; 0: exactly 0
  bool half_turn = false;  // exactly 180°

  // The values from an enclosure of the angle and of ω, where they were still open.
  const auto take = [&](const Range& margin, const Range& omega) {
    if (!Finite(margin)) {
      return;
    }
    const Range d = Scaled(margin, kDegreesPerRadian);
    degrees_range = degrees_range ? Common(*degrees_range, d) : d;
    if (!degrees) {
      degrees = Rounded(*degrees_range);
    }
    if (margin.lo > 0 || margin.hi < 0) {
      margin_sign = margin.lo > 0 ? 1 : -1;
      if (!delay) {
        const Range lag = margin_sign > 0
                              ? margin
                              : Range{Down(margin.lo + kTwoPi.lo), Up(margin.hi + kTwoPi.hi)};
        delay = Rounded(Quotient(lag, omega));
      }
    }
  };
  if (angle) {
    take(*angle, w);
  }
  // Then over the root narrowed to a ball with a 128-bit midpoint, from the parts in such balls.
  bool fine = false;
  // The narrowed root and H and R there, kept for the Arb balls formed from them.
  const FineBall* fine_u = nullptr;
  FineBall fine_h;
  FineBall fine_r;
  const auto take_finer = [&] {
    if (fine) {
      return;
    }
    fine = true;
    fine_u = root.Narrowed();
    if (fine_u != nullptr) {
      const PartValuesOf<FineBall> parts = FinePartsAt(root, *fine_u);
      fine_h = parts.Phase();
      fine_r = parts.RealPart();
      const Range omega = Sqrt(RangeOf(*fine_u));
      const Range fine_y = Negate(Times(omega, RangeOf(fine_h)));
      const Range fine_x = Negate(RangeOf(fine_r));
      // A box this narrow costs the angle at its centre no more than the rounding of the
      // arctangent: one arctangent for the four at its corners, where that is enough.
      if (const std::optional<Range> at = Atan2(fine_y, fine_x)) {
        take(*at, omega);
      }
      if (!(degrees && delay)) {
        if (const std::optional<Range> at = Atan2OfCorners(fine_y, fine_x)) {
          take(*at, omega);
        }
      }
    }
  };
  if (!(degrees && delay)) {
    take_finer();
  }
  if (!degrees && y.HasZero()) {
    // The crossover may lie exactly on the real axis: L = −1 (a marginal loop) or L = 1.
    if (root.Vanishes(root.polynomials().Exactly().phase)) {
      ArbBall re;
      for (slong prec = kFirstPrecision; prec <= kLastPrecision && margin_sign == 2; prec *= 2) {
        EvaluateAt(root, P::kRealPart, root.Enclosure(prec), prec, re.get());
        if (arb_is_negative(re.get())) {
          margin_sign = 0;
          degrees = 0;
          delay = 0;
        } else if (arb_is_positive(re.get())) {
          half_turn = true;
          margin_sign = 1;
          degrees = 180;
        }
      }
    }
  }
  if (degrees) {
    turns = finish_phase(*degrees);
    if (margin_sign == 0) {
      phase = static_cast<double>(360 * turns - 180);
    } else if (half_turn) {
      phase = static_cast<double>(360 * turns);
    } else if (degrees_range) {
      phase = Rounded(Plus(*degrees_range, 360 * turns - 180));
      if (!phase) {
        take_finer();
        phase = Rounded(Plus(*degrees_range, 360 * turns - 180));
      }
    }
  }
  // The values from a ball of the margin in radians and one of ω, where they are still open.
  const auto take_ball = [&](arb_srcptr radians, arb_srcptr w_ball, slong prec) {
    if (margin_sign == 2) {
      margin_sign = arb_is_positive(radians) ? 1 : arb_is_negative(radians) ? -1 : 2;
    }
    ArbBall d;
    arb_set(d.get(), radians);
    RadiansToDegrees(d.get(), prec);
    if (!degrees) {
      degrees = Rounded(d.get());
      if (degrees) {
        turns = finish_phase(*degrees);
      }
    }
    if (degrees && !phase) {
      ArbBall p;
      arb_add_si(p.get(), d.get(), static_cast<slong>(360 * turns - 180), prec);
      phase = Rounded(p.get());
    }
    if (!delay && margin_sign != 2) {
      ArbBall lag;
      arb_set(lag.get(), radians);
      if (margin_sign < 0) {
        ArbBall two_pi;
        arb_const_pi(two_pi.get(), prec);
        arb_mul_2exp_si(two_pi.get(), two_pi.get(), 1);
        arb_add(lag.get(), lag.get(), two_pi.get(), prec);
      }
      arb_div(lag.get(), lag.get(), w_ball, prec);
      delay = Rounded(lag.get());
    }
  };
  // What the extended bounds on the arctangent leave open, Arb balls at the first precision
  // formed from H and R over the narrowed root usually decide: their 128-bit midpoints carry
  // the digits that the x87 unit's arctangent loses.
  if (!(degrees && delay && phase) && fine_u != nullptr && fine_u->Finite() && fine_h.Finite() &&
      fine_r.Finite()) {
    const slong prec = kFirstPrecision;
    ArbBall w_ball;
    ArbBall minus_wh;
    ArbBall minus_r;
    SetFineBall(w_ball.get(), *fine_u);
    arb_sqrtpos(w_ball.get(), w_ball.get(), prec);
    SetFineBall(minus_wh.get(), fine_h);
    arb_mul(minus_wh.get(), minus_wh.get(), w_ball.get(), prec);
    arb_neg(minus_wh.get(), minus_wh.get());
    SetFineBall(minus_r.get(), fine_r);
    arb_neg(minus_r.get(), minus_r.get());
    ArbBall radians;
    if (half_turn) {
      arb_const_pi(radians.get(), prec);
      take_ball(radians.get(), w_ball.get(), prec);
    } else if (!(arb_contains_zero(minus_wh.get()) && !arb_is_positive(minus_r.get()))) {
      arb_atan2(radians.get(), minus_wh.get(), minus_r.get(), prec);
      take_ball(radians.get(), w_ball.get(), prec);
    }
  }
  // Ziv's loop in Arb balls for what the extended ones left open.
  for (slong prec = kFirstPrecision; prec <= kLastPrecision && !(degrees && delay && phase);
       prec *= 2) {
    ArbBall radians;
    if (half_turn) {
      arb_const_pi(radians.get(), prec);
    } else if (!MarginRadians(root, prec, radians.get())) {
      continue;
    }
    ArbBall w_ball;
    if (!delay) {
      arb_sqrtpos(w_ball.get(), root.Enclosure(prec), prec);
    }
    take_ball(radians.get(), w_ball.get(), prec);
  }
  CrossoverValues v;
  v.degrees = degrees.value_or(std::numeric_limits<double>::quiet_NaN());
  v.delay = delay.value_or(std::numeric_limits<double>::quiet_NaN());
  v.phase_degrees = phase.value_or(std::numeric_limits<double>::quiet_NaN());
  return v;
}

void AbsolutePhaseMargin(CrossingRoot& root, arb_t out, slong prec) {
  if (!MarginRadians(root, prec, out)) {
    // ±180° within the ball: |margin| there is 180°.
    arb_const_pi(out, prec);
  }
  arb_abs(out, out);
  RadiansToDegrees(out, prec);
}

std::optional<PhaseCrossingValues> ValuesAtPhaseCrossing(CrossingRoot& root, bool axis_roots) {
  const CrossingPolynomials<Ball>& fast = root.polynomials().Fast();
  const MeanValue mv = MeanValueOf(root.u());
  const Range r_mid = AtMid(fast.real_part, mv);
  const Range b_mid = AtMid(fast.squared_denominator, mv);
  const Range dr = SlopeOver(fast.real_part, root.u());
  const Range b_slope = SlopeOver(fast.squared_denominator, root.u());
  const Range r = Spread(r_mid, dr, mv);
  const Range b = Spread(b_mid, b_slope, mv);
  // The side: R(u*) < 0.
  if (!(r.hi < 0)) {
    if (Finite(r) && r.lo > 0) {
      return std::nullopt;
    }
    if (axis_roots && root.Vanishes(root.polynomials().Exactly().real_part)) {
      return std::nullopt;  // N·conj D = 0: L = 0 or a pole of L there, no crossing
    }
    // R(u*) ≠ 0, though it may be a tiny fraction of its terms (beside a lightly damped pole).
    int sign = 2;
    ArbBall re;
    for (slong prec = kFirstPrecision; prec <= kLastPrecision && sign == 2; prec *= 2) {
      EvaluateAt(root, P::kRealPart, root.Enclosure(prec), prec, re.get());
      sign = arb_is_negative(re.get()) ? -1 : arb_is_positive(re.get()) ? 1 : 2;
    }
    if (sign != -1) {
      return std::nullopt;
    }
  }
  std::optional<double> factor;
  std::optional<double> decibels;
  if (Finite(r) && Finite(b) && r.hi < 0 && r_mid.hi < 0 && b.lo > 0) {
    // f = B/(−R), f' = (B'·(−R) + B·R')/R²
    const Range slope = Quotient(Plus(Times(b_slope, Negate(r)), Times(b, dr)), Square(r));
    Range f = Spread(Quotient(b_mid, Negate(r_mid)), slope, mv);
    factor = Rounded(f);
    Range decibel_range = Scaled(Log10(f), kTwenty);
    decibels = Rounded(decibel_range);
    // f = 1 + q with q = (B + R)/(−R) from the parts, q' = f': near f = 1 (a loop near the
    // stability boundary) q keeps the digits that B/(−R) loses, and the decibels with them.
    const auto take = [&](const Range& factor_range, const Range& q) {
      f = Common(f, factor_range);
      if (Finite(q) && q.lo > -1) {
        f = Common(f, OnePlus(q));
      }
      factor = factor ? factor : Rounded(f);
      decibel_range = Common(decibel_range, DecibelRange(f, q));
      decibels = decibels ? decibels : Rounded(decibel_range);
    };
    if (!factor || !decibels) {
      const PartValues parts = PartsAtMid(fast, mv);
      take(f, Spread(Quotient(RangeOf(parts.SquaredDenominatorPlusRealPart()), Negate(r_mid)),
                     slope, mv));
    }
    if (!factor || !decibels) {
      // Over the root narrowed to a ball with a 128-bit midpoint, from the parts in such balls.
      if (const FineBall* u = root.Narrowed()) {
        const PartValuesOf<FineBall> parts = FinePartsAt(root, *u);
        const FineBall r_ball = parts.RealPart();
        const FineBall b_ball = parts.SquaredDenominator();
        const Range minus_r = Negate(RangeOf(r_ball));
        const Range b_fine = RangeOf(b_ball);
        if (Finite(minus_r) && Finite(b_fine) && minus_r.lo > 0 && b_fine.lo > 0) {
          take(Quotient(b_fine, minus_r),
               Quotient(RangeOf(parts.SquaredDenominatorPlusRealPart()), minus_r));
          if (!factor || !decibels) {
            // What the extended logarithm and quotient lose, B/(−R) from the 128-bit midpoints
            // in Arb balls holds.
            ArbBall ratio;
            ArbBall minus_r_ball;
            SetFineBall(ratio.get(), b_ball);
            SetFineBall(minus_r_ball.get(), r_ball);
            arb_neg(minus_r_ball.get(), minus_r_ball.get());
            arb_div(ratio.get(), ratio.get(), minus_r_ball.get(), kFirstPrecision);
            if (!factor) {
              factor = Rounded(ratio.get());
            }
            if (!decibels) {
              arb_log_base_ui(ratio.get(), ratio.get(), 10, kFirstPrecision);
              arb_mul_ui(ratio.get(), ratio.get(), 20, kFirstPrecision);
              decibels = Rounded(ratio.get());
            }
          }
        }
      }
    }
    if (!decibels && decibel_range.HasZero() &&
        root.Vanishes(Combination(root.polynomials().Exactly().squared_denominator, Exact(1),
                                  root.polynomials().Exactly().real_part))) {
      factor = 1;  // B = −R: |L| = 1 on the negative real axis
      decibels = 0;
    }
  }
  for (slong prec = kFirstPrecision; prec <= kLastPrecision && !(factor && decibels); prec *= 2) {
    arb_srcptr u = root.Enclosure(prec);
    ArbBall f;
    ArbBall re;
    EvaluateAt(root, P::kSquaredDenominator, u, prec, f.get());
    EvaluateAt(root, P::kRealPart, u, prec, re.get());
    arb_neg(re.get(), re.get());
    arb_div(f.get(), f.get(), re.get(), prec);
    if (!factor) {
      factor = Rounded(f.get());
      if (!factor && prec >= 512) {
        if (const std::optional<Straddle> s = StraddledMidpoint(f.get());
            s && root.Vanishes(Combination(root.polynomials().Exactly().squared_denominator,
                                           s->midpoint, root.polynomials().Exactly().real_part))) {
          factor = EvenOf(s->below, s->above);
        }
      }
    }
    if (!decibels) {
      ArbBall level;
      arb_log_base_ui(level.get(), f.get(), 10, prec);
      arb_mul_ui(level.get(), level.get(), 20, prec);
      decibels = Rounded(level.get());
      // (A ball that is not finite, from a factor's ball that still holds 0, tells nothing.)
      if (!decibels && arb_is_finite(level.get()) && arb_contains_zero(level.get()) &&
          root.Vanishes(Combination(root.polynomials().Exactly().squared_denominator, Exact(1),
                                    root.polynomials().Exactly().real_part))) {
        factor = 1;
        decibels = 0;
      }
    }
  }
  PhaseCrossingValues v;
  v.factor = factor.value_or(std::numeric_limits<double>::quiet_NaN());
  v.decibels = decibels.value_or(std::numeric_limits<double>::quiet_NaN());
  if (v.decibels == 0) {
    v.decibels = 0;  // never −0: a factor of exactly 1
  }
  return v;
}

void AbsoluteDecibels(CrossingRoot& root, arb_t out, slong prec) {
  arb_srcptr u = root.Enclosure(prec);
  ArbBall re;
  EvaluateAt(root, P::kSquaredDenominator, u, prec, out);
  EvaluateAt(root, P::kRealPart, u, prec, re.get());
  arb_neg(re.get(), re.get());
  arb_div(out, out, re.get(), prec);
  arb_log_base_ui(out, out, 10, prec);
  arb_mul_ui(out, out, 20, prec);
  arb_abs(out, out);
}

Bounds CoarseDistanceAt(CrossingRoot& root) {
  const CrossingPolynomials<Ball>& fast = root.polynomials().Fast();
  const Range a = Over(fast.squared_sum, root.u());
  const Range b = Over(fast.squared_denominator, root.u());
  const Extended infinity = std::numeric_limits<Extended>::infinity();
  if (!Finite(a) || !Finite(b)) {
    return {0, infinity};
  }
  if (!(b.lo > 0)) {
    // B = |D|² ≥ 0 exactly: beside a lightly damped pole of L, where B's ball still holds 0,
    // A/B is at least A's least value over B's greatest.
    if (a.lo > 0 && b.hi > 0) {
      return {Sqrt(Quotient(Range{a.lo, a.lo}, Range{b.hi, b.hi})).lo, infinity};
    }
    return {0, infinity};
  }
  const Range v =
      Sqrt(Quotient(Range{std::max(a.lo, Extended{0}), std::max(a.hi, Extended{0})}, b));
  return {v.lo, v.hi};
}

double DistanceAt(CrossingRoot& root) {
  const CrossingPolynomials<Ball>& fast = root.polynomials().Fast();
  const MeanValue mv = MeanValueOf(root.u());
  Range a = AtMid(fast.squared_sum, mv);
  Range b = AtMid(fast.squared_denominator, mv);
  // W = A'·B − A·B' over U lies within W'(U)·[−2δ, 2δ], as W(u*) = 0: narrower than W's own
  // enclosure over U, which carries the rounding of its expanded coefficients, and taken but
  // where the slope's enclosure is not finite.
  Range w;
  if (const Range w_slope = SlopeOver(fast.distance, root.u()); Finite(w_slope)) {
    const Extended reach =
        Up(Up(std::max(std::fabs(w_slope.lo), std::fabs(w_slope.hi)) * (2 * root.u().rad)));
    w = Range{-reach, reach};
  } else {
    w = Over(fast.distance, root.u());
  }
  const Range b_over = Over(fast.squared_denominator, root.u());
  if (Finite(a) && Finite(b) && Finite(w) && b.lo > 0 && b_over.lo > 0) {
    // (A/B)' = (A'·B − A·B')/B² = W/B², which is small over U: u* is a root of W.
    const Range spread = Quotient(w, Square(b_over));
    Range square = Spread(Quotient(Range{std::max(a.lo, Extended{0}), a.hi}, b), spread, mv);
    if (const std::optional<double> d = Rounded(Sqrt(square))) {
      return *d;
    }
    // A from the parts: |D + N|² near −1 without the cancellation of A's expanded coefficients.
    const PartValues parts = PartsAtMid(fast, mv);
    a = Common(a, RangeOf(parts.SquaredSum()));
    b = Common(b, RangeOf(parts.SquaredDenominator()));
    square =
        Common(square, Spread(Quotient(Range{std::max(a.lo, Extended{0}), a.hi}, b), spread, mv));
    if (const std::optional<double> d = Rounded(Sqrt(square))) {
      return *d;
    }
    // Over the root narrowed to a ball with a 128-bit midpoint, from the parts in such balls.
    if (const FineBall* u = root.Narrowed()) {
      const PartValuesOf<FineBall> finer = FinePartsAt(root, *u);
      const FineBall a_ball = finer.SquaredSum();
      const FineBall b_ball = finer.SquaredDenominator();
      const Range a_fine = RangeOf(a_ball);
      const Range b_fine = RangeOf(b_ball);
      if (Finite(a_fine) && Finite(b_fine) && b_fine.lo > 0) {
        square =
            Common(square, Quotient(Range{std::max(a_fine.lo, Extended{0}), a_fine.hi}, b_fine));
        if (const std::optional<double> d = Rounded(Sqrt(square))) {
          return *d;
        }
        // The extended square root loses what the 128-bit midpoints hold: √(A/B) from them in
        // Arb balls.
        ArbBall v;
        ArbBall denominator;
        SetFineBall(v.get(), a_ball);
        SetFineBall(denominator.get(), b_ball);
        arb_div(v.get(), v.get(), denominator.get(), kFirstPrecision);
        arb_sqrtpos(v.get(), v.get(), kFirstPrecision);
        if (const std::optional<double> d = Rounded(v.get())) {
          return *d;
        }
      }
    }
    if (square.lo <= 0 && root.Vanishes(root.polynomials().Exactly().squared_sum)) {
      return 0;  // the Nyquist curve passes through −1: a marginal loop
    }
  }
  for (slong prec = kFirstPrecision; prec <= kLastPrecision; prec *= 2) {
    ArbBall v;
    SquaredDistance(root, v.get(), prec);
    arb_sqrtpos(v.get(), v.get(), prec);
    if (const std::optional<double> d = Rounded(v.get())) {
      return *d;
    }
    if (prec >= 512) {
      // A ball that is not finite (B's ball still holds 0) tells nothing about a zero of A.
      if (arb_is_finite(v.get()) && arb_contains_zero(v.get()) &&
          root.Vanishes(root.polynomials().Exactly().squared_sum)) {
        return 0;
      }
      if (const std::optional<Straddle> s = StraddledMidpoint(v.get());
          s && root.Vanishes(Combination(root.polynomials().Exactly().squared_sum,
                                         -s->midpoint * s->midpoint,
                                         root.polynomials().Exactly().squared_denominator))) {
        return EvenOf(s->below, s->above);
      }
    }
  }
  return std::numeric_limits<double>::quiet_NaN();
}

void SquaredDistance(CrossingRoot& root, arb_t out, slong prec) {
  arb_srcptr u = root.Enclosure(prec);
  ArbBall b;
  EvaluateAt(root, P::kSquaredSum, u, prec, out);
  EvaluateAt(root, P::kSquaredDenominator, u, prec, b.get());
  arb_div(out, out, b.get(), prec);
}

std::optional<double> RoundedDistanceOfRatio(const Ball& n, const Ball& d) {
  const Range denominator = RangeOf(d);
  if (!Finite(denominator) || denominator.HasZero()) {
    return std::nullopt;
  }
  const Range q = Quotient(RangeOf(n + d), denominator);
  if (q.lo >= 0) {
    return Rounded(q);
  }
  if (q.hi <= 0) {
    return Rounded(Negate(q));
  }
  return std::nullopt;
}

double NearestDouble(const Exact& q) {
  const mpfr_exp_t emin = mpfr_get_emin();
  const mpfr_exp_t emax = mpfr_get_emax();
  mpfr_set_emin(-1073);
  mpfr_set_emax(1024);
  mpfr_t x;
  mpfr_init2(x, 53);
  int t = mpfr_set_q(x, q.get_mpq_t(), MPFR_RNDN);
  t = mpfr_check_range(x, t, MPFR_RNDN);
  mpfr_subnormalize(x, t, MPFR_RNDN);
  const double d = mpfr_get_d(x, MPFR_RNDN);
  mpfr_clear(x);
  mpfr_set_emin(emin);
  mpfr_set_emax(emax);
  return d;
}

void SetExactBall(arb_t out, const Exact& q, slong prec) { SetRational(out, q, prec); }

double NearestSquareRoot(const Exact& q) {
  Rational f;
  fmpq_set_mpq(f.get(), q.get_mpq_t());
  for (slong prec = kFirstPrecision; prec <= kLastPrecision; prec *= 2) {
    ArbBall x;
    SetRational(x.get(), f.get(), 2 * prec);
    arb_sqrtpos(x.get(), x.get(), prec);
    if (const std::optional<double> d = Rounded(x.get())) {
      return *d;
    }
    if (const std::optional<Straddle> s = StraddledMidpoint(x.get());
        s && s->midpoint * s->midpoint == q) {
      return EvenOf(s->below, s->above);
    }
  }
  return std::numeric_limits<double>::quiet_NaN();
}

void AbsoluteDecibelsOf(const Exact& q, arb_t out, slong prec) {
  SetRational(out, q, 2 * prec);
  arb_log_base_ui(out, out, 10, prec);
  arb_mul_ui(out, out, 20, prec);
  arb_abs(out, out);
}

double DecibelsOf(const Exact& q) {
  if (q == 1) {
    return 0;
  }
  Rational f;
  fmpq_set_mpq(f.get(), q.get_mpq_t());
  for (slong prec = kFirstPrecision; prec <= kLastPrecision; prec *= 2) {
    ArbBall x;
    SetRational(x.get(), f.get(), 2 * prec);
    arb_log_base_ui(x.get(), x.get(), 10, prec);
    arb_mul_ui(x.get(), x.get(), 20, prec);
    if (const std::optional<double> d = Rounded(x.get())) {
      return *d;
    }
  }
  return std::numeric_limits<double>::quiet_NaN();
}

}  // namespace pitch::analysis
