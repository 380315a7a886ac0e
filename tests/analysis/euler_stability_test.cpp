#include "analysis/euler_stability.h"

#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <ostream>
#include <random>
#include <string>

#include "analysis/eigenvalues4.h"
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

// ---------------------------------------------------------------------------------------------
// The written-out eigenvalues against Eigen's EigenSolver, bit for bit (the study prints the
// Euler spectral radius to its last bit): seeded matrices of each kind, and single matrices whose
// solution hands on (a zero eigenvalue, entries that are not finite, the zero matrix) or needs
// Eigen's exceptional shifts.

struct EigenvaluesRow {
  const char* name;
  std::function<Matrix4(std::mt19937_64&)> matrix;
  int count;
  // Every matrix of the row is solved by the written-out steps, none handed on.
  bool written_out;
};

void PrintTo(const EigenvaluesRow& row, std::ostream* os) { *os << row.name; }

class WrittenOutEigenvalues : public ::testing::TestWithParam<EigenvaluesRow> {};

TEST_P(WrittenOutEigenvalues, AreEigenSolversBitForBit) {
  const EigenvaluesRow& row = GetParam();
  std::mt19937_64 random(3);
  int written_out = 0;
  for (int k = 0; k < row.count; ++k) {
    const Matrix4 a = row.matrix(random);
    const Eigenvalues4 reference = Eigen::EigenSolver<Matrix4>(a, false).eigenvalues();
    Eigenvalues4 steps;
    if (eigenvalues_detail::WrittenOutEigenvalues(a, steps)) {
      ++written_out;
      ASSERT_EQ(std::memcmp(steps.data(), reference.data(), sizeof reference), 0)
          << "matrix " << k << ":\n"
          << a << "\nwritten out:\n"
          << steps << "\nEigen:\n"
          << reference;
    }
    const Eigenvalues4 values = EigenvaluesOf(a);
    if (reference.allFinite()) {
      ASSERT_EQ(std::memcmp(values.data(), reference.data(), sizeof reference), 0) << k;
    }
  }
  if (row.written_out) {
    EXPECT_EQ(written_out, row.count);
  }
}

// The closed loop's matrix: rows z, w, y, x with the entries of pitch::ClosedLoopMatrix.
Matrix4 LoopMatrix(double a10, double a11, double a12, double a13, double a33) {
  Matrix4 a = Matrix4::Zero();
  a(0, 1) = 1;
  a(1, 0) = a10;
  a(1, 1) = a11;
  a(1, 2) = a12;
  a(1, 3) = a13;
  a(2, 0) = 1;
  a(3, 1) = 1;
  a(3, 3) = a33;
  return a;
}

Matrix4 NearDefaults(std::mt19937_64& random) {
  std::uniform_real_distribution<double> scale(0.5, 2.0);
  const auto s = [&] { return scale(random); };
  return LoopMatrix(-7.028 * s() * 0.2 * s(), -(0.88 * s() + 0.251 * s()) - 7.028 * s() * 0.3 * s(),
                    -7.028 * s() * 0.02 * s(), -(0.404 * s() - 0.987 * s() * 0.251 * s()),
                    -0.987 * s());
}

Matrix4 WideLoop(std::mt19937_64& random) {
  std::uniform_real_distribution<double> exponent(-30, 30);
  const auto v = [&] { return (random() % 2 == 0 ? 1 : -1) * std::pow(10.0, exponent(random)); };
  return LoopMatrix(v(), v(), v(), v(), v());
}

Matrix4 Dense(std::mt19937_64& random) {
  std::uniform_real_distribution<double> entry(-1, 1);
  std::uniform_real_distribution<double> exponent(-10, 10);
  Matrix4 a;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      a(i, j) = random() % 4 == 0 ? 0 : entry(random) * std::pow(10.0, exponent(random));
    }
  }
  return a;
}

Matrix4 SmallIntegers(std::mt19937_64& random) {
  Matrix4 a;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      a(i, j) = static_cast<double>(static_cast<int>(random() % 7) - 3);
    }
  }
  return a;
}

Matrix4 Cyclic() {
  Matrix4 a = Matrix4::Zero();
  a(0, 3) = a(1, 0) = a(2, 1) = a(3, 2) = 1;
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Matrices, WrittenOutEigenvalues,
    ::testing::Values(
        EigenvaluesRow{"LoopsNearTheDefaults", NearDefaults, 20000, true},
        // Entries from 1e-30 to 1e30 of either sign: eigenvalues lost to rounding hand on.
        EigenvaluesRow{"LoopsOfWideScales", WideLoop, 20000, false},
        EigenvaluesRow{"DenseWithZeros", Dense, 20000, false},
        // Exact ties and zero eigenvalues.
        EigenvaluesRow{"SmallIntegers", SmallIntegers, 20000, false},
        EigenvaluesRow{"TheDefaultLoop",
                       [](std::mt19937_64&) {
                         return LoopMatrix(-7.028 * 0.2, -(0.88 + 0.251) - 7.028 * 0.3,
                                           -7.028 * 0.02, -(0.404 - 0.987 * 0.251), -0.987);
                       },
                       1, true},
        // The roots of unity: Eigen's iteration needs its exceptional shifts.
        EigenvaluesRow{"CyclicPermutation", [](std::mt19937_64&) { return Cyclic(); }, 1, false},
        EigenvaluesRow{"ZeroEigenvalue",
                       [](std::mt19937_64&) { return LoopMatrix(-1.4, -5.2, -0.1, -0.3, 0); }, 1,
                       false},
        EigenvaluesRow{"ZeroMatrix", [](std::mt19937_64&) { return Matrix4(Matrix4::Zero()); }, 1,
                       false},
        EigenvaluesRow{"NotFinite",
                       [](std::mt19937_64&) {
                         return LoopMatrix(-1.4, std::numeric_limits<double>::infinity(), -0.1,
                                           -0.3, -1);
                       },
                       1, false}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace pitch::analysis
