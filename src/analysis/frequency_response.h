// The open loop's frequency response as the Bode diagram shows it: magnitude in decibels and
// phase in degrees over a logarithmic frequency axis, with the margins to mark on it.
#pragma once

#include <vector>

#include "analysis/margins.h"

namespace pitch::analysis {

struct BodeData {
  // Whole decades from a decade below the slowest non-zero pole, zero, crossing or least
  // distance from −1 to a decade above the fastest, within 1e-300 … 1e300 rad/s.
  FrequencyRange range;
  std::vector<double> frequency;  // rad/s, increasing, 100 a decade and more at resonances
  std::vector<double> magnitude_db;
  // The continuous phase of L plus phase_shift_degrees, a whole number of turns chosen so that
  // the curve starts within (−360°, 0°].
  std::vector<double> phase_degrees;
  double phase_shift_degrees = 0;
  LoopMargins margins;
};

BodeData Bode(const TransferFunction& l, bool closed_loop_stable);
// The Bode diagram of the autopilot loop of a controller whose synthesis has completed.
BodeData Bode(const TController& c);
// The same for a loop whose closed-loop stability (ClosedLoopStability) is decided already.
BodeData Bode(const TController& c, bool closed_loop_stable);

}  // namespace pitch::analysis
