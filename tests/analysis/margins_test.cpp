#include "analysis/margins.h"

#include <gtest/gtest.h>

#include <Eigen/LU>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "analysis/frequency_response.h"
#include "common/coefficients.h"

namespace pitch::analysis {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

double Degrees(double radians) { return radians * 180 / kPi; }

// |actual − stated| within half a unit of the stated value's last decimal.
::testing::AssertionResult NearStated(double actual, const std::string& stated) {
  const std::size_t point = stated.find('.');
  const int decimals = point == std::string::npos ? 0 : static_cast<int>(stated.size() - point - 1);
  const double tolerance = 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9);
  if (std::fabs(actual - std::stod(stated)) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", actual);
  return ::testing::AssertionFailure() << text << " is not " << stated;
}

// The crossing at omega is bracketed to a relative 1e-10: f changes sign between ω·(1 ∓ 1e-10).
template <typename F>
::testing::AssertionResult Bracketed(F f, double omega) {
  const Extended below = f(static_cast<Extended>(omega) * (1 - 1e-10L));
  const Extended above = f(static_cast<Extended>(omega) * (1 + 1e-10L));
  if ((below < 0) != (above < 0) || below == 0 || above == 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "no sign change within 1e-10 of " << omega;
}

// Every reported crossing lies on its level to the promised accuracy.
void ExpectCrossingsOnTheirLevels(const TransferFunction& l, const LoopMargins& m) {
  for (const GainMargin& g : m.gain) {
    if (g.frequency == 0) {
      continue;
    }
    const Extended level = g.phase_degrees * std::numbers::pi_v<Extended> / 180;
    EXPECT_TRUE(Bracketed([&](Extended w) { return Evaluate(l, w).phase - level; }, g.frequency));
    EXPECT_NEAR(std::fmod(g.phase_degrees + 180, 360), 0, 1e-9);
    EXPECT_NEAR(std::log(g.factor), -static_cast<double>(Evaluate(l, g.frequency).log_magnitude),
                1e-9);
  }
  for (const PhaseMargin& p : m.phase) {
    EXPECT_TRUE(Bracketed([&](Extended w) { return Evaluate(l, w).log_magnitude; }, p.frequency));
    EXPECT_GT(p.degrees, -180);
    EXPECT_LE(p.degrees, 180);
    EXPECT_GE(p.delay, 0);
    // The continuous phase, its whole turns included.
    EXPECT_NEAR(p.phase_degrees, Degrees(static_cast<double>(Evaluate(l, p.frequency).phase)),
                1e-6);
  }
}

// ---------------------------------------------------------------------------------------------
// The autopilot loop of the model.

struct CoefficientRow {
  const char* name;
  std::array<Real, 5> c;
  bool stable;
};

const CoefficientRow kCoefficientRows[] = {
    {"Defaults", kDefaultCoefficients, true},
    {"NegativeC3", {0.880, 0.404, -7.028, 0.987, 0.251}, true},
    {"NegativeC5", {0.880, 0.404, 7.028, 0.987, -2}, true},
    {"SmallC3", {0.880, 0.404, 0.07, 0.987, 0.251}, true},
    {"UnstableWithNegativeC4", {1.112, 0.927, 7.008, -0.501, -1.807}, false},
    {"UnstableSlowPair", {-0.820, 1.627, 8.756, -1.436, 0.250}, false},
};

void PrintTo(const CoefficientRow& row, std::ostream* os) { *os << row.name; }

class PitchLoop : public ::testing::TestWithParam<CoefficientRow> {
 protected:
  void SetUp() override {
    testing::SetCoefficients(c_, GetParam().c);
    c_.ComputeGearRatios();
  }
  TController c_;
};

TEST_P(PitchLoop, ClosingTheBrokenLoopGivesTheClosedLoopMatrix) {
  const LoopBreak loop = BreakAtCommand(c_);
  const Matrix4 closed = loop.a0 - loop.b * loop.k;
  const Matrix4 expected = ToEigen(ClosedLoopMatrix(c_));
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      EXPECT_EQ(closed(i, j), expected(i, j)) << "row " << i << ", column " << j;
    }
  }
  // Only the rate equation carries the autopilot, through c3.
  EXPECT_EQ(loop.b, Vector4(0, c_.c3, 0, 0));
  EXPECT_EQ(loop.k, Eigen::RowVector4d(c_.iv, c_.muv, c_.nuv, 0));
}

TEST_P(PitchLoop, FactoredTransferIsTheStateSpaceLoop) {
  const LoopBreak loop = BreakAtCommand(c_);
  const TransferFunction l = LoopTransfer(c_);
  for (const double omega : {0.003, 0.09, 0.5, 1.0, 2.3, 40.0, 1e3}) {
    const Eigen::Matrix4cd a = std::complex<double>(0, omega) * Eigen::Matrix4cd::Identity() -
                               loop.a0.cast<std::complex<double>>();
    const Eigen::Vector4cd x = a.partialPivLu().solve(loop.b.cast<std::complex<double>>());
    const std::complex<double> expected = (loop.k.cast<std::complex<double>>() * x)(0);
    const std::complex<double> actual(Evaluate(l, omega).value);
    EXPECT_LT(std::abs(actual - expected), 1e-12 * std::abs(expected)) << "at ω = " << omega;
  }
}

TEST_P(PitchLoop, StabilityFlagFollowsTheClosedLoopPoles) {
  const LoopMargins m = Margins(c_);
  EXPECT_EQ(m.closed_loop_stable, GetParam().stable);
  EXPECT_EQ(IsStable(ToEigen(ClosedLoopMatrix(c_))), GetParam().stable);
  EXPECT_EQ(ClosedLoopStable(LoopTransfer(c_)), GetParam().stable);
}

TEST_P(PitchLoop, CrossingsLieOnTheirLevels) {
  ExpectCrossingsOnTheirLevels(LoopTransfer(c_), Margins(c_));
}

TEST_P(PitchLoop, BodeDiagramSpansTheDynamicsWithAContinuousPhase) {
  const BodeData d = Bode(c_);
  ASSERT_GE(d.frequency.size(), 100 * std::log10(d.range.high / d.range.low));
  EXPECT_EQ(d.frequency.front(), d.range.low);
  EXPECT_LE(d.frequency.back(), d.range.high);
  EXPECT_EQ(std::fmod(d.phase_shift_degrees, 360), 0);
  EXPECT_GT(d.phase_degrees.front(), -360);
  EXPECT_LE(d.phase_degrees.front(), 0);
  for (std::size_t i = 1; i < d.frequency.size(); ++i) {
    EXPECT_LT(d.frequency[i - 1], d.frequency[i]);
    // No jump by a whole turn or half a turn: the sharpest turn of these loops is below 15° a
    // step.
    EXPECT_LT(std::fabs(d.phase_degrees[i] - d.phase_degrees[i - 1]), 30) << d.frequency[i];
  }
  // A decade of room beyond every pole, zero and crossover.
  const TransferFunction l = LoopTransfer(c_);
  for (const auto* roots : {&l.zeros, &l.poles}) {
    for (const ComplexExtended& r : *roots) {
      if (std::abs(r) > 0) {
        EXPECT_LE(d.range.low * 10, static_cast<double>(std::abs(r)));
        EXPECT_GE(d.range.high / 10, static_cast<double>(std::abs(r)));
      }
    }
  }
  for (const PhaseMargin& p : d.margins.phase) {
    EXPECT_LE(d.range.low * 10, p.frequency);
    EXPECT_GE(d.range.high / 10, p.frequency);
  }
}

INSTANTIATE_TEST_SUITE_P(Coefficients, PitchLoop, ::testing::ValuesIn(kCoefficientRows),
                         [](const auto& row) { return std::string(row.param.name); });

// Reference values from an independent general-purpose control toolbox, to the digits it gave.
struct ReferenceRow {
  const char* name;
  std::array<Real, 5> c;
  std::optional<std::pair<std::string, std::string>> gain;  // factor, frequency
  std::string phase_degrees;
  std::string crossover;
  std::string delay;
  std::string stability;
  std::string stability_frequency;  // empty when not given
};

void PrintTo(const ReferenceRow& row, std::ostream* os) { *os << row.name; }

class PitchLoopReference : public ::testing::TestWithParam<ReferenceRow> {};

TEST_P(PitchLoopReference, MarginsMatch) {
  const ReferenceRow& row = GetParam();
  TController c;
  testing::SetCoefficients(c, row.c);
  c.ComputeGearRatios();
  const LoopMargins m = Margins(c);
  EXPECT_TRUE(m.closed_loop_stable);
  if (row.gain) {
    ASSERT_EQ(m.gain.size(), 1u);
    EXPECT_TRUE(NearStated(m.gain[0].factor, row.gain->first));
    EXPECT_TRUE(NearStated(m.gain[0].frequency, row.gain->second));
    EXPECT_NEAR(m.gain[0].decibels, 20 * std::log10(m.gain[0].factor), 1e-12);
  } else {
    EXPECT_TRUE(m.gain.empty());
  }
  ASSERT_EQ(m.phase.size(), 1u);
  EXPECT_TRUE(NearStated(m.phase[0].degrees, row.phase_degrees));
  EXPECT_TRUE(NearStated(m.phase[0].frequency, row.crossover));
  ASSERT_TRUE(m.delay);
  EXPECT_TRUE(NearStated(*m.delay, row.delay));
  EXPECT_EQ(*m.delay, m.phase[0].delay);
  EXPECT_TRUE(NearStated(m.stability.value, row.stability));
  if (!row.stability_frequency.empty()) {
    EXPECT_TRUE(NearStated(m.stability.frequency, row.stability_frequency));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Toolbox, PitchLoopReference,
    ::testing::Values(ReferenceRow{"Defaults", kDefaultCoefficients, std::nullopt, "65.0249",
                                   "1.22106", "0.929438", "0.894139", "2.067"},
                      ReferenceRow{"NegativeC3",
                                   {0.880, 0.404, -7.028, 0.987, 0.251},
                                   std::pair<std::string, std::string>{"1.23832", "0.696794"},
                                   "17.5742",
                                   "0.459838",
                                   "0.667035",
                                   "0.16878",
                                   ""}),
    [](const auto& row) { return std::string(row.param.name); });

// ---------------------------------------------------------------------------------------------
// Loops whose margins are known in closed form.

struct ClosedFormRow {
  std::string name;
  TransferFunction l;
  std::vector<std::pair<double, double>> gain;  // (frequency, factor), in the reported order
  // (frequency, degrees) in the reported order; not checked when empty.
  std::optional<std::vector<std::pair<double, double>>> phase;
  std::optional<double> delay;
  std::optional<StabilityMargin> stability;
  bool stable;
};

TransferFunction Loop(Extended gain, std::vector<ComplexExtended> zeros,
                      std::vector<ComplexExtended> poles) {
  return {gain, std::move(zeros), std::move(poles)};
}

std::vector<ClosedFormRow> ClosedFormRows() {
  std::vector<ClosedFormRow> rows;
  {
    // 2√2/(s + 1)³: −180° where 3·atan ω = 180°, |L| = 1 at ω = 1 with 135° of lag.
    const double k = 2 * std::sqrt(2.0);
    rows.push_back({"ThirdOrderLag",
                    Loop(k, {}, {-1, -1, -1}),
                    {{std::sqrt(3.0), 8 / k}},
                    std::vector<std::pair<double, double>>{{1, 45}},
                    kPi / 4,
                    std::nullopt,
                    true});
  }
  {
    // The same lag with gain 10 > 8: unstable, a gain margin below 1 and a negative phase margin.
    const double wc = std::sqrt(std::pow(10.0, 2.0 / 3) - 1);
    const double pm = 180 - 3 * Degrees(std::atan(wc));
    rows.push_back({"UnstableThirdOrderLag",
                    Loop(10, {}, {-1, -1, -1}),
                    {{std::sqrt(3.0), 0.8}},
                    std::vector<std::pair<double, double>>{{wc, pm}},
                    (pm + 360) * kPi / 180 / wc,
                    std::nullopt,
                    false});
  }
  {
    // 1/(s·(s + 1)): ω²·(1 + ω²) = 1 at the crossover; |1 + L|² = (u² − u + 1)/(u² + u) with
    // u = ω², least where 2u² − 2u − 1 = 0.
    const double wc = std::sqrt((std::sqrt(5.0) - 1) / 2);
    const double pm = 90 - Degrees(std::atan(wc));
    const double u = (1 + std::sqrt(3.0)) / 2;
    rows.push_back({"IntegratorWithLag",
                    Loop(1, {}, {0, -1}),
                    {},
                    std::vector<std::pair<double, double>>{{wc, pm}},
                    pm * kPi / 180 / wc,
                    StabilityMargin{std::sqrt(1.5 / (1.5 + std::sqrt(3.0))), std::sqrt(u)},
                    true});
  }
  {
    // 2/s: 90° at ω = 2; |1 + L| falls towards 1 as ω grows.
    rows.push_back({"Integrator",
                    Loop(2, {}, {0}),
                    {},
                    std::vector<std::pair<double, double>>{{2, 90}},
                    kPi / 4,
                    StabilityMargin{1, kInfinity},
                    true});
  }
  {
    // (s + 1)²/(s³·(s/10 + 1)²): atan ω − atan(ω/10) = 45° where ω² − 9ω + 10 = 0, a
    // conditionally stable loop with a gain margin on either side.
    const auto factor = [](double w) { return w * w * w * (1 + w * w / 100) / (1 + w * w); };
    const double w1 = (9 - std::sqrt(41.0)) / 2;
    const double w2 = (9 + std::sqrt(41.0)) / 2;
    rows.push_back({"TwoPhaseCrossings",
                    Loop(100, {-1, -1}, {0, 0, 0, -10, -10}),
                    {{w1, factor(w1)}, {w2, factor(w2)}},
                    std::nullopt,
                    std::nullopt,
                    std::nullopt,
                    true});
  }
  {
    // −0.5/(s + 1): on the negative real axis at ω = 0, nearest to −1 there.
    rows.push_back({"NegativeLag",
                    Loop(-0.5, {}, {-1}),
                    {{0, 2}},
                    std::vector<std::pair<double, double>>{},
                    std::nullopt,
                    StabilityMargin{0.5, 0},
                    true});
  }
  {
    // (s − 1)·(s + 3)/(s + 1)²: |1 + L| = 2 at ω → 0 and at ω → ∞ and above 2 between them. The
    // two limits are equal exactly: the one at ω = 0 is taken.
    rows.push_back({"LimitsEqual",
                    Loop(1, {1, -3}, {-1, -1}),
                    {{0, 1.0 / 3}},
                    std::vector<std::pair<double, double>>{},
                    std::nullopt,
                    StabilityMargin{2, 0},
                    false});
  }
  {
    // 0.5·(1 − s)/(s·(s + 1)): the right half-plane zero adds lag, −90° − 2·atan ω.
    const double pm = 90 - 2 * Degrees(std::atan(0.5));
    rows.push_back({"RightHalfPlaneZero",
                    Loop(-0.5, {1}, {0, -1}),
                    {{1, 2}},
                    std::vector<std::pair<double, double>>{{0.5, pm}},
                    pm * kPi / 180 / 0.5,
                    std::nullopt,
                    true});
  }
  {
    // 0.001/((s² + 0.002·s + 1)·(s + 1)): the phase drops through −180° within the resonance,
    // where ω² = 1.002 and |L| = 0.001/(0.002·(1 + ω²)).
    std::vector<ComplexExtended> poles = QuadraticRoots(1, 0.002L, 1);
    poles.push_back(-1);
    rows.push_back({"SharpResonance",
                    Loop(0.001, {}, poles),
                    {{std::sqrt(1.002), 4.004}},
                    std::vector<std::pair<double, double>>{},
                    std::nullopt,
                    std::nullopt,
                    true});
  }
  return rows;
}

void PrintTo(const ClosedFormRow& row, std::ostream* os) { *os << row.name; }

class ClosedForm : public ::testing::TestWithParam<ClosedFormRow> {};

TEST_P(ClosedForm, Margins) {
  const ClosedFormRow& row = GetParam();
  const LoopMargins m = Margins(row.l, ClosedLoopStable(row.l));
  EXPECT_EQ(m.closed_loop_stable, row.stable);
  ASSERT_EQ(m.gain.size(), row.gain.size());
  for (std::size_t i = 0; i < row.gain.size(); ++i) {
    EXPECT_NEAR(m.gain[i].frequency, row.gain[i].first, 1e-10 * row.gain[i].first) << i;
    EXPECT_NEAR(m.gain[i].factor, row.gain[i].second, 1e-10 * row.gain[i].second) << i;
  }
  if (row.phase) {
    ASSERT_EQ(m.phase.size(), row.phase->size());
    for (std::size_t i = 0; i < row.phase->size(); ++i) {
      EXPECT_NEAR(m.phase[i].frequency, (*row.phase)[i].first, 1e-10 * (*row.phase)[i].first);
      EXPECT_NEAR(m.phase[i].degrees, (*row.phase)[i].second, 1e-9);
    }
    ASSERT_EQ(m.delay.has_value(), row.delay.has_value());
    if (row.delay) {
      EXPECT_NEAR(*m.delay, *row.delay, 1e-10 * *row.delay);
    }
  }
  if (row.stability) {
    EXPECT_NEAR(m.stability.value, row.stability->value, 1e-14);
    if (std::isinf(row.stability->frequency)) {
      EXPECT_EQ(m.stability.frequency, row.stability->frequency);
    } else {
      EXPECT_NEAR(m.stability.frequency, row.stability->frequency,
                  1e-10 * row.stability->frequency);
    }
  }
  ExpectCrossingsOnTheirLevels(row.l, m);
}

INSTANTIATE_TEST_SUITE_P(Loops, ClosedForm, ::testing::ValuesIn(ClosedFormRows()),
                         [](const auto& row) { return row.param.name; });

// ---------------------------------------------------------------------------------------------
// Seeded random loops against a brute-force scan that shares nothing with the margin search: the
// value is multiplied out factor by factor and its phase unwrapped along a dense grid.

TransferFunction RandomLoop(std::mt19937_64& random) {
  std::uniform_real_distribution<double> unit(0, 1);
  const auto log_uniform = [&](double lo, double hi) {
    return std::pow(10.0, lo + (hi - lo) * unit(random));
  };
  TransferFunction l;
  l.gain = (unit(random) < 0.3 ? -1 : 1) * log_uniform(-2, 2);
  const auto add_real = [&](std::vector<ComplexExtended>& roots, double unstable) {
    roots.emplace_back((unit(random) < unstable ? 1 : -1) * log_uniform(-1.5, 1.5), 0);
  };
  const auto add_pair = [&](std::vector<ComplexExtended>& roots, double unstable) {
    const double wn = log_uniform(-1, 1);
    const double zeta = (unit(random) < unstable ? -1 : 1) * log_uniform(-2, 0) * 0.99;
    roots.emplace_back(-zeta * wn, wn * std::sqrt(1 - zeta * zeta));
    roots.emplace_back(-zeta * wn, -wn * std::sqrt(1 - zeta * zeta));
  };
  for (int i = static_cast<int>(unit(random) * 3); i > 0; --i) {
    l.poles.emplace_back(0, 0);
  }
  for (int i = 1 + static_cast<int>(unit(random) * 3); i > 0; --i) {
    add_real(l.poles, 0.1);
  }
  for (int i = static_cast<int>(unit(random) * 3); i > 0; --i) {
    add_pair(l.poles, 0.1);
  }
  for (int i = static_cast<int>(unit(random) * 3); i > 0 && l.zeros.size() < l.poles.size(); --i) {
    add_real(l.zeros, 0.2);
  }
  if (unit(random) < 0.3 && l.zeros.size() + 2 <= l.poles.size()) {
    add_pair(l.zeros, 0.2);
  }
  return l;
}

struct Crossings {
  std::vector<double> gain;   // phase crossings
  std::vector<double> phase;  // gain crossovers
};

Crossings BruteForce(const TransferFunction& l) {
  const FrequencyRange range = DynamicsRange(l, 3);
  constexpr int kPerDecade = 4000;
  const int steps = static_cast<int>(std::ceil(std::log10(range.high / range.low) * kPerDecade));
  Crossings c;
  double previous_omega = 0;
  double previous_magnitude = 0;
  double previous_phase = 0;
  for (int i = 0; i <= steps; ++i) {
    const double omega = range.low * std::pow(10.0, static_cast<double>(i) / kPerDecade);
    std::complex<long double> value = l.gain;
    for (const ComplexExtended& z : l.zeros) {
      value *= ComplexExtended(0, omega) - z;
    }
    for (const ComplexExtended& p : l.poles) {
      value /= ComplexExtended(0, omega) - p;
    }
    const double magnitude = static_cast<double>(std::abs(value));
    double phase = static_cast<double>(std::arg(value));
    if (i > 0) {
      phase += 2 * kPi * std::round((previous_phase - phase) / (2 * kPi));
      if ((previous_magnitude > 1) != (magnitude > 1)) {
        c.phase.push_back(std::sqrt(previous_omega * omega));
      }
      const double ta = std::floor((previous_phase + kPi) / (2 * kPi));
      const double tb = std::floor((phase + kPi) / (2 * kPi));
      for (double n = std::min(ta, tb); n < std::max(ta, tb); ++n) {
        c.gain.push_back(std::sqrt(previous_omega * omega));
      }
    }
    previous_omega = omega;
    previous_magnitude = magnitude;
    previous_phase = phase;
  }
  return c;
}

std::string Describe(const TransferFunction& l) {
  std::string text;
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "gain %La\n", l.gain);
  text += buffer;
  for (const ComplexExtended& z : l.zeros) {
    std::snprintf(buffer, sizeof buffer, "zero %La %La\n", z.real(), z.imag());
    text += buffer;
  }
  for (const ComplexExtended& p : l.poles) {
    std::snprintf(buffer, sizeof buffer, "pole %La %La\n", p.real(), p.imag());
    text += buffer;
  }
  return text;
}

void ExpectSameFrequencies(std::vector<double> found, std::vector<double> reference) {
  std::sort(found.begin(), found.end());
  ASSERT_EQ(found.size(), reference.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    EXPECT_NEAR(found[i], reference[i], 2e-3 * reference[i]);
  }
}

TEST(RandomLoops, EveryCrossingOfADenseScanIsFound) {
  std::mt19937_64 random(20240613);
  for (int trial = 0; trial < 40; ++trial) {
    const TransferFunction l = RandomLoop(random);
    SCOPED_TRACE("trial " + std::to_string(trial) + "\n" + Describe(l));
    const LoopMargins m = Margins(l, ClosedLoopStable(l));
    const Crossings reference = BruteForce(l);
    std::vector<double> gain;
    for (const GainMargin& g : m.gain) {
      if (g.frequency > 0) {
        gain.push_back(g.frequency);
      }
    }
    std::vector<double> phase;
    for (const PhaseMargin& p : m.phase) {
      phase.push_back(p.frequency);
    }
    ExpectSameFrequencies(gain, reference.gain);
    ExpectSameFrequencies(phase, reference.phase);
    ExpectCrossingsOnTheirLevels(l, m);
  }
}

// ---------------------------------------------------------------------------------------------

TEST(QuadraticRoots, WithoutCancellation) {
  // s² + 1e8·s + 1: the small root −1e-8 is lost to cancellation by the textbook formula.
  const std::vector<ComplexExtended> far_apart = QuadraticRoots(1, 1e8L, 1);
  EXPECT_NEAR(static_cast<double>(far_apart[0].real()), -1e8, 1e-6);
  EXPECT_NEAR(static_cast<double>(far_apart[1].real()), -1e-8, 1e-22);
  const std::vector<ComplexExtended> pair = QuadraticRoots(2, 4, 10);  // −1 ± 2j
  EXPECT_EQ(pair[0], ComplexExtended(-1, 2));
  EXPECT_EQ(pair[1], ComplexExtended(-1, -2));
  const std::vector<ComplexExtended> double_root = QuadraticRoots(1, -2, 1);
  EXPECT_EQ(double_root[0], ComplexExtended(1, 0));
  EXPECT_EQ(double_root[1], ComplexExtended(1, 0));
}

}  // namespace
}  // namespace pitch::analysis
