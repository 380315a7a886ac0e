#include "robust/worst_margins.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "analysis/margins.h"
#include "core/controller.h"

namespace pitch::robust {

namespace {

constexpr int kFrequency = 5;  // the variable u = ω² (or t of u = U·t, U/t)
constexpr Extended kFinest = 0x1p-40L;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

Polynomial V(int i) { return Polynomial::Variable(i); }

// |P(jω)|², |D(jω)|², |N(jω)|² + |D(jω)|² and |N(jω)|² − |D(jω)|² as polynomials in c1 … c5 and
// u = ω². |1 + L|² = |P|²/|D|²; at a gain crossover cos(PM) = 1 − |P|²/(|N|² + |D|²), a ratio
// that, unlike |P|²/|D|², moves only to second order in ln|L| off the crossover.
struct FrequencyPolynomials {
  Polynomial p2;
  Polynomial d2;
  Polynomial s2;
  Polynomial g;
};

FrequencyPolynomials Build(const Ratios& r) {
  const Ball muv(r.muv);
  const Ball iv(r.iv);
  const Ball nuv(r.nuv);
  const Polynomial c1 = V(0), c2 = V(1), c3 = V(2), c4 = V(3), c5 = V(4), u = V(kFrequency);
  const Polynomial a3 = c1 + c4 + c5 + muv * c3;
  const Polynomial a2 = c1 * c4 + c2 + c3 * (muv * c4 + Polynomial(iv));
  const Polynomial a1 = c3 * (iv * c4 + Polynomial(nuv));
  const Polynomial a0 = nuv * (c3 * c4);
  const Polynomial even = a0 - a2 * u + u * u;
  const Polynomial odd = a1 - a3 * u;
  FrequencyPolynomials f;
  f.p2 = even * even + u * (odd * odd);
  const Polynomial b1 = c1 + c4 + c5;
  const Polynomial b0 = c1 * c4 + c2;
  f.d2 = (u * u) * ((b0 - u) * (b0 - u) + u * (b1 * b1));
  const Polynomial m = Polynomial(nuv) - muv * u;
  const Polynomial n2 = (c3 * c3) * (u + c4 * c4) * (m * m + (iv * iv) * u);
  f.g = n2 - f.d2;
  f.s2 = n2 + f.d2;
  Exponents d{};
  for (const Polynomial* p : {&f.p2, &f.d2, &f.s2, &f.g}) {
    for (std::size_t i = 0; i < kVariables; ++i) {
      d[i] = std::max(d[i], p->Degrees()[i]);
    }
  }
  f.p2 = f.p2.Widened(d);
  f.d2 = f.d2.Widened(d);
  f.g = f.g.Widened(d);
  f.s2 = f.s2.Widened(d);
  return f;
}

bool AllNegative(const Bernstein& b) {
  return std::all_of(b.Coefficients().begin(), b.Coefficients().end(),
                     [](const Ball& x) { return x.Sign() == -1; });
}

Extended Down(Extended x) { return std::nextafter(x, -std::numeric_limits<Extended>::infinity()); }
Extended Up(Extended x) { return std::nextafter(x, std::numeric_limits<Extended>::infinity()); }

// A lower bound of |P|²/|D|² over the sub-box from the Bernstein coefficients of both (the same
// degrees): P − m·D ≥ 0 wherever every P_I − m·D_I ≥ 0, for m ≥ 0.
Extended RatioLowerBound(const Bernstein& p, const Bernstein& d) {
  Extended least = std::numeric_limits<Extended>::infinity();
  const std::vector<Ball>& pc = p.Coefficients();
  const std::vector<Ball>& dc = d.Coefficients();
  for (std::size_t i = 0; i < pc.size(); ++i) {
    const Extended p_low = pc[i].mid - pc[i].rad;
    const Extended d_high = Up(dc[i].mid + dc[i].rad);
    if (d_high <= 0) {
      if (p_low < 0) {
        return 0;
      }
      continue;
    }
    if (p_low <= 0) {
      return 0;
    }
    least = std::min(least, Down(Down(p_low) / d_high));
  }
  return least;
}

struct Node {
  int part = 0;  // 0: u = U·t, 1: u = U/t
  std::array<Extended, kVariables> from{};
  std::array<Extended, kVariables> to{};
  Bernstein p2;
  Bernstein den;  // |D|² for the stability margin, |N|² + |D|² for the others
  Bernstein g;
  Extended bound = 0;  // a lower bound of the margin over the sub-box (at least its parent's)
};

struct Candidate {
  double value = kInfinity;
  double frequency = 0;
};

Candidate MarginOf(const Set& c, const Ratios& r, MarginKind kind) {
  const TController controller = ControllerOf(c, r);
  const analysis::LoopMargins m = analysis::Margins(controller, true);
  Candidate k;
  if (m.not_computable) {
    return k;
  }
  switch (kind) {
    case MarginKind::kStability:
      k.value = m.stability.value;
      k.frequency = m.stability.frequency;
      break;
    case MarginKind::kPhase:
      if (!m.phase.empty()) {
        k.value = std::fabs(m.phase.front().degrees);
        k.frequency = m.phase.front().frequency;
      }
      break;
    case MarginKind::kDelay:
      for (const analysis::PhaseMargin& p : m.phase) {
        if (p.delay < k.value) {
          k.value = p.delay;
          k.frequency = p.frequency;
        }
      }
      break;
  }
  return k;
}

}  // namespace

WorstMargin LeastMargin(const Ratios& ratios, const CoefficientBox& box, MarginKind kind,
                        double tolerance, const SearchLimits& limits) {
  WorstMargin w;
  w.hi = kInfinity;
  const auto consider = [&](const Set& s) {
    const Candidate c = MarginOf(s, ratios, kind);
    if (c.value < w.hi) {
      w.hi = c.value;
      w.set = s;
      w.frequency = c.frequency;
    }
  };
  // Upper bounds to start from: the nominal set and the box's corners.
  consider(box.nominal);
  for (unsigned corner = 0; corner < (1u << kCoefficients); ++corner) {
    Set s;
    for (std::size_t i = 0; i < kCoefficients; ++i) {
      s[i] = (corner >> i) & 1u ? box.hi[i] : box.lo[i];
    }
    consider(s);
  }
  // The frequency scale: where the nominal loop's least distance from −1 lies.
  Extended scale = 1;
  {
    const Candidate c = MarginOf(box.nominal, ratios, MarginKind::kStability);
    if (std::isfinite(c.frequency) && c.frequency > 0) {
      scale = static_cast<Extended>(c.frequency) * c.frequency;
    }
  }
  const Ball u_scale(scale);

  const FrequencyPolynomials f = Build(ratios);
  BoxSides sides;
  for (std::size_t i = 0; i < kCoefficients; ++i) {
    sides[i].lo = Ball(box.lo[i]);
    sides[i].width = Ball(box.hi[i]) - Ball(box.lo[i]);
  }
  sides[kFrequency].lo = Ball(0);
  sides[kFrequency].width = Ball(1);
  std::vector<Node> stack;
  for (int part = 1; part >= 0; --part) {
    const auto in_t = [&](const Polynomial& p) {
      return part == 0 ? p.Scaled(kFrequency, u_scale) : p.Reversed(kFrequency, u_scale);
    };
    Node n{part,
           {},
           {},
           Bernstein(in_t(f.p2), sides),
           Bernstein(in_t(kind == MarginKind::kStability ? f.d2 : f.s2), sides),
           Bernstein(in_t(f.g), sides),
           0};
    n.to.fill(1);
    stack.push_back(std::move(n));
  }
  const bool crossovers = kind != MarginKind::kStability;
  Extended lo = std::numeric_limits<Extended>::infinity();
  const auto target = [&] { return static_cast<Extended>(w.hi) * (1 - tolerance); };
  const Extended to_degrees = 180 / std::numbers::pi_v<Extended>;
  // A lower bound of the margin over the sub-box (infinity: it holds no crossover).
  const auto bound_of = [&](const Node& node) -> Extended {
    if (crossovers && (node.g.Positive() || AllNegative(node.g))) {
      return std::numeric_limits<Extended>::infinity();  // no gain crossover in this sub-box
    }
    Extended f2 = 0;
    if (crossovers) {
      // On a crossover |N|² − |D|² = 0, so (|P|² + λ·(|N|² − |D|²))/(|N|² + |D|²) is the same
      // ratio there for any λ; λ is chosen so that it is flat along the frequency at the
      // sub-box's centre, and the bound no longer falls with the sub-box's frequency width.
      const auto [p, dp] = node.p2.CentreAndSlope(kFrequency);
      const auto [g, dg] = node.g.CentreAndSlope(kFrequency);
      const auto [q, dq] = node.den.CentreAndSlope(kFrequency);
      const Extended below = dg * q - g * dq;
      const Extended lambda = below != 0 ? -(dp * q - p * dq) / below : 0;
      // Both are bounds; the better one counts (λ from a centre far from the crossover can
      // make it worse).
      f2 = RatioLowerBound(node.p2, node.den);
      if (std::isfinite(lambda) && lambda != 0) {
        f2 = std::max(f2, RatioLowerBound(node.p2.Plus(lambda, node.g), node.den));
      }
    } else {
      f2 = RatioLowerBound(node.p2, node.den);
    }
    Extended bound = 0;
    if (kind == MarginKind::kStability) {
      bound = Down(Down(std::sqrt(f2)) * (1 - 0x1p-60L));
    } else {
      // cos|PM| ≤ 1 − f2 on every crossover of the sub-box.
      const Extended cosine = std::clamp<Extended>(Up(1 - f2) + 0x1p-62L, -1, 1);
      const Extended radians = std::max<Extended>(0, Down(std::acos(cosine) * (1 - 0x1p-58L)));
      if (kind == MarginKind::kPhase) {
        bound = Down(radians * to_degrees * (1 - 0x1p-60L));
      } else {
        // Where along the frequency a crossover can lie in the sub-box: the hull of |N|² − |D|²
        // meets zero only in [zero.first, zero.second] of the sub-box's own range.
        const auto zero = node.g.ZeroRange(kFrequency);
        if (zero.first > zero.second) {
          return std::numeric_limits<Extended>::infinity();
        }
        const Extended width = node.to[kFrequency] - node.from[kFrequency];
        const Extended t = node.part == 0 ? Up(node.from[kFrequency] + width * zero.second)
                                          : Down(node.from[kFrequency] + width * zero.first);
        const Extended u_high = node.part == 0 ? scale * t : (t > 0 ? scale / t : 0);
        bound = node.part == 1 && t == 0
                    ? 0
                    : Down(radians / Up(Up(std::sqrt(u_high)) * (1 + 0x1p-58L)));
      }
    }
    return bound;
  };
  for (Node& root : stack) {
    root.bound = bound_of(root);
  }
  while (!stack.empty()) {
    if ((w.boxes & 63) == 0 && limits.stop && limits.stop()) {
      w.interrupted = true;
      break;
    }
    if (w.boxes >= std::min(limits.max_boxes, kMarginBoxes)) {
      w.budget_exhausted = true;
      break;
    }
    Node node = std::move(stack.back());
    stack.pop_back();
    ++w.boxes;
    const Extended bound = node.bound;
    if (!std::isfinite(bound)) {
      continue;
    }
    if (bound >= target()) {
      lo = std::min(lo, bound);
      continue;
    }
    // A set near the middle of the sub-box as a candidate for the upper bound.
    Set middle;
    for (std::size_t i = 0; i < kCoefficients; ++i) {
      const Extended x = box.lo[i] + (static_cast<Extended>(box.hi[i]) - box.lo[i]) *
                                         ((node.from[i] + node.to[i]) / 2);
      middle[i] = std::clamp(static_cast<Real>(x), box.lo[i], box.hi[i]);
    }
    consider(middle);
    if (bound >= target()) {
      lo = std::min(lo, bound);
      continue;
    }
    // Halve the side along which the two polynomials change most, relative to their size.
    int split = -1;
    Extended most = 0;
    for (int v = 0; v < kVariables; ++v) {
      const auto i = static_cast<std::size_t>(v);
      if (node.to[i] - node.from[i] <= kFinest) {
        continue;
      }
      Extended change = 0;
      for (const Bernstein* b : {&node.p2, &node.den}) {
        Extended size = 0;
        for (const Ball& c : b->Coefficients()) {
          size = std::max(size, std::fabs(c.mid));
        }
        if (size > 0) {
          change += b->Variation(v) / size;
        }
      }
      if (change > most) {
        most = change;
        split = v;
      }
    }
    if (split < 0) {
      lo = std::min(lo, bound);  // as fine as the search goes
      continue;
    }
    const auto s = static_cast<std::size_t>(split);
    const Extended mid = (node.from[s] + node.to[s]) / 2;
    auto p = node.p2.Split(split);
    auto d = node.den.Split(split);
    auto g = node.g.Split(split);
    Node high{node.part,           node.from,           node.to, std::move(p.second),
              std::move(d.second), std::move(g.second), bound};
    Node low{node.part,          node.from,          node.to, std::move(p.first),
             std::move(d.first), std::move(g.first), bound};
    low.to[s] = mid;
    high.from[s] = mid;
    low.bound = std::max(bound, bound_of(low));
    high.bound = std::max(bound, bound_of(high));
    // The child with the lower bound next.
    if (low.bound <= high.bound) {
      stack.push_back(std::move(high));
      stack.push_back(std::move(low));
    } else {
      stack.push_back(std::move(low));
      stack.push_back(std::move(high));
    }
  }
  for (const Node& n : stack) {
    lo = std::min(lo, n.bound);
  }
  if (!std::isfinite(lo) && !std::isfinite(w.hi)) {
    w.none = true;
    w.lo = w.hi = 0;
    return w;
  }
  lo = std::max<Extended>(lo, 0);  // every margin here is at least 0
  w.lo = static_cast<double>(std::min(lo, static_cast<Extended>(w.hi)));
  if (static_cast<Extended>(w.lo) > lo) {
    w.lo = std::nextafter(w.lo, -kInfinity);
  }
  return w;
}

}  // namespace pitch::robust
