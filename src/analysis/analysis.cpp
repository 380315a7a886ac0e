#include "analysis/analysis.h"

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <unsupported/Eigen/MatrixFunctions>

#include "analysis/stability.h"

namespace pitch::analysis {

Matrix4 ToEigen(const StateMatrix& rows) {
  Matrix4 a;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      a(i, j) = rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    }
  }
  return a;
}

Vector4 InitialState() { return Vector4(-1, 0, 0, kInitialAngle); }

namespace {

using Eigenvalues = Eigenvalues4;

Eigenvalues EigenvaluesOf(const Matrix4& a) {
  return Eigen::EigenSolver<Matrix4>(a, false).eigenvalues();
}

bool StableOf(const Eigenvalues& eigenvalues) { return (eigenvalues.real().array() < 0).all(); }

// h = 1 + z from the state x0, then after each of count − 1 steps x ← exp(m)·x; it stops where
// the state leaves the double range.
std::vector<double> Iterate(const Matrix4& m, const Vector4& x0, int count) {
  const Matrix4 factor = m.exp();
  std::vector<double> h;
  h.reserve(static_cast<std::size_t>(count));
  Vector4 state = x0;
  for (int i = 0; i < count; ++i) {
    const double value = 1 + state(0);
    if (!state.allFinite() || !std::isfinite(value)) {
      break;
    }
    h.push_back(value);
    state = factor * state;
  }
  return h;
}

// Within 2^±kPlainExponent of unit poles, the closed-loop matrix as it stands; beyond, its
// entries (up to the poles' size cubed) lose the loop to rounding and leave the double range.
constexpr int kPlainExponent = 8;

// The exact response of a controller's closed loop (a its matrix of doubles): from a when its
// poles are near unit size, else in state units scaled to the poles' size (z is not scaled).
std::vector<double> LoopResponse(const ClosedLoop& loop, const Matrix4& a, const Vector4& x0,
                                 double dt, int count) {
  const int e = loop.PoleExponent();
  if (e >= -kPlainExponent && e <= kPlainExponent) {
    return ExactResponse(a, x0, dt, count);
  }
  const Vector4 scaled(x0(0), std::ldexp(x0(1), -e), std::ldexp(x0(2), e), x0(3));
  return Iterate(loop.ScaledStep(e, dt), scaled, count);
}

// stable: the exact verdict; the eigenvalues tell the horizon; response(dt, count) the samples.
template <class Response>
std::optional<double> SettlingTimeOf(const Response& response, const Eigenvalues& eigenvalues,
                                     bool stable) {
  if (!StableOf(eigenvalues) || !stable) {
    return std::nullopt;
  }
  // The slowest mode decays as e^(−σ·t); by 40/σ it has shrunk by e^−40, far inside the band
  // for any mode amplitude the loop can produce.
  const double sigma = -eigenvalues.real().maxCoeff();
  const double horizon = std::max(10.0, 40.0 / sigma);
  constexpr int kMaxSteps = 20000;
  const double dt = std::max(kTimeStep, horizon / kMaxSteps);
  const int count = static_cast<int>(std::ceil(horizon / dt)) + 1;
  const std::vector<double> h = response(dt, count);
  if (h.size() < static_cast<std::size_t>(count)) {
    return std::nullopt;
  }
  std::vector<double> t(h.size());
  for (std::size_t i = 0; i < t.size(); ++i) {
    t[i] = static_cast<double>(i) * dt;
  }
  return Characteristics(t, h).settling_time;
}

}  // namespace

std::vector<Pole> PolesOf(const Eigenvalues4& eigenvalues) {
  std::vector<Pole> complex_pairs;
  std::vector<Pole> reals;
  for (const std::complex<double>& p : eigenvalues) {
    const double magnitude = std::abs(p);
    if (p.imag() > 0) {
      // A pair on the imaginary axis is undamped: 0, not −0.
      const double damping = p.real() == 0 ? 0.0 : -p.real() / magnitude;
      complex_pairs.push_back({p, std::nullopt, damping, magnitude});
    } else if (p.imag() == 0) {
      std::optional<double> tau;
      if (p.real() != 0) {
        tau = 1 / std::fabs(p.real());
      }
      reals.push_back({p, tau, std::nullopt, std::nullopt});
    }
  }
  const auto fastest_first = [](const Pole& l, const Pole& r) {
    return l.value.real() < r.value.real();
  };
  std::sort(complex_pairs.begin(), complex_pairs.end(), fastest_first);
  std::sort(reals.begin(), reals.end(), fastest_first);
  complex_pairs.insert(complex_pairs.end(), reals.begin(), reals.end());
  return complex_pairs;
}

std::vector<Pole> ClosedLoopPoles(const Matrix4& a) { return PolesOf(EigenvaluesOf(a)); }

std::vector<Pole> ClosedLoopPoles(const TController& c) {
  return PolesOf(ClosedLoop(c).Eigenvalues());
}

bool IsStable(const Matrix4& a) { return ClosedLoopStability(a) == Stability::kStable; }

bool IsStable(const TController& c) { return ClosedLoopStability(c) == Stability::kStable; }

std::vector<double> ExactResponse(const Matrix4& a, const Vector4& x0, double dt, int count) {
  return Iterate(a * dt, x0, count);
}

EulerError CompareWithExact(std::span<const double> euler, std::span<const double> exact,
                            std::span<const double> t) {
  EulerError e;
  for (std::size_t i = 1; i < euler.size() && i < exact.size(); ++i) {
    const double d = std::fabs(euler[i] - exact[i]);
    if (!std::isfinite(d)) {
      break;
    }
    if (d > e.max_abs) {
      e.max_abs = d;
      e.time = t[i];
    }
  }
  return e;
}

std::optional<double> ContinuousSettlingTime(const Matrix4& a, const Vector4& x0) {
  const auto response = [&a, &x0](double dt, int count) { return ExactResponse(a, x0, dt, count); };
  return SettlingTimeOf(response, EigenvaluesOf(a), IsStable(a));
}

LoopAnalysis Analyze(const TController& c) { return Analyze(c, IsStable(c)); }

LoopAnalysis Analyze(const TController& c, bool stable) {
  LoopAnalysis result;
  const Matrix4 a = ToEigen(ClosedLoopMatrix(c));
  const ClosedLoop loop(c);
  const Eigenvalues eigenvalues = loop.Eigenvalues();
  result.poles = PolesOf(eigenvalues);
  result.stable = stable;
  result.times = SampleTimes();
  const auto response = [&loop, &a](double dt, int count) {
    return LoopResponse(loop, a, InitialState(), dt, count);
  };
  result.exact = response(kTimeStep, kSampleCount);
  if (result.exact.size() < result.times.size()) {
    result.exact_range_end = result.times[result.exact.size() - 1];
  }
  const std::span<const double> euler(c.teta.values());
  result.euler_error = CompareWithExact(euler, result.exact, result.times);
  result.euler = Characteristics(result.times, euler);
  result.exact_settling_time = SettlingTimeOf(response, eigenvalues, result.stable);
  return result;
}

}  // namespace pitch::analysis
