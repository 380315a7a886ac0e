#include "analysis/euler_stability.h"

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

#include "analysis/stability.h"

namespace pitch::analysis {

EulerStability EulerStabilityOf(const Matrix4& a, double dt) {
  return EulerStabilityOf(a, Eigen::EigenSolver<Matrix4>(a, false).eigenvalues(), dt);
}

EulerStability EulerStabilityOf(const Matrix4& a, const Eigenvalues4& eigenvalues, double dt) {
  EulerStability s;
  double step = std::numeric_limits<double>::infinity();
  bool any_step = true;
  for (const std::complex<double>& lambda : eigenvalues) {
    s.spectral_radius = std::max(s.spectral_radius, std::abs(1.0 + lambda * dt));
    const double magnitude_squared = std::norm(lambda);
    if (lambda.real() >= 0 || magnitude_squared == 0) {
      any_step = false;
    } else {
      step = std::min(step, -2 * lambda.real() / magnitude_squared);
    }
  }
  s.stable = EulerIterationStable(a, dt);
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

}  // namespace pitch::analysis
