#include "analysis/analysis.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <unsupported/Eigen/MatrixFunctions>

#include "analysis/eigenvalues4.h"
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

bool StableOf(const Eigenvalues& eigenvalues) { return (eigenvalues.real().array() < 0).all(); }

// h := 1 + z from the state x0, then after each of count − 1 steps x ← exp(m)·x; it stops where
// the state leaves the double range. h keeps its capacity, so that a caller can reuse it.
//
// The product is Eigen's for a 4×4 matrix of doubles, written out: each new entry is
// ((f0·x0 + f1·x1) + f2·x2) + f3·x3 over the row's entries f, two rows at a time. Written out,
// the state stays in registers from step to step; through Eigen it went to memory and back in
// every step, on the chain that bounds the loop.
void Iterate(const Matrix4& m, const Vector4& x0, int count, std::vector<double>& h) {
  const Matrix4 factor = m.exp();
  h.clear();
  h.reserve(static_cast<std::size_t>(count));
  // Column j's rows 0–1 and 2–3.
  __m128d upper[4];
  __m128d lower[4];
  for (int j = 0; j < 4; ++j) {
    upper[j] = _mm_set_pd(factor(1, j), factor(0, j));
    lower[j] = _mm_set_pd(factor(3, j), factor(2, j));
  }
  __m128d x01 = _mm_set_pd(x0(1), x0(0));
  __m128d x23 = _mm_set_pd(x0(3), x0(2));
  const __m128d zero = _mm_setzero_pd();
  for (int i = 0; i < count; ++i) {
    const double value = 1 + _mm_cvtsd_f64(x01);
    // x − x is 0 for a finite x and NaN otherwise.
    const __m128d finite = _mm_and_pd(_mm_cmpeq_pd(_mm_sub_pd(x01, x01), zero),
                                      _mm_cmpeq_pd(_mm_sub_pd(x23, x23), zero));
    if (_mm_movemask_pd(finite) != 3 || !std::isfinite(value)) {
      break;
    }
    h.push_back(value);
    const __m128d b0 = _mm_unpacklo_pd(x01, x01);
    const __m128d b1 = _mm_unpackhi_pd(x01, x01);
    const __m128d b2 = _mm_unpacklo_pd(x23, x23);
    const __m128d b3 = _mm_unpackhi_pd(x23, x23);
    x01 = _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(upper[0], b0), _mm_mul_pd(upper[1], b1)),
                                _mm_mul_pd(upper[2], b2)),
                     _mm_mul_pd(upper[3], b3));
    x23 = _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(lower[0], b0), _mm_mul_pd(lower[1], b1)),
                                _mm_mul_pd(lower[2], b2)),
                     _mm_mul_pd(lower[3], b3));
  }
}

// Within 2^±kPlainExponent of unit poles, the closed-loop matrix as it stands; beyond, its
// entries (up to the poles' size cubed) lose the loop to rounding and leave the double range.
constexpr int kPlainExponent = 8;

// The exact response of a controller's closed loop (a its matrix of doubles) into h: from a when
// its poles are near unit size, else in state units scaled to the poles' size (z is not scaled).
void LoopResponse(const ClosedLoop& loop, const Matrix4& a, const Vector4& x0, double dt, int count,
                  std::vector<double>& h) {
  const int e = loop.PoleExponent();
  if (e >= -kPlainExponent && e <= kPlainExponent) {
    Iterate(a * dt, x0, count, h);
    return;
  }
  const Vector4 scaled(x0(0), std::ldexp(x0(1), -e), std::ldexp(x0(2), e), x0(3));
  Iterate(loop.ScaledStep(e, dt), scaled, count, h);
}

// stable: the exact verdict; the eigenvalues tell the horizon; response(dt, count, h) the
// samples into h. The horizon's tens of thousands of samples and their times go into buffers
// of the thread that are kept from call to call: allocated afresh, their pages were handed
// back and zeroed again by the system in every call, which cost as much as the iteration.
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
  thread_local std::vector<double> h;
  thread_local std::vector<double> t;
  response(dt, count, h);
  if (h.size() < static_cast<std::size_t>(count)) {
    return std::nullopt;
  }
  t.resize(h.size());
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
  std::vector<double> h;
  Iterate(a * dt, x0, count, h);
  return h;
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
  const auto response = [&a, &x0](double dt, int count, std::vector<double>& h) {
    Iterate(a * dt, x0, count, h);
  };
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
  const auto response = [&loop, &a](double dt, int count, std::vector<double>& h) {
    LoopResponse(loop, a, InitialState(), dt, count, h);
  };
  response(kTimeStep, kSampleCount, result.exact);
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
