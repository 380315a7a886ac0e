// The least loop margins over a box of coefficient sets, with certified bounds: the least
// stability margin min |1 + L(jω)|, the least phase margin (the smallest |phase margin| at any
// gain crossover) and the least delay margin, each over every set of the box and every frequency.
//
// Branch and bound over the box × the frequency: with u = ω², |1 + L|² = |P|²/|D|² for the
// closed loop's characteristic polynomial P and the open loop's denominator D, both polynomials in
// c1 … c5 and u; over a sub-box the least ratio of their Bernstein coefficients is a lower bound
// of |1 + L|² (rigorous, Ball arithmetic). At a gain crossover |N| = |D| and |1 + L| =
// 2·sin(|PM|/2), so where |N|² − |D|² keeps one sign the sub-box has no crossover, and elsewhere
// the bound on |1 + L| bounds the phase margin, and with the largest ω of the sub-box the delay
// margin. The frequencies run over u = U·t and u = U/t, t in [0, 1]. Upper bounds are the margins
// of sets of the box as the single calculation gives them (analysis/margins.h); the worst set and
// its frequency are the one that gives the upper bound.
#pragma once

#include <cstdint>
#include <optional>

#include "robust/robust.h"

namespace pitch::robust {

struct WorstMargin {
  bool none = false;  // no set of the box has this margin (no gain crossover anywhere)
  double lo = 0;      // certified: every set's margin is at least lo
  double hi = 0;      // the margin of the worst set (the single calculation's)
  std::optional<Set> set;
  double frequency = 0;  // rad/s, where the worst set has it
  std::int64_t boxes = 0;
  bool interrupted = false;
  bool budget_exhausted = false;
};

enum class MarginKind { kStability, kPhase, kDelay };

// The most sub-boxes one margin's search examines; past them it gives the bounds reached (a box
// whose worst set lies inside it, not at a corner, can need far more for 1e-6).
inline constexpr std::int64_t kMarginBoxes = 20'000;

// The least margin of the kind over the box, to hi/lo − 1 ≤ tolerance (the phase margin in
// degrees, the delay margin in seconds), or the bounds reached after at most
// min(limits.max_boxes, kMarginBoxes) sub-boxes (budget_exhausted). The loop must be stable on
// the whole box (DecideBox).
WorstMargin LeastMargin(const Ratios& ratios, const CoefficientBox& box, MarginKind kind,
                        double tolerance, const SearchLimits& limits);

}  // namespace pitch::robust
