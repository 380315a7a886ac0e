// The front end's output of the analysis: readable lines and JSON members.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/analysis.h"

namespace pitch::cli {

// Poles, step characteristics and the Euler-against-exact figure as lines; numbers by
// FormatNumber with the given separator. poles_only when the simulation did not complete.
void PrintMetrics(std::ostream& out, const std::vector<analysis::Pole>& poles, bool stable,
                  const analysis::LoopAnalysis* full, char separator);

// The JSON members "poles", "metrics" and "exact_error" (each null when not available).
std::string JsonAnalysis(const std::vector<analysis::Pole>* poles, bool stable,
                         const analysis::LoopAnalysis* full);

}  // namespace pitch::cli
