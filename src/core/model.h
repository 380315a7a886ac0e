// The model's constants, in one place: the initial lag state, the time grid of the simulation,
// the window's start-up coefficients, and the closed loop as a continuous linear system.
#pragma once

#include <array>

#include "core/extended.h"

namespace pitch {

class TController;

// The initial lag state x and the first response sample: the Real nearest to π/180.
inline constexpr Real kInitialAngle = 0.017453292519943295;

// The time grid: 1000 samples from 0 with the step (10 − 0)/1000, rounded to a Real, so the
// last sample belongs to 9.99 s.
inline constexpr int kSampleCount = 1000;
inline constexpr Extended kStartTime = 0;
inline constexpr Extended kEndTime = 10;
// The step as the simulation forms it; equal to the Real nearest to 0.01.
inline constexpr Real kTimeStep = static_cast<Real>((kEndTime - kStartTime) / kSampleCount);
static_assert(kTimeStep == 0.01);

// The window's start-up coefficients c1 … c5, as the texts of its boxes (written with a comma)
// and as the Reals those texts give.
inline constexpr std::array<const char*, 5> kDefaultCoefficientTexts = {"0,880", "0,404", "7,028",
                                                                        "0,987", "0,251"};
inline constexpr std::array<Real, 5> kDefaultCoefficients = {0.880, 0.404, 7.028, 0.987, 0.251};

// The closed loop as x' = A·x in the simulation's state order (z, w, y, x):
//   z' = w,  y' = z,  x' = w − c4·x,
//   w' = −(c1 + c5)·w − (c2 − c4·c5)·x − c3·(muv·w + iv·z + nuv·y),
// in double arithmetic, for analysis. (The simulation keeps its own operand order in extended
// precision: that order defines the samples.)
using StateMatrix = std::array<std::array<double, 4>, 4>;
StateMatrix ClosedLoopMatrix(const TController& c);

}  // namespace pitch
