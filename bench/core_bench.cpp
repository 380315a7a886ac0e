// The gear-ratio synthesis and the simulation, against a plain double Euler loop of the same
// equations as the reference for the cost of extended precision and the overflow checks.
#include <benchmark/benchmark.h>

#include <array>

#include "core/controller.h"

namespace {

void SetDefaults(pitch::TController& c) {
  c.c1 = 0.880;
  c.c2 = 0.404;
  c.c3 = 7.028;
  c.c4 = 0.987;
  c.c5 = 0.251;
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

// The same Euler run in plain double arithmetic, unchecked.
void BM_PlainDoubleEuler(benchmark::State& state) {
  pitch::TController c;
  SetDefaults(c);
  c.ComputeGearRatios();
  std::array<double, 1000> teta{};
  for (auto _ : state) {
    const double dt = 0.01;
    double z = -1;
    double w = 0;
    double y = 0;
    double x = 0.017453292519943295;
    teta[0] = x;
    for (int i = 1; i < 1000; ++i) {
      const double wp = w;
      const double xp = x;
      const double yp = y;
      const double zp = z;
      w = ((((c.c1 + c.c5) + c.c3 * c.muv) * -wp - (c.c2 - c.c4 * c.c5) * xp) -
           (c.c3 * c.nuv) * yp - (c.c3 * c.iv) * zp) *
              dt +
          wp;
      y = dt * zp + yp;
      x = (wp - xp * c.c4) * dt + xp;
      z = dt * wp + zp;
      teta[static_cast<std::size_t>(i)] = z + 1;
    }
    benchmark::DoNotOptimize(teta.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PlainDoubleEuler);

}  // namespace
