// The gear-ratio synthesis and the simulation, against a plain double Euler loop of the same
// equations as the reference for the cost of extended precision and the overflow checks.
#include <benchmark/benchmark.h>

#include <array>

#include "core/controller.h"

namespace {

void SetDefaults(pitch::TController& c) {
  const auto& d = pitch::kDefaultCoefficients;
  c.c1 = d[0];
  c.c2 = d[1];
  c.c3 = d[2];
  c.c4 = d[3];
  c.c5 = d[4];
}

void BM_ComputeGearRatios(benchmark::State& state) {
  pitch::TController c;
  SetDefaults(c);
  for (auto _ : state) {
    c.ComputeGearRatios();
    benchmark::DoNotOptimize(c.Tnu);
  }
}
BENCHMARK(BM_ComputeGearRatios);

void BM_SimulateResponse(benchmark::State& state) {
  pitch::TController c;
  SetDefaults(c);
  c.ComputeGearRatios();
  for (auto _ : state) {
    c.SimulateResponse();
    benchmark::DoNotOptimize(c.teta[1000]);
  }
}
BENCHMARK(BM_SimulateResponse);

// The same Euler run in plain double arithmetic, unchecked: state ← state + A·state·dt with the
// closed loop's matrix (its non-zero entries only).
void BM_PlainDoubleEuler(benchmark::State& state) {
  pitch::TController c;
  SetDefaults(c);
  c.ComputeGearRatios();
  const pitch::StateMatrix a = pitch::ClosedLoopMatrix(c);
  std::array<double, pitch::kSampleCount> teta{};
  for (auto _ : state) {
    const double dt = pitch::kTimeStep;
    double z = -1;
    double w = 0;
    double y = 0;
    double x = pitch::kInitialAngle;
    teta[0] = x;
    for (int i = 1; i < pitch::kSampleCount; ++i) {
      const double wp = w;
      const double xp = x;
      const double yp = y;
      const double zp = z;
      w = (a[1][0] * zp + a[1][1] * wp + a[1][2] * yp + a[1][3] * xp) * dt + wp;
      y = dt * zp + yp;
      x = (wp + a[3][3] * xp) * dt + xp;
      z = dt * wp + zp;
      teta[static_cast<std::size_t>(i)] = z + 1;
    }
    benchmark::DoNotOptimize(teta.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PlainDoubleEuler);

}  // namespace
