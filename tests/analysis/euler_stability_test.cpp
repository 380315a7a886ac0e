#include "analysis/euler_stability.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "common/coefficients.h"

namespace pitch::analysis {
namespace {

struct DiagonalRow {
  const char* name;
  Vector4 poles;
  double radius;
  bool stable;
  std::optional<double> largest_step;
};

void PrintTo(const DiagonalRow& row, std::ostream* os) { *os << row.name; }

class EulerStabilityOfDiagonal : public ::testing::TestWithParam<DiagonalRow> {};

// With the poles on the diagonal, every figure can be written down by hand.
TEST_P(EulerStabilityOfDiagonal, FactorsOnePlusPoleTimesStep) {
  const DiagonalRow& row = GetParam();
  const Matrix4 a = row.poles.asDiagonal();
  const EulerStability s = EulerStabilityOf(a, 0.01);
  EXPECT_NEAR(s.spectral_radius, row.radius, 1e-15);
  EXPECT_EQ(s.stable, row.stable);
  ASSERT_EQ(s.largest_stable_step.has_value(), row.largest_step.has_value());
  if (row.largest_step) {
    EXPECT_NEAR(*s.largest_stable_step, *row.largest_step, 1e-15);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Poles, EulerStabilityOfDiagonal,
    ::testing::Values(
        DiagonalRow{"AllSlow", Vector4(-1, -2, -0.5, -4), 0.995, true, 0.5},
        // 1 + (−250)·0.01 = −1.5: the fast pole makes the iteration diverge although the
        // continuous loop is stable.
        DiagonalRow{"OneFastPole", Vector4(-1, -2, -250, -0.5), 1.5, false, 0.008},
        DiagonalRow{"ExactlyOnTheBoundary", Vector4(-1, -2, -200, -0.5), 1.0, false, 0.01},
        DiagonalRow{"UnstablePole", Vector4(-1, 0.1, -3, -0.5), 1.001, false, std::nullopt},
        DiagonalRow{"PoleAtZero", Vector4(-1, 0, -3, -0.5), 1.0, false, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

struct LoopRow {
  const char* name;
  std::array<Real, 5> coefficients;
  bool stable;
};

void PrintTo(const LoopRow& row, std::ostream* os) { *os << row.name; }

class EulerStabilityOfLoop : public ::testing::TestWithParam<LoopRow> {};

TEST_P(EulerStabilityOfLoop, AgreesWithTheStepLimit) {
  const LoopRow& row = GetParam();
  TController c;
  testing::SetCoefficients(c, row.coefficients);
  c.ComputeGearRatios();
  const EulerStability s = EulerStabilityOf(ToEigen(ClosedLoopMatrix(c)), kTimeStep);
  EXPECT_EQ(s.stable, row.stable) << "spectral radius " << s.spectral_radius;
  ASSERT_TRUE(s.largest_stable_step.has_value());  // both loops are stable in continuous time
  EXPECT_EQ(*s.largest_stable_step > kTimeStep, row.stable);
}

INSTANTIATE_TEST_SUITE_P(
    Coefficients, EulerStabilityOfLoop,
    ::testing::Values(LoopRow{"Defaults", {0.880, 0.404, 7.028, 0.987, 0.251}, true},
                      // A large c1 makes a fast real pole: stable loop, diverging iteration.
                      LoopRow{"LargeC1", {150, 0.404, 7.028, 0.987, 0.251}, false}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace pitch::analysis
