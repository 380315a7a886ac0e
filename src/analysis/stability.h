// Stability of the closed loop and of its Euler iteration decided from signs, exactly where a
// sign decides it.
//
// The characteristic polynomial of a 4×4 matrix of doubles has exact rational coefficients (sums
// of products of the entries). Its Hurwitz determinants are formed in midpoint–radius extended
// arithmetic and, when a ball cannot tell a sign, again in GMP rationals; so a pole exactly on
// the imaginary axis (a zero constant coefficient or a zero determinant) is never taken for a
// stable one because of a rounded eigenvalue. The iteration x ← (I + A·dt)·x is mapped to the
// same test by z = (1 + w)/(1 − w), which takes the unit circle onto the imaginary axis.
#pragma once

#include "analysis/analysis.h"

namespace pitch::analysis {

enum class Stability {
  kStable,    // every pole strictly in the left half-plane
  kMarginal,  // a pole on the imaginary axis, none right of it
  kUnstable,  // a pole right of the imaginary axis
};

Stability ClosedLoopStability(const Matrix4& a);

// Every eigenvalue of I + A·dt strictly inside the unit circle (A and dt taken as exact).
bool EulerIterationStable(const Matrix4& a, double dt);

}  // namespace pitch::analysis
