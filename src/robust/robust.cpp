#include "robust/robust.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/analysis.h"
#include "analysis/stability.h"
#include "core/controller.h"
#include "core/model.h"

namespace pitch::robust {

namespace {

Polynomial C(int i) { return Polynomial::Variable(i - 1); }

struct LoopCoefficients {
  Polynomial a0, a1, a2, a3;
};

LoopCoefficients CharacteristicCoefficients(const Ratios& r) {
  const Ball muv(r.muv);
  const Ball iv(r.iv);
  const Ball nuv(r.nuv);
  LoopCoefficients a;
  a.a3 = C(1) + C(4) + C(5) + muv * C(3);
  a.a2 = C(1) * C(4) + C(2) + C(3) * (muv * C(4) + Polynomial(iv));
  a.a1 = C(3) * (iv * C(4) + Polynomial(nuv));
  a.a0 = nuv * (C(3) * C(4));
  return a;
}

// Δ3 of a quartic with coefficients e0 … e4.
Polynomial HurwitzDelta3(const Polynomial& e0, const Polynomial& e1, const Polynomial& e2,
                         const Polynomial& e3, const Polynomial& e4) {
  return e1 * e2 * e3 - e4 * (e1 * e1) - e0 * (e3 * e3);
}

int Binomial(int n, int k) {
  int r = 1;
  for (int i = 1; i <= k; ++i) {
    r = r * (n - k + i) / i;
  }
  return r;
}

Real Up(long double x) {
  auto r = static_cast<Real>(x);
  if (static_cast<long double>(r) < x) {
    r = std::nextafter(r, std::numeric_limits<Real>::infinity());
  }
  return r;
}

// The double nearest the inside of a side's enclosed end: not below lo (up) / not above hi.
Real Inward(const Ball& end, bool up) {
  if (up) {
    return Up(end.mid + end.rad);
  }
  return -Up(-(end.mid - end.rad));
}

struct Sides {
  BoxSides box;
  std::array<Real, kVariables> inner_lo{};
  std::array<Real, kVariables> inner_hi{};
};

Set SetOf(const std::array<Real, kVariables>& x) {
  Set s;
  std::copy_n(x.begin(), kCoefficients, s.begin());
  return s;
}

// The box's sides; the frequency variable, where the conditions have none, is the point 0.
Sides SidesOf(const std::array<Ball, kCoefficients>& lo, const std::array<Ball, kCoefficients>& hi,
              const Set& nominal) {
  Sides s;
  for (std::size_t i = 0; i < kCoefficients; ++i) {
    s.box[i].lo = lo[i];
    s.box[i].width = hi[i] - lo[i];
    s.inner_lo[i] = Inward(lo[i], true);
    s.inner_hi[i] = Inward(hi[i], false);
    if (s.inner_lo[i] > s.inner_hi[i]) {
      s.inner_lo[i] = s.inner_hi[i] = nominal[i];
    }
  }
  return s;
}

Decision Decide(const std::vector<Condition>& conditions, const Ratios& ratios, Loop loop,
                const Sides& s, const SearchLimits& limits) {
  const SearchResult r = ProvePositive(
      conditions, s.box, s.inner_lo, s.inner_hi,
      [&](const std::array<Real, kVariables>& x) { return !SetStable(SetOf(x), ratios, loop); },
      limits);
  Decision d;
  d.verdict = r.verdict;
  if (r.point) {
    d.set = SetOf(*r.point);
  }
  d.failing = r.failing;
  d.boxes = r.boxes;
  d.proven_boxes = r.proven_boxes;
  d.interrupted = r.interrupted;
  d.budget_exhausted = r.budget_exhausted;
  return d;
}

Sides ScaledSides(const CoefficientBox& box, double rho) {
  std::array<Ball, kCoefficients> lo;
  std::array<Ball, kCoefficients> hi;
  const Ball r(rho);
  for (std::size_t i = 0; i < kCoefficients; ++i) {
    const Ball n(box.nominal[i]);
    lo[i] = n - r * (n - Ball(box.lo[i]));
    hi[i] = n + r * (Ball(box.hi[i]) - n);
  }
  return SidesOf(lo, hi, box.nominal);
}

// The least ρ whose scaled box holds the set, rounded up.
double ScaleOf(const CoefficientBox& box, const Set& s) {
  long double most = 0;
  for (std::size_t i = 0; i < kCoefficients; ++i) {
    const long double n = box.nominal[i];
    long double r = 0;
    if (s[i] < box.nominal[i]) {
      r = (n - s[i]) / (n - box.lo[i]);
    } else if (s[i] > box.nominal[i]) {
      r = (s[i] - n) / (box.hi[i] - n);
    }
    most = std::max(most, r);
  }
  return Up(most * (1 + 0x1p-58L));
}

// Moves a destabilising set towards the nominal set along their line as long as the single-set
// test still confirms it: a set that is not stable, nearer the stability boundary.
Set TowardsNominal(const Set& nominal, const Set& unstable, const Ratios& ratios, Loop loop) {
  long double stable_t = 0;
  long double unstable_t = 1;
  Set best = unstable;
  for (int i = 0; i < 80; ++i) {
    const long double t = (stable_t + unstable_t) / 2;
    Set x;
    for (std::size_t k = 0; k < kCoefficients; ++k) {
      x[k] =
          static_cast<Real>(nominal[k] + t * (static_cast<long double>(unstable[k]) - nominal[k]));
    }
    if (x == best) {
      break;
    }
    if (SetStable(x, ratios, loop)) {
      stable_t = t;
    } else {
      unstable_t = t;
      best = x;
    }
  }
  return best;
}

bool Converged(double lo, double hi, double tolerance) {
  return lo > 0 && hi / lo - 1 <= tolerance;
}

// Bisection on certificates: decide(x) proves the quantity is at least x, or gives a set that
// reaches hi = reach(set) ≤ x. lo starts proven; first hi is searched for by doubling up to cap.
template <class DecideAt, class Reach>
void Bisect(Bounds& b, double cap, double tolerance, DecideAt decide_at, Reach reach,
            const std::function<void(const Bounds&)>& progress) {
  const auto record = [&](double x, const Decision& d) -> bool {
    ++b.steps;
    b.boxes += d.boxes;
    if (d.interrupted) {
      b.interrupted = true;
      return false;
    }
    if (d.verdict == Verdict::kProven) {
      b.lo = std::max(b.lo, x);
    } else if (d.verdict == Verdict::kRefuted) {
      const double h = reach(*d.set);
      if (h < b.hi || !b.set) {
        b.hi = std::min(b.hi, h);
        b.set = d.set;
        b.failing = d.failing;
      }
    } else {
      b.undecided = true;
      return false;
    }
    if (progress) {
      progress(b);
    }
    return true;
  };
  // An upper bound first, by doubling.
  while (!b.set) {
    const double x = b.lo * 2;
    if (x > cap) {
      b.unbounded = true;
      b.hi = std::numeric_limits<double>::infinity();
      return;
    }
    if (!record(x, decide_at(x))) {
      return;
    }
  }
  while (!Converged(b.lo, b.hi, tolerance)) {
    double x = b.lo + (b.hi - b.lo) / 2;
    if (b.lo == 0) {
      x = b.hi / 2;
    }
    if (x <= b.lo || x >= b.hi) {
      break;  // the doubles between them are used up
    }
    if (!record(x, decide_at(x))) {
      return;
    }
  }
}

}  // namespace

std::vector<Condition> StabilityConditions(const Ratios& ratios, Loop loop) {
  const LoopCoefficients a = CharacteristicCoefficients(ratios);
  if (loop == Loop::kContinuous) {
    return {{"a0", a.a0},
            {"a1", a.a1},
            {"a2", a.a2},
            {"a3", a.a3},
            {"Hurwitz determinant", HurwitzDelta3(a.a0, a.a1, a.a2, a.a3, Polynomial(Ball(1)))}};
  }
  // (1 − w)⁴·q((1 + w)/(1 − w)) = Σ_k a_k·(2w)^k·dt^(4−k)·(1 − w)^(4−k), a4 = 1.
  const std::array<const Polynomial*, 5> ak = {&a.a0, &a.a1, &a.a2, &a.a3, nullptr};
  const Polynomial one(Ball(1));
  const Ball dt(kTimeStep);
  std::array<Polynomial, 5> e;
  for (int k = 0; k <= 4; ++k) {
    Ball scale(1);
    for (int i = 0; i < k; ++i) {
      scale = scale * Ball(2);
    }
    for (int i = k; i < 4; ++i) {
      scale = scale * dt;
    }
    const Polynomial& a_k = k == 4 ? one : *ak[static_cast<std::size_t>(k)];
    for (int j = k; j <= 4; ++j) {
      const int sign = (j - k) % 2 == 0 ? 1 : -1;
      const Ball factor = scale * Ball(static_cast<Extended>(sign * Binomial(4 - k, j - k)));
      e[static_cast<std::size_t>(j)] = e[static_cast<std::size_t>(j)] + factor * a_k;
    }
  }
  return {{"e0", e[0]}, {"e1", e[1]},
          {"e2", e[2]}, {"e3", e[3]},
          {"e4", e[4]}, {"Hurwitz determinant", HurwitzDelta3(e[0], e[1], e[2], e[3], e[4])}};
}

TController ControllerOf(const Set& c, const Ratios& ratios) {
  TController controller;
  controller.c1 = c[0];
  controller.c2 = c[1];
  controller.c3 = c[2];
  controller.c4 = c[3];
  controller.c5 = c[4];
  controller.muv = ratios.muv;
  controller.iv = ratios.iv;
  controller.nuv = ratios.nuv;
  return controller;
}

Ratios SynthesisedRatios(const Set& c) {
  TController controller = ControllerOf(c, {});
  controller.ComputeGearRatios();
  return {controller.muv, controller.iv, controller.nuv};
}

bool SetStable(const Set& c, const Ratios& ratios, Loop loop) {
  // The exact closed loop of the inputs, as every other verdict on a controller.
  const analysis::ClosedLoop closed(ControllerOf(c, ratios));
  if (loop == Loop::kContinuous) {
    return closed.Continuous() == analysis::Stability::kStable;
  }
  return closed.EulerIterationStable(kTimeStep);
}

Decision DecideBox(const Ratios& ratios, Loop loop, const CoefficientBox& box, double rho,
                   const SearchLimits& limits) {
  return Decide(StabilityConditions(ratios, loop), ratios, loop, ScaledSides(box, rho), limits);
}

Decision DecideBox(const Ratios& ratios, Loop loop, const CoefficientBox& box,
                   const SearchLimits& limits) {
  std::array<Ball, kCoefficients> lo;
  std::array<Ball, kCoefficients> hi;
  for (std::size_t i = 0; i < kCoefficients; ++i) {
    lo[i] = Ball(box.lo[i]);
    hi[i] = Ball(box.hi[i]);
  }
  return Decide(StabilityConditions(ratios, loop), ratios, loop, SidesOf(lo, hi, box.nominal),
                limits);
}

Decision DecideBoxBetween(const Ratios& ratios, Loop loop, const Set& lo, const Set& hi,
                          const Set& nominal, const SearchLimits& limits,
                          bool* unstable_everywhere) {
  std::array<Ball, kCoefficients> l;
  std::array<Ball, kCoefficients> h;
  for (std::size_t i = 0; i < kCoefficients; ++i) {
    l[i] = Ball(lo[i]);
    h[i] = Ball(hi[i]);
  }
  const std::vector<Condition> conditions = StabilityConditions(ratios, loop);
  const Sides s = SidesOf(l, h, nominal);
  Decision d = Decide(conditions, ratios, loop, s, limits);
  if (unstable_everywhere != nullptr) {
    *unstable_everywhere = false;
    if (d.verdict == Verdict::kRefuted) {
      for (const Condition& c : conditions) {
        const Bernstein b(c.polynomial, s.box);
        if (std::all_of(b.Coefficients().begin(), b.Coefficients().end(),
                        [](const Ball& x) { return x.Sign() == -1; })) {
          *unstable_everywhere = true;
          break;
        }
      }
    }
  }
  return d;
}

double LargestScale(const CoefficientBox& box) {
  double largest = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < kCoefficients; ++i) {
    const double n = box.nominal[i];
    if (box.lo[i] < n) {
      largest = std::min(largest, (kLargestCoefficient + n) / (n - box.lo[i]));
    }
    if (box.hi[i] > n) {
      largest = std::min(largest, (kLargestCoefficient - n) / (box.hi[i] - n));
    }
  }
  return largest;
}

Bounds StabilityMargin(const Ratios& ratios, Loop loop, const CoefficientBox& box, double tolerance,
                       const SearchLimits& limits,
                       const std::function<void(const Bounds&)>& progress) {
  Bounds b;
  if (!SetStable(box.nominal, ratios, loop)) {
    b.set = box.nominal;
    return b;
  }
  const std::vector<Condition> conditions = StabilityConditions(ratios, loop);
  const auto decide_at = [&](double rho) {
    return Decide(conditions, ratios, loop, ScaledSides(box, rho), limits);
  };
  const auto reach = [&](const Set& s) {
    return ScaleOf(box, TowardsNominal(box.nominal, s, ratios, loop));
  };
  b.hi = std::numeric_limits<double>::infinity();
  // ρ = 1 first: the box itself.
  b.lo = 0;
  const Decision first = decide_at(1);
  ++b.steps;
  b.boxes += first.boxes;
  if (first.interrupted || first.verdict == Verdict::kUndecided) {
    b.interrupted = first.interrupted;
    b.undecided = !first.interrupted;
    return b;
  }
  if (first.verdict == Verdict::kProven) {
    b.lo = 1;
  } else {
    const Set s = TowardsNominal(box.nominal, *first.set, ratios, loop);
    b.hi = ScaleOf(box, s);
    b.set = s;
    b.failing = first.failing;
    // A proven lower bound by halving.
    double x = b.hi / 2;
    while (b.lo == 0 && x > 1e-300) {
      const Decision d = decide_at(x);
      ++b.steps;
      b.boxes += d.boxes;
      if (d.interrupted || d.verdict == Verdict::kUndecided) {
        b.interrupted = d.interrupted;
        b.undecided = !d.interrupted;
        return b;
      }
      if (d.verdict == Verdict::kProven) {
        b.lo = x;
      } else {
        const Set t = TowardsNominal(box.nominal, *d.set, ratios, loop);
        b.hi = std::min(b.hi, ScaleOf(box, t));
        b.set = t;
        b.failing = d.failing;
        x = b.hi / 2;
      }
    }
  }
  if (progress) {
    progress(b);
  }
  Bisect(b, LargestScale(box), tolerance, decide_at, reach, progress);
  return b;
}

bool StableForEveryGain(const Ratios& ratios, const CoefficientBox& box, bool up,
                        const SearchLimits& limits) {
  const double a = box.lo[2];
  const double b = box.hi[2];
  if (a <= 0 && b >= 0) {
    return false;
  }
  // Up: c3 = end/t reaches from the end away from 0 to infinity; down: c3 = end·t reaches from the
  // end nearest 0 to 0 (the conditions that vanish with c3 divided by it).
  const double end = (b > 0) == up ? b : a;
  std::vector<Condition> conditions = StabilityConditions(ratios, Loop::kContinuous);
  for (Condition& c : conditions) {
    c.polynomial =
        up ? c.polynomial.Reversed(2, Ball(end)) : c.polynomial.DividedBy(2).Scaled(2, Ball(end));
  }
  std::array<Ball, kCoefficients> lo;
  std::array<Ball, kCoefficients> hi;
  for (std::size_t i = 0; i < kCoefficients; ++i) {
    lo[i] = Ball(box.lo[i]);
    hi[i] = Ball(box.hi[i]);
  }
  lo[2] = Ball(0);
  hi[2] = Ball(1);
  Sides s = SidesOf(lo, hi, box.nominal);
  const SearchResult r = ProvePositive(
      conditions, s.box, s.inner_lo, s.inner_hi,
      [&](const std::array<Real, kVariables>& x) {
        Set c = SetOf(x);
        if (up && x[2] == 0) {
          return false;
        }
        c[2] = up ? end / x[2] : end * x[2];
        return std::isfinite(c[2]) && c[2] != 0 && !SetStable(c, ratios, Loop::kContinuous);
      },
      limits);
  return r.verdict == Verdict::kProven;
}

GainBounds LeastGainMargin(const Ratios& ratios, const CoefficientBox& box, bool up,
                           double tolerance, const SearchLimits& limits) {
  // J ≥ 1 stands for the factor k = J (up) or k = 1/J (down); c3's side becomes
  // [min(a, k·a), max(b, k·b)].
  const std::vector<Condition> conditions = StabilityConditions(ratios, Loop::kContinuous);
  const double a = box.lo[2];
  const double b3 = box.hi[2];
  const auto sides_at = [&](double j) {
    std::array<Ball, kCoefficients> lo;
    std::array<Ball, kCoefficients> hi;
    for (std::size_t i = 0; i < kCoefficients; ++i) {
      lo[i] = Ball(box.lo[i]);
      hi[i] = Ball(box.hi[i]);
    }
    const long double k = up ? static_cast<long double>(j) : 1.0L / j;
    // k·a and k·b enclosed: a product of a double and an extended k within half a unit.
    const Ball kb = Ball(k, up ? 0 : k * Ball::kUnit) * Ball(b3);
    const Ball ka = Ball(k, up ? 0 : k * Ball::kUnit) * Ball(a);
    // The outer of the two ends, whichever they are.
    if (ka.mid < a) {
      lo[2] = ka;
    }
    if (kb.mid > b3) {
      hi[2] = kb;
    }
    return SidesOf(lo, hi, box.nominal);
  };
  // The J that reaches a set's c3 (with the other coefficients within the box).
  const auto j_of = [&](const Set& s) -> double {
    long double k = 1;
    if (s[2] > b3 && b3 != 0) {
      k = static_cast<long double>(s[2]) / b3;
    } else if (s[2] < a && a != 0) {
      k = static_cast<long double>(s[2]) / a;
    }
    const long double j = up ? k : 1 / k;
    return Up(std::max(1.0L, j) * (1 + 0x1p-58L));
  };
  GainBounds g;
  Bounds& bounds = g.bounds;
  bounds.lo = 1;
  bounds.hi = std::numeric_limits<double>::infinity();
  if (StableForEveryGain(ratios, box, up, limits)) {
    g.every_gain = true;
    bounds.unbounded = true;
    return g;
  }
  const auto decide_at = [&](double j) {
    return Decide(conditions, ratios, Loop::kContinuous, sides_at(j), limits);
  };
  double cap = 1e6;
  if (up) {
    cap = std::min(cap, kLargestCoefficient / std::max(std::fabs(a), std::fabs(b3)));
  }
  Bisect(bounds, cap, tolerance, decide_at, j_of, {});
  if (bounds.set) {
    Set& s = *bounds.set;
    const double c3 = std::clamp(s[2], a, b3);
    g.gain_factor = c3 != 0 ? s[2] / c3 : 1;
    s[2] = c3;
  }
  return g;
}

}  // namespace pitch::robust
