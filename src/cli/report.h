// The front end's output of an outcome: readable lines, or one JSON object.
#pragma once

#include <optional>
#include <ostream>

#include "cli/calculate.h"
#include "cli/files.h"
#include "study/json_text.h"

namespace pitch::cli {

// The command line writes its JSON as the studies do.
using study::Json;
using study::JsonText;

// The four ratios, once they are known; with metrics, the poles, the stability of the continuous
// loop and of its Euler iteration, (after a completed simulation) the step characteristics and
// the comparison with the exact response, and the loop margins. Numbers by FormatNumber with the
// separator.
void PrintText(std::ostream& out, const Outcome& outcome, bool metrics, char separator);

// The members "coefficients", "ratios", "response", "poles", "metrics", "exact_error", "margins"
// (each analysis member null when the calculation did not get that far), "error" (the first of
// the errors, or null), "euler_iteration" (null without the ratios), "errors" (every error of the
// run: the calculation's first, then each file's) and "skipped" (the files not written).
Json JsonReport(const Outcome& outcome, const std::vector<RunError>& errors,
                const std::vector<SkippedFile>& skipped);

}  // namespace pitch::cli
