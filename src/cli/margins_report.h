// The loop margins in the front end's output: a block of readable lines and a JSON object.
#pragma once

#include <ostream>

#include "analysis/margins.h"
#include "study/margins_json.h"

namespace pitch::cli {

// "loop margins …:" and its indented lines: the headline margins, then every phase crossing and
// every gain crossover. Numbers by FormatNumber with the separator. Margins not computable in the
// double range: one line that says so, with the reason.
void PrintMargins(std::ostream& out, const analysis::LoopMargins& m, char separator);

// The JSON object: one writer with the studies' rows.
using study::MarginsJson;

}  // namespace pitch::cli
