#include "analysis/transfer_function.h"

#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <cmath>
#include <numbers>

namespace pitch::analysis {

namespace {

constexpr Extended kPi = std::numbers::pi_v<Extended>;

// The angle of jω − r = x + j·y on the root's continuous branch.
Extended Angle(const ComplexExtended& root, Extended x, Extended y) {
  const Extended angle = std::atan2(y, x);
  // A right half-plane root turns through (90°, 270°) without a jump.
  return root.real() > 0 && angle < 0 ? angle + 2 * kPi : angle;
}

// A product of the factors jω − r, and the sum of their angles.
struct Product {
  Extended re = 1;
  Extended im = 0;
  Extended angle = 0;

  void Multiply(const ComplexExtended& root, Extended omega) {
    MultiplyValue(root, omega);
    angle += Angle(root, -root.real(), omega - root.imag());
  }
  void MultiplyValue(const ComplexExtended& root, Extended omega) {
    const Extended x = -root.real();
    const Extended y = omega - root.imag();
    const Extended next_re = re * x - im * y;
    im = re * y + im * x;
    re = next_re;
  }
  Extended SquaredMagnitude() const { return re * re + im * im; }
};

// gain·N/D = gain·N·conj(D)/|D|²
ComplexExtended Quotient(Extended gain, const Product& n, const Product& d) {
  const Extended scale = gain / d.SquaredMagnitude();
  return {scale * (n.re * d.re + n.im * d.im), scale * (n.im * d.re - n.re * d.im)};
}

// The coefficients of Π(s − rᵢ), highest power first.
std::vector<Extended> Expand(const std::vector<ComplexExtended>& roots) {
  std::vector<ComplexExtended> c = {1};
  for (const ComplexExtended& r : roots) {
    c.push_back(0);
    for (std::size_t k = c.size() - 1; k > 0; --k) {
      c[k] -= r * c[k - 1];
    }
  }
  std::vector<Extended> real(c.size());
  for (std::size_t k = 0; k < c.size(); ++k) {
    real[k] = c[k].real();
  }
  return real;
}

}  // namespace

namespace {

// Π(jω − zᵢ) and Π(jω − pⱼ), with their angles when asked for. The products stay within the
// extended range for any root and frequency of the Real range raised to a modest order; no factor
// is divided, so no intermediate rounding accumulates.
struct Products {
  Product numerator;
  Product denominator;
};
Products ProductsAt(const TransferFunction& l, Extended omega, bool with_angles) {
  Products r;
  const auto multiply = [omega, with_angles](Product& product, const ComplexExtended& root) {
    if (with_angles) {
      product.Multiply(root, omega);
    } else {
      product.MultiplyValue(root, omega);
    }
  };
  for (const ComplexExtended& z : l.zeros) {
    multiply(r.numerator, z);
  }
  for (const ComplexExtended& p : l.poles) {
    multiply(r.denominator, p);
  }
  return r;
}

}  // namespace

FrequencyValue Evaluate(const TransferFunction& l, Extended omega) {
  const auto [numerator, denominator] = ProductsAt(l, omega, true);
  const Extended n2 = numerator.SquaredMagnitude();
  const Extended d2 = denominator.SquaredMagnitude();
  FrequencyValue v;
  v.log_magnitude = std::log(std::fabs(l.gain)) + (std::log(n2) - std::log(d2)) / 2;
  v.phase = (l.gain < 0 ? -kPi : 0) + numerator.angle - denominator.angle;
  v.value = Quotient(l.gain, numerator, denominator);
  return v;
}

Extended PhaseAt(const TransferFunction& l, Extended omega) {
  // The angles summed as Evaluate sums them: the numerator's, the denominator's, then the phase.
  Extended numerator = 0;
  for (const ComplexExtended& z : l.zeros) {
    numerator += Angle(z, -z.real(), omega - z.imag());
  }
  Extended denominator = 0;
  for (const ComplexExtended& p : l.poles) {
    denominator += Angle(p, -p.real(), omega - p.imag());
  }
  return (l.gain < 0 ? -kPi : 0) + numerator - denominator;
}

ComplexExtended ValueAt(const TransferFunction& l, Extended omega) {
  const auto [numerator, denominator] = ProductsAt(l, omega, false);
  return Quotient(l.gain, numerator, denominator);
}

ComplexExtended Slope(const TransferFunction& l, Extended omega, const FrequencyValue& v) {
  const ComplexExtended s(0, omega);
  ComplexExtended sum = 0;
  for (const ComplexExtended& z : l.zeros) {
    sum += Extended{1} / (s - z);
  }
  for (const ComplexExtended& p : l.poles) {
    sum -= Extended{1} / (s - p);
  }
  return ComplexExtended(0, 1) * v.value * sum;
}

bool ClosedLoopStable(const TransferFunction& l) {
  // denominator + gain·numerator, aligned at the constant term.
  const std::vector<Extended> n = Expand(l.zeros);
  std::vector<Extended> c = Expand(l.poles);
  if (n.size() > c.size()) {
    c.insert(c.begin(), n.size() - c.size(), 0);
  }
  for (std::size_t k = 0; k < n.size(); ++k) {
    c[c.size() - n.size() + k] += l.gain * n[k];
  }
  while (!c.empty() && c.front() == 0) {
    c.erase(c.begin());
  }
  if (c.empty() || c.back() == 0) {
    return false;  // no characteristic polynomial, or a root at the origin
  }
  const Eigen::Index degree = static_cast<Eigen::Index>(c.size()) - 1;
  if (degree == 0) {
    return true;
  }
  Eigen::MatrixXd companion = Eigen::MatrixXd::Zero(degree, degree);
  for (Eigen::Index k = 0; k < degree; ++k) {
    companion(0, k) = static_cast<double>(-c[static_cast<std::size_t>(k) + 1] / c.front());
    if (k + 1 < degree) {
      companion(k + 1, k) = 1;
    }
  }
  const Eigen::VectorXcd roots =
      Eigen::EigenSolver<Eigen::MatrixXd>(companion, false).eigenvalues();
  return (roots.real().array() < 0).all();
}

std::vector<ComplexExtended> QuadraticRoots(Extended a, Extended b, Extended c) {
  const Extended p = b / a;
  const Extended q = c / a;
  const Extended half = -p / 2;
  const Extended discriminant = half * half - q;
  if (discriminant < 0) {
    const Extended im = std::sqrt(-discriminant);
    return {ComplexExtended(half, im), ComplexExtended(half, -im)};
  }
  const Extended larger = half + std::copysign(std::sqrt(discriminant), half);
  const Extended smaller = larger != 0 ? q / larger : 0;
  return {ComplexExtended(larger, 0), ComplexExtended(smaller, 0)};
}

}  // namespace pitch::analysis
