// The analysis of one response: poles, the exact response at the sample times, the step
// characteristics and the continuous settling time; and the margins of one loop broken at the
// autopilot's command, with and without the curves of its Bode diagram.
#include <benchmark/benchmark.h>

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

void BM_BodeDiagram(benchmark::State& state) {
  const pitch::TController c = Synthesised(7.028);
  for (auto _ : state) {
    benchmark::DoNotOptimize(pitch::analysis::Bode(c));
  }
}
BENCHMARK(BM_BodeDiagram)->Unit(benchmark::kMicrosecond);

}  // namespace
