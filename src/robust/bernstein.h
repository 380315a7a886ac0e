// Bernstein expansion of a polynomial over a box, and the proof that polynomials are positive on a
// box by subdivision (Garloff): over the box the polynomial lies between its least and greatest
// Bernstein coefficients, the coefficient at a vertex is the value there, and halving the box
// (de Casteljau's algorithm at t = 1/2, sums and exact halvings only) tightens the bounds
// quadratically. Every coefficient is a Ball, so "every coefficient positive" is a proof.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "robust/polynomial.h"

namespace pitch::robust {

// A side of a box: x = lo + width·t for t in [0, 1]; lo and width enclose the exact values.
struct Side {
  Ball lo;
  Ball width;
};
using BoxSides = std::array<Side, kVariables>;

class Bernstein {
 public:
  Bernstein(const Polynomial& p, const BoxSides& box);

  const Exponents& Degrees() const { return degrees_; }
  const std::vector<Ball>& Coefficients() const { return b_; }
  // Every coefficient certainly positive: the polynomial is positive on the whole box.
  bool Positive() const;
  // The coefficient at the vertex whose t_i is 1 where bit i of corner is set: the value there.
  const Ball& Vertex(unsigned corner) const;
  // The largest change between neighbouring coefficients along variable v.
  Extended Variation(int v) const;
  // The two halves of the box along variable v, lower first.
  std::pair<Bernstein, Bernstein> Split(int v) const;
  // The polynomial's value at the box's centre and its slope there along variable v (per unit
  // of t_v), from the midpoints: an estimate, not an enclosure.
  std::pair<Extended, Extended> CentreAndSlope(int v) const;
  // The part [from, to] of [0, 1] along variable v outside which the polynomial is certainly not
  // zero (the convex hull of its coefficients, taken over the other variables, meets zero only
  // there); from > to when it is nowhere zero.
  std::pair<Extended, Extended> ZeroRange(int v) const;
  // This + factor·other, coefficient by coefficient (the same degrees): the Bernstein
  // coefficients of the same combination of the polynomials.
  Bernstein Plus(Extended factor, const Bernstein& other) const;

 private:
  Bernstein() = default;
  std::size_t Stride(int v) const;
  // Calls f(first index) for every line of coefficients along v.
  template <class F>
  void ForEachLine(int v, F&& f) const;

  Exponents degrees_{};
  std::vector<Ball> b_;
};

struct Condition {
  std::string name;
  Polynomial polynomial;
};

enum class Verdict {
  kProven,     // every condition positive on the whole box
  kRefuted,    // a point of the box where the check confirms a failure
  kUndecided,  // neither within the limits
};

struct SearchLimits {
  std::int64_t max_boxes = 4'000'000;
  // Asked now and then; true stops the search (undecided, interrupted).
  std::function<bool()> stop;
};

struct SearchResult {
  Verdict verdict = Verdict::kUndecided;
  std::optional<std::array<Real, kVariables>> point;  // kRefuted: the confirmed point
  std::string failing;                                // kRefuted: the condition that failed there
  std::int64_t boxes = 0;                             // boxes examined
  std::int64_t proven_boxes = 0;                      // leaves where every condition was proven
  bool interrupted = false;
  bool budget_exhausted = false;
};

// Proves every condition positive on the box, or finds a point where the check confirms a
// failure. Candidate points are the vertices of sub-boxes where a condition is not positive,
// rounded to doubles and moved into [inner_lo, inner_hi] (doubles inside the box).
// refutes(point) is the single-set test: true when the point really fails.
SearchResult ProvePositive(const std::vector<Condition>& conditions, const BoxSides& box,
                           const std::array<Real, kVariables>& inner_lo,
                           const std::array<Real, kVariables>& inner_hi,
                           const std::function<bool(const std::array<Real, kVariables>&)>& refutes,
                           const SearchLimits& limits);

}  // namespace pitch::robust
