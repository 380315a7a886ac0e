// Unit-step response of the closed loop by the explicit Euler method.
//
// State (z, w, y, x): z is the deviation of the response from the command 1, w its rate, y its
// running integral and x the lag state driven by w and decaying at the rate c4. Every right-hand
// side is evaluated in extended precision in the order written and rounded to a Real when stored.
// Inside one right-hand side the extended range cannot be exceeded (finite Real operands, no
// division), so only the stores are checked for overflow.
#include "core/controller.h"

namespace pitch {

void TController::SimulateResponse() {
  using fp::Store;
  const Extended steps = kSampleCount;
  const Real dt = Store((kEndTime - kStartTime) / steps);

  // Loop invariants of the rate equation's right-hand side, in its own operand order. They are
  // the same extended values in every step; forming them once also keeps the stores into teta
  // from forcing them to be re-read.
  const Extended x4 = c4;
  const Extended damping = (Extended{c1} + c5) + Extended{c3} * muv;  // (c1 + c5) + c3·muv
  // damping·(−wp) is formed as (−damping)·wp: the same exact product, so the same rounding.
  const Extended negative_damping = -damping;
  const Extended stiffness = Extended{c2} - x4 * c5;     // c2 − c4·c5
  const Extended integral_gain = Extended{c3} * nuv;     // c3·nuv
  const Extended proportional_gain = Extended{c3} * iv;  // c3·iv

  Real z = -1;
  Real w = 0;
  Real y = 0;
  Real x = kInitialAngle;
  teta[1] = kInitialAngle;

  for (int i = 2; i <= kSampleCount; ++i) {
    const Real wp = w;
    const Real xp = x;
    const Real yp = y;
    const Real zp = z;
    const Real w_new = static_cast<Real>(
        (((negative_damping * wp - stiffness * xp) - integral_gain * yp) - proportional_gain * zp) *
            dt +
        wp);
    const Real y_new = static_cast<Real>(Extended{dt} * zp + yp);
    const Real x_new = static_cast<Real>((Extended{wp} - Extended{xp} * x4) * dt + xp);
    const Real z_new = static_cast<Real>(Extended{dt} * wp + zp);
    const Real sample = static_cast<Real>(Extended{z_new} + 1);
    // All five stores of the step are checked together: the states are local, so a step whose
    // first out-of-range value is any of them stores no sample and raises the same overflow.
    if (std::isinf(w_new) | std::isinf(y_new) | std::isinf(x_new) | std::isinf(z_new) |
        std::isinf(sample)) {
      throw EOverflow();
    }
    w = w_new;
    y = y_new;
    x = x_new;
    z = z_new;
    teta[i] = sample;
  }
}

}  // namespace pitch
