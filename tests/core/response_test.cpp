#include <gtest/gtest.h>

#include "core/controller.h"
#include "core_fixtures.h"

namespace pitch {
namespace {

using testing::kDefaults;
using testing::SetCoefficients;
using testing::SixDigits;

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
  EXPECT_EQ(c.teta[1], 0.017453292519943295);
  EXPECT_EQ(c.teta[2], 0.0);
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
TEST(Response, EulerStepIsIdentityPlusMatrixTimesStep) {
  for (const std::array<Real, 5>& coefficients :
       {kDefaults, std::array<Real, 5>{0.880, 0.404, -7.028, 0.987, 0.251},
        std::array<Real, 5>{3.0, 5.0, 0.5, 0.3, 1.0}}) {
    TController c;
    SetCoefficients(c, coefficients);
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
      EXPECT_NEAR(c.teta[i], static_cast<double>(1 + s[0]), 1e-12 * (1 + std::fabs(c.teta[i])))
          << "sample " << i << " of c1 = " << coefficients[0] << ", c3 = " << coefficients[2];
    }
  }
}

TEST(Response, FirstTwoSamplesForAnyInputs) {
  TController c;
  SetCoefficients(c, {3.0, 5.0, 0.5, 0.3, 1.0});
  c.ComputeGearRatios();
  c.SimulateResponse();
  EXPECT_EQ(c.teta[1], 0.017453292519943295);
  EXPECT_EQ(c.teta[2], 0.0);
}

TEST(Response, DivergingLoopOverflowsAtStep367AndKeepsLaterSamples) {
  TController c;
  SetCoefficients(c, kDefaults);
  c.ComputeGearRatios();
  c.SimulateResponse();
  const TSamples earlier = c.teta;

  c.c1 = 400;
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
    EXPECT_EQ(c.teta[i], earlier[i]) << "sample " << i;
  }
}

TEST(Response, FirstOverflowOnAFreshControllerLeavesZeros) {
  TController c;
  SetCoefficients(c, {400, 0.404, 7.028, 0.987, 0.251});
  c.ComputeGearRatios();
  EXPECT_THROW(c.SimulateResponse(), EOverflow);
  EXPECT_NE(c.teta[366], 0.0);
  EXPECT_EQ(c.teta[367], 0.0);
  EXPECT_EQ(c.teta[1000], 0.0);
}

}  // namespace
}  // namespace pitch
