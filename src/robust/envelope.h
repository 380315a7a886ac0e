// The whole robust study of one box: both loops decided, their stability margins ρ, and the least
// gain margins of the continuous loop over the box.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "robust/robust.h"
#include "robust/worst_margins.h"

namespace pitch::robust {

struct EnvelopeOptions {
  CoefficientBox box;
  Ratios ratios;
  double tolerance = 1e-9;         // ρ: hi/lo − 1
  double margin_tolerance = 1e-6;  // the worst-case margins, relative
  bool margins = true;             // the worst-case margins
  int jobs = 1;                    // threads: the loops, and then the margins, side by side
  SearchLimits limits;
};

struct LoopEnvelope {
  bool nominal_stable = false;
  Decision decision;  // the box itself
  Bounds rho;         // the stability margin ρ
};

struct Envelope {
  LoopEnvelope continuous;
  LoopEnvelope euler;
  // The least gain margins, when the continuous loop is proven stable over the box: upward
  // (k ≥ 1) and downward (k ≤ 1, as 1/k in bounds).
  std::optional<GainBounds> gain_up;
  std::optional<GainBounds> gain_down;
  // The least stability, phase and delay margins over the box and every frequency, when the
  // continuous loop is proven stable over the box.
  std::optional<WorstMargin> stability_margin;
  std::optional<WorstMargin> phase_margin;
  std::optional<WorstMargin> delay_margin;
  bool interrupted = false;
};

// stage names the work in progress for a progress line ("closed loop: rho in [lo, hi]"); it is
// called from one thread at a time.
Envelope StudyEnvelope(
    const EnvelopeOptions& options,
    const std::function<void(const std::string& stage, const Bounds*)>& progress = {});

}  // namespace pitch::robust
