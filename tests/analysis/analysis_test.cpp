#include "analysis/analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ios>
#include <numbers>
#include <random>
#include <string>
#include <unsupported/Eigen/MatrixFunctions>
#include <vector>

#include "common/coefficients.h"

namespace pitch::analysis {
namespace {

class DefaultLoop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    controller_ = new TController;
    testing::SetDefaultCoefficients(*controller_);
    controller_->ComputeGearRatios();
    controller_->SimulateResponse();
    result_ = new LoopAnalysis(Analyze(*controller_));
  }
  static void TearDownTestSuite() {
    delete result_;
    delete controller_;
  }
  static TController* controller_;
  static LoopAnalysis* result_;
};
TController* DefaultLoop::controller_ = nullptr;
LoopAnalysis* DefaultLoop::result_ = nullptr;

TEST_F(DefaultLoop, Poles) {
  const std::vector<Pole>& p = result_->poles;
  ASSERT_EQ(p.size(), 3u);  // one complex pair, two real poles
  EXPECT_NEAR(p[0].value.real(), -0.9112, 5e-5);
  EXPECT_NEAR(p[0].value.imag(), 1.0915, 5e-5);
  EXPECT_NEAR(*p[0].natural_frequency, std::abs(std::complex(-0.9112, 1.0915)), 1e-4);
  EXPECT_NEAR(*p[0].damping_ratio, 0.9112 / std::abs(std::complex(-0.9112, 1.0915)), 1e-4);
  EXPECT_FALSE(p[0].time_constant);
  EXPECT_NEAR(p[1].value.real(), -0.8439, 5e-5);
  EXPECT_NEAR(*p[1].time_constant, 1 / 0.8439, 1e-3);
  EXPECT_NEAR(p[2].value.real(), -0.0982, 5e-5);
  EXPECT_NEAR(*p[2].time_constant, 1 / 0.0982, 1e-2);
  EXPECT_TRUE(result_->stable);
}

TEST_F(DefaultLoop, EulerAgainstExact) {
  const auto exact_peak = std::max_element(result_->exact.begin(), result_->exact.end());
  EXPECT_NEAR(*exact_peak, 1.12768, 5e-6);
  EXPECT_NEAR(result_->times[static_cast<std::size_t>(exact_peak - result_->exact.begin())], 3.07,
              0.015);
  EXPECT_EQ(result_->exact[0], 0.0);  // 1 + z(0)
  EXPECT_NEAR(result_->euler_error.max_abs, 4.12e-3, 5e-6);
  EXPECT_NEAR(result_->euler_error.time, 2.00, 1e-12);
}

TEST_F(DefaultLoop, EulerCharacteristics) {
  const StepCharacteristics& s = result_->euler;
  EXPECT_NEAR(s.peak, 1.12959, 5e-6);
  EXPECT_DOUBLE_EQ(s.peak_time, 3.05);
  EXPECT_NEAR(s.overshoot_percent, 12.959, 5e-4);
  ASSERT_TRUE(s.t10 && s.t90 && s.rise_time);
  EXPECT_LT(*s.t10, *s.t90);
  EXPECT_NEAR(*s.rise_time, *s.t90 - *s.t10, 1e-15);
  EXPECT_FALSE(s.settling_time);  // still outside the 2 % band at 9.99 s
  EXPECT_NEAR(s.final_deviation, 0.04405, 5e-6);
  ASSERT_TRUE(result_->exact_settling_time);
  EXPECT_NEAR(*result_->exact_settling_time, 18.0, 0.05);
}

// h(t) of a second-order loop with damping ζ and natural frequency ωn, in closed form.
double SecondOrder(double zeta, double wn, double t) {
  const double wd = wn * std::sqrt(1 - zeta * zeta);
  return 1 - std::exp(-zeta * wn * t) *
                 (std::cos(wd * t) + zeta / std::sqrt(1 - zeta * zeta) * std::sin(wd * t));
}

TEST(Characteristics, SecondOrderOvershootAndPeakTime) {
  struct Row {
    double zeta;
    double wn;
  };
  for (const Row row : {Row{0.5, 2.0}, Row{0.2, 1.0}, Row{0.7, 5.0}}) {
    std::vector<double> t;
    std::vector<double> h;
    for (int i = 0; i <= 20000; ++i) {
      t.push_back(i * 1e-3);
      h.push_back(SecondOrder(row.zeta, row.wn, t.back()));
    }
    const StepCharacteristics s = Characteristics(t, h);
    const double root = std::sqrt(1 - row.zeta * row.zeta);
    EXPECT_NEAR(s.overshoot_percent, 100 * std::exp(-std::numbers::pi * row.zeta / root), 1e-4);
    EXPECT_NEAR(s.peak_time, std::numbers::pi / (row.wn * root), 1e-3);
    // The settling time is a band crossing of the curve itself.
    ASSERT_TRUE(s.settling_time);
    EXPECT_NEAR(std::fabs(SecondOrder(row.zeta, row.wn, *s.settling_time) - 1), 0.02, 1e-5);
    EXPECT_NEAR(SecondOrder(row.zeta, row.wn, *s.t10), 0.1, 1e-6);
    EXPECT_NEAR(SecondOrder(row.zeta, row.wn, *s.t90), 0.9, 1e-6);
  }
}

TEST(Characteristics, EdgeCases) {
  const std::vector<double> t = {0, 1, 2, 3};
  // Never reaches 10 %: no rise time, never inside the band.
  const StepCharacteristics low = Characteristics(t, std::vector<double>{0, 0.02, 0.05, 0.08});
  EXPECT_FALSE(low.t10);
  EXPECT_FALSE(low.rise_time);
  EXPECT_FALSE(low.settling_time);
  EXPECT_EQ(low.overshoot_percent, 0);
  // Inside the band from the start: settled at once.
  const StepCharacteristics flat = Characteristics(t, std::vector<double>{1, 1.01, 0.99, 1});
  EXPECT_EQ(flat.settling_time, 0.0);
  EXPECT_EQ(flat.t10, 0.0);
  // Enters the band between samples 1 and 2 from above.
  const StepCharacteristics enter = Characteristics(t, std::vector<double>{0, 1.1, 1.0, 1.0});
  EXPECT_DOUBLE_EQ(*enter.settling_time, 1 + 0.08 / 0.1);
  EXPECT_DOUBLE_EQ(*enter.t90, 0.9 / 1.1);
}

TEST(ExactResponse, FirstOrderLagAgainstItsClosedForm) {
  Matrix4 a = Matrix4::Zero();
  a(0, 0) = -2;  // z' = −2·z: h = 1 − e^(−2t)
  const std::vector<double> h = ExactResponse(a, InitialState(), kTimeStep, kSampleCount);
  for (int i = 0; i < 1000; i += 37) {
    EXPECT_NEAR(h[static_cast<std::size_t>(i)], 1 - std::exp(-2 * 0.01 * i), 1e-13) << i;
  }
}

TEST(ExactResponse, StopsWhereTheStateLeavesTheDoubleRange) {
  Matrix4 a = Matrix4::Zero();
  a(0, 0) = 100;  // z' = 100·z from z = −1: |z| = e^(100·t) passes the largest double after 7.09 s
  const std::vector<double> h = ExactResponse(a, InitialState(), kTimeStep, kSampleCount);
  ASSERT_EQ(h.size(), 710u);
  EXPECT_TRUE(std::all_of(h.begin(), h.end(), [](double v) { return std::isfinite(v); }));
  EXPECT_NEAR(h.back() / -std::exp(709.0), 1, 1e-9);
}

// The response written out step by step is the plain Eigen iteration, bit for bit, over seeded
// random loops (hexadecimal floating point on a mismatch).
TEST(ExactResponse, EqualsThePlainIterationBitForBit) {
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> entry(-3, 3);
  for (int k = 0; k < 50; ++k) {
    Matrix4 a;
    for (int i = 0; i < 16; ++i) {
      a(i / 4, i % 4) = entry(random);
    }
    const Matrix4 factor = (a * kTimeStep).exp();
    Vector4 state = InitialState();
    std::vector<double> plain;
    for (int i = 0; i < kSampleCount && state.allFinite() && std::isfinite(1 + state(0)); ++i) {
      plain.push_back(1 + state(0));
      state = factor * state;
    }
    const std::vector<double> h = ExactResponse(a, InitialState(), kTimeStep, kSampleCount);
    ASSERT_EQ(h.size(), plain.size()) << "loop " << k;
    for (std::size_t i = 0; i < h.size(); ++i) {
      ASSERT_EQ(h[i], plain[i]) << "loop " << k << ", sample " << i << ": " << std::hexfloat << h[i]
                                << " against " << plain[i];
    }
  }
}

// The command line's --exact once wrote inf and nan for this loop, and a NAN comparison: the
// exact response of the unstable continuous loop leaves the double range at 7.6 s, while the
// Euler samples stay finite to the end.
TEST(Analyze, ExactResponseBeyondTheDoubleRange) {
  TController c;
  testing::SetCoefficients(c, {-48.232367270723934, 1.5044120160546122, -26.989190254336904,
                               -0.08768695146752414, 0.10350617979093144});
  c.ComputeGearRatios();
  c.SimulateResponse();
  const LoopAnalysis r = Analyze(c);
  EXPECT_FALSE(r.stable);
  ASSERT_TRUE(r.exact_range_end);
  EXPECT_EQ(*r.exact_range_end, 7.6);
  ASSERT_EQ(r.exact.size(), 761u);
  EXPECT_EQ(
      r.exact.back(),
      ExactResponse(ToEigen(ClosedLoopMatrix(c)), InitialState(), kTimeStep, kSampleCount).back());
  EXPECT_TRUE(std::isfinite(r.euler_error.max_abs));
  EXPECT_LE(r.euler_error.time, 7.6);
  EXPECT_FALSE(r.exact_settling_time);
}

// The default loop with its poles 2^e times as fast (c1, c3, c4, c5 times 2^e, c2 times 2^2e):
// the same loop in another unit of time, so its poles are 2^e times the default's and its exact
// settling time 2^−e times. Its matrix of doubles holds entries up to the poles' size cubed: at
// 2^−20 its settling time was off in the fifth digit, at 2^−60 it was "not reached", and at
// 2^−497 c3·nuv underflows to 0 (a double pole at 0, "marginally stable").
class ScaledDefaultLoop : public ::testing::TestWithParam<int> {};

TEST_P(ScaledDefaultLoop, ThePolesAndSettlingTimeInItsUnitOfTime) {
  const int e = GetParam();
  TController c;
  testing::SetDefaultCoefficients(c);
  c.c1 = std::ldexp(c.c1, e);
  c.c2 = std::ldexp(c.c2, 2 * e);
  c.c3 = std::ldexp(c.c3, e);
  c.c4 = std::ldexp(c.c4, e);
  c.c5 = std::ldexp(c.c5, e);
  c.ComputeGearRatios();
  c.SimulateResponse();
  const LoopAnalysis r = Analyze(c);
  ASSERT_TRUE(r.stable);
  TController unit;
  testing::SetDefaultCoefficients(unit);
  unit.ComputeGearRatios();
  unit.SimulateResponse();
  const LoopAnalysis u = Analyze(unit);
  ASSERT_EQ(r.poles.size(), u.poles.size());
  for (std::size_t i = 0; i < r.poles.size(); ++i) {
    const std::complex<double> expected = u.poles[i].value * std::ldexp(1.0, e);
    EXPECT_LE(std::abs(r.poles[i].value - expected), 1e-12 * std::abs(expected)) << i;
  }
  ASSERT_TRUE(r.exact_settling_time && u.exact_settling_time);
  EXPECT_NEAR(*r.exact_settling_time / std::ldexp(*u.exact_settling_time, -e), 1, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Exponents, ScaledDefaultLoop, ::testing::Values(-20, -60, -200, -497),
                         [](const auto& row) { return "Minus" + std::to_string(-row.param); });

TEST(CompareWithExact, EndsWithTheShorterResponse) {
  const std::vector<double> t = {0, 1, 2, 3};
  const EulerError e =
      CompareWithExact(std::vector<double>{5, 1, 2, 100}, std::vector<double>{0, 1.5, 2}, t);
  EXPECT_EQ(e.max_abs, 0.5);
  EXPECT_EQ(e.time, 1);
}

TEST(Stability, DivergingLoopHasNoContinuousSettlingTime) {
  TController c;
  c.c1 = 400;
  c.c2 = 0.404;
  c.c3 = 7.028;
  c.c4 = 0.987;
  c.c5 = 0.251;
  c.ComputeGearRatios();
  const Matrix4 a = ToEigen(ClosedLoopMatrix(c));
  // The continuous loop with these ratios is stable; its Euler steps diverge because dt is too
  // large for its fastest pole.
  const std::vector<Pole> poles = ClosedLoopPoles(a);
  EXPECT_TRUE(IsStable(a));
  EXPECT_LT(poles.front().value.real() * 0.01, -2);
  Matrix4 unstable = a;
  unstable(1, 0) = -unstable(1, 0);
  EXPECT_FALSE(IsStable(unstable));
  EXPECT_FALSE(ContinuousSettlingTime(unstable, InitialState()));
}

}  // namespace
}  // namespace pitch::analysis
