#include "robust/bernstein.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pitch::robust {

namespace {

// n choose k for n ≤ 8.
int Binomial(int n, int k) {
  int r = 1;
  for (int i = 1; i <= k; ++i) {
    r = r * (n - k + i) / i;
  }
  return r;
}

// An enclosure of the rational p/q (q > 0).
Ball Fraction(int p, int q) {
  const Extended mid = static_cast<Extended>(p) / static_cast<Extended>(q);
  const bool exact = (q & (q - 1)) == 0;
  return Ball(mid, exact ? 0 : std::fabs(mid) * Ball::kUnit * 2);
}

const Ball kHalf(0.5L);

}  // namespace

std::size_t Bernstein::Stride(int v) const {
  std::size_t s = 1;
  for (int i = kVariables - 1; i > v; --i) {
    s *= static_cast<std::size_t>(degrees_[static_cast<std::size_t>(i)] + 1);
  }
  return s;
}

template <class F>
void Bernstein::ForEachLine(int v, F&& f) const {
  const std::size_t stride = Stride(v);
  const auto n = static_cast<std::size_t>(degrees_[static_cast<std::size_t>(v)] + 1);
  const std::size_t block = stride * n;
  for (std::size_t outer = 0; outer < b_.size(); outer += block) {
    for (std::size_t inner = 0; inner < stride; ++inner) {
      f(outer + inner);
    }
  }
}

Bernstein::Bernstein(const Polynomial& p, const BoxSides& box)
    : degrees_(p.Degrees()), b_(p.Coefficients()) {
  std::vector<Ball> q;
  for (int v = 0; v < kVariables; ++v) {
    const int d = degrees_[static_cast<std::size_t>(v)];
    if (d == 0) {
      continue;
    }
    const Side& side = box[static_cast<std::size_t>(v)];
    const std::size_t stride = Stride(v);
    q.resize(static_cast<std::size_t>(d + 1));
    ForEachLine(v, [&](std::size_t first) {
      for (int j = 0; j <= d; ++j) {
        q[static_cast<std::size_t>(j)] = b_[first + static_cast<std::size_t>(j) * stride];
      }
      // p(lo + x): Taylor shift by repeated synthetic division.
      for (int i = 0; i < d; ++i) {
        for (int j = d - 1; j >= i; --j) {
          q[static_cast<std::size_t>(j)] += side.lo * q[static_cast<std::size_t>(j + 1)];
        }
      }
      // x = width·t.
      Ball power = side.width;
      for (int j = 1; j <= d; ++j) {
        q[static_cast<std::size_t>(j)] = q[static_cast<std::size_t>(j)] * power;
        power = power * side.width;
      }
      // Bernstein coefficients: b_j = Σ_{m ≤ j} C(j, m)/C(d, m)·q_m.
      for (int j = 0; j <= d; ++j) {
        Ball sum = q[0];
        for (int m = 1; m <= j; ++m) {
          sum += Fraction(Binomial(j, m), Binomial(d, m)) * q[static_cast<std::size_t>(m)];
        }
        b_[first + static_cast<std::size_t>(j) * stride] = sum;
      }
    });
  }
}

bool Bernstein::Positive() const {
  return std::all_of(b_.begin(), b_.end(), [](const Ball& b) { return b.Sign() == 1; });
}

const Ball& Bernstein::Vertex(unsigned corner) const {
  std::size_t index = 0;
  for (std::size_t i = 0; i < kVariables; ++i) {
    const int e = (corner >> i) & 1u ? degrees_[i] : 0;
    index = index * static_cast<std::size_t>(degrees_[i] + 1) + static_cast<std::size_t>(e);
  }
  return b_[index];
}

Extended Bernstein::Variation(int v) const {
  const int d = degrees_[static_cast<std::size_t>(v)];
  if (d == 0) {
    return 0;
  }
  const std::size_t stride = Stride(v);
  Extended most = 0;
  ForEachLine(v, [&](std::size_t first) {
    for (int j = 0; j < d; ++j) {
      const std::size_t k = first + static_cast<std::size_t>(j) * stride;
      most = std::max(most, std::fabs(b_[k + stride].mid - b_[k].mid));
    }
  });
  return most;
}

std::pair<Bernstein, Bernstein> Bernstein::Split(int v) const {
  Bernstein low;
  low.degrees_ = degrees_;
  low.b_ = b_;
  Bernstein high = low;
  const int d = degrees_[static_cast<std::size_t>(v)];
  if (d == 0) {
    return {low, high};
  }
  const std::size_t stride = Stride(v);
  std::vector<Ball> t(static_cast<std::size_t>(d + 1));
  ForEachLine(v, [&](std::size_t first) {
    for (int j = 0; j <= d; ++j) {
      t[static_cast<std::size_t>(j)] = b_[first + static_cast<std::size_t>(j) * stride];
    }
    high.b_[first + static_cast<std::size_t>(d) * stride] = t[static_cast<std::size_t>(d)];
    for (int r = 1; r <= d; ++r) {
      for (int j = 0; j <= d - r; ++j) {
        t[static_cast<std::size_t>(j)] =
            (t[static_cast<std::size_t>(j)] + t[static_cast<std::size_t>(j + 1)]) * kHalf;
      }
      low.b_[first + static_cast<std::size_t>(r) * stride] = t[0];
      high.b_[first + static_cast<std::size_t>(d - r) * stride] =
          t[static_cast<std::size_t>(d - r)];
    }
  });
  return {low, high};
}

std::pair<Extended, Extended> Bernstein::CentreAndSlope(int v) const {
  // Contract every other variable with the weights C(d, j)/2^d of the point 1/2, keeping v.
  std::vector<Extended> line(static_cast<std::size_t>(degrees_[static_cast<std::size_t>(v)] + 1));
  std::vector<Extended> weights;
  for (std::size_t k = 0; k < b_.size(); ++k) {
    std::size_t rest = k;
    Extended w = 1;
    std::size_t at_v = 0;
    for (std::size_t i = kVariables; i-- > 0;) {
      const auto radix = static_cast<std::size_t>(degrees_[i] + 1);
      const std::size_t e = rest % radix;
      rest /= radix;
      if (static_cast<int>(i) == v) {
        at_v = e;
      } else {
        const int d = degrees_[i];
        w *= static_cast<Extended>(Binomial(d, static_cast<int>(e))) / std::ldexp(1.0L, d);
      }
    }
    line[at_v] += w * b_[k].mid;
  }
  const int d = degrees_[static_cast<std::size_t>(v)];
  Extended value = 0;
  Extended slope = 0;
  for (int j = 0; j <= d; ++j) {
    value += static_cast<Extended>(Binomial(d, j)) / std::ldexp(1.0L, d) *
             line[static_cast<std::size_t>(j)];
  }
  for (int j = 0; j < d; ++j) {
    slope += d * static_cast<Extended>(Binomial(d - 1, j)) / std::ldexp(1.0L, d - 1) *
             (line[static_cast<std::size_t>(j + 1)] - line[static_cast<std::size_t>(j)]);
  }
  return {value, slope};
}

std::pair<Extended, Extended> Bernstein::ZeroRange(int v) const {
  const int d = degrees_[static_cast<std::size_t>(v)];
  const Extended inf = std::numeric_limits<Extended>::infinity();
  if (d == 0) {
    return {0, 1};
  }
  // The least and greatest coefficient (their enclosures) at each index along v.
  std::vector<Extended> low(static_cast<std::size_t>(d + 1), inf);
  std::vector<Extended> high(static_cast<std::size_t>(d + 1), -inf);
  const std::size_t stride = Stride(v);
  ForEachLine(v, [&](std::size_t first) {
    for (int j = 0; j <= d; ++j) {
      const Ball& b = b_[first + static_cast<std::size_t>(j) * stride];
      low[static_cast<std::size_t>(j)] = std::min(low[static_cast<std::size_t>(j)], b.mid - b.rad);
      high[static_cast<std::size_t>(j)] =
          std::max(high[static_cast<std::size_t>(j)], b.mid + b.rad);
    }
  });
  // The points (j/d, low_j … high_j); the hull meets zero at an index that straddles it, or on
  // a segment between a point below zero and one above.
  Extended from = inf;
  Extended to = -inf;
  const auto note = [&](Extended t) {
    from = std::min(from, t);
    to = std::max(to, t);
  };
  for (int j = 0; j <= d; ++j) {
    const auto J = static_cast<std::size_t>(j);
    if (low[J] <= 0 && high[J] >= 0) {
      note(static_cast<Extended>(j) / d);
    }
    for (int k = j + 1; k <= d; ++k) {
      const auto K = static_cast<std::size_t>(k);
      // A segment from below zero to above, or from above to below, crosses it between them.
      for (const auto& [a, b] : {std::pair{low[J], low[K]}, std::pair{high[J], high[K]},
                                 std::pair{low[J], high[K]}, std::pair{high[J], low[K]}}) {
        if ((a < 0 && b > 0) || (a > 0 && b < 0)) {
          const Extended t = (j + (k - j) * (a / (a - b))) / d;
          note(t);
        }
      }
    }
  }
  if (from > to) {
    return {1, 0};
  }
  // Rounding in the crossing points: widened by a little.
  return {std::max<Extended>(0, from - 0x1p-50L), std::min<Extended>(1, to + 0x1p-50L)};
}

Bernstein Bernstein::Plus(Extended factor, const Bernstein& other) const {
  Bernstein r = *this;
  const Ball f(factor);
  for (std::size_t k = 0; k < b_.size(); ++k) {
    r.b_[k] += f * other.b_[k];
  }
  return r;
}

namespace {

struct Node {
  std::array<Extended, kVariables> from{};  // the sub-box as fractions of the box's sides
  std::array<Extended, kVariables> to{};
  std::vector<std::pair<int, Bernstein>> open;  // the conditions not yet proven here
};

// The smallest fraction of a side a sub-box may have: below it the search gives up there.
constexpr Extended kFinest = 0x1p-48L;

}  // namespace

SearchResult ProvePositive(const std::vector<Condition>& conditions, const BoxSides& box,
                           const std::array<Real, kVariables>& inner_lo,
                           const std::array<Real, kVariables>& inner_hi,
                           const std::function<bool(const std::array<Real, kVariables>&)>& refutes,
                           const SearchLimits& limits) {
  SearchResult result;
  std::vector<Node> stack;
  {
    Node root;
    root.to.fill(1);
    for (std::size_t c = 0; c < conditions.size(); ++c) {
      root.open.emplace_back(static_cast<int>(c), Bernstein(conditions[c].polynomial, box));
    }
    stack.push_back(std::move(root));
  }
  bool undecided = false;
  const auto point_at = [&](const Node& node, unsigned corner) {
    std::array<Real, kVariables> x;
    for (std::size_t i = 0; i < kVariables; ++i) {
      const Extended f = (corner >> i) & 1u ? node.to[i] : node.from[i];
      const auto value = static_cast<Real>(box[i].lo.mid + box[i].width.mid * f);
      x[i] = std::clamp(value, inner_lo[i], inner_hi[i]);
    }
    return x;
  };
  while (!stack.empty()) {
    if ((result.boxes & 255) == 0 && limits.stop && limits.stop()) {
      result.interrupted = true;
      return result;
    }
    if (result.boxes >= limits.max_boxes) {
      result.budget_exhausted = true;
      return result;
    }
    Node node = std::move(stack.back());
    stack.pop_back();
    ++result.boxes;
    // Drop the conditions proven on this sub-box; note the lowest vertex of the others.
    Extended lowest = 0;
    int lowest_condition = -1;
    unsigned lowest_corner = 0;
    std::erase_if(node.open, [&](const std::pair<int, Bernstein>& open) {
      if (open.second.Positive()) {
        return true;
      }
      for (unsigned corner = 0; corner < (1u << kVariables); ++corner) {
        const Ball& v = open.second.Vertex(corner);
        if (lowest_condition < 0 || v.mid - v.rad < lowest) {
          lowest = v.mid - v.rad;
          lowest_condition = open.first;
          lowest_corner = corner;
        }
      }
      return false;
    });
    if (node.open.empty()) {
      ++result.proven_boxes;
      continue;
    }
    if (lowest <= 0) {
      const std::array<Real, kVariables> x = point_at(node, lowest_corner);
      if (refutes(x)) {
        result.verdict = Verdict::kRefuted;
        result.point = x;
        result.failing = conditions[static_cast<std::size_t>(lowest_condition)].name;
        return result;
      }
    }
    // Halve the side along which the open conditions change most.
    int split = -1;
    Extended most = 0;
    for (int v = 0; v < kVariables; ++v) {
      const auto i = static_cast<std::size_t>(v);
      if (node.to[i] - node.from[i] <= kFinest) {
        continue;
      }
      for (const auto& open : node.open) {
        const Extended variation = open.second.Variation(v);
        if (variation > most) {
          most = variation;
          split = v;
        }
      }
    }
    if (split < 0) {
      undecided = true;  // as fine as the search goes, and still not decided
      continue;
    }
    const auto s = static_cast<std::size_t>(split);
    Node low;
    Node high;
    low.from = high.from = node.from;
    low.to = high.to = node.to;
    const Extended middle = (node.from[s] + node.to[s]) / 2;
    low.to[s] = middle;
    high.from[s] = middle;
    for (const auto& open : node.open) {
      auto halves = open.second.Split(split);
      low.open.emplace_back(open.first, std::move(halves.first));
      high.open.emplace_back(open.first, std::move(halves.second));
    }
    stack.push_back(std::move(high));
    stack.push_back(std::move(low));
  }
  result.verdict = undecided ? Verdict::kUndecided : Verdict::kProven;
  return result;
}

}  // namespace pitch::robust
