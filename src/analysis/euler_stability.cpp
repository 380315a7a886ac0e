#include "analysis/euler_stability.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

#include "analysis/eigenvalues4.h"
#include "analysis/stability.h"

namespace pitch::analysis {

EulerStability EulerStabilityOf(const Matrix4& a, double dt) {
  return EulerStabilityOf(a, EigenvaluesOf(a), dt);
}

namespace {

// The figures from the eigenvalues, given whether the iteration is stable.
EulerStability FromEigenvalues(const Eigenvalues4& eigenvalues, double dt, bool stable) {
  EulerStability s;
  double step = std::numeric_limits<double>::infinity();
  bool any_step = true;
  double factor_size = 0;  // |1 + λ·dt| of the eigenvalue before
  for (Eigen::Index k = 0; k < eigenvalues.size(); ++k) {
    const std::complex<double> lambda = eigenvalues(k);
    const std::complex<double> factor = 1.0 + lambda * dt;
    // std::abs is hypot(re, im), which is |re| for im = ±0 and the same for the conjugate.
    if (factor.imag() == 0) {
      factor_size = std::fabs(factor.real());
    } else if (k == 0 || lambda != std::conj(eigenvalues(k - 1))) {
      factor_size = std::abs(factor);
    }
    s.spectral_radius = std::max(s.spectral_radius, factor_size);
    const double magnitude_squared = std::norm(lambda);
    if (lambda.real() >= 0 || lambda == 0.0) {
      any_step = false;
    } else if (std::isnormal(magnitude_squared)) {
      step = std::min(step, -2 * lambda.real() / magnitude_squared);
    } else {
      // |λ|² beyond the double range: −2·Re λ/|λ|/|λ|.
      const double magnitude = std::abs(lambda);
      step = std::min(step, -2 * (lambda.real() / magnitude) / magnitude);
    }
  }
  s.stable = stable;
  if (!s.stable && s.spectral_radius < 1) {
    s.spectral_radius = 1;
  } else if (s.stable && s.spectral_radius >= 1) {
    s.spectral_radius = std::nextafter(1.0, 0.0);
  }
  if (any_step && std::isfinite(step)) {
    s.largest_stable_step = step;
  }
  return s;
}

}  // namespace

EulerStability EulerStabilityOf(const Matrix4& a, const Eigenvalues4& eigenvalues, double dt) {
  return FromEigenvalues(eigenvalues, dt, EulerIterationStable(a, dt));
}

EulerStability EulerStabilityOf(const TController& c, double dt) {
  const ClosedLoop loop(c);
  return EulerStabilityOf(loop, loop.Eigenvalues(), dt);
}

EulerStability EulerStabilityOf(const ClosedLoop& loop, const Eigenvalues4& poles, double dt) {
  return FromEigenvalues(poles, dt, loop.EulerIterationStable(dt));
}

}  // namespace pitch::analysis
