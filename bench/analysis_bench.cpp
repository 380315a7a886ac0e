// The analysis of one response: poles, the exact response at the sample times, the step
// characteristics and the continuous settling time; and the margins of one loop broken at the
// autopilot's command, with and without the curves of its Bode diagram.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/frequency_response.h"
#include "analysis/margins.h"

namespace {

void BM_AnalyzeResponse(benchmark::State& state) {
  pitch::TController c;
  c.c1 = 0.880;
  c.c2 = 0.404;
  c.c3 = 7.028;
  c.c4 = 0.987;
  c.c5 = 0.251;
  c.ComputeGearRatios();
  c.SimulateResponse();
  for (auto _ : state) {
    benchmark::DoNotOptimize(pitch::analysis::Analyze(c));
  }
}
BENCHMARK(BM_AnalyzeResponse)->Unit(benchmark::kMicrosecond);

pitch::TController Synthesised(double c3) {
  pitch::TController c;
  c.c1 = 0.880;
  c.c2 = 0.404;
  c.c3 = c3;
  c.c4 = 0.987;
  c.c5 = 0.251;
  c.ComputeGearRatios();
  return c;
}

// The target: well under a millisecond for one loop.
void BM_LoopMargins(benchmark::State& state) {
  const pitch::TController c = Synthesised(static_cast<double>(state.range(0)) / 1000);
  for (auto _ : state) {
    benchmark::DoNotOptimize(pitch::analysis::Margins(c));
  }
}
BENCHMARK(BM_LoopMargins)->Arg(7028)->Arg(-7028)->Unit(benchmark::kMicrosecond);

// Random loops: coefficients drawn from the ranges the model is used in, gear ratios from the
// synthesis, a fixed seed; the time is per loop, averaged over 1024 of them.
void BM_LoopMarginsRandom(benchmark::State& state) {
  std::mt19937_64 random(20261210);
  const auto draw = [&random](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(random);
  };
  std::vector<pitch::TController> loops(1024);
  for (pitch::TController& c : loops) {
    for (bool synthesised = false; !synthesised;) {
      c.c1 = draw(0.1, 3.0);
      c.c2 = draw(-1.0, 5.0);
      c.c3 = draw(-20.0, 20.0);
      c.c4 = draw(0.05, 2.0);
      c.c5 = draw(0.0, 2.0);
      try {
        c.ComputeGearRatios();
        synthesised = true;
      } catch (const pitch::Exception&) {
        // no ratios for these coefficients: draw again
      }
    }
  }
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pitch::analysis::Margins(loops[next]));
    next = (next + 1) % loops.size();
  }
}
BENCHMARK(BM_LoopMarginsRandom)->Unit(benchmark::kMicrosecond);

void BM_BodeDiagram(benchmark::State& state) {
  const pitch::TController c = Synthesised(7.028);
  for (auto _ : state) {
    benchmark::DoNotOptimize(pitch::analysis::Bode(c));
  }
}
BENCHMARK(BM_BodeDiagram)->Unit(benchmark::kMicrosecond);

}  // namespace
