// The step characteristics of a response in one pass over its samples: the same values, bit for
// bit, as analysis::Characteristics, which reads the samples several times.
#pragma once

#include <span>

#include "analysis/analysis.h"

namespace pitch::study {

analysis::StepCharacteristics OnePassCharacteristics(std::span<const double> t,
                                                     std::span<const double> h);

}  // namespace pitch::study
