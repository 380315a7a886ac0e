// Robust stability over boxes: certificates against boundaries known in closed form, an unstable
// pocket that a sweep misses, dense sweeps that must agree with a proof, and every destabilising
// set re-checked by the single-set test.
#include "robust/robust.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "analysis/margins.h"
#include "core/controller.h"
#include "core/model.h"
#include "robust/envelope.h"
#include "robust/worst_margins.h"
#include "study/sweep.h"

namespace pitch::robust {
namespace {

Ratios DefaultRatios() { return SynthesisedRatios(kDefaultCoefficients); }

// The default set with one coefficient in [lo, hi].
CoefficientBox OneSide(int i, double lo, double hi) {
  CoefficientBox box;
  box.nominal = kDefaultCoefficients;
  box.lo = box.hi = box.nominal;
  box.lo[static_cast<std::size_t>(i)] = lo;
  box.hi[static_cast<std::size_t>(i)] = hi;
  return box;
}

CoefficientBox Relative(double fraction) {
  CoefficientBox box;
  box.nominal = kDefaultCoefficients;
  for (std::size_t i = 0; i < 5; ++i) {
    box.lo[i] = box.nominal[i] * (1 - fraction);
    box.hi[i] = box.nominal[i] * (1 + fraction);
  }
  return box;
}

std::string Hex(const Set& s) {
  std::string t;
  char buffer[40];
  for (const double x : s) {
    std::snprintf(buffer, sizeof buffer, "%a ", x);
    t += buffer;
  }
  return t;
}

// The loop's characteristic coefficients at the default set, exactly enough (long double).
struct Coefficients {
  long double a0, a1, a2, a3;
};
Coefficients At(const Set& c, const Ratios& r) {
  const long double c1 = c[0], c2 = c[1], c3 = c[2], c4 = c[3], c5 = c[4];
  return {c3 * c4 * r.nuv, c3 * (c4 * r.iv + r.nuv), c1 * c4 + c2 + c3 * (c4 * r.muv + r.iv),
          c1 + c4 + c5 + c3 * r.muv};
}

// One coefficient moves; the stability boundary is a root written in closed form:
//   c2: Δ3 is linear in a2, so a2 = (a1² + a3²·a0)/(a1·a3) there;
//   c5: Δ3 = −a0·a3² + a1·a2·a3 − a1² is a quadratic in a3, the boundary one of its roots.
struct ClosedFormCase {
  const char* name;
  int coefficient;
  double lo;
  double hi;
  long double (*boundary)(const Ratios&);
};

long double C2Boundary(const Ratios& r) {
  const Coefficients a = At(kDefaultCoefficients, r);
  const long double rest = a.a2 - kDefaultCoefficients[1];
  return (a.a1 * a.a1 + a.a3 * a.a3 * a.a0) / (a.a1 * a.a3) - rest;
}
long double C5Root(const Ratios& r, int sign) {
  const Coefficients a = At(kDefaultCoefficients, r);
  const long double b = a.a1 * a.a2;
  const long double a3 = (b + sign * std::sqrt(b * b - 4 * a.a0 * a.a1 * a.a1)) / (2 * a.a0);
  return a3 - (a.a3 - kDefaultCoefficients[4]);
}
long double C5Lower(const Ratios& r) { return C5Root(r, -1); }
long double C5Upper(const Ratios& r) { return C5Root(r, 1); }

void PrintTo(const ClosedFormCase& row, std::ostream* os) { *os << row.name; }

class ClosedForm : public testing::TestWithParam<ClosedFormCase> {};

TEST_P(ClosedForm, MarginBracketsTheExactBoundary) {
  const ClosedFormCase& row = GetParam();
  const Ratios r = DefaultRatios();
  const CoefficientBox box = OneSide(row.coefficient, row.lo, row.hi);
  const long double boundary = row.boundary(r);
  const auto i = static_cast<std::size_t>(row.coefficient);
  const long double n = box.nominal[i];
  const long double rho =
      boundary < n ? (n - boundary) / (n - box.lo[i]) : (boundary - n) / (box.hi[i] - n);
  const Bounds b = StabilityMargin(r, Loop::kContinuous, box, 1e-9, {});
  ASSERT_TRUE(b.set.has_value());
  EXPECT_LE(b.lo, rho * (1 + 1e-12L));
  EXPECT_GE(b.hi, rho * (1 - 1e-12L));
  EXPECT_LE(b.hi / b.lo - 1, 1e-9);
  EXPECT_FALSE(SetStable(*b.set, r, Loop::kContinuous)) << Hex(*b.set);

  // The box that stops just short of the boundary is proven; the one just past it is not.
  EXPECT_EQ(DecideBox(r, Loop::kContinuous, box, b.lo, {}).verdict, Verdict::kProven);
  const Decision past = DecideBox(r, Loop::kContinuous, box, b.hi * (1 + 1e-6), {});
  ASSERT_EQ(past.verdict, Verdict::kRefuted);
  EXPECT_FALSE(SetStable(*past.set, r, Loop::kContinuous));
}

INSTANTIATE_TEST_SUITE_P(
    Robust, ClosedForm,
    testing::Values(ClosedFormCase{"c2_linear_boundary_below", 1, -3, 0.5, C2Boundary},
                    ClosedFormCase{"c5_lower_root", 4, -3, 0.5, C5Lower},
                    ClosedFormCase{"c5_upper_root", 4, 0, 100, C5Upper}),
    [](const testing::TestParamInfo<ClosedFormCase>& row) { return row.param.name; });

// Δ3 = c3·Q(c3) with Q convex in c3; c2 is chosen (the 46th power of two below the tangency,
// found with exact rationals) so that Q dips below zero on a pocket about 2.5e-6 wide around
// c3 = 9.99277886. A sweep of 10⁶ values of c3 over [5, 15] steps over it.
TEST(RobustPocket, FoundWhereAMillionPointSweepFindsNothing) {
  const Ratios r{0.092, 0.272, 1.0};
  CoefficientBox box;
  box.nominal = {0.88, 2.042613679365828, 7.028, 0.987, 0.251};
  box.lo = box.hi = box.nominal;
  box.lo[2] = 5;
  box.hi[2] = 15;
  const study::SweepAxis axis{2, 5, 15, 1'000'000};
  Set x = box.nominal;
  std::int64_t unstable = 0;
  for (std::int64_t k = 0; k < axis.count; ++k) {
    x[2] = axis.Value(k);
    unstable += SetStable(x, r, Loop::kContinuous) ? 0 : 1;
  }
  EXPECT_EQ(unstable, 0);

  const Decision d = DecideBox(r, Loop::kContinuous, box, {});
  ASSERT_EQ(d.verdict, Verdict::kRefuted);
  EXPECT_FALSE(SetStable(*d.set, r, Loop::kContinuous));
  EXPECT_NEAR((*d.set)[2], 9.99277886, 2e-6);
  EXPECT_EQ(d.failing, "Hurwitz determinant");
}

// Where a box is proven stable, every set of a dense random sweep is stable by the single-set
// test, for both loops; where a set is returned, the single-set test confirms it.
struct SweepCase {
  const char* name;
  double fraction;  // the box: the default set ± this fraction of each coefficient
  Loop loop;
  Verdict verdict;
};

void PrintTo(const SweepCase& row, std::ostream* os) { *os << row.name; }

class DenseSweep : public testing::TestWithParam<SweepCase> {};

TEST_P(DenseSweep, AgreesWithTheDecision) {
  const SweepCase& row = GetParam();
  const Ratios r = DefaultRatios();
  const CoefficientBox box = Relative(row.fraction);
  const Decision d = DecideBox(r, row.loop, box, {});
  ASSERT_EQ(d.verdict, row.verdict);
  if (d.verdict == Verdict::kRefuted) {
    EXPECT_FALSE(SetStable(*d.set, r, row.loop)) << Hex(*d.set);
    for (std::size_t i = 0; i < 5; ++i) {
      EXPECT_GE((*d.set)[i], box.lo[i]);
      EXPECT_LE((*d.set)[i], box.hi[i]);
    }
    return;
  }
  std::mt19937_64 random(29);
  for (int k = 0; k < 20000; ++k) {
    Set x;
    for (std::size_t i = 0; i < 5; ++i) {
      // The corners too: every eighth coordinate is an end of its side.
      const int pick = static_cast<int>(random() % 8);
      x[i] = pick == 0   ? box.lo[i]
             : pick == 1 ? box.hi[i]
                         : std::uniform_real_distribution<double>(box.lo[i], box.hi[i])(random);
    }
    ASSERT_TRUE(SetStable(x, r, row.loop)) << Hex(x);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Robust, DenseSweep,
    testing::Values(SweepCase{"continuous_20_percent", 0.2, Loop::kContinuous, Verdict::kProven},
                    SweepCase{"euler_20_percent", 0.2, Loop::kEuler, Verdict::kProven},
                    SweepCase{"continuous_90_percent", 0.9, Loop::kContinuous, Verdict::kProven},
                    SweepCase{"continuous_150_percent", 1.5, Loop::kContinuous, Verdict::kRefuted},
                    SweepCase{"euler_150_percent", 1.5, Loop::kEuler, Verdict::kRefuted}),
    [](const testing::TestParamInfo<SweepCase>& row) { return row.param.name; });

// At a single set (a box of width zero) the conditions decide what the single-set test decides,
// for both loops, over sets far from the default: a fault in a condition's polynomial shows here.
TEST(RobustConditions, AgreeWithTheSingleSetTestAtRandomSets) {
  std::mt19937_64 random(3);
  std::uniform_real_distribution<double> wide(-3, 12);
  int decided = 0;
  for (int k = 0; k < 4000; ++k) {
    const Ratios r{std::uniform_real_distribution<double>(-0.5, 0.5)(random),
                   std::uniform_real_distribution<double>(-1, 1)(random),
                   std::uniform_real_distribution<double>(-0.2, 0.2)(random)};
    Set x;
    for (double& c : x) {
      c = wide(random);
    }
    // Large negative c1 makes the iteration's factors leave the unit circle too.
    x[0] *= k % 3 == 0 ? 40 : 1;
    for (const Loop loop : {Loop::kContinuous, Loop::kEuler}) {
      const Decision d = DecideBoxBetween(r, loop, x, x, x, {});
      if (d.verdict == Verdict::kUndecided) {
        continue;  // on the boundary to within rounding
      }
      ++decided;
      ASSERT_EQ(d.verdict == Verdict::kProven, SetStable(x, r, loop))
          << Hex(x) << " ratios " << r.muv << ' ' << r.iv << ' ' << r.nuv << " loop "
          << static_cast<int>(loop);
    }
  }
  EXPECT_GT(decided, 7900);
}

// A stop asked for during the bisection ends it with the bounds reached: still bounds.
TEST(RobustMargin, StoppedWithTheBoundsReached) {
  const Ratios r = DefaultRatios();
  int calls = 0;
  SearchLimits limits;
  limits.stop = [&] { return ++calls > 12; };
  const Bounds b = StabilityMargin(r, Loop::kContinuous, Relative(0.2), 1e-9, limits);
  EXPECT_TRUE(b.interrupted);
  EXPECT_GE(b.lo, 1);
  ASSERT_TRUE(b.set.has_value());
  EXPECT_FALSE(SetStable(*b.set, r, Loop::kContinuous));
  EXPECT_GT(b.hi / b.lo - 1, 1e-9);
  const Bounds whole = StabilityMargin(r, Loop::kContinuous, Relative(0.2), 1e-9, {});
  EXPECT_LE(b.lo, whole.lo);
  EXPECT_GE(b.hi, whole.hi);
}

// The Euler iteration fails where the continuous loop does not: c1 up to 400 (the simulation
// overflows there).
TEST(RobustEuler, DivergingIterationInsideAContinuouslyStableBox) {
  const Ratios r = DefaultRatios();
  const CoefficientBox box = OneSide(0, 0.88, 400);
  EXPECT_EQ(DecideBox(r, Loop::kContinuous, box, {}).verdict, Verdict::kProven);
  const Decision d = DecideBox(r, Loop::kEuler, box, {});
  ASSERT_EQ(d.verdict, Verdict::kRefuted);
  EXPECT_TRUE(SetStable(*d.set, r, Loop::kContinuous));
  EXPECT_FALSE(SetStable(*d.set, r, Loop::kEuler));

  const Bounds b = StabilityMargin(r, Loop::kEuler, box, 1e-9, {});
  EXPECT_LE(b.hi / b.lo - 1, 1e-9);
  // Sets up to lo are stable, the set at hi is not.
  for (int k = 0; k <= 1000; ++k) {
    Set x = box.nominal;
    x[0] = 0.88 + (b.lo * (400 - 0.88)) * k / 1000;
    ASSERT_TRUE(SetStable(x, r, Loop::kEuler)) << Hex(x);
  }
  EXPECT_FALSE(SetStable(*b.set, r, Loop::kEuler));
}

// The margin of the whole five-coefficient box: every destabilising set is re-checked, and the
// box scaled by lo is proven again.
TEST(RobustMargin, FiveCoefficientBoxToTheTolerance) {
  const Ratios r = DefaultRatios();
  const CoefficientBox box = Relative(0.2);
  for (const Loop loop : {Loop::kContinuous, Loop::kEuler}) {
    const Bounds b = StabilityMargin(r, loop, box, 1e-9, {});
    ASSERT_TRUE(b.set.has_value());
    EXPECT_LE(b.hi / b.lo - 1, 1e-9);
    EXPECT_GT(b.lo, 1);  // the box itself is stable
    EXPECT_FALSE(SetStable(*b.set, r, loop)) << Hex(*b.set);
    EXPECT_EQ(DecideBox(r, loop, box, b.lo, {}).verdict, Verdict::kProven);
  }
}

// An unstable nominal set: no margin, and the nominal set is the destabilising set.
TEST(RobustMargin, UnstableNominalSetHasMarginZero) {
  const Ratios none{0, 0, 0};  // no autopilot: poles at the origin
  const Bounds b = StabilityMargin(none, Loop::kContinuous, Relative(0.2), 1e-9, {});
  EXPECT_EQ(b.lo, 0);
  EXPECT_EQ(b.hi, 0);
  ASSERT_TRUE(b.set.has_value());
  EXPECT_EQ(*b.set, kDefaultCoefficients);
}

// The least gain margin over a box: sets below lo (every gain between 1 and lo) are stable, the
// worst set with its gain factor is not. A negative c3 gives the loop a finite gain margin
// (1.238 at the set itself).
TEST(RobustGain, WorstSetReCheckedBySingleSets) {
  TController c;
  c.c1 = 0.88;
  c.c2 = 0.404;
  c.c3 = -7.028;
  c.c4 = 0.987;
  c.c5 = 0.251;
  c.ComputeGearRatios();
  const Ratios r{c.muv, c.iv, c.nuv};
  CoefficientBox box;
  box.nominal = {0.88, 0.404, -7.028, 0.987, 0.251};
  for (std::size_t i = 0; i < 5; ++i) {
    box.lo[i] = box.nominal[i] - std::fabs(box.nominal[i]) * 0.05;
    box.hi[i] = box.nominal[i] + std::fabs(box.nominal[i]) * 0.05;
  }
  ASSERT_EQ(DecideBox(r, Loop::kContinuous, box, {}).verdict, Verdict::kProven);
  const GainBounds g = LeastGainMargin(r, box, true, 1e-6, {});
  ASSERT_TRUE(g.bounds.set.has_value());
  EXPECT_LE(g.bounds.hi / g.bounds.lo - 1, 1e-6);
  EXPECT_LT(g.bounds.hi, 1.2384);  // at most the nominal set's own gain margin
  Set worst = *g.bounds.set;
  worst[2] *= g.gain_factor;
  EXPECT_FALSE(SetStable(worst, r, Loop::kContinuous)) << Hex(worst);
  EXPECT_GE(g.gain_factor, g.bounds.lo);
  // The nominal set with its gain times lo is stable.
  Set nominal = box.nominal;
  nominal[2] *= g.bounds.lo;
  EXPECT_TRUE(SetStable(nominal, r, Loop::kContinuous));
}

// The default loop is stable for every gain, up and down, over ±20 %: proven, and no set of a
// sweep over the box and gains from 1e-6 to 1e6 says otherwise.
TEST(RobustGain, EveryGainProvenAndSweptAgree) {
  const Ratios r = DefaultRatios();
  const CoefficientBox box = Relative(0.2);
  for (const bool up : {true, false}) {
    const GainBounds g = LeastGainMargin(r, box, up, 1e-6, {});
    EXPECT_TRUE(g.every_gain) << up;
  }
  std::mt19937_64 random(11);
  for (int k = 0; k < 20000; ++k) {
    Set x;
    for (std::size_t i = 0; i < 5; ++i) {
      x[i] = std::uniform_real_distribution<double>(box.lo[i], box.hi[i])(random);
    }
    x[2] *= std::pow(10.0, std::uniform_real_distribution<double>(-6, 6)(random));
    ASSERT_TRUE(SetStable(x, r, Loop::kContinuous)) << Hex(x);
  }
  // Tuned at c3 = −7.028 the loop is not: its gain may grow by about 1.24 only.
  TController c;
  c.c1 = 0.88;
  c.c2 = 0.404;
  c.c3 = -7.028;
  c.c4 = 0.987;
  c.c5 = 0.251;
  c.ComputeGearRatios();
  CoefficientBox negative;
  negative.nominal = negative.lo = negative.hi = {0.88, 0.404, -7.028, 0.987, 0.251};
  EXPECT_FALSE(StableForEveryGain({c.muv, c.iv, c.nuv}, negative, true, {}));
}

// The least margins over a box: the worst set's own margin (the single calculation's) is the
// upper bound, and no set of a dense sweep has a margin below the certified lower bound.
struct WorstCase {
  const char* name;
  MarginKind kind;
  bool negative_c3;  // the loop tuned at c3 = −7.028, ±5 %; else the default, ±20 %
};

void PrintTo(const WorstCase& row, std::ostream* os) { *os << row.name; }

class WorstMargins : public testing::TestWithParam<WorstCase> {};

double MarginOfSet(const Set& s, const Ratios& r, MarginKind kind) {
  const TController c = ControllerOf(s, r);
  const analysis::LoopMargins m = analysis::Margins(c);
  double least = std::numeric_limits<double>::infinity();
  switch (kind) {
    case MarginKind::kStability:
      return m.stability.value;
    case MarginKind::kPhase:
      for (const analysis::PhaseMargin& p : m.phase) {
        least = std::min(least, std::fabs(p.degrees));
      }
      return least;
    case MarginKind::kDelay:
      return m.delay.value_or(least);
  }
  return least;
}

TEST_P(WorstMargins, BoundsHoldForEverySweptSet) {
  const WorstCase& row = GetParam();
  Ratios r = DefaultRatios();
  CoefficientBox box = Relative(0.2);
  if (row.negative_c3) {
    TController c;
    c.c1 = 0.88;
    c.c2 = 0.404;
    c.c3 = -7.028;
    c.c4 = 0.987;
    c.c5 = 0.251;
    c.ComputeGearRatios();
    r = {c.muv, c.iv, c.nuv};
    box.nominal = {0.88, 0.404, -7.028, 0.987, 0.251};
    for (std::size_t i = 0; i < 5; ++i) {
      box.lo[i] = box.nominal[i] - std::fabs(box.nominal[i]) * 0.05;
      box.hi[i] = box.nominal[i] + std::fabs(box.nominal[i]) * 0.05;
    }
  }
  ASSERT_EQ(DecideBox(r, Loop::kContinuous, box, {}).verdict, Verdict::kProven);
  const WorstMargin w = LeastMargin(r, box, row.kind, 1e-6, {});
  ASSERT_FALSE(w.none);
  ASSERT_TRUE(w.set.has_value());
  EXPECT_LE(w.lo, w.hi);
  EXPECT_LE(w.hi / w.lo - 1, 1e-6);
  EXPECT_EQ(MarginOfSet(*w.set, r, row.kind), w.hi) << Hex(*w.set);
  std::mt19937_64 random(7);
  for (int k = 0; k < 3000; ++k) {
    Set x;
    for (std::size_t i = 0; i < 5; ++i) {
      const int pick = static_cast<int>(random() % 4);
      x[i] = pick == 0   ? box.lo[i]
             : pick == 1 ? box.hi[i]
                         : std::uniform_real_distribution<double>(box.lo[i], box.hi[i])(random);
    }
    ASSERT_GE(MarginOfSet(x, r, row.kind), w.lo) << Hex(x);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Robust, WorstMargins,
    testing::Values(WorstCase{"stability_default", MarginKind::kStability, false},
                    WorstCase{"phase_default", MarginKind::kPhase, false},
                    WorstCase{"delay_default", MarginKind::kDelay, false},
                    WorstCase{"stability_negative_c3", MarginKind::kStability, true},
                    WorstCase{"phase_negative_c3", MarginKind::kPhase, true},
                    WorstCase{"delay_negative_c3", MarginKind::kDelay, true}),
    [](const testing::TestParamInfo<WorstCase>& row) { return row.param.name; });

}  // namespace
}  // namespace pitch::robust
