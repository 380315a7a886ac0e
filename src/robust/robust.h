// The flight envelope: is the closed loop with one tuned autopilot stable for every coefficient
// set in a box c1 ∈ [lo1, hi1] … c5 ∈ [lo5, hi5]? Decided, never sampled.
//
// With the gear ratios fixed the closed loop's characteristic polynomial
//   s⁴ + a3·s³ + a2·s² + a1·s + a0,
//   a3 = c1 + c4 + c5 + c3·muv,  a2 = c1·c4 + c2 + c3·(c4·muv + iv),
//   a1 = c3·(c4·iv + nuv),       a0 = c3·c4·nuv,
// has coefficients that are polynomials in c1 … c5, and the loop is stable exactly where a0, a1,
// a2, a3 and the Hurwitz determinant Δ3 = a1·a2·a3 − a1² − a3²·a0 are positive. The Euler
// iteration I + A·dt is stable exactly where the polynomial (1 − w)⁴·q((1 + w)/(1 − w)) of its
// characteristic polynomial q passes the same test. "Stable over the box" is a proof that these
// polynomials are positive on it (robust/bernstein.h); "not" is a set of the box, as doubles,
// that the program's exact single-set test confirms.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/controller.h"
#include "robust/bernstein.h"

namespace pitch::robust {

inline constexpr int kCoefficients = 5;
using Set = std::array<Real, kCoefficients>;

struct Ratios {
  Real muv = 0;
  Real iv = 0;
  Real nuv = 0;
};

enum class Loop {
  kContinuous,  // the closed loop x' = A·x
  kEuler,       // the simulation's iteration x ← (I + A·dt)·x, dt = 0.01 s
};

// The polynomials that are positive exactly where the loop is stable.
std::vector<Condition> StabilityConditions(const Ratios& ratios, Loop loop);

// The controller of one set with the given ratios.
TController ControllerOf(const Set& c, const Ratios& ratios);

// The gear ratios the synthesis gives at one set (TController::ComputeGearRatios, whose
// exceptions it passes on).
Ratios SynthesisedRatios(const Set& c);

// The single calculation's exact test of one set (analysis/stability.h): stable.
bool SetStable(const Set& c, const Ratios& ratios, Loop loop);

// A box of coefficient sets around a nominal set (lo ≤ nominal ≤ hi in each coefficient).
struct CoefficientBox {
  Set lo{};
  Set hi{};
  Set nominal{};
};

struct Decision {
  Verdict verdict = Verdict::kUndecided;
  std::optional<Set> set;  // kRefuted: a set of the box where the loop is not stable
  std::string failing;     // the condition that fails there
  std::int64_t boxes = 0;  // sub-boxes examined
  std::int64_t proven_boxes = 0;
  bool interrupted = false;
  bool budget_exhausted = false;
};

// Stable for every set of the box scaled by rho about the nominal set.
Decision DecideBox(const Ratios& ratios, Loop loop, const CoefficientBox& box, double rho,
                   const SearchLimits& limits);
Decision DecideBox(const Ratios& ratios, Loop loop, const CoefficientBox& box,
                   const SearchLimits& limits);

// The box with these ends (lo ≤ hi in each coefficient) decided; unstable_everywhere, when given,
// tells whether one condition is negative on the whole box (every set of it unstable).
Decision DecideBoxBetween(const Ratios& ratios, Loop loop, const Set& lo, const Set& hi,
                          const Set& nominal, const SearchLimits& limits,
                          bool* unstable_everywhere = nullptr);

// Bounds lo ≤ x ≤ hi on a quantity found by bisection on certificates: every value up to lo is
// proven, hi is reached by a set confirmed by the single-set test.
struct Bounds {
  double lo = 0;
  double hi = 0;
  bool unbounded = false;  // proven up to lo = the largest value tried, no set found beyond it
  std::optional<Set> set;  // the set that reaches hi
  std::string failing;
  int steps = 0;           // decisions made
  std::int64_t boxes = 0;  // sub-boxes examined in all
  bool interrupted = false;
  bool undecided = false;  // a decision ran out of its budget: the bounds are those reached
};

// ρ: the largest factor by which the box may be scaled about the nominal set and the loop stay
// stable for every set in it, to hi/lo − 1 ≤ tolerance. The nominal set must be stable (else ρ is
// 0; the caller says so). progress gets the bounds after each step.
Bounds StabilityMargin(const Ratios& ratios, Loop loop, const CoefficientBox& box, double tolerance,
                       const SearchLimits& limits,
                       const std::function<void(const Bounds&)>& progress = {});
// The factor of ρ where the box's largest side reaches the limit of the coefficients' size.
double LargestScale(const CoefficientBox& box);

// The least gain margin over the box: the largest k ≥ 1 (up) or the smallest k ≤ 1 (down) for
// which k'·L is stable for every set and every k' between 1 and k. Multiplying L by k is
// multiplying c3 by k, so the question is the box's with c3's side stretched. The set of the
// result is the destabilising set with c3 as the box has it; gain_factor is the k there.
struct GainBounds {
  Bounds bounds;
  double gain_factor = 1;  // at the set: k'·L is not stable
  // Proven: k·L is stable for every k ≥ 1 (up) or every k in (0, 1] (down): the conditions
  // with c3 = end/t (or end·t), t in [0, 1], positive, the gain margin infinite.
  bool every_gain = false;
};
// The proof behind every_gain.
bool StableForEveryGain(const Ratios& ratios, const CoefficientBox& box, bool up,
                        const SearchLimits& limits);
GainBounds LeastGainMargin(const Ratios& ratios, const CoefficientBox& box, bool up,
                           double tolerance, const SearchLimits& limits);

// The largest magnitude a box's coefficient may have: beyond it the loop's products leave the
// range where the single-set test works.
inline constexpr double kLargestCoefficient = 1e30;

}  // namespace pitch::robust
