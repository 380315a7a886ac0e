// The step characteristics of a completed response, fast: the same values, bit for bit, as
// analysis::Characteristics, with the peak found by a vectorised maximum and every other figure
// by a scan that stops as soon as it has its answer.
#pragma once

#include <span>

#include "analysis/analysis.h"

namespace pitch::study {

// h must be finite (a completed simulation's samples are) and not empty.
analysis::StepCharacteristics FastCharacteristics(std::span<const double> t,
                                                  std::span<const double> h);

}  // namespace pitch::study
