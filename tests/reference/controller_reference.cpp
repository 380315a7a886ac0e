#include "reference/controller_reference.h"

namespace pitch::reference {

namespace {

// The extended value nearest to 0.09, correctly rounded from the decimal constant.
Ext IntegralGain() {
  Ext gain;
  mpfr_set_str(gain.get(), "0.09", 10, MPFR_RNDN);
  return gain;
}

// The Real nearest to π/180: the initial lag state and the first sample. π is taken with far
// more bits than the quotient keeps, so the quotient is rounded as if once.
double InitialAngle() {
  mpfr_t pi;
  mpfr_t angle;
  mpfr_init2(pi, 256);
  mpfr_init2(angle, 53);
  mpfr_const_pi(pi, MPFR_RNDN);
  mpfr_div_ui(angle, pi, 180, MPFR_RNDN);
  const double out = mpfr_get_d(angle, MPFR_RNDN);
  mpfr_clear(angle);
  mpfr_clear(pi);
  return out;
}

}  // namespace

// Each operation tests its own faults, so the first failing operation in the order of the steps
// decides the error, case by case as the synthesis defines them: step 1 fails for c1·c4 + c2
// negative (invalid), zero of either sign (division by zero) or so small that the reciprocal of
// its root leaves the Real range (overflow; the root itself cannot round to zero, since c1·c4 + c2
// is a multiple of 2^-2148); step 2 for c4 = 0; step 4 for c3 = 0 (0/0 when (c1 + c5) − c4 = 0
// too); step 6 for d < 0; step 8 for muv·K + 1 = 0; step 9 for muv·K + 1 < 0; and every step whose
// Real leaves the range. The rarer faults (iv, nuv or Tnu dividing by a Real that underflowed to
// zero) follow from the same tests.
Fault ComputeGearRatios(ControllerFields& f) {
  const ExtendedRange range;
  try {
    const Ext c1(f.c1);
    const Ext c2(f.c2);
    const Ext c3(f.c3);
    const Ext c4(f.c4);
    const Ext c5(f.c5);
    const Ext one(1.0);
    const Ext two(2.0);
    const Ext four(4.0);

    // 1. Model check: 1 / √(c1·c4 + c2), the root stored as a Real first.
    const double model_root = Store(Sqrt(Add(Mul(c1, c4), c2)));
    Store(Div(one, Ext(model_root)));
    // 2. R = 1 / c4
    const double R = Store(Div(one, c4));
    // 3. K = (c3·c4) / (c1·c4 + c2)
    const Ext k_numerator = Mul(c3, c4);
    const double K = Store(Div(k_numerator, Add(Mul(c1, c4), c2)));
    // 4. B = (((c1 + c5) − c4)·2) / c3
    const double B = Store(Div(Mul(Sub(Add(c1, c5), c4), two), c3));
    // 5. D = (((c1 + c4) + c5)·((c1 + c4) + c5) − (c1·c4 + c2)·4) / (c3·c3)
    const Ext sum_left = Add(Add(c1, c4), c5);
    const Ext sum_right = Add(Add(c1, c4), c5);
    const Ext d_numerator = Sub(Mul(sum_left, sum_right), Mul(Add(Mul(c1, c4), c2), four));
    const double D = Store(Div(d_numerator, Mul(c3, c3)));
    // 6. d = (B·B)/4 − D and r = √d, both extended.
    const Ext d = Sub(Div(Mul(Ext(B), Ext(B)), four), Ext(D));
    const Ext r = Sqrt(d);
    // 7. muv = |r + (−B)/2|, stored at once.
    f.muv = Store(Abs(Add(r, Div(Neg(Ext(B)), two))));
    // 8. Kz = K / (muv·K + 1)
    const double Kz = Store(Div(Ext(K), Add(Mul(Ext(f.muv), Ext(K)), one)));
    // 9. Damped-loop check: √(muv·K + 1).
    Sqrt(Add(Mul(Ext(f.muv), Ext(K)), one));
    // 10. iv = 1 / (Kz·R)
    f.iv = Store(Div(one, Mul(Ext(Kz), Ext(R))));
    // 11. nuv = 0.09 / ((Kz·R)·R)
    f.nuv = Store(Div(IntegralGain(), Mul(Mul(Ext(Kz), Ext(R)), Ext(R))));
    // 12. Tnu = iv / nuv, from the stored Reals.
    f.Tnu = Store(Div(Ext(f.iv), Ext(f.nuv)));
  } catch (const FaultRaised& raised) {
    return raised.fault;
  }
  return Fault::kNone;
}

Fault SimulateResponse(ControllerFields& f) {
  const ExtendedRange range;
  static const double initial_angle = InitialAngle();
  try {
    // dt = (10 − 0) / 1000, a Real.
    const double dt = Store(Div(Sub(Ext(10.0), Ext(0.0)), Ext(1000.0)));
    const Ext c1(f.c1);
    const Ext c2(f.c2);
    const Ext c3(f.c3);
    const Ext c4(f.c4);
    const Ext c5(f.c5);
    const Ext one(1.0);
    const Ext step(dt);

    // Parts of the rate equation that do not change from step to step, each formed as in the
    // step's formula: (c1 + c5) + c3·muv, c2 − c4·c5, c3·nuv and c3·iv.
    const Ext damping = Add(Add(c1, c5), Mul(c3, Ext(f.muv)));
    const Ext stiffness = Sub(c2, Mul(c4, c5));
    const Ext integral_gain = Mul(c3, Ext(f.nuv));
    const Ext proportional_gain = Mul(c3, Ext(f.iv));

    double z = -1;
    double w = 0;
    double y = 0;
    double x = initial_angle;
    f.teta[0] = initial_angle;
    for (int i = 2; i <= kSamples; ++i) {
      const Ext wp(w);
      const Ext xp(x);
      const Ext yp(y);
      const Ext zp(z);
      // a. w = ((((c1 + c5) + c3·muv)·(−wp) − (c2 − c4·c5)·xp) − (c3·nuv)·yp − (c3·iv)·zp)·dt + wp
      const Ext rate =
          Sub(Sub(Sub(Mul(damping, Neg(wp)), Mul(stiffness, xp)), Mul(integral_gain, yp)),
              Mul(proportional_gain, zp));
      const double w_new = Store(Add(Mul(rate, step), wp));
      // b. y = dt·zp + yp
      const double y_new = Store(Add(Mul(step, zp), yp));
      // c. x = (wp − xp·c4)·dt + xp
      const double x_new = Store(Add(Mul(Sub(wp, Mul(xp, c4)), step), xp));
      // d. z = dt·wp + zp
      const double z_new = Store(Add(Mul(step, wp), zp));
      // e. teta[i] = z + 1, from the Real z.
      const double sample = Store(Add(Ext(z_new), one));
      w = w_new;
      y = y_new;
      x = x_new;
      z = z_new;
      f.teta[static_cast<std::size_t>(i - 1)] = sample;
    }
  } catch (const FaultRaised& raised) {
    return raised.fault;
  }
  return Fault::kNone;
}

}  // namespace pitch::reference
