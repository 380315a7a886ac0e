// Stability margins of a loop L closed by negative feedback, read off its frequency response
// L(jω): gain margins at the phase crossings, phase and delay margins at the gain crossovers, and
// the least distance of the Nyquist curve from −1. Plain C++ on Eigen.
//
// The crossings are the positive roots of polynomials in ω² whose coefficients are exact
// rationals formed from the loop's inputs (analysis/loop_polynomials.h): none is lost, a tangency
// (a double root) is listed, and each frequency is the double at the exact root to the last bit
// (analysis/real_roots.h). The margins at a crossing are then evaluated in extended precision
// from the factored loop, and rounded once to a double.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/loop_break.h"
#include "analysis/loop_polynomials.h"
#include "analysis/transfer_function.h"
#include "core/controller.h"

namespace pitch::analysis {

// A crossing of the phase through −180° + k·360°: the loop gain may be multiplied by factor
// (grow for a factor above 1, shrink below 1) before the closed loop reaches the stability
// boundary there. A loop whose gain at zero frequency is finite and negative crosses at ω = 0.
struct GainMargin {
  double frequency = 0;      // rad/s
  double factor = 0;         // 1/|L(jω)|
  double decibels = 0;       // 20·lg(factor)
  double phase_degrees = 0;  // the continuous phase of L there: −180° + k·360°
};

// A gain crossover |L(jω)| = 1: the phase lag that may be added there before the Nyquist curve
// passes through −1, and the pure delay that adds it.
struct PhaseMargin {
  double frequency = 0;      // rad/s
  double degrees = 0;        // 180° + ∠L(jω), within (−180°, 180°]
  double delay = 0;          // s: the margin taken within [0°, 360°), in radians, over frequency
  double phase_degrees = 0;  // the continuous phase of L there
};

// min |1 + L(jω)| over ω > 0. When the least value is a limit (ω → 0 or ω → ∞), frequency is 0
// or infinity.
struct StabilityMargin {
  double value = 0;
  double frequency = 0;
};

struct LoopMargins {
  std::vector<GainMargin> gain;    // the smallest |decibels| first; none: infinite gain margin
  std::vector<PhaseMargin> phase;  // the smallest |degrees| first; none: |L| never equals 1
  std::optional<double> delay;     // the smallest delay over the gain crossovers
  StabilityMargin stability;
  // The closed loop is stable. When it is not, the margins measure the distance to the stability
  // boundary from the unstable side and are no stability margins.
  bool closed_loop_stable = false;
  // The frequencies ω > 0 of the poles and zeros ±jω of L on the imaginary axis, increasing, after
  // the factors that N and D share there have cancelled: |L| is infinite or 0 there, which is no
  // crossing.
  std::vector<double> axis_poles;
  std::vector<double> axis_zeros;
  // Set when a crossing's frequency or a margin lies beyond the double range: the margins are not
  // computable as doubles, and the lists above are incomplete.
  std::optional<std::string> not_computable;
};

// The margins of a factored loop, its polynomials multiplied out from the roots.
LoopMargins Margins(const TransferFunction& l, bool closed_loop_stable);
// The crossings from the exact polynomials of loop, the margins at them evaluated on l, the
// same loop factored.
LoopMargins Margins(const TransferFunction& l, const RationalLoop& loop, bool closed_loop_stable);
// The margins of the autopilot loop of a controller whose synthesis has completed, its
// polynomials formed exactly from c1 … c5, muv, iv and nuv; stable when the exact closed-loop
// polynomial of the same inputs is (ClosedLoopStability).
LoopMargins Margins(const TController& c);
// The same for a caller that has decided the closed loop's stability already.
LoopMargins Margins(const TController& c, bool closed_loop_stable);

// A failure of the controller's loop analysis, for tests. The analysis raises only for a
// coefficient that is not finite or a loop whose denominator vanishes, and a controller whose
// ratios are known has neither: no input reaches the views' words for such a failure. While a
// fault is set, Margins(c, …) (and so Bode(c, …), and every view's margins) calls it first, and
// what it raises is the analysis's failure. Null, as in the program, clears it; set it while no
// analysis runs.
using LoopAnalysisFault = void (*)(const TController& c);
void SetLoopAnalysisFault(LoopAnalysisFault fault);

struct FrequencyRange {
  double low = 0;
  double high = 0;
};
// The frequencies where L's dynamics happen: its non-zero poles and zeros and the crossovers of
// its low- and high-frequency asymptotes with |L| = 1, widened by decades on each side.
FrequencyRange DynamicsRange(const TransferFunction& l, double decades);

// Frequencies from range.low to range.high, evenly spaced on a logarithmic scale, and a quarter
// of the damping σ apart within 10·σ of the frequency of every root so lightly damped that its
// phase turns faster than the logarithmic spacing can follow.
std::vector<Extended> FrequencyGrid(const TransferFunction& l, FrequencyRange range,
                                    int points_per_decade);

}  // namespace pitch::analysis
