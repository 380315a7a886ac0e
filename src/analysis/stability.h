// Stability of the closed loop and of its Euler iteration decided from signs, exactly where a
// sign decides it, and the closed loop's poles from the same loop.
//
// The closed loop of a controller is det(s·I − A) = D + N for the open loop L = N/D
// (analysis/loop_polynomials.h): s⁴ + a3·s³ + a2·s² + a1·s + a0 with
//   a3 = c1 + c4 + c5 + c3·muv,   a2 = c1·c4 + c2 + c3·c4·muv + c3·iv,
//   a1 = c3·c4·iv + c3·nuv,       a0 = c3·c4·nuv,
// exact rationals formed from the doubles c1 … c5, muv, iv, nuv (never from the closed-loop
// matrix of doubles, whose entries such as c3·nuv may have left the double range). Its Hurwitz
// determinants are formed in midpoint–radius extended arithmetic and, when a ball cannot tell a
// sign, again in GMP rationals. A loop with a root on the imaginary axis is split exactly: the
// factor on the axis is the greatest common divisor of p(s) and p(−s) (of its even and odd
// parts); the loop is marginally stable when that factor's roots all lie on the axis and the rest
// is strictly stable, both decided in rationals. The iteration x ← (I + A·dt)·x is mapped to the
// same test by z = (1 + w)/(1 − w), which takes the unit circle onto the imaginary axis.
//
// The poles are the eigenvalues of the closed-loop matrix of doubles when no pole lies on the axis
// and each eigenvalue is a root of the polynomial with every coefficient moved by at most 2⁻⁴⁰
// of itself (the matrix's entries grow as the poles' size cubed, and for poles far from unit size
// they lose the loop to rounding or leave the double range); else the roots of the polynomial
// scaled by a power of two to unit size (so huge and tiny coefficients neither overflow nor
// underflow), refined by Newton steps in extended precision. A pole is exactly 0 only when it is
// exactly 0; a pole on the axis has real part exactly 0 and its ω formed at 256 bits, then
// rounded to a double.
#pragma once

#include <array>
#include <optional>

#include "analysis/analysis.h"
#include "analysis/polynomial.h"
#include "core/controller.h"

namespace pitch::analysis {

namespace stability_detail {
// The signs (−1, 0, 1) that decide where the roots of a0 + a1·s + … + a4·s⁴ lie.
struct HurwitzSigns {
  std::array<int, 5> a{};
  int delta2 = 0;        // a3·a2 − a4·a1
  int delta3 = 0;        // a1·(a3·a2 − a4·a1) − a3²·a0
  int discriminant = 0;  // a2² − 4·a4·a0, when a3 = a1 = 0 (else 0: nothing consults it)
};

// A value formed in extended precision beside the same expression over its operands' magnitudes
// (a subtraction adds them): the sums and products of the loop's doubles formed here are a few
// dozen operations deep at most and stay far inside the extended range (no product of them
// underflows or overflows), so the rounded value lies within 2⁻⁵⁰·magnitude of the exact one, and
// a value beyond that bound tells its sign. The cheap first test of a sign; a Ball takes over
// where it cannot tell (an exact zero among them), and its bound is never the wider one.
struct Filtered {
  Extended value = 0;
  Extended magnitude = 0;
};
}  // namespace stability_detail

enum class Stability {
  kStable,    // every pole strictly in the left half-plane
  kMarginal,  // a pole on the imaginary axis, none right of it
  kUnstable,  // a pole right of the imaginary axis
};

// The closed loop of a controller whose ratios are known, each verdict formed once when it is
// first asked for.
class ClosedLoop {
 public:
  explicit ClosedLoop(const TController& c);

  Stability Continuous() const;
  // Every eigenvalue of I + A·dt strictly inside the unit circle (A and dt taken as exact).
  bool EulerIterationStable(double dt) const;
  // The four poles (conjugate pairs as two values).
  Eigenvalues4 Eigenvalues() const;

  // The binary exponent e of the poles' size: 2^e bounds them within a few factors of two (0 when
  // every pole is 0).
  int PoleExponent() const;
  // D·A·D⁻¹·dt for D = diag(1, 2^−e, 2^e, 1), the closed loop in state units scaled to poles of
  // size 2^e, formed in extended precision and rounded once: its entries are near 2^e·dt when the
  // inputs are of one scale, where those of A·dt (up to the poles' size cubed) leave the double
  // range. Its exponential is D·exp(A·dt)·D⁻¹.
  Matrix4 ScaledStep(int e, double dt) const;

 private:
  const stability_detail::HurwitzSigns& Signs() const;
  const std::array<Ball, 5>& BallCoefficients() const;
  const std::array<Exact, 5>& ExactCoefficients() const;

  struct Inputs {
    Real c1 = 0, c2 = 0, c3 = 0, c4 = 0, c5 = 0, muv = 0, iv = 0, nuv = 0;
  };
  Inputs in_;
  Matrix4 matrix_;  // the closed-loop matrix of doubles (pitch::ClosedLoopMatrix)
  bool finite_ = false;
  // a0 … a4: rounded beside their magnitudes, and as balls when those cannot tell a sign.
  std::array<stability_detail::Filtered, 5> filtered_{};
  mutable std::optional<std::array<Ball, 5>> fast_;
  mutable std::optional<std::array<Exact, 5>> exact_;
  mutable std::optional<stability_detail::HurwitzSigns> signs_;
  mutable std::optional<Stability> continuous_;
};

Stability ClosedLoopStability(const TController& c);
bool EulerIterationStable(const TController& c, double dt);

// The same for any matrix of doubles, its entries taken as exact.
Stability ClosedLoopStability(const Matrix4& a);
// Every eigenvalue of I + A·dt strictly inside the unit circle (A and dt taken as exact).
bool EulerIterationStable(const Matrix4& a, double dt);

}  // namespace pitch::analysis
