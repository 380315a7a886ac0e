#include "analysis/euler_stability.h"

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

namespace pitch::analysis {

EulerStability EulerStabilityOf(const Matrix4& a, double dt) {
  return EulerStabilityOf(Eigen::EigenSolver<Matrix4>(a, false).eigenvalues(), dt);
}

EulerStability EulerStabilityOf(const Eigenvalues4& eigenvalues, double dt) {
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
  s.stable = s.spectral_radius < 1;
  if (any_step && std::isfinite(step)) {
    s.largest_stable_step = step;
  }
  return s;
}

}  // namespace pitch::analysis
