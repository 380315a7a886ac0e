#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "core/controller.h"

namespace pitch::analysis {
namespace {

std::string Hex(const std::optional<double>& v) {
  if (!v) {
    return "none";
  }
  char text[40];
  std::snprintf(text, sizeof text, "%a", *v);
  return text;
}

// The characteristics by their definition, one sample after the other: the reference that the
// vectorised scans must equal bit for bit.
double Crossing(double t0, double h0, double t1, double h1, double level) {
  if (h1 == h0) {
    return t1;
  }
  return t0 + (level - h0) / (h1 - h0) * (t1 - t0);
}

std::optional<double> FirstReaching(std::span<const double> t, std::span<const double> h,
                                    double level) {
  if (h[0] >= level) {
    return t[0];
  }
  for (std::size_t i = 1; i < h.size(); ++i) {
    if (h[i] >= level) {
      return Crossing(t[i - 1], h[i - 1], t[i], h[i], level);
    }
  }
  return std::nullopt;
}

StepCharacteristics Reference(std::span<const double> t, std::span<const double> h) {
  StepCharacteristics s;
  s.t10 = FirstReaching(t, h, 0.1);
  s.t90 = FirstReaching(t, h, 0.9);
  if (s.t10 && s.t90) {
    s.rise_time = *s.t90 - *s.t10;
  }
  const auto peak = std::max_element(h.begin(), h.end());
  s.peak = *peak;
  s.peak_time = t[static_cast<std::size_t>(peak - h.begin())];
  s.overshoot_percent = s.peak > 1 ? (s.peak - 1) * 100 : 0;
  const std::size_t n = h.size();
  s.final_time = t[n - 1];
  s.final_deviation = h[n - 1] - 1;
  std::size_t last_outside = n;
  for (std::size_t i = n; i-- > 0;) {
    if (std::fabs(h[i] - 1) > 0.02) {
      last_outside = i;
      break;
    }
  }
  if (last_outside == n) {
    s.settling_time = t[0];
  } else if (last_outside + 1 < n) {
    const double edge = h[last_outside] > 1 ? 1.02 : 0.98;
    s.settling_time =
        Crossing(t[last_outside], h[last_outside], t[last_outside + 1], h[last_outside + 1], edge);
  }
  return s;
}

// Every field, bit for bit, printed as hexfloats when they differ.
void ExpectSame(const StepCharacteristics& a, const StepCharacteristics& b,
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
TEST(StepCharacteristics, EqualTheReferenceOnSimulatedResponses) {
  std::mt19937_64 random(20261210);
  std::uniform_real_distribution<double> scale(0.2, 3.0);
  std::uniform_real_distribution<double> sign(-1, 1);
  const std::vector<double> t = SampleTimes();
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
    ExpectSame(Characteristics(t, c.teta.values()), Reference(t, c.teta.values()),
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

void PrintTo(const CurveRow& row, std::ostream* os) { *os << row.name; }

class Curves : public ::testing::TestWithParam<CurveRow> {};

// The edges of each characteristic: levels reached at the first sample, never reached, equal
// peaks, settled from the start, outside the band at the last sample, flat steps.
TEST_P(Curves, EqualTheReference) {
  const std::vector<double>& h = GetParam().h;
  std::vector<double> t(h.size());
  for (std::size_t i = 0; i < t.size(); ++i) {
    t[i] = 0.5 * static_cast<double>(i);
  }
  ExpectSame(Characteristics(t, h), Reference(t, h), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, Curves,
    ::testing::Values(CurveRow{"SettledFromTheStart", {1, 1.01, 0.99, 1}},
                      CurveRow{"NeverReachesTenPercent", {0, 0.05, 0.09, 0.08}},
                      CurveRow{"StartsAboveBothLevels", {0.95, 1.3, 1.0, 1.0}},
                      CurveRow{"EqualPeaksTakeTheFirst", {0, 1.2, 0.9, 1.2, 1.0, 1.0}},
                      CurveRow{"OutsideAtTheLastSample", {0, 0.5, 1.1, 0.9, 1.05}},
                      CurveRow{"FlatStepAcrossALevel", {0, 0.1, 0.1, 0.9, 0.9, 1}},
                      CurveRow{"LeavesTheBandFromAbove", {0, 1.5, 1.03, 1.01, 1.0}},
                      CurveRow{"OneSample", {0.5}},
                      CurveRow{"PeakInTheTailAfterTheLanes", {0, 0.5, 0.7, 0.8, 0.9, 0.95, 1.4}},
                      CurveRow{"ZeroPeaksOfBothSigns", {-0.0, -1, 0.0, -0.5, -2}},
                      CurveRow{"PeakBetweenTheLevels", {0, 0.05, 0.5, 0.3, 0.5, 0.2}},
                      CurveRow{"PeakExactlyAtTheUpperLevel", {0, 0.9, 0.5, 0.9, 0.4}}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace pitch::analysis
