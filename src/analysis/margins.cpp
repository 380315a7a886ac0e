#include "analysis/margins.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

#include "analysis/loop_polynomials.h"
#include "analysis/real_roots.h"
#include "analysis/stability.h"

namespace pitch::analysis {

namespace {

constexpr Extended kPi = std::numbers::pi_v<Extended>;
constexpr Extended kDegreesPerRadian = 180 / kPi;

bool IsOrigin(const ComplexExtended& r) { return r.real() == 0 && r.imag() == 0; }

// The low-frequency asymptote gain·Π|z|/Π|p| (non-zero roots) and the excess m of poles over
// zeros at the origin: |L(jω)| → asymptote·ω^−m as ω → 0.
struct LowAsymptote {
  Extended log_gain = 0;
  int excess = 0;
};
// The excess alone, without the logarithms.
int OriginExcess(const TransferFunction& l) {
  const auto at_origin = [](const std::vector<ComplexExtended>& roots) {
    return static_cast<int>(std::count_if(roots.begin(), roots.end(), IsOrigin));
  };
  return at_origin(l.poles) - at_origin(l.zeros);
}

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

// The phase in degrees less 360° times the whole turns that bring it within (−180°, 180°].
Extended WrapDegrees(Extended degrees) { return degrees - 360 * std::ceil((degrees - 180) / 360); }

GainMargin MakeGainMargin(const FrequencyValue& v, Extended omega, Extended level) {
  const Extended log_magnitude = v.log_magnitude;
  GainMargin m;
  m.frequency = static_cast<double>(omega);
  m.factor = static_cast<double>(std::exp(-log_magnitude));
  m.decibels = static_cast<double>(-20 * log_magnitude / std::numbers::ln10_v<Extended>);
  m.phase_degrees = static_cast<double>(level * kDegreesPerRadian);
  return m;
}

PhaseMargin MakePhaseMargin(const FrequencyValue& v, Extended omega) {
  const Extended phase = v.phase * kDegreesPerRadian;
  const Extended margin = WrapDegrees(phase + 180);
  const Extended lag = margin < 0 ? margin + 360 : margin;
  PhaseMargin m;
  m.frequency = static_cast<double>(omega);
  m.degrees = static_cast<double>(margin);
  m.delay = static_cast<double>(lag / kDegreesPerRadian / omega);
  m.phase_degrees = static_cast<double>(phase);
  return m;
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
  if (!(low > 0) || !(high >= low) || !std::isfinite(high)) {
    return {};
  }
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

namespace {

// The crossing polynomials in a finer form, formed on first use and shared by the searches.
template <class T>
class LazyPolynomials {
 public:
  explicit LazyPolynomials(const RationalLoop& loop) : loop_(loop) {}
  const CrossingPolynomials<T>& Get() {
    if (!value_) {
      value_ = CrossingPolynomialsOf<T>(loop_);
    }
    return *value_;
  }

 private:
  const RationalLoop& loop_;
  std::optional<CrossingPolynomials<T>> value_;
};

// The least |1 + L| over the candidates and the limits ω → 0 and ω → ∞.
StabilityMargin LeastDistance(const TransferFunction& l, int excess,
                              const std::vector<double>& candidates) {
  Extended best_value = std::numeric_limits<Extended>::infinity();
  Extended frequency = 0;
  for (const double omega : candidates) {
    const Extended d = std::abs(ComplexExtended(1) + ValueAt(l, omega));
    if (d < best_value) {
      best_value = d;
      frequency = omega;
    }
  }
  const Extended infinity = std::numeric_limits<Extended>::infinity();
  const std::ptrdiff_t relative_degree =
      static_cast<std::ptrdiff_t>(l.poles.size()) - static_cast<std::ptrdiff_t>(l.zeros.size());
  const Extended at_infinity = l.gain == 0           ? 1
                               : relative_degree > 0  ? 1
                               : relative_degree == 0 ? std::fabs(1 + l.gain)
                                                      : infinity;
  const Extended at_zero = l.gain == 0  ? 1
                           : excess > 0 ? infinity
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

bool Finite(const GainMargin& g) {
  return std::isfinite(g.factor) && g.factor > 0 && std::isfinite(g.decibels);
}
bool Finite(const PhaseMargin& p) { return std::isfinite(p.degrees) && std::isfinite(p.delay); }

}  // namespace

LoopMargins Margins(const TransferFunction& l, const RationalLoop& loop, bool closed_loop_stable) {
  LoopMargins m;
  m.closed_loop_stable = closed_loop_stable;
  const CrossingPolynomials<Ball> fast = CrossingPolynomialsOf<Ball>(loop);
  LazyPolynomials<FineBall> fine(loop);
  LazyPolynomials<Exact> exact(loop);
  Refinements finer_gain([&fine] { return fine.Get().gain; }, [&exact] { return exact.Get().gain; });
  Refinements finer_phase([&fine] { return fine.Get().phase; },
                          [&exact] { return exact.Get().phase; });
  Refinements finer_real([&fine] { return fine.Get().real_part; },
                         [&exact] { return exact.Get().real_part; });
  Refinements finer_distance([&fine] { return fine.Get().distance; },
                             [&exact] { return exact.Get().distance; });
  bool beyond = false;
  const int excess = OriginExcess(l);

  // Gain crossovers: |N| = |D| where D ≠ 0 (a common root on the axis is no crossover).
  const PositiveRoots crossovers = FindPositiveRoots(fast.gain, finer_gain);
  beyond = beyond || crossovers.beyond_double_range;
  for (const double omega : crossovers.omega) {
    const FrequencyValue v = Evaluate(l, omega);
    if (std::isfinite(v.log_magnitude)) {
      m.phase.push_back(MakePhaseMargin(v, omega));
    }
  }
  // Phase crossings: N·conj D real and negative. H ≡ 0 (L real on the whole axis, L ≡ 0
  // among them) has no crossing to list.
  const PositiveRoots crossings = FindPositiveRoots(fast.phase, finer_phase);
  beyond = beyond || crossings.beyond_double_range;
  for (const double omega : crossings.omega) {
    if (SignAt(fast.real_part, finer_real, omega) < 0) {
      const FrequencyValue v = Evaluate(l, omega);
      const Extended turns = std::round((v.phase + kPi) / (2 * kPi));
      m.gain.push_back(MakeGainMargin(v, omega, 2 * kPi * turns - kPi));
    }
  }
  // A finite negative gain at zero frequency is a crossing of −180° there.
  if (l.gain != 0 && excess == 0 && ValueAtZero(l).real() < 0) {
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
  // The least distance: d|1 + L|²/du = 0, or a limit.
  const PositiveRoots extremes = FindPositiveRoots(fast.distance, finer_distance);
  beyond = beyond || extremes.beyond_double_range;
  m.stability = LeastDistance(l, excess, extremes.omega);

  bool finite = std::isfinite(m.stability.value);
  for (const GainMargin& g : m.gain) {
    finite = finite && Finite(g);
  }
  for (const PhaseMargin& p : m.phase) {
    finite = finite && Finite(p);
  }
  if (beyond) {
    m.not_computable = "a crossing lies beyond the double range of frequencies";
  } else if (!finite) {
    m.not_computable = "a margin lies beyond the double range";
  }
  return m;
}

LoopMargins Margins(const TransferFunction& l, bool closed_loop_stable) {
  return Margins(l, RationalLoopOf(l), closed_loop_stable);
}

LoopMargins Margins(const TController& c, bool closed_loop_stable) {
  return Margins(LoopTransfer(c), PitchRationalLoop(c), closed_loop_stable);
}

LoopMargins Margins(const TController& c) {
  return Margins(c, ClosedLoopStability(ToEigen(ClosedLoopMatrix(c))) == Stability::kStable);
}

}  // namespace pitch::analysis
