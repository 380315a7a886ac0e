#include <gtest/gtest.h>

#include <cmath>
#include <exception>
#include <random>
#include <string>
#include <vector>

#include "core/controller.h"
#include "core_fixtures.h"

namespace pitch {
namespace {

using testing::Digits17;
using testing::kDefaults;
using testing::SetCoefficients;
using testing::SixDigits;

// A named set of coefficients: a row of a table.
struct CoefficientRow {
  const char* name;
  std::array<Real, 5> coefficients;
};

void PrintTo(const CoefficientRow& row, std::ostream* os) { *os << row.name; }

std::string RowName(const ::testing::TestParamInfo<CoefficientRow>& info) {
  return info.param.name;
}

class DefaultResponse : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCoefficients(c, kDefaults);
    c.ComputeGearRatios();
    c.SimulateResponse();
  }
  TController c;
};

TEST_F(DefaultResponse, SamplesOfTheDefaultLoop) {
  EXPECT_TRUE(SixDigits(c.teta[3], 0.000190803));
  EXPECT_TRUE(SixDigits(c.teta[101], 0.509458));
  EXPECT_TRUE(SixDigits(c.teta[501], 1.06820));
  EXPECT_TRUE(SixDigits(c.teta[1000], 1.04405));
  int peak = 1;
  for (int i = 2; i <= kSampleCount; ++i) {
    if (c.teta[i] > c.teta[peak]) {
      peak = i;
    }
  }
  EXPECT_EQ(peak, 306);
  EXPECT_TRUE(SixDigits(c.teta[306], 1.12959));
}

TEST_F(DefaultResponse, RepeatsExactlyAndIgnoresTnu) {
  const TSamples first = c.teta;
  c.Tnu = -12345;
  c.SimulateResponse();
  EXPECT_EQ(c.teta, first);
}

// The Euler loop and the continuous matrix describe the same system: iterating
// state ← (I + A·dt)·state from the initial state reproduces every sample up to rounding. A sign
// or a coefficient that differs between the two shows here.
class EulerStep : public ::testing::TestWithParam<CoefficientRow> {};

TEST_P(EulerStep, IsIdentityPlusMatrixTimesStep) {
  TController c;
  SetCoefficients(c, GetParam().coefficients);
  c.ComputeGearRatios();
  c.SimulateResponse();
  const StateMatrix a = ClosedLoopMatrix(c);
  std::array<Extended, 4> s = {-1, 0, 0, kInitialAngle};  // z, w, y, x
  for (int i = 2; i <= kSampleCount; ++i) {
    std::array<Extended, 4> next{};
    for (std::size_t r = 0; r < 4; ++r) {
      Extended derivative = 0;
      for (std::size_t k = 0; k < 4; ++k) {
        derivative += Extended{a[r][k]} * s[k];
      }
      next[r] = s[r] + derivative * kTimeStep;
    }
    s = next;
    const double expected = static_cast<double>(1 + s[0]);
    EXPECT_NEAR(c.teta[i], expected, 1e-12 * (1 + std::fabs(c.teta[i])))
        << "sample " << i << ": " << Digits17(c.teta[i]) << " against " << Digits17(expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EulerStep,
    ::testing::Values(CoefficientRow{"StartUpValues", kDefaults},
                      CoefficientRow{"NegativeC3", {0.880, 0.404, -7.028, 0.987, 0.251}},
                      CoefficientRow{"OtherCoefficients", {3.0, 5.0, 0.5, 0.3, 1.0}}),
    RowName);

// The first sample is the initial lag state, not 1 + z; the second is exactly 0, since z is then
// −1 + dt·0, whatever the coefficients — also when the loop later overflows.
class FirstSamples : public ::testing::TestWithParam<CoefficientRow> {};

TEST_P(FirstSamples, AreTheInitialAngleAndExactlyZero) {
  TController c;
  SetCoefficients(c, GetParam().coefficients);
  c.ComputeGearRatios();
  try {
    c.SimulateResponse();
  } catch (const EOverflow&) {
  }
  EXPECT_EQ(c.teta[1], 0.017453292519943295) << Digits17(c.teta[1]);
  EXPECT_EQ(c.teta[2], 0.0) << Digits17(c.teta[2]);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FirstSamples,
    ::testing::Values(CoefficientRow{"StartUpValues", kDefaults},
                      CoefficientRow{"OtherCoefficients", {3.0, 5.0, 0.5, 0.3, 1.0}},
                      CoefficientRow{"NegativeC3", {0.880, 0.404, -7.028, 0.987, 0.251}},
                      CoefficientRow{"DivergingLoop", {400, 0.404, 7.028, 0.987, 0.251}}),
    RowName);

// c1 = 400 with the other start-up values: the Euler steps grow without bound and the new w of
// step 367 is the first value beyond the largest Real. Samples 2 … 366 hold the new values;
// 367 … 1000 keep what they held before: the samples of an earlier run, or zeros.
struct DivergingRow {
  const char* name;
  bool earlier_run;  // the start-up values were simulated first
};

void PrintTo(const DivergingRow& row, std::ostream* os) { *os << row.name; }

class DivergingLoop : public ::testing::TestWithParam<DivergingRow> {};

TEST_P(DivergingLoop, OverflowsAtStep367AndKeepsTheLaterSamples) {
  TController c;
  if (GetParam().earlier_run) {
    SetCoefficients(c, kDefaults);
    c.ComputeGearRatios();
    c.SimulateResponse();
  }
  const TSamples earlier = c.teta;

  SetCoefficients(c, {400, 0.404, 7.028, 0.987, 0.251});
  c.ComputeGearRatios();
  EXPECT_TRUE(SixDigits(c.muv, 56.6980));
  EXPECT_TRUE(SixDigits(c.iv, 112.194));
  EXPECT_TRUE(SixDigits(c.nuv, 9.96617));
  EXPECT_TRUE(SixDigits(c.Tnu, 11.2575));
  try {
    c.SimulateResponse();
    FAIL() << "no overflow";
  } catch (const EOverflow& e) {
    EXPECT_STREQ(e.what(), "Floating point overflow");
  }
  EXPECT_EQ(c.teta[2], 0.0);
  EXPECT_TRUE(SixDigits(c.teta[366], -1.09852e305));
  for (int i = 367; i <= kSampleCount; ++i) {
    EXPECT_EQ(c.teta[i], earlier[i]) << "sample " << i << ": " << Digits17(c.teta[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, DivergingLoop,
                         ::testing::Values(DivergingRow{"AfterAnEarlierRun", true},
                                           DivergingRow{"OnAFreshController", false}),
                         [](const ::testing::TestParamInfo<DivergingRow>& row) {
                           return std::string(row.param.name);
                         });

// Several controllers simulated in one loop end exactly as each one simulated alone: the same
// samples bit for bit, the same overflow at the same step, and the samples from that step on
// untouched. Every controller starts with samples of its own (a pattern), so a sample written
// where it should not be shows.
struct GroupRow {
  const char* name;
  std::vector<std::array<Real, 5>> sets;
};

void PrintTo(const GroupRow& row, std::ostream* os) { *os << row.name; }

class InterleavedResponses : public ::testing::TestWithParam<GroupRow> {};

TEST_P(InterleavedResponses, EqualEachControllerSimulatedAlone) {
  const std::vector<std::array<Real, 5>>& sets = GetParam().sets;
  std::vector<TController> together(sets.size());
  std::vector<TController> alone(sets.size());
  std::vector<std::exception_ptr> alone_faults(sets.size());
  for (std::size_t k = 0; k < sets.size(); ++k) {
    for (TController* c : {&together[k], &alone[k]}) {
      SetCoefficients(*c, sets[k]);
      c->ComputeGearRatios();
      for (int i = 1; i <= kSampleCount; ++i) {
        c->teta[i] = static_cast<Real>(k + 1) * 1000 + i;
      }
    }
    try {
      alone[k].SimulateResponse();
    } catch (const Exception&) {
      alone_faults[k] = std::current_exception();
    }
  }
  std::vector<TController*> pointers;
  for (TController& c : together) {
    pointers.push_back(&c);
  }
  // Faults left over from an earlier use are cleared.
  std::vector<std::exception_ptr> faults(sets.size(), std::make_exception_ptr(EZeroDivide()));
  SimulateResponses(pointers, faults);

  const auto message = [](const std::exception_ptr& fault) -> std::string {
    if (!fault) {
      return "completed";
    }
    try {
      std::rethrow_exception(fault);
    } catch (const Exception& e) {
      return std::string(e.ClassName()) + ": " + e.what();
    }
  };
  for (std::size_t k = 0; k < sets.size(); ++k) {
    EXPECT_EQ(message(faults[k]), message(alone_faults[k])) << "set " << k;
    for (int i = 1; i <= kSampleCount; ++i) {
      ASSERT_EQ(together[k].teta[i], alone[k].teta[i])
          << "set " << k << ", sample " << i << ": " << Digits17(together[k].teta[i]) << " against "
          << Digits17(alone[k].teta[i]);
    }
  }
}

constexpr std::array<Real, 5> kNegativeC3 = {0.880, 0.404, -7.028, 0.987, 0.251};
constexpr std::array<Real, 5> kOther = {3.0, 5.0, 0.5, 0.3, 1.0};
// These diverge and overflow at steps 367, 243 and 156.
constexpr std::array<Real, 5> kOverflows400 = {400, 0.404, 7.028, 0.987, 0.251};
constexpr std::array<Real, 5> kOverflows1000 = {1000, 0.404, 7.028, 0.987, 0.251};
constexpr std::array<Real, 5> kOverflows5000 = {5000, 0.404, 7.028, 0.987, 0.251};
// Overflows on either side of the group's checks, which come every 256 steps from step 2 (after
// steps 257, 513 and 769 and at the end): at the last step a check covers and at the first step
// of the next, and at the last step of all; and two inside the first stretch.
constexpr std::array<Real, 5> kOverflowsAt65 = {3.3e6, 0.404, 7.028, 0.987, 0.251};
constexpr std::array<Real, 5> kOverflowsAt66 = {2.8e6, 0.404, 7.028, 0.987, 0.251};
constexpr std::array<Real, 5> kOverflowsAt257 = {851.2, 0.404, 7.028, 0.987, 0.251};
constexpr std::array<Real, 5> kOverflowsAt258 = {843, 0.404, 7.028, 0.987, 0.251};
constexpr std::array<Real, 5> kOverflowsAt513 = {251.14, 0.404, 7.028, 0.987, 0.251};
constexpr std::array<Real, 5> kOverflowsAt514 = {251, 0.404, 7.028, 0.987, 0.251};
constexpr std::array<Real, 5> kOverflowsAt769 = {177.13, 0.404, 7.028, 0.987, 0.251};
constexpr std::array<Real, 5> kOverflowsAt770 = {177, 0.404, 7.028, 0.987, 0.251};
constexpr std::array<Real, 5> kOverflowsAt1000 = {152.89, 0.404, 7.028, 0.987, 0.251};
// A lag this small makes the integral gain c3·nuv a few hundred times the least normal Real:
// the grouped step cannot carry it as a Real and its remainder, so the controller is simulated
// on its own beside its group (the first completes, the second overflows).
constexpr std::array<Real, 5> kTinyLag = {0.880, 0.404, 7.028, 1e-305, 1e-305};
constexpr std::array<Real, 5> kTinyLagOverflows = {400, 0.404, 7.028, 1e-305, 1e-305};

// Seeded sets, from stable ones to ones that overflow anywhere in the run.
std::vector<std::array<Real, 5>> SeededSets() {
  std::mt19937_64 random(30);
  std::uniform_real_distribution<double> scale(0.5, 2.0);
  std::uniform_real_distribution<double> exponent(2.0, 6.5);
  std::vector<std::array<Real, 5>> sets;
  for (int k = 0; sets.size() < 41; ++k) {
    std::array<Real, 5> set = kDefaults;
    for (Real& c : set) {
      c *= scale(random);
    }
    if (k % 3 == 0) {
      set[0] = std::pow(10.0, exponent(random));
    }
    TController c;
    SetCoefficients(c, set);
    try {
      c.ComputeGearRatios();
    } catch (const Exception&) {
      continue;  // the table's sets all reach the simulation
    }
    sets.push_back(set);
  }
  return sets;
}

INSTANTIATE_TEST_SUITE_P(
    Table, InterleavedResponses,
    ::testing::Values(
        GroupRow{"None", {}}, GroupRow{"One", {kDefaults}},
        GroupRow{"Two", {kDefaults, kNegativeC3}},
        GroupRow{"Three", {kDefaults, kNegativeC3, kOther}},
        GroupRow{"SevenInGroupsOfThree",
                 {kDefaults, kNegativeC3, kOther, kDefaults, kOther, kNegativeC3, kDefaults}},
        GroupRow{"TheMiddleOneOverflows", {kDefaults, kOverflows400, kNegativeC3}},
        GroupRow{"TheLastOneOverflows", {kDefaults, kOther, kOverflows1000}},
        GroupRow{"AllOverflowAtTheSameStep", {kOverflows400, kOverflows400, kOverflows400}},
        GroupRow{"OverflowsAtThreeSteps", {kOverflows400, kOverflows5000, kOverflows1000}},
        GroupRow{"OverflowsAtTwoStepsBesideOneThatCompletes",
                 {kOverflows5000, kDefaults, kOverflows400, kOverflows1000, kOther}},
        GroupRow{"FourAsAGroupAndOneAlone", {kDefaults, kNegativeC3, kOther, kDefaults}},
        GroupRow{"NineInGroupsOfThree",
                 {kOther, kDefaults, kNegativeC3, kDefaults, kOther, kNegativeC3, kDefaults, kOther,
                  kNegativeC3}},
        GroupRow{"OverflowsJustBeforeAndAfterAGroupCheck",
                 {kOverflowsAt257, kDefaults, kOverflowsAt258, kOther}},
        GroupRow{"OverflowsAtTheSecondCheckBesideOneAtTheFirst",
                 {kOverflowsAt513, kOverflowsAt514, kOverflowsAt257, kNegativeC3}},
        GroupRow{"OverflowsInTheShortLastStretch",
                 {kOverflowsAt769, kOverflowsAt770, kOverflowsAt1000, kDefaults}},
        GroupRow{"TwoOverflowInsideTheFirstStretch",
                 {kOverflowsAt65, kDefaults, kOverflowsAt66, kOther}},
        GroupRow{"AllFourOverflowAtTheLastStep",
                 {kOverflowsAt1000, kOverflowsAt1000, kOverflowsAt1000, kOverflowsAt1000}},
        GroupRow{"OneLeftAfterThreeOverflowEarly",
                 {kOverflowsAt65, kOverflows5000, kOther, kOverflowsAt66, kDefaults}},
        GroupRow{"AnInvariantTooSmallForTheGroupedStep",
                 {kDefaults, kTinyLag, kNegativeC3, kOther, kTinyLag}},
        GroupRow{"OneOutsideTheGroupOverflowsBesideOthersThatDo",
                 {kOverflows400, kTinyLagOverflows, kDefaults, kOverflowsAt65}},
        GroupRow{"FortyOneSeededSetsAFewOverflowing", SeededSets()}),
    [](const ::testing::TestParamInfo<GroupRow>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace pitch
