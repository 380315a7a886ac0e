#include "study/step_metrics.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/controller.h"
#include "study/row.h"

namespace pitch::study {
namespace {

std::string Hex(const std::optional<double>& v) {
  if (!v) {
    return "none";
  }
  char text[40];
  std::snprintf(text, sizeof text, "%a", *v);
  return text;
}

// Every field, bit for bit, printed as hexfloats when they differ.
void ExpectSame(const analysis::StepCharacteristics& a, const analysis::StepCharacteristics& b,
                const std::string& what) {
  EXPECT_EQ(Hex(a.t10), Hex(b.t10)) << what;
  EXPECT_EQ(Hex(a.t90), Hex(b.t90)) << what;
  EXPECT_EQ(Hex(a.rise_time), Hex(b.rise_time)) << what;
  EXPECT_EQ(Hex(a.peak), Hex(b.peak)) << what;
  EXPECT_EQ(Hex(a.peak_time), Hex(b.peak_time)) << what;
  EXPECT_EQ(Hex(a.overshoot_percent), Hex(b.overshoot_percent)) << what;
  EXPECT_EQ(Hex(a.settling_time), Hex(b.settling_time)) << what;
  EXPECT_EQ(Hex(a.final_time), Hex(b.final_time)) << what;
  EXPECT_EQ(Hex(a.final_deviation), Hex(b.final_deviation)) << what;
}

// Simulated responses of seeded random coefficient sets around the defaults: damped, ringing,
// unsettled and slow ones.
TEST(FastCharacteristics, EqualTheAnalysisOnSimulatedResponses) {
  std::mt19937_64 random(20261210);
  std::uniform_real_distribution<double> scale(0.2, 3.0);
  std::uniform_real_distribution<double> sign(-1, 1);
  int compared = 0;
  for (int n = 0; n < 400; ++n) {
    TController c;
    c.c1 = kDefaultCoefficients[0] * scale(random);
    c.c2 = kDefaultCoefficients[1] * scale(random);
    c.c3 = kDefaultCoefficients[2] * scale(random) * (sign(random) < -0.8 ? -1 : 1);
    c.c4 = kDefaultCoefficients[3] * scale(random);
    c.c5 = kDefaultCoefficients[4] * scale(random);
    try {
      c.ComputeGearRatios();
      c.SimulateResponse();
    } catch (const Exception&) {
      continue;
    }
    const auto t = StudySampleTimes();
    ExpectSame(FastCharacteristics(t, c.teta.values()),
               analysis::Characteristics(t, c.teta.values()),
               "set " + std::to_string(n) + ": " + Hex(c.c1) + " " + Hex(c.c2) + " " + Hex(c.c3) +
                   " " + Hex(c.c4) + " " + Hex(c.c5));
    ++compared;
  }
  EXPECT_GT(compared, 100);
}

struct CurveRow {
  const char* name;
  std::vector<double> h;
};

class FastCurves : public ::testing::TestWithParam<CurveRow> {};

// The edges of each characteristic: levels reached at the first sample, never reached, equal
// peaks, settled from the start, outside the band at the last sample, flat steps.
TEST_P(FastCurves, EqualTheAnalysis) {
  const std::vector<double>& h = GetParam().h;
  std::vector<double> t(h.size());
  for (std::size_t i = 0; i < t.size(); ++i) {
    t[i] = 0.5 * static_cast<double>(i);
  }
  ExpectSame(FastCharacteristics(t, h), analysis::Characteristics(t, h), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Curves, FastCurves,
    ::testing::Values(CurveRow{"SettledFromTheStart", {1, 1.01, 0.99, 1}},
                      CurveRow{"NeverReachesTenPercent", {0, 0.05, 0.09, 0.08}},
                      CurveRow{"StartsAboveBothLevels", {0.95, 1.3, 1.0, 1.0}},
                      CurveRow{"EqualPeaksTakeTheFirst", {0, 1.2, 0.9, 1.2, 1.0, 1.0}},
                      CurveRow{"OutsideAtTheLastSample", {0, 0.5, 1.1, 0.9, 1.05}},
                      CurveRow{"FlatStepAcrossALevel", {0, 0.1, 0.1, 0.9, 0.9, 1}},
                      CurveRow{"LeavesTheBandFromAbove", {0, 1.5, 1.03, 1.01, 1.0}},
                      CurveRow{"OneSample", {0.5}},
                      CurveRow{"PeakInTheTailAfterTheLanes", {0, 0.5, 0.7, 0.8, 0.9, 0.95, 1.4}},
                      CurveRow{"ZeroPeaksOfBothSigns", {-0.0, -1, 0.0, -0.5, -2}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pitch::study
