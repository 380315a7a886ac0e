// The loop margins as JSON: one writer for the command line's --json and the studies' JSON Lines
// rows, so that both name and shape them alike.
#pragma once

#include <optional>

#include "analysis/margins.h"
#include "study/json_text.h"

namespace pitch::study {

// {"gain_margin" (factor, db and frequency, or nulls with "infinite": true), "phase_margin"
// (degrees and frequency, or null), "delay_margin" (s, or null), "stability_margin" (value and
// frequency, null with "infinite_frequency": true for the limit ω → ∞)}.
Json HeadlineMarginsJson(const std::optional<analysis::GainMargin>& gain,
                         const std::optional<analysis::PhaseMargin>& phase,
                         const std::optional<double>& delay,
                         const analysis::StabilityMargin& stability);

// {"closed_loop_stable", the headline margins above, "phase_crossings", "gain_crossovers"}.
// Margins not computable in the double range: every margin and list null, and "not_computable"
// with the reason.
Json MarginsJson(const analysis::LoopMargins& m);

}  // namespace pitch::study
