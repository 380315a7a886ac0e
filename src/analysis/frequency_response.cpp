#include "analysis/frequency_response.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "analysis/stability.h"

namespace pitch::analysis {

namespace {

constexpr Extended kDegreesPerRadian = 180 / std::numbers::pi_v<Extended>;
constexpr int kPointsPerDecade = 100;
constexpr double kLowestDecade = -300;
constexpr double kHighestDecade = 300;

FrequencyRange DiagramRange(const TransferFunction& l, const LoopMargins& margins) {
  std::vector<double> corners;
  for (const auto* roots : {&l.zeros, &l.poles}) {
    for (const ComplexExtended& r : *roots) {
      corners.push_back(static_cast<double>(std::abs(r)));
    }
  }
  for (const GainMargin& g : margins.gain) {
    corners.push_back(g.frequency);
  }
  for (const PhaseMargin& p : margins.phase) {
    corners.push_back(p.frequency);
  }
  corners.push_back(margins.stability.frequency);
  std::erase_if(corners, [](double w) { return !std::isfinite(w) || !(w > 0); });
  if (corners.empty()) {
    corners.push_back(1);
  }
  const auto [lowest, highest] = std::minmax_element(corners.begin(), corners.end());
  // Whole decades within the double range, for loops whose roots lie near its ends.
  const double low = std::max(std::floor(std::log10(*lowest)) - 1, kLowestDecade);
  const double high = std::min(std::ceil(std::log10(*highest)) + 1, kHighestDecade);
  return {std::pow(10.0, low), std::pow(10.0, std::max(high, low + 1))};
}

}  // namespace

namespace {

BodeData BodeWith(const TransferFunction& l, LoopMargins margins) {
  BodeData d;
  d.margins = std::move(margins);
  d.range = DiagramRange(l, d.margins);
  const std::vector<Extended> grid = FrequencyGrid(l, d.range, kPointsPerDecade);
  d.frequency.reserve(grid.size());
  d.magnitude_db.reserve(grid.size());
  d.phase_degrees.reserve(grid.size());
  for (const Extended omega : grid) {
    const FrequencyValue v = Evaluate(l, omega);
    d.frequency.push_back(static_cast<double>(omega));
    d.magnitude_db.push_back(
        static_cast<double>(20 * v.log_magnitude / std::numbers::ln10_v<Extended>));
    d.phase_degrees.push_back(static_cast<double>(v.phase * kDegreesPerRadian));
  }
  if (!d.phase_degrees.empty()) {
    d.phase_shift_degrees = -360 * std::ceil(d.phase_degrees.front() / 360);
    for (double& phase : d.phase_degrees) {
      phase += d.phase_shift_degrees;
    }
  }
  return d;
}

}  // namespace

BodeData Bode(const TransferFunction& l, bool closed_loop_stable) {
  return BodeWith(l, Margins(l, closed_loop_stable));
}

BodeData Bode(const TController& c) {
  return BodeWith(LoopTransfer(c), Margins(c, ClosedLoopStability(c) == Stability::kStable));
}

BodeData Bode(const TController& c, bool closed_loop_stable) {
  return BodeWith(LoopTransfer(c), Margins(c, closed_loop_stable));
}

}  // namespace pitch::analysis
