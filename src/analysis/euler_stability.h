// Whether the explicit Euler iteration of the closed loop is stable at the simulation's step.
// The continuous loop may be stable while the iteration x ← (I + A·dt)·x diverges: each pole λ
// becomes the iteration's factor 1 + λ·dt, and the iteration grows as soon as one factor leaves
// the unit circle.
#pragma once

#include <complex>
#include <optional>

#include "analysis/analysis.h"
#include "analysis/stability.h"

namespace pitch::analysis {

struct EulerStability {
  // The spectral radius of I + A·dt: the largest |1 + λ·dt| over the poles λ.
  double spectral_radius = 0;
  // The spectral radius is below 1, decided exactly (analysis/stability.h): an eigenvalue of
  // modulus exactly 1 is not stable. spectral_radius agrees with it: 1 when the rounded
  // eigenvalues say less for an iteration that is not stable, the double below 1 when they say 1
  // or more for one that is.
  bool stable = false;
  // The largest step for which the iteration is stable, min over the poles of −2·Re λ / |λ|²;
  // empty when no step is (a pole on or right of the imaginary axis).
  std::optional<double> largest_stable_step;
};

EulerStability EulerStabilityOf(const Matrix4& a, double dt);
// The same with the eigenvalues of A, for a caller that has solved for them already.
EulerStability EulerStabilityOf(const Matrix4& a, const Eigenvalues4& eigenvalues, double dt);
// The same for the closed loop of a controller whose ratios are known: its poles and the
// iteration's stability from its exact characteristic polynomial (analysis/stability.h).
EulerStability EulerStabilityOf(const TController& c, double dt);
EulerStability EulerStabilityOf(const ClosedLoop& loop, const Eigenvalues4& poles, double dt);

}  // namespace pitch::analysis
