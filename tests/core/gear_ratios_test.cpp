#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <ostream>
#include <string>

#include "core/controller.h"
#include "core_fixtures.h"

namespace pitch {
namespace {

using testing::kDefaults;
using testing::SetCoefficients;
using testing::SixDigits;

TEST(GearRatios, DefaultCoefficients) {
  TController c;
  SetCoefficients(c, kDefaults);
  c.ComputeGearRatios();
  // The Reals whose 15-digit texts the window shows.
  EXPECT_EQ(c.muv, 0.09200374246524264);
  EXPECT_EQ(c.iv, 0.27187769950471413);
  EXPECT_EQ(c.nuv, 0.024150896047003753);
  EXPECT_EQ(c.Tnu, 11.257458065968706);
}

TEST(GearRatios, NegativeC3GivesNegativeRatios) {
  TController c;
  SetCoefficients(c, {0.880, 0.404, -7.028, 0.987, 0.251});
  c.ComputeGearRatios();
  EXPECT_TRUE(SixDigits(c.muv, 0.132983));
  EXPECT_TRUE(SixDigits(c.iv, -0.0498161));
  EXPECT_TRUE(SixDigits(c.nuv, -0.00442516));
  EXPECT_TRUE(SixDigits(c.Tnu, 11.2575));
}

TEST(GearRatios, TnuDependsOnC4Alone) {
  const std::array<Real, 5> inputs[] = {
      {0.880, 0.404, 7.028, 0.987, 0.251}, {3.0, 5.0, 0.5, 0.987, 1.0},
      {0.1, 10.0, -2.0, 0.987, 0.0},       {1.0, 2.0, 3.0, 4.0, 0.25},
      {0.2, 0.3, 1e-3, 0.05, -1.0},
  };
  for (const auto& v : inputs) {
    TController c;
    SetCoefficients(c, v);
    c.ComputeGearRatios();
    const double expected = 1.0 / (0.09 * v[3]);
    EXPECT_NEAR(c.Tnu, expected, 1e-13 * expected) << "c4 = " << v[3];
  }
}

// One row per failure: the coefficients, the error, and what the ratio fields hold afterwards.
struct FailureRow {
  const char* name;
  std::array<Real, 5> coefficients;
  const char* kind;
  const char* message;
  std::optional<double> new_muv = std::nullopt;  // set when the failure comes after muv was stored
};

void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class GearRatioFailures : public ::testing::TestWithParam<FailureRow> {};

constexpr const char* kInvalid = "Invalid floating point operation";
constexpr const char* kZeroDivide = "Floating point division by zero";
constexpr const char* kOverflow = "Floating point overflow";

TEST_P(GearRatioFailures, RaiseAtTheFailingStepAndKeepEarlierFields) {
  const FailureRow& row = GetParam();
  TController c;
  // Ratios of an earlier run, to see which fields the failing run changes.
  c.muv = 101;
  c.iv = 102;
  c.nuv = 103;
  c.Tnu = 104;
  SetCoefficients(c, row.coefficients);
  try {
    c.ComputeGearRatios();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), row.kind);
    EXPECT_STREQ(e.what(), row.message);
  }
  if (row.new_muv) {
    EXPECT_TRUE(SixDigits(c.muv, *row.new_muv));
  } else {
    EXPECT_EQ(c.muv, 101);
  }
  EXPECT_EQ(c.iv, 102);
  EXPECT_EQ(c.nuv, 103);
  EXPECT_EQ(c.Tnu, 104);
}

constexpr double kTiny = 1e-310;

INSTANTIATE_TEST_SUITE_P(
    Table, GearRatioFailures,
    ::testing::Values(
        FailureRow{"ModelCheckNegative", {0.880, -1, 7.028, 0.987, 0.251}, "EInvalidOp", kInvalid},
        FailureRow{
            "ModelCheckComesBeforeStep4", {0.880, -1, 0, 0.987, 0.251}, "EInvalidOp", kInvalid},
        FailureRow{"ModelCheckZero", {0.880, 0, 7.028, 0, 0.251}, "EZeroDivide", kZeroDivide},
        FailureRow{
            "ModelCheckNegativeZero", {0, -0.0, 7.028, 0.987, 0.251}, "EZeroDivide", kZeroDivide},
        FailureRow{
            "ModelCheckRootTooSmall", {kTiny, 0, 7.028, kTiny, 0.251}, "EOverflow", kOverflow},
        FailureRow{"C4Zero", {0.880, 0.404, 7.028, 0, 0.251}, "EZeroDivide", kZeroDivide},
        FailureRow{"C3Zero", {0.880, 0.404, 0, 0.987, 0.251}, "EZeroDivide", kZeroDivide},
        FailureRow{"C3ZeroZeroOverZero", {0.5, 0.404, 0, 1, 0.5}, "EInvalidOp", kInvalid},
        FailureRow{"DTooSmallC3", {0.880, 0.404, 1e-160, 0.987, 0.251}, "EOverflow", kOverflow},
        FailureRow{"NoRealRootC2", {0.880, 0.2, 7.028, 0.987, 0.251}, "EInvalidOp", kInvalid},
        FailureRow{"NoRealRootC4", {0.880, 0.404, 7.028, 2, 0.251}, "EInvalidOp", kInvalid},
        FailureRow{"KzDivisionByZero", {0.5, 0, -1, 1, 0}, "EZeroDivide", kZeroDivide, 0.5},
        FailureRow{
            "DampedLoopCheck", {0.1, 0.404, -7.028, 2, 0.1}, "EInvalidOp", kInvalid, 0.127586}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.name); });

TEST(GearRatios, FailureAfterIvKeepsTheNewIv) {
  // nuv = 0.09·c4·iv overflows while iv still fits.
  TController c;
  c.nuv = 103;
  c.Tnu = 104;
  SetCoefficients(c, {0, 1e291, 1e-8, 1e11, 0});
  EXPECT_THROW(c.ComputeGearRatios(), EOverflow);
  EXPECT_NE(c.iv, 0);
  EXPECT_EQ(c.nuv, 103);
  EXPECT_EQ(c.Tnu, 104);
}

}  // namespace
}  // namespace pitch
