// The autopilot loop broken at the autopilot's command δ = muv·w + iv·z + nuv·y, which enters the
// rate equation through c3. With the states (z, w, y, x) the aircraft alone is x' = A0·x + b·δ,
// the autopilot reads δ = K·x, and the loop closed by negative feedback is A0 − b·K, the
// closed-loop matrix of the model.
#pragma once

#include <Eigen/Core>

#include "analysis/analysis.h"
#include "analysis/transfer_function.h"
#include "core/controller.h"

namespace pitch::analysis {

struct LoopBreak {
  Matrix4 a0;            // the closed-loop matrix without the autopilot's three c3 terms
  Vector4 b;             // (0, c3, 0, 0)
  Eigen::RowVector4d k;  // (iv, muv, nuv, 0)
};
LoopBreak BreakAtCommand(const TController& c);

// L(s) = K·(sI − A0)⁻¹·b of a controller whose synthesis has completed, in factored form:
//   L(s) = c3·(s + c4)·(muv·s² + iv·s + nuv) / (s²·(s² + (c1 + c4 + c5)·s + c1·c4 + c2)),
// the two integrators of the autopilot's deviation and its integral at the origin.
TransferFunction LoopTransfer(const TController& c);

}  // namespace pitch::analysis
