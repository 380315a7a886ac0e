// Closed-form synthesis of the autopilot's gear ratios.
//
// Each step is evaluated in extended precision in the operand order of its formula; values that
// are named (R, K, B, D, Kz, the ratios) are rounded to Reals. The order of the steps is also the
// order of the faults: the first failing operation decides the error, and nothing after it is
// stored.
#include "core/controller.h"

namespace pitch {

namespace {
// 0.09 as the extended value nearest to it, not the Real nearest to it.
constexpr Extended kIntegralGain = 0.09L;
}  // namespace

void TController::ComputeGearRatios() {
  using fp::Add;
  using fp::Div;
  using fp::Mul;
  using fp::Sqrt;
  using fp::Store;
  using fp::Sub;
  const Extended x1 = c1;
  const Extended x2 = c2;
  const Extended x3 = c3;
  const Extended x4 = c4;
  const Extended x5 = c5;

  // 1. Model check: 1 / √(c1·c4 + c2) must exist as a Real. Only its faults matter.
  const Real model_root = Store(Sqrt(Add(Mul(x1, x4), x2)));
  Store(Div(1, model_root));

  // 2. R = 1 / c4
  const Real R = Store(Div(1, x4));
  // 3. K = (c3·c4) / (c1·c4 + c2)
  const Extended k_numerator = Mul(x3, x4);
  const Real K = Store(Div(k_numerator, Add(Mul(x1, x4), x2)));
  // 4. B = (((c1 + c5) − c4)·2) / c3
  const Real B = Store(Div(Mul(Sub(Add(x1, x5), x4), 2), x3));
  // 5. D = (((c1 + c4) + c5)·((c1 + c4) + c5) − (c1·c4 + c2)·4) / (c3·c3)
  const Extended sum = Add(Add(x1, x4), x5);
  const Real D = Store(Div(Sub(Mul(sum, sum), Mul(Add(Mul(x1, x4), x2), 4)), Mul(x3, x3)));
  // 6. d = (B·B)/4 − D and its root, both kept in extended precision.
  const Extended d = Sub(Div(Mul(Extended{B}, B), 4), D);
  const Extended r = Sqrt(d);
  // 7. muv = |r + (−B)/2|, the larger root of m² + B·m + D = 0 in magnitude.
  muv = Store(std::fabs(Add(r, Div(-Extended{B}, 2))));
  // 8. Kz = K / (muv·K + 1)
  const Real Kz = Store(Div(K, Add(Mul(Extended{muv}, K), 1)));
  // 9. Damped-loop check: muv·K + 1 must not be negative. Only its fault matters.
  Sqrt(Add(Mul(Extended{muv}, K), 1));
  // 10. iv = 1 / (Kz·R)
  iv = Store(Div(1, Mul(Extended{Kz}, R)));
  // 11. nuv = 0.09 / ((Kz·R)·R)
  nuv = Store(Div(kIntegralGain, Mul(Mul(Extended{Kz}, R), R)));
  // 12. Tnu = iv / nuv, from the stored Reals.
  Tnu = Store(Div(iv, nuv));
}

}  // namespace pitch
