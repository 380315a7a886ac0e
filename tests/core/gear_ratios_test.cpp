#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <ostream>
#include <string>

#include "core/controller.h"
#include "core_fixtures.h"

namespace pitch {
namespace {

using testing::Digits17;
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

// Tnu = iv / nuv comes to 1/(0.09·c4) whatever the other coefficients are.
struct TnuRow {
  const char* name;
  std::array<Real, 5> coefficients;
};

void PrintTo(const TnuRow& row, std::ostream* os) { *os << row.name; }

class TnuOfC4 : public ::testing::TestWithParam<TnuRow> {};

TEST_P(TnuOfC4, IsTheReciprocalOf009TimesC4) {
  const std::array<Real, 5>& v = GetParam().coefficients;
  TController c;
  SetCoefficients(c, v);
  c.ComputeGearRatios();
  const double expected = 1.0 / (0.09 * v[3]);
  EXPECT_NEAR(c.Tnu, expected, 1e-13 * expected) << "Tnu " << Digits17(c.Tnu);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TnuOfC4,
    ::testing::Values(TnuRow{"StartUpValues", {0.880, 0.404, 7.028, 0.987, 0.251}},
                      TnuRow{"OtherC1C2C3C5", {3.0, 5.0, 0.5, 0.987, 1.0}},
                      TnuRow{"NegativeC3ZeroC5", {0.1, 10.0, -2.0, 0.987, 0.0}},
                      TnuRow{"C4Four", {1.0, 2.0, 3.0, 4.0, 0.25}},
                      TnuRow{"SmallC3C4NegativeC5", {0.2, 0.3, 1e-3, 0.05, -1.0}}),
    [](const ::testing::TestParamInfo<TnuRow>& row) { return std::string(row.param.name); });

// One row per failure: the coefficients, the error, and which ratio fields keep the values of an
// earlier run. A failure up to the rounding of muv keeps all four; from step 8 on, muv holds its
// new value, and so do iv and nuv once their own steps have completed.
struct FailureRow {
  const char* name;
  std::array<Real, 5> coefficients;
  const char* kind;
  const char* message;
  const char* kept;                              // the fields that keep their earlier values
  std::optional<double> new_muv = std::nullopt;  // the new muv, to six digits, where known
};

void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class GearRatioFailures : public ::testing::TestWithParam<FailureRow> {};

constexpr const char* kInvalid = "Invalid floating point operation";
constexpr const char* kZeroDivide = "Floating point division by zero";
constexpr const char* kOverflow = "Floating point overflow";
constexpr const char* kAll = "muv iv nuv Tnu";

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
  const std::string kept = std::string(" ") + row.kept + " ";
  const struct {
    const char* name;
    Real value;
    Real earlier;
  } fields[] = {{"muv", c.muv, 101}, {"iv", c.iv, 102}, {"nuv", c.nuv, 103}, {"Tnu", c.Tnu, 104}};
  for (const auto& field : fields) {
    if (kept.find(std::string(" ") + field.name + " ") != std::string::npos) {
      EXPECT_EQ(field.value, field.earlier)
          << field.name << " changed to " << Digits17(field.value);
    } else {
      EXPECT_NE(field.value, field.earlier) << field.name << " kept its earlier value";
    }
  }
  if (row.new_muv) {
    EXPECT_TRUE(SixDigits(c.muv, *row.new_muv));
  }
}

constexpr double kTiny = 1e-310;

INSTANTIATE_TEST_SUITE_P(
    Table, GearRatioFailures,
    ::testing::Values(
        FailureRow{
            "ModelCheckNegative", {0.880, -1, 7.028, 0.987, 0.251}, "EInvalidOp", kInvalid, kAll},
        FailureRow{"ModelCheckComesBeforeStep4",
                   {0.880, -1, 0, 0.987, 0.251},
                   "EInvalidOp",
                   kInvalid,
                   kAll},
        FailureRow{"ModelCheckZero", {0.880, 0, 7.028, 0, 0.251}, "EZeroDivide", kZeroDivide, kAll},
        FailureRow{"ModelCheckNegativeZero",
                   {0, -0.0, 7.028, 0.987, 0.251},
                   "EZeroDivide",
                   kZeroDivide,
                   kAll},
        FailureRow{"ModelCheckRootTooSmall",
                   {kTiny, 0, 7.028, kTiny, 0.251},
                   "EOverflow",
                   kOverflow,
                   kAll},
        FailureRow{"C4Zero", {0.880, 0.404, 7.028, 0, 0.251}, "EZeroDivide", kZeroDivide, kAll},
        FailureRow{"C3Zero", {0.880, 0.404, 0, 0.987, 0.251}, "EZeroDivide", kZeroDivide, kAll},
        FailureRow{"C3ZeroZeroOverZero", {0.5, 0.404, 0, 1, 0.5}, "EInvalidOp", kInvalid, kAll},
        FailureRow{
            "DTooSmallC3", {0.880, 0.404, 1e-160, 0.987, 0.251}, "EOverflow", kOverflow, kAll},
        FailureRow{"NoRealRootC2", {0.880, 0.2, 7.028, 0.987, 0.251}, "EInvalidOp", kInvalid, kAll},
        FailureRow{"NoRealRootC4", {0.880, 0.404, 7.028, 2, 0.251}, "EInvalidOp", kInvalid, kAll},
        FailureRow{
            "KzDivisionByZero", {0.5, 0, -1, 1, 0}, "EZeroDivide", kZeroDivide, "iv nuv Tnu", 0.5},
        FailureRow{"DampedLoopCheck",
                   {0.1, 0.404, -7.028, 2, 0.1},
                   "EInvalidOp",
                   kInvalid,
                   "iv nuv Tnu",
                   0.127586},
        // nuv = 0.09·c4·iv overflows while iv still fits.
        FailureRow{
            "NuvOverflowsAfterIv", {0, 1e291, 1e-8, 1e11, 0}, "EOverflow", kOverflow, "nuv Tnu"},
        // With c1 = c4 and c2 = c5 = 0, muv = 0 and Kz = c3/c4; nuv = 0.09·c4²/Kz falls below the
        // smallest Real while iv = c4/Kz does not, or both do.
        FailureRow{"TnuDividesByAVanishedNuv",
                   {1e-20, 0, 1e266, 1e-20, 0},
                   "EZeroDivide",
                   kZeroDivide,
                   "Tnu",
                   0},
        FailureRow{
            "TnuZeroOverZero", {1e-20, 0, 1e288, 1e-20, 0}, "EInvalidOp", kInvalid, "Tnu", 0}),
    [](const ::testing::TestParamInfo<FailureRow>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace pitch
