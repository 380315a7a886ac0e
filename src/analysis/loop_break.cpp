#include "analysis/loop_break.h"

namespace pitch::analysis {

LoopBreak BreakAtCommand(const TController& c) {
  LoopBreak loop;
  // rows and columns: z, w, y, x
  loop.a0 = Matrix4::Zero();
  loop.a0(0, 1) = 1;
  loop.a0(1, 1) = -(c.c1 + c.c5);
  loop.a0(1, 3) = -(c.c2 - c.c4 * c.c5);
  loop.a0(2, 0) = 1;
  loop.a0(3, 1) = 1;
  loop.a0(3, 3) = -c.c4;
  loop.b = Vector4(0, c.c3, 0, 0);
  loop.k = Eigen::RowVector4d(c.iv, c.muv, c.nuv, 0);
  return loop;
}

TransferFunction LoopTransfer(const TController& c) {
  const Extended c1 = c.c1;
  const Extended c2 = c.c2;
  const Extended c3 = c.c3;
  const Extended c4 = c.c4;
  const Extended c5 = c.c5;
  const Extended muv = c.muv;
  const Extended iv = c.iv;
  const Extended nuv = c.nuv;

  TransferFunction l;
  // The autopilot's polynomial muv·s² + iv·s + nuv, of lower degree when its leading ratios
  // vanish.
  Extended lead = muv;
  if (muv != 0) {
    l.zeros = QuadraticRoots(muv, iv, nuv);
  } else if (iv != 0) {
    lead = iv;
    l.zeros = {ComplexExtended(-nuv / iv, 0)};
  } else {
    lead = nuv;
  }
  l.zeros.emplace_back(-c4, 0);  // the lag x' = w − c4·x
  l.gain = c3 * lead;
  l.poles = {0, 0};
  for (const ComplexExtended& p : QuadraticRoots(1, c1 + c4 + c5, c1 * c4 + c2)) {
    l.poles.push_back(p);
  }
  return l;
}

}  // namespace pitch::analysis
