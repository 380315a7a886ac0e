// The analysis of one response: poles, the exact response at the sample times, the step
// characteristics and the continuous settling time.
#include <benchmark/benchmark.h>

#include "analysis/analysis.h"

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

}  // namespace
