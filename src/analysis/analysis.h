// Analysis of the closed loop beyond the Euler curve: its poles, the exact continuous step
// response, how far the Euler samples are from it, and the characteristics an engineer reads off
// a step response. Plain C++ on Eigen.
#pragma once

#include <Eigen/Core>
#include <complex>
#include <optional>
#include <span>
#include <vector>

#include "core/controller.h"

namespace pitch::analysis {

using Matrix4 = Eigen::Matrix4d;
using Vector4 = Eigen::Vector4d;
// The four eigenvalues of a matrix, or the four poles of the closed loop.
using Eigenvalues4 = Eigen::Matrix<std::complex<double>, 4, 1>;

// The closed loop's matrix of the core (pitch::ClosedLoopMatrix) as an Eigen matrix.
Matrix4 ToEigen(const StateMatrix& rows);
// The simulation's initial state: z = −1, w = 0, y = 0, x = π/180.
Vector4 InitialState();

struct Pole {
  std::complex<double> value;
  // A real pole: its time constant 1/|p| (for p ≠ 0).
  std::optional<double> time_constant;
  // One pole of a complex pair (the one with positive imaginary part stands for both).
  std::optional<double> damping_ratio;
  std::optional<double> natural_frequency;  // rad/s
};

// The four poles, complex pairs first (positive imaginary part only, so a pair is listed once),
// then the real poles, each group from the fastest to the slowest.
std::vector<Pole> ClosedLoopPoles(const Matrix4& a);
// The same for the closed loop of a controller whose ratios are known, from its exact
// characteristic polynomial (analysis/stability.h): the loop whose stability is decided.
std::vector<Pole> ClosedLoopPoles(const TController& c);
// The same from the poles as values.
std::vector<Pole> PolesOf(const Eigenvalues4& eigenvalues);
// All poles strictly in the left half-plane, decided exactly (analysis/stability.h): a pole on
// the imaginary axis is not stable.
bool IsStable(const Matrix4& a);
bool IsStable(const TController& c);

// The exact response h = 1 + z of x' = A·x from x0 at t = 0, dt, 2·dt, … (count samples). It
// stops at the first sample whose state leaves the double range, so for a loop that grows fast
// enough it holds fewer than count samples (never fewer than one: h(0) = 1 + z0).
std::vector<double> ExactResponse(const Matrix4& a, const Vector4& x0, double dt, int count);

// Step characteristics of a sampled response h(t) against the commanded value 1. Crossings are
// interpolated linearly between samples. The samples are finite (the Euler samples of a completed
// simulation, or exact samples within the double range) and at least one. Fast enough for a
// study's every row: scans stop at their answer and take four samples at a time.
struct StepCharacteristics {
  std::optional<double> t10;        // first time h reaches 0.1
  std::optional<double> t90;        // first time h reaches 0.9
  std::optional<double> rise_time;  // t90 − t10
  double peak = 0;
  double peak_time = 0;
  double overshoot_percent = 0;  // (peak − 1)·100 when the peak exceeds 1, else 0
  // The time after which h stays within 1 ± 0.02; empty when the last sample is outside the
  // band (not settled within the samples).
  std::optional<double> settling_time;
  double final_time = 0;
  double final_deviation = 0;  // h − 1 at the last sample
};
StepCharacteristics Characteristics(std::span<const double> t, std::span<const double> h);

// The largest |Euler − exact| over samples 2 … n (sample 1 is the simulation's own special
// value), and the time where it occurs. The comparison ends where the exact response does, or at
// a difference beyond the double range.
struct EulerError {
  double max_abs = 0;
  double time = 0;
};
EulerError CompareWithExact(std::span<const double> euler, std::span<const double> exact,
                            std::span<const double> t);

// The 2 % settling time of the exact continuous response of a stable loop, over a horizon long
// enough for its slowest pole to decay; empty for a loop that is not stable, and when the
// response leaves the double range within the horizon.
std::optional<double> ContinuousSettlingTime(const Matrix4& a, const Vector4& x0);

// Everything above for a controller whose simulation has completed.
struct LoopAnalysis {
  std::vector<Pole> poles;
  bool stable = false;        // the continuous loop
  std::vector<double> times;  // the sample times t_i
  // Exact h at the sample times, up to the last one within the double range.
  std::vector<double> exact;
  // The time of the last exact sample, when the exact response leaves the double range before
  // the last sample time; euler_error then covers only the samples up to it.
  std::optional<double> exact_range_end;
  EulerError euler_error;
  StepCharacteristics euler;
  std::optional<double> exact_settling_time;
};
LoopAnalysis Analyze(const TController& c);
// The same for a loop whose stability (IsStable) is decided already.
LoopAnalysis Analyze(const TController& c, bool stable);

}  // namespace pitch::analysis
