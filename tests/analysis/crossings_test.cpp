// Loops built to have known crossings where a grid search fails: resonances down to ζ = 1e-12,
// crossings 0.1 % apart, a tangency, |L| peaks and notches within 1e-6 of 1, L ≡ 0, zeros on the
// imaginary axis, crossings far from 1 rad/s; each crossing against a reference computed in MPFR
// at 256 bits from the same exact coefficients, to the last bit of a double. Then roots next to
// the midpoint between two doubles, the finer balls that decide their side, the loops of the
// issue's examples, and the exact stability decisions.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iomanip>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/euler_stability.h"
#include "analysis/frequency_response.h"
#include "analysis/margins.h"
#include "analysis/real_roots.h"
#include "analysis/stability.h"
#include "common/coefficients.h"

namespace pitch::analysis {
namespace {

// ---------------------------------------------------------------------------------------------
// An MPFR reference: f(ω) = |N(jω)|² − |D(jω)|² or Im(N(jω)·conj D(jω)) from the factors,
// bisected at 256 bits within a bracket that holds one sign change.

// A real of Bits bits in MPFR, every operation rounded to the nearest; zero when made empty.
template <mpfr_prec_t Bits>
class Mpfr {
 public:
  Mpfr() {
    mpfr_init2(v, Bits);
    mpfr_set_zero(v, 1);
  }
  explicit Mpfr(double x) : Mpfr() { mpfr_set_d(v, x, MPFR_RNDN); }
  explicit Mpfr(const Exact& x) : Mpfr() { mpfr_set_q(v, x.get_mpq_t(), MPFR_RNDN); }
  Mpfr(const Mpfr& o) : Mpfr() { mpfr_set(v, o.v, MPFR_RNDN); }
  Mpfr& operator=(const Mpfr& o) {
    mpfr_set(v, o.v, MPFR_RNDN);
    return *this;
  }
  ~Mpfr() { mpfr_clear(v); }
  friend Mpfr operator+(const Mpfr& a, const Mpfr& b) {
    Mpfr r;
    mpfr_add(r.v, a.v, b.v, MPFR_RNDN);
    return r;
  }
  friend Mpfr operator-(const Mpfr& a, const Mpfr& b) {
    Mpfr r;
    mpfr_sub(r.v, a.v, b.v, MPFR_RNDN);
    return r;
  }
  friend Mpfr operator*(const Mpfr& a, const Mpfr& b) {
    Mpfr r;
    mpfr_mul(r.v, a.v, b.v, MPFR_RNDN);
    return r;
  }
  friend Mpfr operator/(const Mpfr& a, const Mpfr& b) {
    Mpfr r;
    mpfr_div(r.v, a.v, b.v, MPFR_RNDN);
    return r;
  }
  int Sign() const { return mpfr_sgn(v); }
  double ToDouble() const { return mpfr_get_d(v, MPFR_RNDN); }
  // The nearest double, subnormals rounded once at their own precision.
  double Nearest() const {
    const mpfr_exp_t emin = mpfr_get_emin();
    const mpfr_exp_t emax = mpfr_get_emax();
    mpfr_set_emin(-1073);
    mpfr_set_emax(1024);
    mpfr_t x;
    mpfr_init2(x, 53);
    int t = mpfr_set(x, v, MPFR_RNDN);
    t = mpfr_check_range(x, t, MPFR_RNDN);
    mpfr_subnormalize(x, t, MPFR_RNDN);
    const double d = mpfr_get_d(x, MPFR_RNDN);
    mpfr_clear(x);
    mpfr_set_emin(emin);
    mpfr_set_emax(emax);
    return d;
  }
  mpfr_t v;
};

template <mpfr_prec_t Bits>
struct MpfrComplex {
  Mpfr<Bits> re;
  Mpfr<Bits> im;
  friend MpfrComplex operator+(const MpfrComplex& a, const MpfrComplex& b) {
    return {a.re + b.re, a.im + b.im};
  }
  friend MpfrComplex operator-(const MpfrComplex& a, const MpfrComplex& b) {
    return {a.re - b.re, a.im - b.im};
  }
  friend MpfrComplex operator*(const MpfrComplex& a, const MpfrComplex& b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
  }
};

using Mp = Mpfr<256>;
using MpComplex = MpfrComplex<256>;

// Π factors(jω), each coefficient Σ x·y formed at 256 bits.
MpComplex ProductAt(const std::vector<Factor>& factors, const Mp& omega) {
  MpComplex product{Mp(1), Mp(0)};
  for (const Factor& f : factors) {
    MpComplex value{Mp(0), Mp(0)};
    MpComplex power{Mp(1), Mp(0)};  // (jω)^k
    for (const Coefficient& c : f) {
      Mp coefficient(0);
      for (const Product& p : c) {
        coefficient = coefficient + Mp(static_cast<double>(p.x)) * Mp(static_cast<double>(p.y));
      }
      value.re = value.re + coefficient * power.re;
      value.im = value.im + coefficient * power.im;
      power = power * MpComplex{Mp(0), omega};
    }
    product = product * value;
  }
  return product;
}

enum class Kind { kGainCrossover, kPhaseCrossing };

int ReferenceSign(const RationalLoop& loop, Kind kind, const Mp& omega) {
  const MpComplex n = ProductAt(loop.numerator, omega);
  const MpComplex d = ProductAt(loop.denominator, omega);
  if (kind == Kind::kGainCrossover) {
    return (n.re * n.re + n.im * n.im - d.re * d.re - d.im * d.im).Sign();
  }
  return (n.im * d.re - n.re * d.im).Sign();
}

// The root in (lo, hi) to 200 bits, rounded to the nearest double.
double ReferenceRoot(const RationalLoop& loop, Kind kind, double lo, double hi) {
  Mp a(lo);
  Mp b(hi);
  const int sign_a = ReferenceSign(loop, kind, a);
  EXPECT_NE(sign_a, ReferenceSign(loop, kind, b)) << "bracket " << lo << " … " << hi;
  for (int i = 0; i < 220; ++i) {
    Mp mid = a + b;
    mpfr_div_2ui(mid.v, mid.v, 1, MPFR_RNDN);
    (ReferenceSign(loop, kind, mid) == sign_a ? a : b) = mid;
  }
  return a.ToDouble();
}

// The two doubles bit for bit (a zero expected as +0), shown in hexadecimal when they differ.
::testing::AssertionResult SameDouble(double actual, double expected) {
  if (expected == 0) {
    expected = 0;  // never −0
  }
  if (std::bit_cast<std::uint64_t>(actual) == std::bit_cast<std::uint64_t>(expected) ||
      (std::isnan(actual) && std::isnan(expected))) {
    return ::testing::AssertionSuccess();
  }
  std::ostringstream text;
  text << std::hexfloat << actual << " (" << std::defaultfloat << std::setprecision(17) << actual
       << ") where the nearest double is " << std::hexfloat << expected << " (" << std::defaultfloat
       << expected << ")";
  return ::testing::AssertionFailure() << text.str();
}

// ---------------------------------------------------------------------------------------------
// Loops given by real factors with double coefficients, lowest power first.

Factor Poly(std::vector<double> coefficients) {
  Factor f;
  for (const double c : coefficients) {
    f.push_back({{c, 1}});
  }
  return f;
}

struct Loop {
  RationalLoop rational;
  TransferFunction factored;
};

void AddRoots(const Factor& f, std::vector<ComplexExtended>& roots) {
  const auto c = [&f](std::size_t k) { return static_cast<Extended>(f[k][0].x); };
  if (f.size() == 2) {
    roots.emplace_back(-c(0) / c(1), 0);
  } else if (f.size() == 3) {
    for (const ComplexExtended& r : QuadraticRoots(c(2), c(1), c(0))) {
      roots.push_back(r);
    }
  }
}

Loop MakeLoop(double gain, std::vector<Factor> numerator, std::vector<Factor> denominator) {
  Loop l;
  l.factored.gain = gain;
  for (const Factor& f : numerator) {
    AddRoots(f, l.factored.zeros);
    l.factored.gain *= static_cast<Extended>(f.back()[0].x);
  }
  for (const Factor& f : denominator) {
    AddRoots(f, l.factored.poles);
    l.factored.gain /= static_cast<Extended>(f.back()[0].x);
  }
  numerator.insert(numerator.begin(), Poly({gain}));
  l.rational = {numerator, denominator};
  return l;
}

Loop PitchLoop(const std::array<Real, 5>& c, const std::array<Real, 3>& autopilot) {
  TController controller;
  testing::SetCoefficients(controller, c);
  controller.muv = autopilot[0];
  controller.iv = autopilot[1];
  controller.nuv = autopilot[2];
  return {PitchRationalLoop(controller), LoopTransfer(controller)};
}

struct CrossingRow {
  std::string name;
  Loop loop;
  Kind kind;
  // The crossings in increasing frequency: each a bracket for the reference, or an exact value
  // (lo == hi) where the crossing is a tangency.
  std::vector<std::pair<double, double>> crossings;
};

void PrintTo(const CrossingRow& row, std::ostream* os) { *os << row.name; }

std::vector<CrossingRow> CrossingRows() {
  std::vector<CrossingRow> rows;
  // k/((s² + 2ζ·s + 1)·(s + 1)): Im D(jω) = ω·(1 + 2ζ − ω²), the phase crosses −180° at
  // ω = √(1 + 2ζ), inside a resonance of width ζ.
  for (const int decades : {2, 4, 6, 8, 10, 12}) {
    const double zeta = std::pow(10.0, -decades);
    const double at = std::sqrt(1 + 2 * zeta);
    rows.push_back({"ResonanceZeta1e" + std::to_string(decades) + "th",
                    MakeLoop(1e-3, {}, {Poly({1, 2 * zeta, 1}), Poly({1, 1})}),
                    Kind::kPhaseCrossing,
                    {{at * (1 - 1e-13), at * (1 + 1e-13)}}});
  }
  // 4/(s² + 2s + 5): |D(jω)|² = (ω² − 3)² + 16, so |L| touches 1 at ω = √3 (a double root).
  rows.push_back({"TangentMagnitude",
                  MakeLoop(4, {}, {Poly({5, 2, 1})}),
                  Kind::kGainCrossover,
                  {{std::sqrt(3.0), std::sqrt(3.0)}}});
  // The same with a peak of 1 + 1e-6: two crossovers 0.1 % apart around √3.
  rows.push_back({"PeakAboveOne",
                  MakeLoop(4 * (1 + 1e-6), {}, {Poly({5, 2, 1})}),
                  Kind::kGainCrossover,
                  {{1.7, std::sqrt(3.0)}, {std::sqrt(3.0), 1.76}}});
  // And a notch of 1 − 1e-6: |L| = |s² + 2s + 5|/(4·(1 + 1e-6)).
  rows.push_back({"NotchBelowOne",
                  MakeLoop(1 / (4 * (1 + 1e-6)), {Poly({5, 2, 1})}, {}),
                  Kind::kGainCrossover,
                  {{1.7, std::sqrt(3.0)}, {std::sqrt(3.0), 1.76}}});
  // Pitch loops whose H(u) = (u − 1)·(u − 1 − δ) up to the rounding of iv and nuv: two phase
  // crossings with the phase between them 1.5e-5° (δ = 2e-3, 0.1 % apart) and 1e-6°
  // (δ = 5e-4) below −180°.
  rows.push_back({"DipBelowMinus180By1e5thDegree",
                  PitchLoop({0.5, 0.5, 1, 0.5, 0.25}, {1, 1.6370666666666667, 3.1048}),
                  Kind::kPhaseCrossing,
                  {{0.9995, std::sqrt(1.001)}, {std::sqrt(1.001), 1.0015}}});
  rows.push_back({"DipBelowMinus180By1e6thDegree",
                  PitchLoop({0.5, 0.5, 1, 0.5, 0.25}, {1, 1.6342666666666665, 3.1012}),
                  Kind::kPhaseCrossing,
                  {{0.9995, std::sqrt(1.00025)}, {std::sqrt(1.00025), 1.0015}}});
  // A pitch loop whose H(u) = −u·(u − 1)² exactly (every number below is a short binary
  // fraction) and Re(N·conj D) < 0 at u = 1: the phase touches −180° at ω = 1 and turns back.
  rows.push_back({"PhaseTouchingMinus180",
                  PitchLoop({0.25, 1.125, 1, 0.25, 0.5}, {1, 0.00390625, 1.0654296875}),
                  Kind::kPhaseCrossing,
                  {{1.0, 1.0}}});
  // k·(s² + 4)/(s·(s + 1)²): zeros at ±2j; −180° at ω = 1 only (at ω = 2, L = 0).
  rows.push_back({"ZerosOnTheAxis",
                  MakeLoop(0.5, {Poly({4, 0, 1})}, {Poly({0, 1}), Poly({1, 1}), Poly({1, 1})}),
                  Kind::kPhaseCrossing,
                  {{0.9, 1.1}}});
  // k/(s + 1) with k one unit above and below 1: a crossover at ω = √(k² − 1) ≈ 2.1e-8, and
  // none (the root of |N|² − |D|² just below u = 0).
  rows.push_back({"CrossoverFromAGainOneUnitAboveOne",
                  MakeLoop(1 + 0x1p-52, {}, {Poly({1, 1})}),
                  Kind::kGainCrossover,
                  {{1e-8, 1e-7}}});
  rows.push_back({"NoCrossoverWithAGainOneUnitBelowOne",
                  MakeLoop(1 - 0x1p-53, {}, {Poly({1, 1})}),
                  Kind::kGainCrossover,
                  {}});
  // Crossovers at 1e-4 and 1e4 rad/s.
  rows.push_back({"SlowCrossover",
                  MakeLoop(1e-8, {}, {Poly({0, 1}), Poly({1e-5, 1})}),
                  Kind::kGainCrossover,
                  {{5e-5, 2e-4}}});
  rows.push_back({"FastCrossover",
                  MakeLoop(1e9, {Poly({1, 1})}, {Poly({0, 1}), Poly({0, 1}), Poly({1e5, 1})}),
                  Kind::kGainCrossover,
                  {{5e3, 2e4}}});
  return rows;
}

class Crossings : public ::testing::TestWithParam<CrossingRow> {};

TEST_P(Crossings, EveryCrossingToTheLastBitOfADouble) {
  const CrossingRow& row = GetParam();
  const LoopMargins m = Margins(row.loop.factored, row.loop.rational, true);
  std::vector<double> found;
  if (row.kind == Kind::kGainCrossover) {
    for (const PhaseMargin& p : m.phase) {
      found.push_back(p.frequency);
    }
  } else {
    for (const GainMargin& g : m.gain) {
      found.push_back(g.frequency);
    }
  }
  std::sort(found.begin(), found.end());
  ASSERT_EQ(found.size(), row.crossings.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    const auto [lo, hi] = row.crossings[i];
    const double expected = lo == hi ? lo : ReferenceRoot(row.loop.rational, row.kind, lo, hi);
    // The double nearest the root.
    EXPECT_TRUE(SameDouble(found[i], expected)) << "crossing " << i;
  }
  EXPECT_FALSE(m.not_computable);
}

INSTANTIATE_TEST_SUITE_P(Loops, Crossings, ::testing::ValuesIn(CrossingRows()),
                         [](const auto& row) { return row.param.name; });

TEST(Crossings, NoneWhenTheLoopVanishes) {
  const Loop l = MakeLoop(0, {Poly({1, 1})}, {Poly({0, 1}), Poly({1, 1, 1})});
  const LoopMargins m = Margins(l.factored, l.rational, true);
  EXPECT_TRUE(m.gain.empty());
  EXPECT_TRUE(m.phase.empty());
  EXPECT_FALSE(m.delay);
  EXPECT_EQ(m.stability.value, 1);
}

// ---------------------------------------------------------------------------------------------
// Rounding to the nearest double where only the last of 128 bits tells the side.

// √b for b one extended unit above or below the square of the midpoint between a double and the
// next: the root lies about 2⁻⁶⁵ of itself beside the midpoint, on the side b is on. Newton's
// extended estimate cannot tell which; the sign of u − b at the midpoint's square can, exactly,
// whether the root's place is narrowed (tight) or only its rounding is needed.
TEST(PositiveRoots, NextToAMidpointRoundToTheSideTheRootIsOn) {
  for (const double low : {1.0, 1.2345, 3.0e-4, 7.5e3, 0x1.fffffffffffffp-1}) {
    const double high = std::nextafter(low, 2 * low);
    const Extended mid = (static_cast<Extended>(low) + high) / 2;
    for (const bool above : {false, true}) {
      const Extended b = std::nextafter(mid * mid, above ? 4 * mid * mid : 0.0L);
      Refinements finer(
          [b] {
            return analysis::Poly<FineBall>{FineBall(-b), FineBall(1)};
          },
          [b] {
            return analysis::Poly<Exact>{ToExact(-b), Exact(1)};
          });
      const double expected = above ? high : low;
      for (const bool tight : {true, false}) {
        const PositiveRoots fast = FindPositiveRoots({Ball(-b), Ball(1)}, finer, tight);
        ASSERT_EQ(fast.omega.size(), 1u);
        EXPECT_FALSE(fast.exact_path);
        EXPECT_TRUE(SameDouble(fast.omega[0], expected))
            << low << (above ? " above" : " below") << (tight ? " tight" : "");
      }
      const PositiveRoots exact = FindPositiveRootsExactly({ToExact(-b), Exact(1)});
      ASSERT_EQ(exact.omega.size(), 1u);
      EXPECT_TRUE(SameDouble(exact.omega[0], expected)) << low << (above ? " above" : " below");
    }
  }
}

// The exact path, whose bisection stops at 120 bits: roots 2⁻¹⁵⁰ of themselves beside the
// midpoint, and on it (a tie, to the double with an even last bit).
TEST(PositiveRoots, ExactlyNextToAndOnAMidpoint) {
  for (const double low : {1.0, 1.2345, 0x1.0000000000001p0}) {
    const double high = std::nextafter(low, 2 * low);
    const Exact mid = (Exact(low) + Exact(high)) / 2;
    const Exact square = mid * mid;
    const double even = (std::bit_cast<std::uint64_t>(low) & 1) == 0 ? low : high;
    for (const auto& [offset, expected] :
         std::vector<std::pair<int, double>>{{-1, low}, {0, even}, {1, high}}) {
      Exact shift(offset);
      mpq_div_2exp(shift.get_mpq_t(), shift.get_mpq_t(), 150);
      const PositiveRoots r =
          FindPositiveRootsExactly({Exact(-(square + square * shift)), Exact(1)});
      ASSERT_EQ(r.omega.size(), 1u);
      EXPECT_TRUE(SameDouble(r.omega[0], expected)) << low << " offset " << offset;
    }
  }
}

// Polynomials in u whose positive roots the fast path settles by the signs of its coefficients
// (none, or one), or leaves to the approximation of every root or to the exact path, each against
// the exact path (Sturm isolation in rationals, ω rounded by MPFR): the same ω bit for bit, and
// each root's place holding it, on the fast path inside an interval of u that holds no other root.
struct RootsRow {
  std::string name;
  std::vector<Ball> fast;  // the exact coefficient is each ball's centre
  std::optional<bool> exact_path;
};

void PrintTo(const RootsRow& row, std::ostream* os) { *os << row.name; }

constexpr Extended kLargest = std::numeric_limits<double>::max();
constexpr Extended kThreshold = 0x1p1024L - 0x1p970L;

std::vector<RootsRow> RootsRows() {
  return {
      // V = 0: roots at −3 and about −2⁻⁶⁰/3, none positive.
      {"NoSignChangeWithARootJustBelowZero", {Ball(0x1p-60L), Ball(3), Ball(1)}, false},
      {"OneSignChangeLinear", {Ball(-3), Ball(2)}, false},
      {"OneSignChangeFromATinyConstant", {Ball(-0x1p-100L), Ball(1), Ball(1)}, false},
      {"OneSignChangeAfterZeroEndsStripped",
       {Ball(0), Ball(0), Ball(-2), Ball(0), Ball(1), Ball(0)},
       false},
      // Roots far apart (u = 2⁻⁴⁰ and 2⁸⁰): the bracket starts wide and is halved on the
      // logarithmic scale.
      {"OneSignChangeAcrossManyOrders", {Ball(-0x1p40L), Ball(0x1p80L - 0x1p-40L), Ball(1)}, false},
      // Degree 12 with terms of many sizes on both sides of the sign change: the logarithmic
      // steps bend, and Newton's steps take over from about 2⁻⁸.
      {"OneSignChangeOfHighDegree",
       {Ball(-5), Ball(-3), Ball(-0x1p-20L), Ball(2), Ball(0), Ball(0x1p30L), Ball(0), Ball(0),
        Ball(7), Ball(1), Ball(0x1p-9L), Ball(0.5L), Ball(1)},
       false},
      // ω near the top of the double range (u near 2²⁰⁴⁶, the terms beyond the double range):
      // approximated in extended precision.
      {"OneSignChangeNearTheTopOfTheDoubleRange",
       {Ball(-0x1.8p6138L), Ball(0), Ball(1), Ball(1)},
       false},
      {"OneSignChangeBeyondTheDoubleRange", {Ball(-0x1p4200L), Ball(1), Ball(1)}, false},
      // ω = √3·2⁻¹⁰⁷¹, a subnormal double.
      {"OneSignChangeWithASubnormalOmega", {Ball(-0x1.8p-2141L), Ball(1), Ball(1)}, false},
      {"TwoSignChanges", {Ball(2), Ball(-3), Ball(1)}, false},
      // A middle coefficient whose ball holds 0: no count of variations, the approximation of
      // every root decides.
      {"MiddleSignUncertain", {Ball(-1), Ball(0x1p-70L, 0x1p-60L), Ball(1)}, false},
      // Signs certain, but balls too wide to decide the sign next to the root: one root still,
      // rounded by the signs of the finer forms.
      {"BallsTooWideNextToTheRoot", {Ball(-1, 0.5L), Ball(1, 0.999L), Ball(1)}, false},
      {"ConstantSignUncertain", {Ball(0x1p-70L, 0x1p-60L), Ball(-1), Ball(1)}, true},
      // Roots at the ends of the double range: ω the largest double (u its square rounded to
      // extended precision), just below the overflow threshold T = 2¹⁰²⁴ − 2⁹⁷⁰ and the least
      // subnormal have nearest doubles; just above T and 2⁻¹⁰⁷⁵ (a tie that goes to the even 0)
      // have none.
      {"RootAtTheLargestDouble", {Ball(-kLargest * kLargest), Ball(1)}, std::nullopt},
      {"RootJustBelowTheOverflowThreshold",
       {Ball(-kThreshold * kThreshold * (1 - 0x1p-60L)), Ball(1)},
       std::nullopt},
      {"RootJustAboveTheOverflowThreshold",
       {Ball(-kThreshold * kThreshold * (1 + 0x1p-60L)), Ball(1)},
       std::nullopt},
      {"RootAtTheLeastSubnormal", {Ball(-0x1p-2148L), Ball(1)}, std::nullopt},
      {"RootAtHalfTheLeastSubnormal", {Ball(-0x1p-2150L), Ball(1)}, std::nullopt},
  };
}

int ExactSignAt(const analysis::Poly<Exact>& p, const Exact& u) {
  Exact value(0);
  for (std::size_t k = p.size(); k-- > 0;) {
    value = value * u + p[k];
  }
  return sgn(value);
}

class PositiveRootsOf : public ::testing::TestWithParam<RootsRow> {};

TEST_P(PositiveRootsOf, AsTheExactPathFindsThem) {
  const RootsRow& row = GetParam();
  analysis::Poly<Exact> exact;
  analysis::Poly<FineBall> fine;
  analysis::Poly<Ball> balls;
  for (const Ball& b : row.fast) {
    balls.push_back(b);
    exact.push_back(ToExact(b.mid));
    fine.push_back(FineBall(b.mid));
  }
  Refinements finer([&fine] { return fine; }, [&exact] { return exact; });
  const PositiveRoots fast = FindPositiveRoots(balls, finer);
  const PositiveRoots reference = FindPositiveRootsExactly(exact);
  if (row.exact_path) {
    EXPECT_EQ(fast.exact_path, *row.exact_path);
  }
  EXPECT_EQ(fast.beyond_double_range, reference.beyond_double_range);
  ASSERT_EQ(fast.omega.size(), reference.omega.size());
  ASSERT_EQ(fast.places.size(), fast.omega.size());
  for (std::size_t i = 0; i < fast.omega.size(); ++i) {
    EXPECT_TRUE(SameDouble(fast.omega[i], reference.omega[i])) << "root " << i;
    const RootPlace& place = fast.places[i];
    const Exact lo = ToExact(place.lo) * ToExact(place.lo);
    const Exact hi = ToExact(place.hi) * ToExact(place.hi);
    EXPECT_LE(ExactSignAt(exact, lo) * ExactSignAt(exact, hi), 0) << "root " << i;
    if (fast.exact_path) {
      continue;
    }
    // u* alone within [centre − radius, centre + radius].
    const Exact below = ToExact(place.centre) - ToExact(place.radius);
    const Exact above = ToExact(place.centre) + ToExact(place.radius);
    EXPECT_GT(below, 0) << "root " << i;
    EXPECT_LT(ExactSignAt(exact, below) * ExactSignAt(exact, above), 0) << "root " << i;
    for (std::size_t j = 0; j < reference.isolation.size(); ++j) {
      if (j != i) {
        const auto& [other_lo, other_hi] = reference.isolation[j];
        EXPECT_TRUE(other_hi < below || other_lo > above) << "root " << j << " in " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Polynomials, PositiveRootsOf, ::testing::ValuesIn(RootsRows()),
                         [](const auto& row) { return row.param.name; });

// The finer balls hold the exact value of every polynomial they evaluate, within about 2⁻¹⁰⁰
// of its terms' size: coefficients of every sign over 40 binary orders, some terms cancelling.
TEST(FineBalls, HoldTheExactValueToAbout100Bits) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(-1, 1);
  std::uniform_int_distribution<int> order(-20, 20);
  for (int trial = 0; trial < 300; ++trial) {
    analysis::Poly<FineBall> fine;
    analysis::Poly<Exact> exact;
    Extended size = 0;
    const double omega = std::ldexp(std::fabs(unit(random)) + 0.5, order(random) / 4);
    const Extended u = static_cast<Extended>(omega) * omega;
    for (int k = 0; k <= 6; ++k) {
      const Extended a = std::ldexp(static_cast<Extended>(unit(random)), order(random));
      fine.push_back(a);
      exact.push_back(ToExact(a));
      size += std::fabs(a) * std::pow(u, k);
    }
    // A coefficient that nearly cancels the value at u makes the sign hard.
    if (trial % 3 == 0) {
      const Extended rest = Evaluate(fine, FineBall(u)).hi - fine[0].hi;
      fine[0] = FineBall(-rest * (1 + 0x1p-50L));
      exact[0] = ToExact(fine[0].hi);
    }
    const FineBall w(omega);
    const FineBall value = Evaluate(fine, w * w);
    const Exact w_exact(omega);
    const Exact truth = Evaluate(exact, Exact(w_exact * w_exact));
    const Exact midpoint = ToExact(value.hi) + ToExact(value.lo);
    const Exact error = abs(Exact(truth - midpoint));
    EXPECT_LE(error, ToExact(value.rad)) << "trial " << trial;
    EXPECT_LE(value.rad, size * 0x1p-100L) << "trial " << trial;
  }
}

TEST(FineBalls, ProductsNearTheUnderflowStayHeld) {
  const Extended tiny = std::numeric_limits<Extended>::min();
  for (const Extended x : {tiny * 3, tiny / 7, tiny * 0x1p40L}) {
    const FineBall p = FineBall(x) * FineBall(1.0L / 3);
    const Exact truth = ToExact(x) * ToExact(1.0L / 3);
    const Exact midpoint = ToExact(p.hi) + ToExact(p.lo);
    EXPECT_LE(abs(Exact(truth - midpoint)), ToExact(p.rad));
  }
}

// ---------------------------------------------------------------------------------------------
// The pitch loop: the issue's examples, to the digits of an exact computation.

// Roots far outside the double range: every margin a finite double, or none with the reason.
void ExpectFiniteOrNotComputable(const LoopMargins& m) {
  if (m.not_computable) {
    EXPECT_FALSE(m.not_computable->empty());
    return;
  }
  for (const GainMargin& g : m.gain) {
    EXPECT_TRUE(std::isfinite(g.factor) && std::isfinite(g.frequency)) << g.frequency;
  }
  for (const PhaseMargin& p : m.phase) {
    EXPECT_TRUE(std::isfinite(p.degrees) && std::isfinite(p.delay) && p.frequency > 0);
  }
  EXPECT_TRUE(std::isfinite(m.stability.value));
}

struct PitchRow {
  std::string name;
  std::array<Real, 5> c;
  std::optional<std::array<Real, 3>> autopilot;  // muv, iv, nuv; else synthesised
  std::function<void(const LoopMargins&)> check;
};

void PrintTo(const PitchRow& row, std::ostream* os) { *os << row.name; }

std::vector<PitchRow> PitchRows() {
  return {
      {"PhaseCrossingInANarrowResonance",
       {0.25, 1.3, -5.0, 0.5, -0.7499999},
       std::nullopt,
       [](const LoopMargins& m) {
         ASSERT_FALSE(m.gain.empty());
         EXPECT_NEAR(m.gain[0].factor, 5.4654e-8, 0.0001e-8);
         EXPECT_NEAR(m.gain[0].frequency, 1.1937336, 1e-7);
       }},
      {"TwoPhaseCrossingsCloseTogether",
       {0.5, 0.4, 7.0, 0.75, -1.249999},
       std::nullopt,
       [](const LoopMargins& m) {
         ASSERT_GE(m.gain.size(), 2u);  // the smallest |dB| first
         EXPECT_NEAR(m.gain[0].factor, 6.3284e-4, 0.0001e-4);
         EXPECT_NEAR(m.gain[0].frequency, 0.88259, 1e-5);
         EXPECT_NEAR(m.gain[1].factor, 5.13e-5, 0.01e-5);
         EXPECT_NEAR(m.gain[1].frequency, 0.88052, 1e-5);
       }},
      {"PhaseDipBelowMinus180",
       {0.25, 0.96875, 1.0, 0.125, -0.33499999999999996},
       std::array<Real, 3>{1.0, 0.041441050345137904, 1.073350408567659},
       [](const LoopMargins& m) {
         EXPECT_TRUE(m.closed_loop_stable);
         ASSERT_FALSE(m.gain.empty());
         EXPECT_NEAR(m.gain[0].factor, 0.9906, 0.00005);
       }},
      {"TwoCrossoversAtAPeak",
       {0.25, 0.96875, 0.591711420945914, 0.125, 0.22499999999999998},
       std::array<Real, 3>{1.0, 0.15, 0.005},
       [](const LoopMargins& m) {
         ASSERT_TRUE(m.delay);
         EXPECT_NEAR(*m.delay, 2.86, 0.005);
       }},
      {"TwoCrossoversAtANotch",
       {0.5, 0.6, 19.690592837644022, 0.4, 0.3},
       std::array<Real, 3>{1.0, 0.2, 4.0},
       [](const LoopMargins& m) {
         ASSERT_FALSE(m.phase.empty());
         // Two crossovers 0.5 % apart in a notch (40-digit check: 28.665996413464° at
         // 2.0055813496229 rad/s, 33.681975554128° at 2.0147180892843 rad/s).
         ASSERT_EQ(m.phase.size(), 3u);
         EXPECT_NEAR(m.phase[0].degrees, 28.665996413464, 1e-11);
         EXPECT_NEAR(m.phase[0].frequency, 2.0055813496229, 1e-12);
         EXPECT_NEAR(m.phase[1].degrees, 33.681975554128, 1e-11);
       }},
      {"VanishingLoop",
       {0.88, 0.404, 0, 0.987, 0.251},
       std::array<Real, 3>{1, 20, 100},
       [](const LoopMargins& m) {
         EXPECT_TRUE(m.gain.empty());
         EXPECT_TRUE(m.phase.empty());
       }},
      {"HugeRoots", {1e308, 1e308, 1e308, 1e108, 1e308}, std::nullopt, ExpectFiniteOrNotComputable},
      {"TinyRoots",
       {2.13383e-208, 0, 0.5, 5.97135e-133, 1},
       std::nullopt,
       ExpectFiniteOrNotComputable},
  };
}

class PitchMargins : public ::testing::TestWithParam<PitchRow> {};

TEST_P(PitchMargins, AsTheExactRootsSay) {
  const PitchRow& row = GetParam();
  TController c;
  testing::SetCoefficients(c, row.c);
  if (row.autopilot) {
    c.muv = (*row.autopilot)[0];
    c.iv = (*row.autopilot)[1];
    c.nuv = (*row.autopilot)[2];
  } else {
    try {
      c.ComputeGearRatios();
    } catch (const Exception&) {
      // the ratios stored before the failing step stand, as in the front ends
    }
  }
  row.check(Margins(c));
  // The Bode diagram of the same loop: the same margins, and a frequency grid within range.
  const BodeData d = Bode(c);
  EXPECT_FALSE(d.frequency.empty());
  EXPECT_TRUE(std::isfinite(d.range.low) && std::isfinite(d.range.high));
  EXPECT_EQ(d.margins.not_computable, Margins(c).not_computable);
}

INSTANTIATE_TEST_SUITE_P(Issue, PitchMargins, ::testing::ValuesIn(PitchRows()),
                         [](const auto& row) { return row.param.name; });

// ---------------------------------------------------------------------------------------------
// Stability decided where a sign decides it, and the poles of the same loop, against an
// independent reference: D + N multiplied out in rationals from the loop's factors (the loop the
// margins use), its zero roots split off exactly and the others found by the Durand–Kerner
// iteration at 2048 bits.

constexpr mpfr_prec_t kRootBits = 2048;

using Big = Mpfr<kRootBits>;
using BigComplex = MpfrComplex<kRootBits>;

Big Norm(const BigComplex& a) { return a.re * a.re + a.im * a.im; }
BigComplex operator/(const BigComplex& a, const BigComplex& b) {
  const Big n = Norm(b);
  BigComplex r = a * BigComplex{b.re, Big()};
  const BigComplex t = a * BigComplex{Big(), b.im};
  r = r - t;  // a·conj(b)
  mpfr_div(r.re.v, r.re.v, n.v, MPFR_RNDN);
  mpfr_div(r.im.v, r.im.v, n.v, MPFR_RNDN);
  return r;
}

// Π factors, lowest power first; at least degree 4 places.
std::vector<Exact> ExactProduct(const std::vector<Factor>& factors) {
  std::vector<Exact> p(5, Exact(0));
  p[0] = 1;
  for (const Factor& f : factors) {
    std::vector<Exact> product(p.size() + f.size() - 1, Exact(0));
    for (std::size_t j = 0; j < f.size(); ++j) {
      Exact coefficient = 0;
      for (const Product& x : f[j]) {
        coefficient += ToExact(x.x) * ToExact(x.y);
      }
      for (std::size_t i = 0; i < p.size(); ++i) {
        product[i + j] += p[i] * coefficient;
      }
    }
    p = std::move(product);
  }
  return p;
}

struct ReferenceLoop {
  int zero_roots = 0;
  std::vector<BigComplex> roots;  // the others
  Big size;                       // the largest |root|
};

ReferenceLoop ReferenceRoots(const TController& c) {
  const RationalLoop loop = PitchRationalLoop(c);
  const std::vector<Exact> den = ExactProduct(loop.denominator);
  const std::vector<Exact> num = ExactProduct(loop.numerator);
  std::vector<Exact> p(5);
  for (std::size_t k = 0; k < std::max(den.size(), num.size()); ++k) {
    const Exact sum = (k < den.size() ? den[k] : Exact(0)) + (k < num.size() ? num[k] : Exact(0));
    if (k < p.size()) {
      p[k] = sum;
    } else {
      EXPECT_EQ(sgn(sum), 0) << "D + N of degree above 4";
    }
  }
  EXPECT_EQ(p.back(), 1);
  ReferenceLoop r;
  while (sgn(p[static_cast<std::size_t>(r.zero_roots)]) == 0) {
    ++r.zero_roots;
  }
  const std::vector<Exact> q(p.begin() + r.zero_roots, p.end());
  const std::size_t n = q.size() - 1;
  // Start on a circle as large as the roots (the largest |q_k|^(1/(n − k))).
  Big radius;
  for (std::size_t k = 0; k < n; ++k) {
    Big a(abs(q[k]));
    mpfr_rootn_ui(a.v, a.v, static_cast<unsigned long>(n - k), MPFR_RNDN);
    mpfr_max(radius.v, radius.v, a.v, MPFR_RNDN);
  }
  BigComplex step{Big(Exact(2, 5)), Big(Exact(9, 10))};
  BigComplex z{radius, Big()};
  for (std::size_t i = 0; i < n; ++i) {
    r.roots.push_back(z);
    z = z * step;
  }
  const auto value = [&q](const BigComplex& x) {
    BigComplex sum{Big(q.back()), Big()};
    for (std::size_t k = q.size() - 1; k-- > 0;) {
      sum = sum * x + BigComplex{Big(q[k]), Big()};
    }
    return sum;
  };
  Big tolerance = radius;
  mpfr_mul_2si(tolerance.v, tolerance.v, -1900, MPFR_RNDN);
  // Simple roots converge in a few dozen steps; a double one by a bit a step, to half the bits.
  for (int iteration = 0; iteration < 1500; ++iteration) {
    Big largest;
    for (std::size_t i = 0; i < n; ++i) {
      BigComplex denominator{Big(Exact(1)), Big()};
      for (std::size_t j = 0; j < n; ++j) {
        if (j != i) {
          denominator = denominator * (r.roots[i] - r.roots[j]);
        }
      }
      const BigComplex delta = value(r.roots[i]) / denominator;
      r.roots[i] = r.roots[i] - delta;
      Big size = Norm(delta);
      mpfr_sqrt(size.v, size.v, MPFR_RNDN);
      mpfr_max(largest.v, largest.v, size.v, MPFR_RNDN);
    }
    if (mpfr_lessequal_p(largest.v, tolerance.v)) {
      break;
    }
  }
  for (const BigComplex& x : r.roots) {
    Big m = Norm(x);
    mpfr_sqrt(m.v, m.v, MPFR_RNDN);
    mpfr_max(r.size.v, r.size.v, m.v, MPFR_RNDN);
  }
  return r;
}

// −1, 0 or 1: x below, within or above ±2^−600·scale (the roots are known to 2^−1000 and more,
// a double root to half the bits).
int SideOf(const Big& x, const Big& scale) {
  Big bound = scale;
  mpfr_mul_2si(bound.v, bound.v, -600, MPFR_RNDN);
  if (mpfr_cmpabs(x.v, bound.v) <= 0) {
    return 0;
  }
  return mpfr_sgn(x.v);
}

struct ReferenceVerdict {
  Stability continuous = Stability::kStable;
  bool euler_stable = true;
};

ReferenceVerdict VerdictOf(const ReferenceLoop& r, double dt) {
  ReferenceVerdict v;
  if (r.zero_roots > 0) {
    v.continuous = Stability::kMarginal;
    v.euler_stable = false;  // the eigenvalue 1 of I + A·dt
  }
  const Big one(Exact(1));
  for (const BigComplex& x : r.roots) {
    const int side = SideOf(x.re, r.size);
    if (side > 0) {
      v.continuous = Stability::kUnstable;
    } else if (side == 0 && v.continuous == Stability::kStable) {
      v.continuous = Stability::kMarginal;
    }
    // |1 + λ·dt|² − 1
    const BigComplex mu = BigComplex{one, Big()} + x * BigComplex{Big(ToExact(dt)), Big()};
    if (SideOf(Norm(mu) - one, one) >= 0) {
      v.euler_stable = false;
    }
  }
  return v;
}

struct StabilityRow {
  std::string name;
  std::array<Real, 5> c;
  std::array<Real, 3> autopilot;
  Stability continuous;
  bool euler_stable;
  // The closed-loop matrix of doubles holds the loop exactly (no entry rounded), so its own
  // verdicts agree.
  bool matrix_exact = true;
};

void PrintTo(const StabilityRow& row, std::ostream* os) { *os << row.name; }

class ExactStability : public ::testing::TestWithParam<StabilityRow> {
 protected:
  void SetUp() override {
    const StabilityRow& row = GetParam();
    testing::SetCoefficients(c_, row.c);
    c_.muv = row.autopilot[0];
    c_.iv = row.autopilot[1];
    c_.nuv = row.autopilot[2];
  }
  TController c_;
};

TEST_P(ExactStability, FromSignsNotFromRoundedEigenvalues) {
  const StabilityRow& row = GetParam();
  const ReferenceVerdict reference = VerdictOf(ReferenceRoots(c_), kTimeStep);
  EXPECT_EQ(reference.continuous, row.continuous) << "the row itself";
  EXPECT_EQ(reference.euler_stable, row.euler_stable) << "the row itself";

  EXPECT_EQ(ClosedLoopStability(c_), row.continuous);
  EXPECT_EQ(IsStable(c_), row.continuous == Stability::kStable);
  const EulerStability e = EulerStabilityOf(c_, kTimeStep);
  EXPECT_EQ(e.stable, row.euler_stable);
  EXPECT_EQ(e.spectral_radius < 1, row.euler_stable);
  // The margins' verdict is the same loop's.
  EXPECT_EQ(Bode(c_).margins.closed_loop_stable, row.continuous == Stability::kStable);
  if (row.matrix_exact) {
    const Matrix4 a = ToEigen(ClosedLoopMatrix(c_));
    EXPECT_EQ(ClosedLoopStability(a), row.continuous);
    EXPECT_EQ(EulerStabilityOf(a, kTimeStep).stable, row.euler_stable);
  }
}

// Every pole near a root of the reference, on the same side of the axis, on it exactly where the
// root is, and zero exactly where the root is.
TEST_P(ExactStability, PolesOfTheSameLoop) {
  const ReferenceLoop reference = ReferenceRoots(c_);
  const Eigenvalues4 poles = ClosedLoop(c_).Eigenvalues();
  const double size = mpfr_get_d(reference.size.v, MPFR_RNDN);
  std::vector<bool> matched(reference.roots.size(), false);
  int zeros = 0;
  for (const std::complex<double>& p : poles) {
    ASSERT_TRUE(std::isfinite(p.real()) && std::isfinite(p.imag())) << p;
    if (p == 0.0) {
      ++zeros;
      continue;
    }
    std::size_t best = reference.roots.size();
    double distance = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < reference.roots.size(); ++i) {
      const std::complex<double> r(mpfr_get_d(reference.roots[i].re.v, MPFR_RNDN),
                                   mpfr_get_d(reference.roots[i].im.v, MPFR_RNDN));
      if (!matched[i] && std::abs(p - r) < distance) {
        distance = std::abs(p - r);
        best = i;
      }
    }
    ASSERT_LT(best, reference.roots.size()) << p;
    matched[best] = true;
    EXPECT_LE(distance, 1e-12 * size) << p;
    const int side = SideOf(reference.roots[best].re, reference.size);
    if (side == 0) {
      EXPECT_EQ(p.real(), 0) << p;
    } else {
      EXPECT_EQ(p.real() > 0 ? 1 : -1, side) << p;
    }
  }
  EXPECT_EQ(zeros, reference.zero_roots);
  for (const Pole& p : ClosedLoopPoles(c_)) {
    if (p.damping_ratio && p.value.real() == 0) {
      EXPECT_FALSE(std::signbit(*p.damping_ratio)) << "an undamped pair reads as -0";
    }
  }
}

constexpr double kTiny = 0x1p-40;

INSTANTIATE_TEST_SUITE_P(
    Poles, ExactStability,
    ::testing::Values(
        // nuv = 0: a pole at s = 0 exactly.
        StabilityRow{"IntegralGainZero",
                     {0.5681, 0.7382, 10.3849, 1.9076, 0.6437},
                     {0.3, 0.2, 0.0},
                     Stability::kMarginal,
                     false},
        // c4 = 0: a pole at s = 0, so I + A·dt has the eigenvalue 1 exactly.
        StabilityRow{"LagZero",
                     {0.8987, 2.596, 2.2345, 0.0, 0.7084},
                     {0.3, 0.2, 0.02},
                     Stability::kMarginal,
                     false},
        StabilityRow{"Stable",
                     {0.880, 0.404, 7.028, 0.987, 0.251},
                     {0.3, 0.2, 0.02},
                     Stability::kStable,
                     true},
        StabilityRow{"Unstable",
                     {0.880, 0.404, -7.028, 0.987, 0.251},
                     {0.3, 0.2, 0.02},
                     Stability::kUnstable,
                     false},
        // Poles near 1e-150: c3·nuv underflows to 0 in the matrix of doubles, which reads as a
        // double pole at 0 ("marginally stable").
        StabilityRow{"TinyCoefficients",
                     {1.2318778779988625e-150, 5.115111450396023e-300, -1.56806931182502e-151,
                      4.4431849333672393e-150, 8.198747762598484e-151},
                     {0.2251113383908577, -6.652596625293571e-149, -2.6602845383946726e-299},
                     Stability::kStable,
                     true,
                     false},
        // Poles near 1e150: c3·nuv overflows in the matrix of doubles (two poles at 0 and
        // "unstable" there).
        StabilityRow{"HugeCoefficients",
                     {4.630392010348025e+150, 4.59358353934957e+300, -1.321765078188936e+150,
                      2.5010212186045925e+150, 1.704149656775364e+150},
                     {3.7714625498099204, -2.8043808818925356e+150, -6.312434481596062e+299},
                     Stability::kStable,
                     false,
                     false},
        // (s² + 1/4 + …): a pair exactly on the axis, the rest strictly left of it.
        StabilityRow{"PairOnTheAxis",
                     {0.5, 0.6875, 1, 2, -0.75},
                     {0.25, 0.5625, 0.875},
                     Stability::kMarginal,
                     false},
        // (s² + 1)²: the rounded eigenvalues of the double pair lie ±1.9e-8 off the axis, which
        // a threshold of 1e-9 on them took for unstable.
        StabilityRow{"RepeatedPairOnTheAxis",
                     {0.5, 4.25, 1, 1, 0.25},
                     {-1.75, -1, 1},
                     Stability::kMarginal,
                     false},
        // s·(s + 1)·(s + 2)·(s ∓ 2^-40): a pole 1e-12 of the poles' size right or left of the
        // axis beside one on it. The rounded eigenvalues of the two split to ±5e-9 either way,
        // which the threshold took for unstable in both.
        StabilityRow{"PoleAtZeroAndATinyOneRight",
                     {2 - kTiny, 0, 1, 1, 0},
                     {0, -2 * kTiny, 0},
                     Stability::kUnstable,
                     false},
        StabilityRow{"PoleAtZeroAndATinyOneLeft",
                     {2 + kTiny, 0, 1, 1, 0},
                     {0, 2 * kTiny, 0},
                     Stability::kMarginal,
                     false},
        // (s² + 1)·(s − 1)·(s + 2): the factor on the axis split off, the rest unstable.
        StabilityRow{"PairOnTheAxisAndOneRight",
                     {0.5, -3.75, 1, 1, 0.25},
                     {-0.75, 3, -2},
                     Stability::kUnstable,
                     false},
        // s⁴ − 1: p(s) and p(−s) share the real pair ±1 too, which is not on the axis.
        StabilityRow{"MirroredRealPair",
                     {0.5, 0.25, 1, 1, 0.25},
                     {-1.75, 1, -1},
                     Stability::kUnstable,
                     false},
        // (s + 200)·(s + 1)·(s + 2)·(s + 3): 1 + (−200)·0.01 = −1, on the unit circle.
        StabilityRow{"EulerFactorOnTheUnitCircle",
                     {0, 0, 1, 1, 0},
                     {205, 1006, 1200},
                     Stability::kStable,
                     false},
        // The same with s + 199.5: 1 − 1.995, just inside.
        StabilityRow{"EulerFactorJustInside",
                     {0, 0, 1, 1, 0},
                     {204.5, 1003.5, 1197},
                     Stability::kStable,
                     true},
        // (s² ± 2⁻⁵²·s + 1)·(s + 1)·(s + 2): a pair 2⁻⁵³ of its size off the axis, which the
        // Hurwitz determinants show only beyond what the quick rounded test can vouch for; the
        // balls tell its side.
        StabilityRow{"PairAHairLeftOfTheAxis",
                     {2, 0, 1, 1, 0},
                     {0x1p-52, 1 + 0x1p-51, 2},
                     Stability::kStable,
                     false},
        StabilityRow{"PairAHairRightOfTheAxis",
                     {2, 0, 1, 1, 0},
                     {-0x1p-52, 1 - 0x1p-51, 2},
                     Stability::kUnstable,
                     false}),
    [](const auto& row) { return row.param.name; });

// ---------------------------------------------------------------------------------------------
// Every margin value against an MPFR reference at 1200 bits that shares nothing with the margin
// search but the loop's inputs: N(jω) and D(jω) from the factors' coefficients, each an exact
// rational; a crossing's root bisected within the half unit of a double either side of the
// reported frequency (which proves that frequency the nearest double), and the values evaluated
// there from N and D as complex numbers and rounded once.

constexpr mpfr_prec_t kValueBits = 1200;

using Ref = Mpfr<kValueBits>;
using RefComplex = MpfrComplex<kValueBits>;

// A loop as the products of its factors, each factor's coefficients lowest power first.
struct ReferenceFactors {
  std::vector<std::vector<Exact>> numerator;
  std::vector<std::vector<Exact>> denominator;
};

ReferenceFactors FactorsOf(const RationalLoop& loop) {
  const auto convert = [](const std::vector<Factor>& factors) {
    std::vector<std::vector<Exact>> out;
    for (const Factor& f : factors) {
      std::vector<Exact> coefficients;
      for (const Coefficient& c : f) {
        Exact sum = 0;
        for (const Product& p : c) {
          sum += ToExact(p.x) * ToExact(p.y);
        }
        coefficients.push_back(sum);
      }
      out.push_back(coefficients);
    }
    return out;
  };
  return {convert(loop.numerator), convert(loop.denominator)};
}

// c3·(s + c4)·(muv·s² + iv·s + nuv) / (s²·(s² + (c1 + c4 + c5)·s + c1·c4 + c2)), written out here
// from the model's equations.
ReferenceFactors PitchFactors(const TController& c) {
  const auto q = [](double x) { return Exact(x); };
  return {{{q(c.c3)}, {q(c.c4), Exact(1)}, {q(c.nuv), q(c.iv), q(c.muv)}},
          {{Exact(0), Exact(0), Exact(1)},
           {q(c.c1) * q(c.c4) + q(c.c2), q(c.c1) + q(c.c4) + q(c.c5), Exact(1)}}};
}

RefComplex ValueAt(const std::vector<std::vector<Exact>>& factors, const Ref& omega) {
  RefComplex product{Ref(1.0), Ref(0.0)};
  for (const std::vector<Exact>& f : factors) {
    RefComplex sum{Ref(0.0), Ref(0.0)};
    for (std::size_t k = f.size(); k-- > 0;) {  // Horner in s = jω
      sum = sum * RefComplex{Ref(0.0), omega};
      sum.re = sum.re + Ref(f[k]);
    }
    product = product * sum;
  }
  return product;
}

struct NAndD {
  RefComplex n;
  RefComplex d;
};
NAndD At(const ReferenceFactors& loop, const Ref& omega) {
  return {ValueAt(loop.numerator, omega), ValueAt(loop.denominator, omega)};
}

// |N|² − |D|² for a crossover, Im(N·conj D) for a phase crossing.
Ref CrossingValue(const ReferenceFactors& loop, Kind kind, const Ref& omega) {
  const NAndD v = At(loop, omega);
  return kind == Kind::kGainCrossover
             ? v.n.re * v.n.re + v.n.im * v.n.im - v.d.re * v.d.re - v.d.im * v.d.im
             : v.n.im * v.d.re - v.n.re * v.d.im;
}
int CrossingSign(const ReferenceFactors& loop, Kind kind, const Ref& omega) {
  return mpfr_sgn(CrossingValue(loop, kind, omega).v);
}

// The midpoints between omega and its neighbouring doubles: a root between them rounds to omega.
std::pair<Ref, Ref> HalfUnitsAround(double omega) {
  const Ref o(omega);
  const Ref below(std::nextafter(omega, 0.0));
  const Ref above(std::nextafter(omega, std::numeric_limits<double>::infinity()));
  Ref lo = o + below;
  Ref hi = o + above;
  mpfr_div_2ui(lo.v, lo.v, 1, MPFR_RNDN);
  mpfr_div_2ui(hi.v, hi.v, 1, MPFR_RNDN);
  return {lo, hi};
}

// The roots of kind's function within half a unit of omega, bisected to the working precision:
// one where the function changes sign there; two where it keeps its sign at both ends and takes
// the other at its extreme between them (a resonance narrower than a unit); a tangency given by
// tangent_u, ω² exactly, as it is (where rounding noise would show two); none otherwise.
std::vector<Ref> RootsAround(const ReferenceFactors& loop, Kind kind, double omega,
                             const std::optional<Exact>& tangent_u) {
  const auto [a, b] = HalfUnitsAround(omega);
  const int sign_a = CrossingSign(loop, kind, a);
  const auto bisect = [&](Ref lo, Ref hi) {
    const int sign_lo = CrossingSign(loop, kind, lo);
    for (int i = 0; i < static_cast<int>(kValueBits) - 40; ++i) {
      Ref mid = lo + hi;
      mpfr_div_2ui(mid.v, mid.v, 1, MPFR_RNDN);
      (CrossingSign(loop, kind, mid) == sign_lo ? lo : hi) = mid;
    }
    return lo;
  };
  if (sign_a != 0 && CrossingSign(loop, kind, b) != sign_a) {
    return {bisect(a, b)};
  }
  if (tangent_u) {
    Ref root(*tangent_u);
    mpfr_sqrt(root.v, root.v, MPFR_RNDN);
    if (!mpfr_less_p(root.v, a.v) && !mpfr_greater_p(root.v, b.v)) {
      return {root};
    }
  }
  if (sign_a != 0) {
    // The least of sign_a·f by golden sections.
    const auto g = [&](const Ref& x) {
      Ref f = CrossingValue(loop, kind, x);
      mpfr_mul_si(f.v, f.v, sign_a, MPFR_RNDN);
      return f;
    };
    Ref ratio(5.0);
    mpfr_sqrt(ratio.v, ratio.v, MPFR_RNDN);
    ratio = (ratio - Ref(1.0)) / Ref(2.0);
    Ref lo = a;
    Ref hi = b;
    for (int i = 0; i < static_cast<int>(kValueBits); ++i) {
      const Ref step = (hi - lo) * ratio;
      const Ref x1 = hi - step;
      const Ref x2 = lo + step;
      if (mpfr_less_p(g(x1).v, g(x2).v)) {
        hi = x2;
      } else {
        lo = x1;
      }
    }
    if (CrossingSign(loop, kind, lo) == -sign_a) {
      return {bisect(a, lo), bisect(lo, b)};
    }
  }
  return {};
}

// A value below 2^-1000 where the reference's own error is near 2^-1100: exactly zero.
bool ReferenceZero(const Ref& x) { return mpfr_zero_p(x.v) || mpfr_get_exp(x.v) < -1000; }

struct ReferenceValues {
  Ref radians;  // the phase margin within (−π, π], or the gain margin's |dB|… as fits
  double degrees = 0;
  double delay = 0;
  double factor = 0;
  double decibels = 0;
  Ref key;  // |PM| or |dB|, for the order
};

Ref Pi() {
  Ref pi;
  mpfr_const_pi(pi.v, MPFR_RNDN);
  return pi;
}

ReferenceValues CrossoverValues(const ReferenceFactors& loop, const Ref& omega) {
  const NAndD v = At(loop, omega);
  // −L = −N·conj D/|D|²: its angle is the phase margin.
  const Ref x = Ref(0.0) - (v.n.re * v.d.re + v.n.im * v.d.im);
  const Ref y = Ref(0.0) - (v.n.im * v.d.re - v.n.re * v.d.im);
  ReferenceValues r;
  mpfr_atan2(r.radians.v, y.v, x.v, MPFR_RNDN);
  if (ReferenceZero(r.radians)) {
    r.radians = Ref(0.0);
  }
  Ref degrees = r.radians * Ref(180.0) / Pi();
  r.degrees = degrees.Nearest();
  Ref lag = r.radians;
  if (mpfr_sgn(lag.v) < 0) {
    lag = lag + Pi() * Ref(2.0);
  }
  r.delay = (lag / omega).Nearest();
  r.key = degrees;
  mpfr_abs(r.key.v, r.key.v, MPFR_RNDN);
  return r;
}

// The gain margin |D|/|N| where L is real and negative; none where it is not (L ≥ 0, 0 or a
// pole there: no crossing of −180°).
std::optional<ReferenceValues> PhaseCrossingValues(const ReferenceFactors& loop, const Ref& omega) {
  const NAndD v = At(loop, omega);
  const Ref re = v.n.re * v.d.re + v.n.im * v.d.im;
  const Ref n2 = v.n.re * v.n.re + v.n.im * v.n.im;
  const Ref d2 = v.d.re * v.d.re + v.d.im * v.d.im;
  // Relative to |N|·|D|, Re(N·conj D) is 0 or far from it; N or D vanishing is a pole or zero.
  Ref size = n2 * d2;
  mpfr_sqrt(size.v, size.v, MPFR_RNDN);
  if (ReferenceZero(n2 / d2) || ReferenceZero(d2 / n2) || mpfr_sgn(re.v) >= 0 ||
      ReferenceZero(re / size)) {
    return std::nullopt;
  }
  ReferenceValues r;
  Ref factor = d2 / n2;
  mpfr_sqrt(factor.v, factor.v, MPFR_RNDN);
  r.factor = factor.Nearest();
  Ref db;
  mpfr_log10(db.v, factor.v, MPFR_RNDN);
  db = db * Ref(20.0);
  if (ReferenceZero(db)) {
    db = Ref(0.0);
  }
  r.decibels = db.Nearest();
  r.key = db;
  mpfr_abs(r.key.v, r.key.v, MPFR_RNDN);
  return r;
}

// |1 + L|² = |D + N|²/|D|²
Ref SquaredDistance(const ReferenceFactors& loop, const Ref& omega) {
  const NAndD v = At(loop, omega);
  const Ref re = v.n.re + v.d.re;
  const Ref im = v.n.im + v.d.im;
  return (re * re + im * im) / (v.d.re * v.d.re + v.d.im * v.d.im);
}

// The sign of d|1 + L|²/dω at omega, by a central difference 2^-400 of omega wide.
int DistanceSlope(const ReferenceFactors& loop, const Ref& omega) {
  Ref h = omega;
  mpfr_mul_2si(h.v, h.v, -400, MPFR_RNDN);
  const Ref d = SquaredDistance(loop, omega + h) - SquaredDistance(loop, omega - h);
  return mpfr_sgn(d.v);
}

// The least |1 + L|² in one valley between lo and hi, by golden sections to 2^-1200 of omega
// (a zero distance falls below the reference's zero).
Ref LeastSquaredDistance(const ReferenceFactors& loop, Ref lo, Ref hi) {
  Ref ratio(5.0);
  mpfr_sqrt(ratio.v, ratio.v, MPFR_RNDN);
  ratio = (ratio - Ref(1.0)) / Ref(2.0);
  for (int i = 0; i < 1700; ++i) {
    const Ref step = (hi - lo) * ratio;
    const Ref x1 = hi - step;
    const Ref x2 = lo + step;
    if (mpfr_less_p(SquaredDistance(loop, x1).v, SquaredDistance(loop, x2).v)) {
      hi = x2;
    } else {
      lo = x1;
    }
  }
  return SquaredDistance(loop, lo);
}

// The least |1 + L| within half a unit of omega, found by golden sections between the points
// given (the crossings there: a resonance narrower than the unit is no single valley); none when
// the slope's signs at the ends show the least outside.
std::optional<Ref> DistanceMinimumAround(const ReferenceFactors& loop, double omega,
                                         std::vector<Ref> splits) {
  const auto [a, b] = HalfUnitsAround(omega);
  splits.insert(splits.begin(), a);
  splits.push_back(b);
  std::optional<Ref> least;
  std::size_t least_piece = 0;
  for (std::size_t piece = 0; piece + 1 < splits.size(); ++piece) {
    const Ref value = LeastSquaredDistance(loop, splits[piece], splits[piece + 1]);
    if (!least || mpfr_less_p(value.v, least->v)) {
      least = value;
      least_piece = piece;
    }
  }
  if ((least_piece == 0 && DistanceSlope(loop, a) > 0) ||
      (least_piece + 2 == splits.size() && DistanceSlope(loop, b) < 0)) {
    return std::nullopt;
  }
  if (ReferenceZero(*least)) {
    return Ref(0.0);
  }
  mpfr_sqrt(least->v, least->v, MPFR_RNDN);
  return least;
}

struct MarginRow {
  std::string name;
  ReferenceFactors reference;
  std::function<LoopMargins()> margins;
  std::size_t crossovers = 0;
  std::size_t phase_crossings = 0;  // the true crossings of −180°, ω = 0 included
  // A crossover that is a tangency: its ω² exactly.
  std::optional<Exact> tangent_u;
  // The valleys of |1 + L| whose least values round alike (lowest and highest ω of each): the
  // stability margin is at the exactly lower one.
  std::vector<std::pair<double, double>> rival_valleys;
  // The headline values a published table gives (gain margin and its frequency, phase margin
  // and its crossover; infinity for none), to its tolerance.
  struct Published {
    double gain = 0;
    double phase = 0;
    double gain_frequency = 0;
    double crossover = 0;
    double tolerance = 0;
  };
  std::optional<Published> published;
};

void PrintTo(const MarginRow& row, std::ostream* os) { *os << row.name; }

MarginRow GeneralRow(std::string name, const Loop& loop, std::size_t crossovers,
                     std::size_t phase_crossings, std::optional<Exact> tangent_u = std::nullopt) {
  return {std::move(name),
          FactorsOf(loop.rational),
          [loop] { return Margins(loop.factored, loop.rational, ClosedLoopStable(loop.factored)); },
          crossovers,
          phase_crossings,
          std::move(tangent_u),
          {},
          std::nullopt};
}

MarginRow PitchMarginRow(std::string name, const std::array<Real, 5>& c,
                         std::optional<std::array<Real, 3>> autopilot, std::size_t crossovers,
                         std::size_t phase_crossings) {
  TController controller;
  testing::SetCoefficients(controller, c);
  if (autopilot) {
    controller.muv = (*autopilot)[0];
    controller.iv = (*autopilot)[1];
    controller.nuv = (*autopilot)[2];
  } else {
    try {
      controller.ComputeGearRatios();
    } catch (const Exception&) {
      // the ratios stored before the failing step stand, as in the front ends
    }
  }
  return {std::move(name),
          PitchFactors(controller),
          [controller] { return Margins(controller); },
          crossovers,
          phase_crossings,
          std::nullopt,
          {},
          std::nullopt};
}

std::vector<MarginRow> MarginRows() {
  std::vector<MarginRow> rows;
  // The issue's examples. A resonance so light that the gain margin's relative error grew as 1/ζ.
  rows.push_back(PitchMarginRow("LightlyDamped",
                                {-3.9445840745745637, 17.622344626098055, -96.84800218534504,
                                 2.4009044138406184, 1.543679660734072},
                                std::nullopt, 1, 1));
  // A set near the defaults whose phase margin the x87 unit's arctangent leaves between two
  // doubles: the balls over the narrowed root decide it.
  rows.push_back(PitchMarginRow("NearDefaultsArcTangentBetweenDoubles",
                                {0.85727428169321962, 0.41710276757998882, 6.9562721859747034,
                                 1.0199474386413983, 0.31245037005712262},
                                std::nullopt, 1, 0));
  // One whose least |1 + L| the extended square root leaves between two doubles.
  rows.push_back(PitchMarginRow("NearDefaultsDistanceBetweenDoubles",
                                {1.0162652623208546, 0.40206206226844732, 6.3708671553370646,
                                 0.97788102568968316, 0.29421024892036585},
                                std::nullopt, 1, 0));
  // And one whose gain margin or its decibels the extended quotient and logarithm leave there.
  rows.push_back(PitchMarginRow("GainMarginBetweenDoubles",
                                {2.5677933697172848, 2.2387353725223944, -17.306416253380803,
                                 1.0727241130565059, 0.35361734498606384},
                                std::nullopt, 1, 1));
  // A zero of L at ±j·2.38…: Im(N·conj D) changes sign there with L = 0, which is no crossing.
  rows.push_back(PitchMarginRow("ZeroOfTheLoopOnTheAxis",
                                {3.9779702558306793, 1.497503993677293, 49.83300422862678,
                                 0.4944741993663485, 2.9983163834986444},
                                std::array<Real, 3>{0.2570129582817999, 0, 5.839800479909174}, 1,
                                0));
  // c1 + c4 + c5 = 0: a pole pair of L on the axis.
  rows.push_back(
      PitchMarginRow("PoleOfTheLoopOnTheAxis", {0.25, 1.3, -5.0, 0.5, -0.75}, std::nullopt, 1, 0));
  // Roots near 1e154, where L crosses 0° as well as −180°.
  rows.push_back(PitchMarginRow("ZeroDegreesAtAHugeScale", {0.88, 1e308, 7.028, 0.987, 0.251},
                                std::nullopt, 3, 0));
  // N and D share s + 1/2... the exact loop 0.25·(s + 0.5)/s² has one crossover and no phase
  // crossing.
  rows.push_back(PitchMarginRow("CancellingPoleAndZero", {-1.25, 2.625, 1, 0.5, 0.75},
                                std::array<Real, 3>{0.25, 0, 0.5}, 1, 0));
  rows.push_back(
      PitchMarginRow("TinyCoefficients",
                     {1.2318778779988625e-150, 5.115111450396023e-300, -1.56806931182502e-151,
                      4.4431849333672393e-150, 8.198747762598484e-151},
                     std::nullopt, 1, 1));
  rows.push_back(
      PitchMarginRow("HugeCoefficients",
                     {4.630392010348025e+150, 4.59358353934957e+300, -1.321765078188936e+150,
                      2.5010212186045925e+150, 1.704149656775364e+150},
                     std::nullopt, 1, 1));
  // c4, c5 near 2e-72 against c2 near 9e135: a pole pair of L damped by ζ near 1e-140 with the
  // phase crossing beside it (gain margin 2.2e-140), where the loop's polynomials cancel to a
  // 1e-140th of their terms; crossings near 1e68 and a distance extreme near 1e-2.
  rows.push_back(PitchMarginRow("ResonanceDampedNear1e140",
                                {1.397e-263, 9.144e135, -7.203e124, 2.146e-72, 2.146e-72},
                                std::nullopt, 1, 1));
  // A pair of closed-loop poles exactly on the axis: L = −1 there, every margin exactly 0.
  rows.push_back(PitchMarginRow("MarginalClosedLoop", {0.5, 0.6875, 1, 2, -0.75},
                                std::array<Real, 3>{0.25, 0.5625, 0.875}, 1, 2));
  // (s² + 1)² and (s² + 1)·(s − 1)·(s + 2) as D + N: L = −1 at ω = 1 again.
  {
    // A double pair: |L| and the phase touch their levels at ω = 1 without crossing them.
    MarginRow row = PitchMarginRow("MarginalRepeatedPair", {0.5, 4.25, 1, 1, 0.25},
                                   std::array<Real, 3>{-1.75, -1, 1}, 2, 1);
    row.tangent_u = Exact(1);
    rows.push_back(std::move(row));
  }
  rows.push_back(PitchMarginRow("MarginalPairAndOneRight", {0.5, -3.75, 1, 1, 0.25},
                                std::array<Real, 3>{-0.75, 3, -2}, 1, 1));
  // The same a unit of nuv either side: the margins tiny, of either sign, the delay margin tiny
  // on the stable side and nearly a whole turn over ω on the other.
  rows.push_back(PitchMarginRow("NearlyMarginalBelow", {0.5, 0.6875, 1, 2, -0.75},
                                std::array<Real, 3>{0.25, 0.5625, std::nextafter(0.875, 0.0)}, 1,
                                2));
  rows.push_back(PitchMarginRow("NearlyMarginalAbove", {0.5, 0.6875, 1, 2, -0.75},
                                std::array<Real, 3>{0.25, 0.5625, std::nextafter(0.875, 1.0)}, 1,
                                2));
  // Two phase crossings 0.1 % and 0.025 % apart, the phase between them 1e-5° and 1e-6° below
  // −180°.
  rows.push_back(PitchMarginRow("PhaseDipBy1e5thDegree", {0.5, 0.5, 1, 0.5, 0.25},
                                std::array<Real, 3>{1, 1.6370666666666667, 3.1048}, 1, 2));
  rows.push_back(PitchMarginRow("PhaseDipBy1e6thDegree", {0.5, 0.5, 1, 0.5, 0.25},
                                std::array<Real, 3>{1, 1.6342666666666665, 3.1012}, 1, 2));
  // H(u) = −u·(u − 1)²: the phase touches −180° at ω = 1.
  {
    MarginRow row = PitchMarginRow("PhaseTouchingMinus180", {0.25, 1.125, 1, 0.25, 0.5},
                                   std::array<Real, 3>{1, 0.00390625, 1.0654296875}, 1, 1);
    row.tangent_u = Exact(1);
    rows.push_back(std::move(row));
  }
  // k/((s² + 2ζ·s + 1)·(s + 1)): the phase crosses −180° inside a resonance of width ζ.
  for (const int decades : {4, 8, 12, 14}) {
    const double zeta = std::pow(10.0, -decades);
    rows.push_back(GeneralRow("ResonanceZeta1e" + std::to_string(decades) + "th",
                              MakeLoop(1e-3, {}, {Poly({1, 2 * zeta, 1}), Poly({1, 1})}), 2, 1));
  }
  // The same resonance 1e-150 wide, k just above the peak's 2√2·ζ: both crossovers and the
  // phase crossing lie within one unit of a double of ω = 1.
  rows.push_back(GeneralRow("ResonanceNarrowerThanAUnit",
                            MakeLoop(2.83e-150, {}, {Poly({1, 2e-150, 1}), Poly({1, 1})}), 2, 1));
  // 4/(s² + 2s + 5) touches |L| = 1 at ω = √3; times 1 + 2^-104, 2^-106 and 2^-112 it crosses
  // twice, about two units, one unit and a quarter of a unit of a double apart. At 2^-112 both
  // phase margins round to 120° (120 ± 1.3e-15): the headline is the one exactly nearer 0.
  rows.push_back(
      GeneralRow("TangentMagnitude", MakeLoop(4, {}, {Poly({5, 2, 1})}), 1, 0, Exact(3)));
  for (const int bits : {104, 106, 112}) {
    Loop l = MakeLoop(4, {}, {Poly({5, 2, 1})});
    Factor gain;
    gain.push_back(Coefficient{{1, 1}, {std::ldexp(1.0, -bits), 1}});
    l.rational.numerator.push_back(gain);
    rows.push_back(GeneralRow("CrossoversApart2ToThe" + std::to_string(bits), l, 2, 0));
  }
  // 16·s³/((s² + s + 16)·(s² + s/16 + 1/16)·(s + 1)²) takes conjugate values at ω and 1/ω: two
  // valleys of |1 + L| and two phase crossings alike. Times 1 + 2^-110·s they differ by about
  // 2^-110 of themselves, so both round to one double: the headlines are the exactly lesser.
  {
    MarginRow row = GeneralRow(
        "MirroredValleysRoundAlike",
        MakeLoop(16, {Poly({0, 1}), Poly({0, 1}), Poly({0, 1}), Poly({1, std::ldexp(1.0, -110)})},
                 {Poly({16, 1, 1}), Poly({0.0625, 0.0625, 1}), Poly({1, 1}), Poly({1, 1})}),
        0, 2);
    row.rival_valleys = {{0.2, 0.3}, {3.5, 5}};
    rows.push_back(std::move(row));
  }
  // k/(s + 1)³ with k = 8 − 2⁻⁵⁰, nearly marginal: the gain margin 8/k = 1 + 2⁻⁵³ + 2⁻¹⁰⁶ + …
  // lies 2⁻¹⁰⁶ above the halfway point between two doubles, closer than the finer balls reach
  // (Arb decides it); its decibels near 1e-15 come from ln(1 + q).
  rows.push_back(GeneralRow(
      "GainMarginJustAboveHalfway",
      MakeLoop(8 - std::ldexp(1.0, -50), {}, {Poly({1, 1}), Poly({1, 1}), Poly({1, 1})}), 1, 1));
  // k = 8·(1 − 2⁻²⁰): a gain margin 2⁻²⁰ above 1, its decibels from ln(1 + q) in the first
  // balls' parts or the finer ones.
  rows.push_back(GeneralRow(
      "GainMarginNearOne",
      MakeLoop(8 - std::ldexp(1.0, -17), {}, {Poly({1, 1}), Poly({1, 1}), Poly({1, 1})}), 1, 1));
  // a³/(s + a)³: the margins of 1/(s + 1)³ at every scale, the phase crossing at √3·a.
  for (const double a : {1e-314, 1e-300, 1e300}) {
    rows.push_back(GeneralRow(
        std::string("ScaledLag") + (a < 1e-310 ? "Subnormal"
                                    : a < 1    ? "Tiny"
                                               : "Huge"),
        MakeLoop(1, {Poly({a}), Poly({a}), Poly({a})}, {Poly({a, 1}), Poly({a, 1}), Poly({a, 1})}),
        0, 1));
  }
  // The tricky loops of python-control's margin tests (types −1 to 3, and the examples of
  // Bavafi-Toosi, "A note on the gain and phase margin concepts", 2015), with the values that
  // table gives to its tolerance.
  const double inf = std::numeric_limits<double>::infinity();
  const auto published = [&rows](std::string name, const Loop& loop, std::size_t crossovers,
                                 std::size_t phase_crossings, MarginRow::Published values) {
    MarginRow row = GeneralRow(std::move(name), loop, crossovers, phase_crossings);
    row.published = values;
    rows.push_back(std::move(row));
  };
  published("TypeMinus1", MakeLoop(2, {Poly({0, 1})}, {Poly({1, 1})}), 1, 0,
            {inf, -120.0007, 0, 0.5774, 1.5e-3});
  const std::vector<Factor> lag3 = {Poly({1, 1}), Poly({1, 1}), Poly({1, 1})};
  published("Type0Low", MakeLoop(0.8, {}, lag3), 0, 1, {10.0014, inf, 1.7322, 0, 1.5e-3});
  published("Type0", MakeLoop(2, {}, lag3), 1, 1, {4.000, 67.6058, 1.7322, 0.7663, 1e-2});
  published("Type1", MakeLoop(1, {Poly({0.1, 1})}, {Poly({0, 1}), Poly({1, 1})}), 1, 0,
            {inf, 144.9032, 0, 0.3162, 1e-4});
  published("Type2", MakeLoop(1, {Poly({0.1, 1})}, {Poly({0, 0, 1}), Poly({1, 1})}), 1, 0,
            {inf, 44.4594, 0, 0.7907, 1e-4});
  published(
      "Type3",
      MakeLoop(1, {Poly({0.1, 1}), Poly({0.1, 1})}, {Poly({0, 0, 1}), Poly({0, 1}), Poly({1, 1})}),
      1, 1, {0.0626, 37.1748, 0.1119, 0.7951, 1.5e-3});
  const auto example21 = [](double k) {
    return MakeLoop(0.002 * k, {Poly({0.02, 1}), Poly({0.05, 1}), Poly({5, 1}), Poly({10, 1})},
                    {Poly({-0.0005, 1}), Poly({0.0001, 1}), Poly({0.01, 1}), Poly({0.2, 1}),
                     Poly({1, 1}), Poly({100, 1}), Poly({100, 1})});
  };
  published("Example21", example21(1), 1, 5, {0.0100, -14.5640, 0, 0.0022, 1e-2});
  published("Example21Times1000", example21(1000), 1, 5, {0.1793, 22.5215, 0.0243, 0.0630, 1e-2});
  published("Example21Times5000", example21(5000), 1, 5, {4.5596, 21.2101, 0.4385, 0.1868, 1.5e-3});
  return rows;
}

std::string Describe(const LoopMargins& m) {
  std::ostringstream text;
  text << std::setprecision(17);
  for (const PhaseMargin& p : m.phase) {
    text << "crossover " << p.frequency << ": " << p.degrees << "°, " << p.delay << " s\n";
  }
  for (const GainMargin& g : m.gain) {
    text << "phase crossing " << g.frequency << ": " << g.factor << ", " << g.decibels << " dB\n";
  }
  text << "stability margin " << m.stability.value << " at " << m.stability.frequency << "\n";
  for (const double w : m.axis_poles) {
    text << "pole of L at ±j·" << w << "\n";
  }
  for (const double w : m.axis_zeros) {
    text << "zero of L at ±j·" << w << "\n";
  }
  return text.str();
}

class MarginValues : public ::testing::TestWithParam<MarginRow> {};

TEST_P(MarginValues, EachTheDoubleNearestItsExactValue) {
  const MarginRow& row = GetParam();
  const LoopMargins m = row.margins();
  EXPECT_FALSE(m.not_computable) << *m.not_computable;
  SCOPED_TRACE(Describe(m));

  // Gain crossovers: the phase margin, the delay, the least |PM| first and the least delay.
  EXPECT_EQ(m.phase.size(), row.crossovers) << "gain crossovers";
  std::optional<double> least_delay;
  std::optional<Ref> least_key;
  std::vector<double> seen_crossovers;
  for (std::size_t i = 0; i < m.phase.size(); ++i) {
    const PhaseMargin& p = m.phase[i];
    SCOPED_TRACE("crossover at " + std::to_string(p.frequency));
    const std::vector<Ref> roots =
        RootsAround(row.reference, Kind::kGainCrossover, p.frequency, row.tangent_u);
    // Two crossovers within one unit: each of the two roots taken once, the one whose values
    // these are.
    const std::size_t before = static_cast<std::size_t>(
        std::count(seen_crossovers.begin(), seen_crossovers.end(), p.frequency));
    seen_crossovers.push_back(p.frequency);
    if (roots.size() <= before) {
      ADD_FAILURE() << "no crossover left within half a unit of " << std::hexfloat << p.frequency;
      continue;
    }
    ReferenceValues r = CrossoverValues(row.reference, roots[before]);
    if (roots.size() == 2 && !SameDouble(p.degrees, r.degrees)) {
      r = CrossoverValues(row.reference, roots[1 - before]);
    }
    EXPECT_TRUE(SameDouble(p.degrees, r.degrees)) << "phase margin";
    EXPECT_TRUE(SameDouble(p.delay, r.delay)) << "delay margin";
    if (!least_delay || r.delay < *least_delay) {
      least_delay = r.delay;
    }
    if (!least_key) {
      least_key = r.key;
    } else {
      EXPECT_LE(mpfr_cmp(least_key->v, r.key.v), 0) << "a smaller |PM| than the headline's";
    }
  }
  ASSERT_EQ(m.delay.has_value(), least_delay.has_value());
  if (least_delay) {
    EXPECT_TRUE(SameDouble(*m.delay, *least_delay)) << "least delay margin";
  }

  // Phase crossings: the gain margin where L < 0, the least |dB| first.
  least_key.reset();
  EXPECT_EQ(m.gain.size(), row.phase_crossings) << "phase crossings";
  for (std::size_t i = 0; i < m.gain.size(); ++i) {
    const GainMargin& g = m.gain[i];
    SCOPED_TRACE("phase crossing at " + std::to_string(g.frequency));
    std::optional<ReferenceValues> r;
    if (g.frequency == 0) {
      r = PhaseCrossingValues(row.reference, Ref(0.0));
    } else {
      const std::vector<Ref> roots =
          RootsAround(row.reference, Kind::kPhaseCrossing, g.frequency, row.tangent_u);
      if (roots.size() != 1) {
        ADD_FAILURE() << roots.size() << " phase crossings within half a unit of " << std::hexfloat
                      << g.frequency;
        continue;
      }
      r = PhaseCrossingValues(row.reference, roots[0]);
    }
    if (!r) {
      ADD_FAILURE() << "L is not negative there: no crossing of -180°";
      continue;
    }
    EXPECT_TRUE(SameDouble(g.factor, r->factor)) << "gain margin";
    EXPECT_TRUE(SameDouble(g.decibels, r->decibels)) << "decibels";
    if (!least_key) {
      least_key = r->key;
    } else {
      EXPECT_LE(mpfr_cmp(least_key->v, r->key.v), 0) << "a smaller |dB| than the headline's";
    }
  }

  if (row.published) {
    const MarginRow::Published& p = *row.published;
    if (std::isinf(p.gain)) {
      EXPECT_TRUE(m.gain.empty());
    } else if (!m.gain.empty()) {
      EXPECT_NEAR(m.gain[0].factor, p.gain, p.tolerance);
      EXPECT_NEAR(m.gain[0].frequency, p.gain_frequency, p.tolerance);
    }
    if (std::isinf(p.phase)) {
      EXPECT_TRUE(m.phase.empty());
    } else if (!m.phase.empty()) {
      EXPECT_NEAR(m.phase[0].degrees, p.phase, p.tolerance);
      EXPECT_NEAR(m.phase[0].frequency, p.crossover, p.tolerance);
    }
  }

  // The least |1 + L|: at an extreme, or a limit (ω → 0 or ∞).
  const StabilityMargin& s = m.stability;
  if (s.frequency > 0 && std::isfinite(s.frequency)) {
    // Crossovers within the unit split it into valleys.
    std::vector<Ref> splits;
    if (std::any_of(m.phase.begin(), m.phase.end(),
                    [&s](const PhaseMargin& p) { return p.frequency == s.frequency; })) {
      splits = RootsAround(row.reference, Kind::kGainCrossover, s.frequency, std::nullopt);
    }
    std::sort(splits.begin(), splits.end(),
              [](const Ref& x, const Ref& y) { return mpfr_less_p(x.v, y.v) != 0; });
    const std::optional<Ref> least = DistanceMinimumAround(row.reference, s.frequency, splits);
    ASSERT_TRUE(least) << "no minimum of |1 + L| within half a unit of " << std::hexfloat
                       << s.frequency;
    EXPECT_TRUE(SameDouble(s.value, least->Nearest())) << "stability margin";
    for (const auto& [low, high] : row.rival_valleys) {
      if (s.frequency < low || s.frequency > high) {
        Ref rival = LeastSquaredDistance(row.reference, Ref(low), Ref(high));
        mpfr_sqrt(rival.v, rival.v, MPFR_RNDN);
        EXPECT_LE(mpfr_cmp(least->v, rival.v), 0)
            << "a lower valley between " << low << " and " << high;
      }
    }
  }
  // No sample of a logarithmic scan lies below it.
  double low = s.frequency > 0 && std::isfinite(s.frequency) ? s.frequency : 1;
  double high = low;
  for (const GainMargin& g : m.gain) {
    if (g.frequency > 0) {
      low = std::min(low, g.frequency);
      high = std::max(high, g.frequency);
    }
  }
  for (const PhaseMargin& p : m.phase) {
    low = std::min(low, p.frequency);
    high = std::max(high, p.frequency);
  }
  const double decades = std::log10(high / low) + 6;
  for (int i = 0; i <= 600; ++i) {
    const double omega = low * 1e-3 * std::pow(10.0, decades * i / 600);
    Ref d = SquaredDistance(row.reference, Ref(omega));
    mpfr_sqrt(d.v, d.v, MPFR_RNDN);
    EXPECT_GE(d.Nearest(), s.value * (1 - 1e-12)) << "at " << omega;
  }
}

INSTANTIATE_TEST_SUITE_P(Loops, MarginValues, ::testing::ValuesIn(MarginRows()),
                         [](const auto& row) { return row.param.name; });

}  // namespace
}  // namespace pitch::analysis
