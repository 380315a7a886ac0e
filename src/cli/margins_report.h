// The loop margins in the front end's output: a block of readable lines and a JSON object.
#pragma once

#include <ostream>

#include "analysis/margins.h"
#include "cli/json_text.h"

namespace pitch::cli {

// "loop margins …:" and its indented lines: the headline margins, then every phase crossing and
// every gain crossover. Numbers by FormatNumber with the separator. Margins not computable in the
// double range: one line that says so, with the reason.
void PrintMargins(std::ostream& out, const analysis::LoopMargins& m, char separator);

// {"closed_loop_stable", "gain_margin" (factor, db and frequency, or nulls with "infinite":
// true), "phase_margin" (degrees and frequency, or null), "delay_margin" (s, or null),
// "stability_margin" (value and frequency, null with "infinite_frequency": true for the limit
// ω → ∞), "phase_crossings", "gain_crossovers"}. Margins not computable in the double range:
// every margin and list null, and "not_computable" with the reason.
Json MarginsJson(const analysis::LoopMargins& m);

}  // namespace pitch::cli
