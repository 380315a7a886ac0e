#include "analysis/margins.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace pitch::analysis {

namespace {

constexpr Extended kPi = std::numbers::pi_v<Extended>;
constexpr Extended kDegreesPerRadian = 180 / kPi;
constexpr int kSearchPointsPerDecade = 50;
constexpr double kSearchDecades = 2;
// Bisection stops when the bracket is this narrow relative to its upper end.
constexpr Extended kRelativeWidth = 1e-13L;
// A sign change across which the function still jumps by this much after refinement is a
// discontinuity (a root on the imaginary axis), not a crossing.
constexpr Extended kJump = 1e-6L;

bool IsOrigin(const ComplexExtended& r) { return r.real() == 0 && r.imag() == 0; }

// The low-frequency asymptote gain·Π|z|/Π|p| (non-zero roots) and the excess m of poles over
// zeros at the origin: |L(jω)| → asymptote·ω^−m as ω → 0.
struct LowAsymptote {
  Extended log_gain = 0;
  int excess = 0;
};
LowAsymptote LowFrequencyAsymptote(const TransferFunction& l) {
  LowAsymptote a;
  a.log_gain = std::log(std::fabs(l.gain));
  for (const ComplexExtended& z : l.zeros) {
    if (IsOrigin(z)) {
      --a.excess;
    } else {
      a.log_gain += std::log(std::abs(z));
    }
  }
  for (const ComplexExtended& p : l.poles) {
    if (IsOrigin(p)) {
      ++a.excess;
    } else {
      a.log_gain -= std::log(std::abs(p));
    }
  }
  return a;
}

// L(0) when it is finite: the factors at the origin cancel.
ComplexExtended ValueAtZero(const TransferFunction& l) {
  ComplexExtended v = l.gain;
  for (const ComplexExtended& z : l.zeros) {
    if (!IsOrigin(z)) {
      v *= -z;
    }
  }
  for (const ComplexExtended& p : l.poles) {
    if (!IsOrigin(p)) {
      v /= -p;
    }
  }
  return v;
}

// Bisection of a bracket [lo, hi] over which f changes sign; returns the refined bracket.
template <typename F>
std::pair<Extended, Extended> Bisect(F f, Extended lo, Extended hi) {
  const bool lo_negative = f(lo) < 0;
  while (hi - lo > kRelativeWidth * hi) {
    const Extended mid = (lo + hi) / 2;
    if (mid <= lo || mid >= hi) {
      break;
    }
    const Extended value = f(mid);
    if (value == 0) {
      return {mid, mid};
    }
    if ((value < 0) == lo_negative) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return {lo, hi};
}

Extended Phase(const TransferFunction& l, Extended omega) { return Evaluate(l, omega).phase; }
Extended LogMagnitude(const TransferFunction& l, Extended omega) {
  return Evaluate(l, omega).log_magnitude;
}

// The phase in degrees less 360° times the whole turns that bring it within (−180°, 180°].
Extended WrapDegrees(Extended degrees) { return degrees - 360 * std::ceil((degrees - 180) / 360); }

GainMargin MakeGainMargin(const TransferFunction& l, Extended omega, Extended level) {
  const Extended log_magnitude = LogMagnitude(l, omega);
  GainMargin m;
  m.frequency = static_cast<double>(omega);
  m.factor = static_cast<double>(std::exp(-log_magnitude));
  m.decibels = static_cast<double>(-20 * log_magnitude / std::numbers::ln10_v<Extended>);
  m.phase_degrees = static_cast<double>(level * kDegreesPerRadian);
  return m;
}

PhaseMargin MakePhaseMargin(const TransferFunction& l, Extended omega) {
  const Extended phase = Phase(l, omega) * kDegreesPerRadian;
  const Extended margin = WrapDegrees(phase + 180);
  const Extended lag = margin < 0 ? margin + 360 : margin;
  PhaseMargin m;
  m.frequency = static_cast<double>(omega);
  m.degrees = static_cast<double>(margin);
  m.delay = static_cast<double>(lag / kDegreesPerRadian / omega);
  m.phase_degrees = static_cast<double>(phase);
  return m;
}

// d|1 + L|²/dω, up to the factor 2.
Extended DistanceSlope(const TransferFunction& l, Extended omega) {
  const FrequencyValue v = Evaluate(l, omega);
  return (std::conj(ComplexExtended(1) + v.value) * Slope(l, omega, v)).real();
}

StabilityMargin LeastDistance(const TransferFunction& l, const std::vector<Extended>& grid,
                              const std::vector<FrequencyValue>& values) {
  std::size_t best = 0;
  Extended best_value = std::numeric_limits<Extended>::infinity();
  for (std::size_t i = 0; i < grid.size(); ++i) {
    const Extended d = std::abs(ComplexExtended(1) + values[i].value);
    if (d < best_value) {
      best_value = d;
      best = i;
    }
  }
  Extended frequency = grid.empty() ? 0 : grid[best];
  if (best > 0 && best + 1 < grid.size()) {
    const auto slope = [&l](Extended omega) { return DistanceSlope(l, omega); };
    if (slope(grid[best - 1]) < 0 && slope(grid[best + 1]) > 0) {
      const auto [lo, hi] = Bisect(slope, grid[best - 1], grid[best + 1]);
      frequency = (lo + hi) / 2;
      best_value = std::abs(ComplexExtended(1) + Evaluate(l, frequency).value);
    }
  }
  // The limits at both ends of the axis.
  const Extended infinity = std::numeric_limits<Extended>::infinity();
  const std::ptrdiff_t relative_degree =
      static_cast<std::ptrdiff_t>(l.poles.size()) - static_cast<std::ptrdiff_t>(l.zeros.size());
  const Extended at_infinity = relative_degree > 0    ? 1
                               : relative_degree == 0 ? std::fabs(1 + l.gain)
                                                      : infinity;
  const int excess = LowFrequencyAsymptote(l).excess;
  const Extended at_zero = excess > 0   ? infinity
                           : excess < 0 ? 1
                                        : std::abs(ComplexExtended(1) + ValueAtZero(l));
  if (at_zero < best_value) {
    best_value = at_zero;
    frequency = 0;
  }
  if (at_infinity < best_value) {
    best_value = at_infinity;
    frequency = infinity;
  }
  return {static_cast<double>(best_value), static_cast<double>(frequency)};
}

}  // namespace

FrequencyRange DynamicsRange(const TransferFunction& l, double decades) {
  std::vector<Extended> corners;
  for (const auto* roots : {&l.zeros, &l.poles}) {
    for (const ComplexExtended& r : *roots) {
      if (!IsOrigin(r)) {
        corners.push_back(std::abs(r));
      }
    }
  }
  // |L| ≈ |gain|·ω^−(poles − zeros) at high frequencies, asymptote·ω^−excess at low ones.
  const auto relative_degree = static_cast<Extended>(static_cast<std::ptrdiff_t>(l.poles.size()) -
                                                     static_cast<std::ptrdiff_t>(l.zeros.size()));
  if (relative_degree != 0 && l.gain != 0) {
    corners.push_back(std::exp(std::log(std::fabs(l.gain)) / relative_degree));
  }
  const LowAsymptote low = LowFrequencyAsymptote(l);
  if (low.excess != 0 && l.gain != 0) {
    corners.push_back(std::exp(low.log_gain / low.excess));
  }
  std::erase_if(corners, [](Extended w) { return !std::isfinite(w) || !(w > 0); });
  if (corners.empty()) {
    corners.push_back(1);
  }
  const auto [lowest, highest] = std::minmax_element(corners.begin(), corners.end());
  const Extended widen = std::pow(Extended{10}, static_cast<Extended>(decades));
  return {static_cast<double>(*lowest / widen), static_cast<double>(*highest * widen)};
}

std::vector<Extended> FrequencyGrid(const TransferFunction& l, FrequencyRange range,
                                    int points_per_decade) {
  const Extended low = range.low;
  const Extended high = range.high;
  const auto steps = static_cast<int>(std::ceil(std::log10(high / low) * points_per_decade));
  std::vector<Extended> grid;
  grid.reserve(static_cast<std::size_t>(steps) + 1);
  for (int i = 0; i <= steps; ++i) {
    // The grid points need no extended precision, only the values at them.
    grid.push_back(low * std::pow(10.0, static_cast<double>(i) / points_per_decade));
  }
  // Around a root close to the imaginary axis the phase turns by up to 180° within a few σ of
  // its frequency: there the points are σ/4 apart.
  const Extended log_step = std::pow(Extended{10}, Extended{1} / points_per_decade) - 1;
  for (const auto* roots : {&l.zeros, &l.poles}) {
    for (const ComplexExtended& r : *roots) {
      const Extended centre = std::fabs(r.imag());
      const Extended sigma = std::max(std::fabs(r.real()), centre * 1e-9L);
      if (r.imag() <= 0 || sigma / 4 >= centre * log_step) {
        continue;
      }
      for (int k = -40; k <= 40; ++k) {
        const Extended omega = centre + k * sigma / 4;
        if (omega > low && omega < high) {
          grid.push_back(omega);
        }
      }
    }
  }
  std::sort(grid.begin(), grid.end());
  grid.erase(std::unique(grid.begin(), grid.end()), grid.end());
  return grid;
}

std::vector<Extended> SearchGrid(const TransferFunction& l) {
  return FrequencyGrid(l, DynamicsRange(l, kSearchDecades), kSearchPointsPerDecade);
}

LoopMargins Margins(const TransferFunction& l, bool closed_loop_stable) {
  LoopMargins m;
  m.closed_loop_stable = closed_loop_stable;
  const std::vector<Extended> grid = SearchGrid(l);
  std::vector<FrequencyValue> values;
  values.reserve(grid.size());
  for (const Extended omega : grid) {
    values.push_back(Evaluate(l, omega));
  }

  for (std::size_t i = 1; i < grid.size(); ++i) {
    const FrequencyValue& a = values[i - 1];
    const FrequencyValue& b = values[i];
    // Gain crossovers: ln|L| changes sign.
    if ((a.log_magnitude > 0) != (b.log_magnitude > 0)) {
      const auto f = [&l](Extended omega) { return LogMagnitude(l, omega); };
      const auto [lo, hi] = Bisect(f, grid[i - 1], grid[i]);
      if (std::fabs(f(hi) - f(lo)) < kJump) {
        m.phase.push_back(MakePhaseMargin(l, (lo + hi) / 2));
      }
    }
    // Phase crossings: the phase passes −180° + n·360° for every whole n between the turns.
    const Extended ta = std::floor((a.phase + kPi) / (2 * kPi));
    const Extended tb = std::floor((b.phase + kPi) / (2 * kPi));
    for (Extended n = std::min(ta, tb) + 1; n <= std::max(ta, tb); ++n) {
      const Extended level = 2 * kPi * n - kPi;
      const auto f = [&l, level](Extended omega) { return Phase(l, omega) - level; };
      const auto [lo, hi] = Bisect(f, grid[i - 1], grid[i]);
      if (std::fabs(f(hi) - f(lo)) < kJump) {
        m.gain.push_back(MakeGainMargin(l, (lo + hi) / 2, level));
      }
    }
  }
  // A finite negative gain at zero frequency is a crossing of −180° there.
  if (LowFrequencyAsymptote(l).excess == 0 && ValueAtZero(l).real() < 0) {
    const Extended turns = std::round((Evaluate(l, 0).phase + kPi) / (2 * kPi));
    GainMargin g;
    g.factor = static_cast<double>(-1 / ValueAtZero(l).real());
    g.decibels = 20 * std::log10(g.factor);
    g.phase_degrees = static_cast<double>((2 * kPi * turns - kPi) * kDegreesPerRadian);
    m.gain.push_back(g);
  }
  std::stable_sort(m.gain.begin(), m.gain.end(), [](const GainMargin& x, const GainMargin& y) {
    return std::fabs(x.decibels) < std::fabs(y.decibels);
  });
  std::stable_sort(m.phase.begin(), m.phase.end(), [](const PhaseMargin& x, const PhaseMargin& y) {
    return std::fabs(x.degrees) < std::fabs(y.degrees);
  });
  for (const PhaseMargin& p : m.phase) {
    if (!m.delay || p.delay < *m.delay) {
      m.delay = p.delay;
    }
  }
  m.stability = LeastDistance(l, grid, values);
  return m;
}

LoopMargins Margins(const TController& c) {
  return Margins(LoopTransfer(c), IsStable(ToEigen(ClosedLoopMatrix(c))));
}

}  // namespace pitch::analysis
