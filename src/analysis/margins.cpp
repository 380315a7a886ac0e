#include "analysis/margins.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

#include "analysis/crossing_values.h"
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

// atan2(y, x) within 0.004 rad (a bound on t·(π/4 + 0.273·(1 − t)) for atan t, 0 ≤ t ≤ 1),
// with atan2's signs of zero and its cut along the negative real axis; in doubles, far from
// their range's ends.
Extended RoughAngle(Extended y, Extended x) {
  const double yd = static_cast<double>(y);
  const double xd = static_cast<double>(x);
  const double ax = std::fabs(xd);
  const double ay = std::fabs(yd);
  if (!(ax + ay >= 0x1p-1000) || !(ax + ay <= 0x1p1000)) {
    return std::atan2(y, x);
  }
  constexpr double kQuarter = std::numbers::pi / 4;
  double a = 0;
  if (ay <= ax) {
    const double t = ay / ax;
    a = t * (kQuarter + 0.273 * (1 - t));
  } else {
    const double t = ax / ay;
    a = 2 * kQuarter - t * (kQuarter + 0.273 * (1 - t));
  }
  if (std::signbit(xd)) {
    a = 4 * kQuarter - a;
  }
  return std::signbit(yd) ? -a : a;
}

// The continuous phase of L at ω as PhaseAt sums it, within 0.004 rad for each root: far within
// the half turn that the whole turns allow, at a fraction of the arctangents' cost.
Extended RoughPhaseAt(const TransferFunction& l, Extended omega) {
  if (l.zeros.size() + l.poles.size() > 200) {
    return PhaseAt(l, omega);
  }
  const auto angle = [omega](const ComplexExtended& r) {
    const Extended a = RoughAngle(omega - r.imag(), -r.real());
    // A right half-plane root turns through (90°, 270°) without a jump.
    return r.real() > 0 && a < 0 ? a + 2 * kPi : a;
  };
  Extended numerator = 0;
  for (const ComplexExtended& z : l.zeros) {
    numerator += angle(z);
  }
  Extended denominator = 0;
  for (const ComplexExtended& p : l.poles) {
    denominator += angle(p);
  }
  return (l.gain < 0 ? -kPi : 0) + numerator - denominator;
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

// The least distance candidates: the extremes of |1 + L| at ω > 0 and the limits ω → 0 and
// ω → ∞, each with its value rounded and, for ordering values that round alike, a ball of its
// square at any precision.
struct DistanceCandidate {
  double value = 0;
  double frequency = 0;
  std::size_t root = 0;  // the extreme's index into the roots, for an extreme
  // For a limit where L tends to Π numerator/Π denominator: |1 + L|² exactly, formed when first
  // needed (none: infinite, or unit).
  const std::vector<Coefficient>* numerator = nullptr;
  const std::vector<Coefficient>* denominator = nullptr;
  std::optional<Exact> square;
  bool unit = false;  // a limit where |1 + L| = 1 (no rational formed for it)
  bool extreme = false;

  const Exact& Square() {
    if (!square) {
      const Exact v = abs(Exact((ProductOf<Exact>(*numerator) + ProductOf<Exact>(*denominator)) /
                                ProductOf<Exact>(*denominator)));
      square = v * v;
    }
    return *square;
  }
};

// |1 + L| at a limit where L tends to the rational value Π numerator/Π denominator: from balls of
// the products where they decide its double, the rationals only where they do not.
DistanceCandidate Limit(const std::vector<Coefficient>& numerator,
                        const std::vector<Coefficient>& denominator, double frequency) {
  DistanceCandidate c;
  c.frequency = frequency;
  c.numerator = &numerator;
  c.denominator = &denominator;
  if (const std::optional<double> value =
          RoundedDistanceOfRatio(ProductOf<Ball>(numerator), ProductOf<Ball>(denominator))) {
    c.value = *value;
  } else {
    c.value =
        NearestDouble(abs(Exact((ProductOf<Exact>(numerator) + ProductOf<Exact>(denominator)) /
                                ProductOf<Exact>(denominator))));
  }
  return c;
}

DistanceCandidate Infinite(double frequency) {
  DistanceCandidate c;
  c.frequency = frequency;
  c.value = std::numeric_limits<double>::infinity();
  return c;
}

DistanceCandidate One(double frequency) {
  DistanceCandidate c;
  c.frequency = frequency;
  c.value = 1;
  c.unit = true;
  return c;
}

// The sign of Π a / Π b, exactly.
int SignOfRatio(const std::vector<Coefficient>& a, const std::vector<Coefficient>& b) {
  const Ball x = ProductOf<Ball>(a) * ProductOf<Ball>(b);
  if (const int s = x.Sign(); s != 2) {
    return s;
  }
  return sgn(Exact(ProductOf<Exact>(a) * ProductOf<Exact>(b)));
}

// The frequencies ω > 0 of pairs ±jω of roots on the imaginary axis, increasing.
std::vector<double> AxisFrequencies(const std::vector<AxisPair>& pairs) {
  std::vector<double> omega;
  for (const AxisPair& p : pairs) {
    Exact c0(0);
    Exact c2(0);
    for (const Product& t : p.c0) {
      c0 += ToExact(t.x) * ToExact(t.y);
    }
    for (const Product& t : p.c2) {
      c2 += ToExact(t.x) * ToExact(t.y);
    }
    omega.push_back(NearestSquareRoot(Exact(c0 / c2)));
  }
  std::sort(omega.begin(), omega.end());
  return omega;
}

bool Finite(const GainMargin& g) {
  return std::isfinite(g.factor) && g.factor > 0 && std::isfinite(g.decibels);
}
bool Finite(const PhaseMargin& p) { return std::isfinite(p.degrees) && std::isfinite(p.delay); }

}  // namespace

LoopMargins Margins(const TransferFunction& l, const RationalLoop& loop, bool closed_loop_stable) {
  LoopMargins m;
  m.closed_loop_stable = closed_loop_stable;
  const ReducedLoop reduced = ReduceOnTheAxis(loop);
  if (reduced.vanishes) {
    // L ≡ 0: no crossing, and |1 + L| = 1 everywhere.
    m.stability = {1, 0};
    return m;
  }
  m.axis_poles = AxisFrequencies(reduced.poles);
  m.axis_zeros = AxisFrequencies(reduced.zeros);
  LoopPolynomials polynomials(reduced.loop());
  const CrossingPolynomials<Ball>& fast = polynomials.Fast();
  // (Each function holds a reference and the polynomial's name, small enough to be kept in place.)
  const auto finer = [&polynomials](CrossingPolynomial which) {
    return Refinements(
        [&polynomials, which] { return polynomials.Fine(which); },
        [&polynomials, which] { return CrossingPolynomialIn(polynomials.Exactly(), which); });
  };
  Refinements finer_gain = finer(CrossingPolynomial::kGain);
  Refinements finer_phase = finer(CrossingPolynomial::kPhase);
  finer_phase.SetTighter([&fast](const Ball& u) { return PartsAt(fast, u).Phase(); });
  Refinements finer_distance = finer(CrossingPolynomial::kDistance);
  bool beyond = false;

  // Gain crossovers: the roots of G. In lowest terms no factor of N and D vanishes together on
  // the axis, so D ≠ 0 there.
  const PositiveRoots crossovers = FindPositiveRoots(fast.gain, finer_gain);
  beyond = beyond || crossovers.beyond_double_range;
  std::vector<CrossingRoot> crossover_roots;
  crossover_roots.reserve(crossovers.omega.size());
  for (std::size_t k = 0; k < crossovers.omega.size(); ++k) {
    CrossingRoot& root =
        crossover_roots.emplace_back(polynomials, CrossingKind::kGainCrossover, crossovers, k);
    // The continuous phase there, for its whole turns.
    const Extended omega = (root.omega_lo() + root.omega_hi()) / 2;
    Extended phase = RoughPhaseAt(l, omega);
    if (std::fabs(phase) < 0.5L) {
      // No whole turn: a phase of exactly 0 there (L = 1) takes its sign from the estimate's,
      // the sum of the extended arctangents.
      phase = PhaseAt(l, omega);
    }
    const CrossoverValues v = ValuesAtCrossover(root, phase * kDegreesPerRadian);
    m.phase.push_back({root.omega(), v.degrees, v.delay, v.phase_degrees});
  }
  // Phase crossings: the roots of H where R < 0, decided at the root. H ≡ 0 (L real on the
  // whole axis) has no crossing to list.
  const PositiveRoots crossings = FindPositiveRoots(fast.phase, finer_phase);
  beyond = beyond || crossings.beyond_double_range;
  std::vector<CrossingRoot> crossing_roots;
  std::vector<std::size_t> gain_root;  // for each gain margin its root, or none (at ω = 0)
  crossing_roots.reserve(crossings.omega.size());
  for (std::size_t k = 0; k < crossings.omega.size(); ++k) {
    CrossingRoot& root =
        crossing_roots.emplace_back(polynomials, CrossingKind::kPhaseCrossing, crossings, k);
    if (const std::optional<PhaseCrossingValues> v =
            ValuesAtPhaseCrossing(root, !reduced.poles.empty() || !reduced.zeros.empty())) {
      const Extended omega = (root.omega_lo() + root.omega_hi()) / 2;
      const Extended turns = std::round((RoughPhaseAt(l, omega) + kPi) / (2 * kPi));
      m.gain.push_back(
          {root.omega(), v->factor, v->decibels, static_cast<double>(360 * turns - 180)});
      gain_root.push_back(k);
    }
  }
  // A finite negative gain at zero frequency is a crossing of −180° there.
  std::optional<Exact> zero_factor;
  if (reduced.origin_excess == 0 &&
      SignOfRatio(reduced.low_numerator, reduced.low_denominator) < 0) {
    zero_factor =
        Exact(-ProductOf<Exact>(reduced.low_denominator) / ProductOf<Exact>(reduced.low_numerator));
    const Extended turns = std::round((PhaseAt(l, 0) + kPi) / (2 * kPi));
    m.gain.push_back({0, NearestDouble(*zero_factor), DecibelsOf(*zero_factor),
                      static_cast<double>(360 * turns - 180)});
    gain_root.push_back(crossing_roots.size());
  }
  // Least |dB| first, exactly: values that round alike are told apart in finer balls.
  if (m.gain.size() > 1) {
    std::vector<std::size_t> order(m.gain.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
      order[k] = k;
    }
    const auto key = [&](std::size_t k) {
      return [&, k](arb_t out, slong prec) {
        if (gain_root[k] < crossing_roots.size()) {
          AbsoluteDecibels(crossing_roots[gain_root[k]], out, prec);
        } else {
          AbsoluteDecibelsOf(*zero_factor, out, prec);
        }
      };
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
      const double a = std::fabs(m.gain[x].decibels);
      const double b = std::fabs(m.gain[y].decibels);
      if (a != b || !std::isfinite(a)) {
        return a < b;
      }
      return LessThan(key(x), key(y));
    });
    std::vector<GainMargin> sorted;
    sorted.reserve(order.size());
    for (const std::size_t k : order) {
      sorted.push_back(m.gain[k]);
    }
    m.gain = std::move(sorted);
  }
  if (m.phase.size() > 1) {
    std::vector<std::size_t> order(m.phase.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
      order[k] = k;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
      const double a = std::fabs(m.phase[x].degrees);
      const double b = std::fabs(m.phase[y].degrees);
      if (a != b || !std::isfinite(a)) {
        return a < b;
      }
      return LessThan(
          [&](arb_t out, slong prec) { AbsolutePhaseMargin(crossover_roots[x], out, prec); },
          [&](arb_t out, slong prec) { AbsolutePhaseMargin(crossover_roots[y], out, prec); });
    });
    std::vector<PhaseMargin> sorted;
    sorted.reserve(order.size());
    for (const std::size_t k : order) {
      sorted.push_back(m.phase[k]);
    }
    m.phase = std::move(sorted);
  }
  // The least delay: rounding keeps the order, so the least rounded delay is the rounded least.
  for (const PhaseMargin& p : m.phase) {
    if (!m.delay || p.delay < *m.delay) {
      m.delay = p.delay;
    }
  }

  // The least distance: d|1 + L|²/du = 0, or a limit.
  // (|1 + L| is stationary there: its value needs no narrower place than the rounded ω's.)
  const PositiveRoots extremes = FindPositiveRoots(fast.distance, finer_distance, false);
  beyond = beyond || extremes.beyond_double_range;
  std::vector<CrossingRoot> extreme_roots;
  extreme_roots.reserve(extremes.omega.size());
  std::vector<DistanceCandidate> candidates;
  candidates.reserve(extremes.omega.size() + 2);
  // A lone extreme, with no pole of L on the axis, is taken without bounds of its own: they set
  // it aside only where it lies above a limit, which the value decides as well.
  const bool lone = extremes.omega.size() == 1 && reduced.poles.empty();
  std::vector<Bounds> coarse;
  coarse.reserve(extremes.omega.size());
  for (std::size_t k = 0; k < extremes.omega.size(); ++k) {
    extreme_roots.emplace_back(polynomials, CrossingKind::kDistanceExtreme, extremes, k);
    if (!lone) {
      coarse.push_back(CoarseDistanceAt(extreme_roots.back()));
    }
  }
  const double infinity = std::numeric_limits<double>::infinity();
  if (reduced.origin_excess > 0) {
    candidates.push_back(Infinite(0));
  } else if (reduced.origin_excess < 0) {
    candidates.push_back(One(0));
  } else {
    candidates.push_back(Limit(reduced.low_numerator, reduced.low_denominator, 0));
  }
  if (reduced.relative_degree > 0) {
    candidates.push_back(One(infinity));
  } else if (reduced.relative_degree < 0) {
    candidates.push_back(Infinite(infinity));
  } else {
    candidates.push_back(Limit(reduced.high_numerator, reduced.high_denominator, infinity));
  }
  // The extremes whose bounds lie above another's (or a limit's) need no value of their own.
  Extended least_above = std::numeric_limits<Extended>::infinity();
  for (const DistanceCandidate& c : candidates) {
    least_above = std::min(least_above, static_cast<Extended>(std::nextafter(c.value, infinity)));
  }
  for (const Bounds& b : coarse) {
    least_above = std::min(least_above, b.hi);
  }
  for (std::size_t k = 0; k < extreme_roots.size(); ++k) {
    if (!lone) {
      // At a pole of L on the axis B and B' vanish together: |1 + L| is infinite there, no
      // extreme.
      if (!reduced.poles.empty() && !(coarse[k].hi < std::numeric_limits<Extended>::infinity()) &&
          extreme_roots[k].Vanishes(polynomials.Exactly().squared_denominator)) {
        continue;
      }
      if (coarse[k].lo > least_above) {
        continue;
      }
    }
    DistanceCandidate c;
    c.value = DistanceAt(extreme_roots[k]);
    c.frequency = extreme_roots[k].omega();
    c.root = k;
    c.extreme = true;
    candidates.push_back(std::move(c));
  }
  // In the order of preference when values are equal: the extremes by frequency, then ω → 0,
  // then ω → ∞.
  std::rotate(candidates.begin(), candidates.begin() + 2, candidates.end());
  const auto square = [&](DistanceCandidate& c) {
    return [&](arb_t out, slong prec) {
      if (c.extreme) {
        SquaredDistance(extreme_roots[c.root], out, prec);
      } else {
        SetExactBall(out, c.unit ? Exact(1) : c.Square(), prec);
      }
    };
  };
  DistanceCandidate* best = &candidates.front();
  for (DistanceCandidate& c : candidates) {
    if (c.value < best->value || (c.value == best->value && std::isfinite(c.value) && &c != best &&
                                  LessThan(square(c), square(*best)))) {
      best = &c;
    }
  }
  m.stability = {best->value, best->frequency};

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

namespace {

std::atomic<LoopAnalysisFault> loop_analysis_fault{nullptr};

}  // namespace

void SetLoopAnalysisFault(LoopAnalysisFault fault) { loop_analysis_fault.store(fault); }

LoopMargins Margins(const TController& c, bool closed_loop_stable) {
  if (const LoopAnalysisFault fault = loop_analysis_fault.load()) {
    fault(c);
  }
  return Margins(LoopTransfer(c), PitchRationalLoop(c), closed_loop_stable);
}

LoopMargins Margins(const TController& c) {
  return Margins(c, ClosedLoopStability(c) == Stability::kStable);
}

}  // namespace pitch::analysis
