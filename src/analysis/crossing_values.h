// The margins at a crossing, each the double nearest its exact value at the exact root (Ziv's
// loop).
//
// A crossing is a root u* = ω*² of one of the loop's crossing polynomials (analysis/
// loop_polynomials.h). Every margin there is a function of u* and of the loop's polynomials in u:
//   phase margin   atan2(−ω·H, −R)            at a root of G (−L = (−R − jω·H)/B there),
//   delay margin   the phase margin taken within [0, 2π), over ω,
//   gain margin    B/(−R)                     at a root of H with R < 0 (|N|·|D| = −R there),
//   decibels       20·lg(B/(−R)),
//   distance       √(A/B)                     at a root of A'·B − A·B'.
// First the values are enclosed in extended arithmetic: u* within a ball about 2⁻⁶² of itself
// wide (real_roots.h), the polynomials evaluated in balls over it, the x87 unit's arctangent and
// logarithm (within one unit in the last place; two units are allowed for, and the conversions
// on top), every rounding bounded. When both ends of an enclosure round to the same double, that
// is the value. Else the root is narrowed by one interval Newton step, its polynomial's value
// taken from the parts of N and D in balls with 128-bit midpoints (fine_ball.h), to a ball
// typically 2⁻¹¹⁰ of itself wide or less, and the values enclosed again from those parts there:
// the arctangent from the corners of its box, the decibels near 0 from ln(1 + q) (the x87
// unit's FYL2XP1) with f = 1 + q. What still straddles a rounding boundary goes on to interval
// Newton steps in Arb balls, from the polynomials with 128-bit midpoints and then from the exact
// ones at 256, 512, … bits, and the values enclosed again. A value that is exactly zero (a
// marginal loop: the phase margin, the decibels or the distance 0) or exactly halfway between two
// doubles never separates from it: those are recognised exactly, as a common root of the
// crossing polynomial's square-free part and the value's own polynomial within the root's
// isolating interval.
#pragma once

#include <arb.h>
#include <arb_poly.h>

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/loop_polynomials.h"
#include "analysis/polynomial.h"
#include "analysis/real_roots.h"

namespace pitch::analysis {

// Which crossing polynomial a root belongs to.
enum class CrossingKind {
  kGainCrossover,   // G: |L| = 1
  kPhaseCrossing,   // H: L real
  kDistanceExtreme  // A'·B − A·B': |1 + L| stationary
};

// An arb_t that frees itself.
class ArbBall {
 public:
  ArbBall() { arb_init(value_); }
  ~ArbBall() { arb_clear(value_); }
  ArbBall(const ArbBall&) = delete;
  ArbBall& operator=(const ArbBall&) = delete;
  arb_ptr get() { return value_; }
  arb_srcptr get() const { return value_; }

 private:
  arb_t value_;
};

// A polynomial of Arb balls, lowest power first.
class ArbPolynomial {
 public:
  ArbPolynomial() { arb_poly_init(value_); }
  ~ArbPolynomial() { arb_poly_clear(value_); }
  ArbPolynomial(const ArbPolynomial&) = delete;
  ArbPolynomial& operator=(const ArbPolynomial&) = delete;
  arb_poly_struct* get() { return value_; }
  const arb_poly_struct* get() const { return value_; }

 private:
  arb_poly_t value_;
};

// The loop's crossing polynomials, in balls at once and in the finer forms when first needed.
class LoopPolynomials {
 public:
  explicit LoopPolynomials(const RationalLoop& loop);
  LoopPolynomials(const LoopPolynomials&) = delete;
  LoopPolynomials& operator=(const LoopPolynomials&) = delete;
  ~LoopPolynomials();

  using Polynomial = CrossingPolynomial;

  const CrossingPolynomials<Ball>& Fast() const { return fast_; }
  // One polynomial with 128-bit midpoints, formed when first asked for.
  const Poly<FineBall>& Fine(Polynomial which);
  // The parts of N and D with 128-bit midpoints.
  const LoopParts<FineBall>& FineParts();
  const CrossingPolynomials<Exact>& Exactly();

  // The same formed in Arb balls at prec bits, each when first asked for.
  const ArbPolynomial& Arb(Polynomial which, slong prec);

 private:
  struct ArbLevel;
  const RationalLoop& loop_;
  CrossingPolynomials<Ball> fast_;
  std::optional<LoopParts<FineBall>> fine_parts_;
  std::array<std::optional<Poly<FineBall>>, 6> fine_;
  std::optional<CrossingPolynomials<Exact>> exact_;
  std::vector<std::unique_ptr<ArbLevel>> arb_;
};

// A root of a crossing polynomial: its rounded ω, and enclosures of u* = ω*² as narrow as asked.
class CrossingRoot {
 public:
  // The index-th root of roots, the positive roots of kind's polynomial of polynomials.
  CrossingRoot(LoopPolynomials& polynomials, CrossingKind kind, const PositiveRoots& roots,
               std::size_t index);
  CrossingRoot(const CrossingRoot&) = delete;
  CrossingRoot& operator=(const CrossingRoot&) = delete;
  CrossingRoot(CrossingRoot&&) noexcept;
  ~CrossingRoot();

  CrossingKind kind() const { return kind_; }
  double omega() const { return omega_; }
  // ω* within [lo, hi]; u* within the ball.
  Extended omega_lo() const { return place_.lo; }
  Extended omega_hi() const { return place_.hi; }
  const Ball& u() const { return u_; }
  LoopPolynomials& polynomials() { return polynomials_; }
  // u* within a ball with a 128-bit midpoint, from one interval Newton step, the polynomial's
  // value from the parts with 128-bit midpoints; none where its slope over u()'s ball may vanish.
  const FineBall* Narrowed();

  // A ball holding u*, narrowed at precision prec (bits) as far as the polynomial formed in balls
  // at that precision allows (the exact square-free part on the exact path).
  arb_srcptr Enclosure(slong prec);
  // v(u*) = 0 exactly.
  bool Vanishes(const Poly<Exact>& v);

 private:
  struct ArbState;
  LoopPolynomials& polynomials_;
  CrossingKind kind_;
  double omega_;
  RootPlace place_;
  Ball u_;
  const PositiveRoots* roots_;  // for the exact path's isolation
  std::size_t index_;
  std::unique_ptr<ArbState> arb_;
  bool narrowed_ = false;
  std::optional<FineBall> fine_u_;
};

// The values at a gain crossover: degrees within (−180°, 180°], the delay that adds that much lag
// (the margin taken within [0°, 360°)), and the continuous phase degrees − 180° + 360°·k, the
// whole turns k from an estimate of it.
struct CrossoverValues {
  double degrees = 0;
  double delay = 0;
  double phase_degrees = 0;
};
CrossoverValues ValuesAtCrossover(CrossingRoot& root, Extended continuous_phase_degrees);
// The factor's quantity for ordering crossovers: |phase margin| in degrees, as a ball.
void AbsolutePhaseMargin(CrossingRoot& root, arb_t out, slong prec);

// The values at a phase crossing where R(u*) < 0; none where R(u*) ≥ 0 (L is real and positive
// there, or 0, or a pole).
struct PhaseCrossingValues {
  double factor = 0;
  double decibels = 0;
};
// N·conj D vanishes at a root of H only at a pole or zero of L on the axis: without them
// (axis_roots false) the side is decided in balls alone, however near 0 R(u*) lies.
std::optional<PhaseCrossingValues> ValuesAtPhaseCrossing(CrossingRoot& root,
                                                         bool axis_roots = true);
// |decibels| at a phase crossing, as a ball.
void AbsoluteDecibels(CrossingRoot& root, arb_t out, slong prec);

// |1 + L| at an extreme of the distance.
double DistanceAt(CrossingRoot& root);
// Bounds on it from the balls over the root's place alone: enough to set aside the extremes that
// are clearly not the least.
struct Bounds {
  Extended lo = 0;
  Extended hi = 0;
};
Bounds CoarseDistanceAt(CrossingRoot& root);
// |1 + L| squared at an extreme, as a ball.
void SquaredDistance(CrossingRoot& root, arb_t out, slong prec);

// |1 + n/d| for balls n and d, the double nearest it, when the balls decide it.
std::optional<double> RoundedDistanceOfRatio(const Ball& n, const Ball& d);
// A rational value rounded to the nearest double (ties to even), subnormals included.
double NearestDouble(const Exact& q);
// √q for a rational q ≥ 0, the nearest double.
double NearestSquareRoot(const Exact& q);
// 20·lg q for a rational q > 0, the nearest double; as a ball, |20·lg q|.
double DecibelsOf(const Exact& q);
void AbsoluteDecibelsOf(const Exact& q, arb_t out, slong prec);
// A rational as a ball at precision prec (exact when its denominator is a power of two).
void SetExactBall(arb_t out, const Exact& q, slong prec);

// Whether x < y, decided from balls at increasing precision; false when they agree to 4096
// bits (taken as equal: the earlier in order stays first).
template <class X, class Y>
bool LessThan(X&& x, Y&& y) {
  ArbBall a;
  ArbBall b;
  for (slong prec = 128; prec <= 4096; prec *= 2) {
    x(a.get(), prec);
    y(b.get(), prec);
    if (arb_lt(a.get(), b.get())) {
      return true;
    }
    if (arb_ge(a.get(), b.get())) {
      return false;
    }
  }
  return false;
}

}  // namespace pitch::analysis
