// The flight envelope's costs on the default autopilot checked across ±20 % on c1 … c5: the box
// decided (both loops), the robust stability margin ρ to 1e-9, the worst-case margins to 1e-6,
// and beside them a sweep of the same box that only samples it (10⁵ sets, both loops).
#include <benchmark/benchmark.h>

#include "core/controller.h"
#include "core/model.h"
#include "robust/robust.h"
#include "robust/worst_margins.h"

namespace pitch::robust {
namespace {

Ratios DefaultRatios() { return SynthesisedRatios(kDefaultCoefficients); }

CoefficientBox TwentyPercent() {
  CoefficientBox box;
  box.nominal = kDefaultCoefficients;
  for (std::size_t i = 0; i < 5; ++i) {
    box.lo[i] = box.nominal[i] * 0.8;
    box.hi[i] = box.nominal[i] * 1.2;
  }
  return box;
}

void BM_RobustDecideBox(benchmark::State& state) {
  const Ratios r = DefaultRatios();
  const CoefficientBox box = TwentyPercent();
  for (auto _ : state) {
    benchmark::DoNotOptimize(DecideBox(r, Loop::kContinuous, box, {}));
    benchmark::DoNotOptimize(DecideBox(r, Loop::kEuler, box, {}));
  }
}
BENCHMARK(BM_RobustDecideBox)->Unit(benchmark::kMillisecond);

void BM_RobustStabilityMargin(benchmark::State& state) {
  const Ratios r = DefaultRatios();
  const CoefficientBox box = TwentyPercent();
  const auto loop = static_cast<Loop>(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(StabilityMargin(r, loop, box, 1e-9, {}));
  }
}
BENCHMARK(BM_RobustStabilityMargin)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_RobustWorstCaseMargins(benchmark::State& state) {
  const Ratios r = DefaultRatios();
  const CoefficientBox box = TwentyPercent();
  for (auto _ : state) {
    benchmark::DoNotOptimize(LeastGainMargin(r, box, true, 1e-6, {}));
    benchmark::DoNotOptimize(LeastGainMargin(r, box, false, 1e-6, {}));
    for (const MarginKind k : {MarginKind::kStability, MarginKind::kPhase, MarginKind::kDelay}) {
      benchmark::DoNotOptimize(LeastMargin(r, box, k, 1e-6, {}));
    }
  }
}
BENCHMARK(BM_RobustWorstCaseMargins)->Unit(benchmark::kMillisecond);

// 10 values a coefficient, the ends included: 10⁵ sets, each tested exactly for both loops.
void BM_RobustSweepOfTheSameBox(benchmark::State& state) {
  const Ratios r = DefaultRatios();
  const CoefficientBox box = TwentyPercent();
  for (auto _ : state) {
    int stable = 0;
    Set x;
    for (int k = 0; k < 100000; ++k) {
      int rest = k;
      for (std::size_t i = 0; i < 5; ++i) {
        x[i] = box.lo[i] + (box.hi[i] - box.lo[i]) * (rest % 10) / 9;
        rest /= 10;
      }
      stable += SetStable(x, r, Loop::kContinuous) && SetStable(x, r, Loop::kEuler) ? 1 : 0;
    }
    benchmark::DoNotOptimize(stable);
  }
}
BENCHMARK(BM_RobustSweepOfTheSameBox)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pitch::robust
