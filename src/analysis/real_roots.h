// The positive real roots ω of P(ω²) for a real polynomial P, none lost and each rounded to a
// double.
//
// Fast path: P's coefficients as extended balls (analysis/ball.h). When every coefficient's sign
// is certain, Descartes' rule of signs counts the positive roots first: no sign change leaves none,
// one sign change exactly one, a simple root, approximated alone and bracketed where the balls
// decide opposite signs of P. Else, P scaled to its roots' size, approximations of all complex
// roots in double precision (closed form up to degree 2, else the Aberth–Ehrlich iteration; in
// extended precision when the roots spread beyond what the double range holds, such as crossings
// near 1e7 and 1e154 of one loop), then Smith's inclusion theorem with bounds that account for
// every rounding and for the coefficients' own radius: when the inclusion disks are disjoint, each
// holds exactly one root, a disk centred on the real axis a real one. Each positive real root is
// then refined by Newton steps in extended precision and rounded to the nearest double ω: P(ω²)
// changes sign between the midpoints around ω (exact in extended precision), evaluated in balls,
// or across a narrower place that lies between them; else between the far midpoint of the next
// double and the near one; else the root is closed between two adjacent doubles by halving and
// the sign at their midpoint picks the nearer. A sign that the balls cannot decide is taken from
// the polynomial formed with 128-bit midpoints (a root whose terms cancel to a thousandth of
// themselves), and failing that from the exact polynomial.
//
// Exact path, when the fast path cannot certify (overlapping disks: double roots, clusters,
// tangencies; a leading or constant coefficient whose sign it cannot tell): the square-free part
// P/gcd(P, P') in GMP rationals, its positive roots isolated by a Sturm sequence and bisected
// until 120 bits are known, ω the correctly rounded square root (MPFR), and the sign of the
// square-free part at a midpoint between doubles where one falls within the root's interval. A
// multiple root is one root here: a tangency is a crossing.
//
// What is rounded: only the final ω, to the double nearest the exact root (ties to even).
#pragma once

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "analysis/polynomial.h"

namespace pitch::analysis {

// The polynomial in finer forms, each formed once when it is first needed: with 128-bit
// midpoints for the signs that its extended balls cannot decide, and exactly for those that the
// finer balls cannot decide either and for the exact path.
class Refinements {
 public:
  Refinements(std::function<Poly<FineBall>()> fine, std::function<Poly<Exact>()> exact)
      : make_fine_(std::move(fine)), make_exact_(std::move(exact)) {}
  const Poly<FineBall>& Fine() {
    if (!fine_) {
      fine_ = make_fine_();
    }
    return *fine_;
  }
  const Poly<Exact>& Exactly() {
    if (!exact_) {
      exact_ = make_exact_();
    }
    return *exact_;
  }
  // A second enclosure of P over a ball of u, tighter near a root than Horner's rule on the
  // expanded balls (none: only those).
  void SetTighter(std::function<Ball(const Ball&)> tighter) { tighter_ = std::move(tighter); }
  bool HasTighter() const { return static_cast<bool>(tighter_); }
  Ball Tighter(const Ball& u) const { return tighter_(u); }

 private:
  std::function<Poly<FineBall>()> make_fine_;
  std::function<Poly<Exact>()> make_exact_;
  std::optional<Poly<FineBall>> fine_;
  std::optional<Poly<Exact>> exact_;
  std::function<Ball(const Ball&)> tighter_;
};

// Where a root ω* lies, for evaluating at it. ω* is within [lo, hi]: a certified enclosure about
// 2⁻⁶² of ω* wide when the extended balls can certify one, else the half-units around the rounded
// ω. On the fast path u* = ω*² is the only root of P, and a simple one, within
// [centre − radius, centre + radius] (exact values).
struct RootPlace {
  Extended lo = 0;
  Extended hi = 0;
  Extended centre = 0;
  Extended radius = 0;
};

struct PositiveRoots {
  std::vector<double> omega;         // increasing
  std::vector<RootPlace> places;     // one for each ω
  bool beyond_double_range = false;  // a root whose nearest double is 0 or beyond the range
  bool identically_zero = false;     // P ≡ 0: every ω is a root, none is listed
  bool exact_path = false;           // the fast path could not certify
  // On the exact path: P's square-free part, and for each ω the interval (lo, hi] of u that holds
  // its root and no other root of it.
  Poly<Exact> square_free;
  std::vector<std::pair<Exact, Exact>> isolation;
};

// tight: narrow each root's place as far as the extended balls certify (RootPlace); else its
// place is the half-units around the rounded ω.
PositiveRoots FindPositiveRoots(const Poly<Ball>& fast, Refinements& finer, bool tight = true);
// The same on the exact path alone.
PositiveRoots FindPositiveRootsExactly(const Poly<Exact>& p);

// The sign of P(ω²) at a double ω: from the extended balls when they decide it, else from the
// finer ones, else exactly.
int SignAt(const Poly<Ball>& fast, Refinements& finer, double omega);

}  // namespace pitch::analysis
