// The loop margins as JSON: one writer for the command line's --json and the studies' JSON Lines
// rows, so that both name and shape them alike.
#pragma once

#include <optional>
#include <string>

#include "analysis/margins.h"
#include "analysis/session.h"
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

// The headline members of margins not computable in the double range: each null, and
// "not_computable" with the reason (MarginsJson's members but "closed_loop_stable" and the lists).
Json NotComputableMarginsJson(const std::string& reason);

// Why a loop whose ratios are known has no margins, as "margins_error": the failure of its
// frequency response, at the stage "response".
Json MarginsErrorJson(const analysis::Failure& failure);

// The same two in the words of the command line's --metrics: "not computed: <message>",
// "not computable in the double range: <reason>".
std::string MarginsNotComputedText(const std::string& message);
std::string MarginsNotComputableText(const std::string& reason);

}  // namespace pitch::study
