// The analysis of one response: poles, the exact response at the sample times, the step
// characteristics and the continuous settling time; the margins of one loop broken at the
// autopilot's command, with and without the curves of its Bode diagram; and the closed loop's
// stability verdicts and poles.
#include <benchmark/benchmark.h>

#include <array>
#include <random>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/euler_stability.h"
#include "analysis/frequency_response.h"
#include "analysis/margins.h"
#include "analysis/stability.h"
#include "core/model.h"

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
// synthesis, a fixed seed; 1024 of them, drawn once.
const std::vector<pitch::TController>& RandomSynthesisedLoops() {
  static const std::vector<pitch::TController> loops = [] {
    std::mt19937_64 random(20261210);
    const auto draw = [&random](double lo, double hi) {
      return std::uniform_real_distribution<double>(lo, hi)(random);
    };
    std::vector<pitch::TController> result(1024);
    for (pitch::TController& c : result) {
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
    return result;
  }();
  return loops;
}

// The margins of the random loops; the time is per loop, averaged over the 1024.
void BM_LoopMarginsRandom(benchmark::State& state) {
  const std::vector<pitch::TController>& loops = RandomSynthesisedLoops();
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pitch::analysis::Margins(loops[next]));
    next = (next + 1) % loops.size();
  }
}
BENCHMARK(BM_LoopMarginsRandom)->Unit(benchmark::kMicrosecond);

// The margins alone (the closed loop's stability given), over sets drawn as a study's rows are
// in BM_StudyMarginsShare: each default coefficient scaled by a factor from 0.8 to 1.25; the
// time is per loop, averaged over the 1024.
void BM_LoopMarginsNearDefaults(benchmark::State& state) {
  static const std::vector<pitch::TController> loops = [] {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> scale(0.8, 1.25);
    std::vector<pitch::TController> result;
    while (result.size() < 1024) {
      pitch::TController c;
      pitch::Real* const fields[5] = {&c.c1, &c.c2, &c.c3, &c.c4, &c.c5};
      for (std::size_t k = 0; k < 5; ++k) {
        *fields[k] = pitch::kDefaultCoefficients[k] * scale(random);
      }
      try {
        c.ComputeGearRatios();
      } catch (const pitch::Exception&) {
        continue;  // no ratios for these coefficients: draw again
      }
      result.push_back(c);
    }
    return result;
  }();
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pitch::analysis::Margins(loops[next], true));
    next = (next + 1) % loops.size();
  }
}
BENCHMARK(BM_LoopMarginsNearDefaults)->Unit(benchmark::kMicrosecond);

// One loop at a time from a mix of ordinary and extreme sets, so that a set whose margins leave
// the fast path shows against the ordinary ones: the defaults and the negative c3; the default
// loop scaled in frequency by 2^±300 (c1, c4, c5, c3 by a, c2 by a², the ratios synthesised);
// the sets with poles near 1e-150 and 1e150, a lightly damped one, one with roots near 1e154 and
// one with a pole pair of L on the axis.
struct Set {
  std::array<double, 5> c;
  double scale = 1;
};
const Set kSets[] = {
    {{0.880, 0.404, 7.028, 0.987, 0.251}},
    {{0.880, 0.404, -7.028, 0.987, 0.251}},
    {{0.880, 0.404, 7.028, 0.987, 0.251}, 0x1p300},
    {{0.880, 0.404, 7.028, 0.987, 0.251}, 0x1p-300},
    {{1.2318778779988625e-150, 5.115111450396023e-300, -1.56806931182502e-151,
      4.4431849333672393e-150, 8.198747762598484e-151}},
    {{4.630392010348025e+150, 4.59358353934957e+300, -1.321765078188936e+150,
      2.5010212186045925e+150, 1.704149656775364e+150}},
    {{-3.9445840745745637, 17.622344626098055, -96.84800218534504, 2.4009044138406184,
      1.543679660734072}},
    {{0.88, 1e308, 7.028, 0.987, 0.251}},
    {{0.25, 1.3, -5.0, 0.5, -0.75}},
};

void BM_LoopMarginsSet(benchmark::State& state) {
  const Set& set = kSets[state.range(0)];
  pitch::TController c;
  const double a = set.scale;
  c.c1 = set.c[0] * a;
  c.c2 = set.c[1] * a * a;
  c.c3 = set.c[2] * a;
  c.c4 = set.c[3] * a;
  c.c5 = set.c[4] * a;
  try {
    c.ComputeGearRatios();
  } catch (const pitch::Exception&) {
    // the ratios stored before the failing step stand, as in the front ends
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(pitch::analysis::Margins(c));
  }
}
BENCHMARK(BM_LoopMarginsSet)->DenseRange(0, 8)->Unit(benchmark::kMicrosecond);

void BM_BodeDiagram(benchmark::State& state) {
  const pitch::TController c = Synthesised(7.028);
  for (auto _ : state) {
    benchmark::DoNotOptimize(pitch::analysis::Bode(c));
  }
}
BENCHMARK(BM_BodeDiagram)->Unit(benchmark::kMicrosecond);

// The closed loop's verdicts as a study row takes them: continuous stability, the poles and the
// Euler iteration's stability; from the loop's characteristic polynomial (ClosedLoop) and, for
// comparison in the same run, from the closed-loop matrix of doubles, over the random loops;
// the time is per loop.

void BM_ClosedLoopVerdicts(benchmark::State& state) {
  const std::vector<pitch::TController>& loops = RandomSynthesisedLoops();
  std::size_t next = 0;
  for (auto _ : state) {
    const pitch::analysis::ClosedLoop loop(loops[next]);
    benchmark::DoNotOptimize(loop.Continuous());
    benchmark::DoNotOptimize(
        pitch::analysis::EulerStabilityOf(loop, loop.Eigenvalues(), pitch::kTimeStep));
    next = (next + 1) % loops.size();
  }
}
BENCHMARK(BM_ClosedLoopVerdicts)->Unit(benchmark::kMicrosecond);

void BM_MatrixVerdicts(benchmark::State& state) {
  const std::vector<pitch::TController>& loops = RandomSynthesisedLoops();
  std::size_t next = 0;
  for (auto _ : state) {
    const pitch::analysis::Matrix4 a = pitch::analysis::ToEigen(ClosedLoopMatrix(loops[next]));
    benchmark::DoNotOptimize(pitch::analysis::ClosedLoopStability(a));
    benchmark::DoNotOptimize(pitch::analysis::EulerStabilityOf(a, pitch::kTimeStep));
    next = (next + 1) % loops.size();
  }
}
BENCHMARK(BM_MatrixVerdicts)->Unit(benchmark::kMicrosecond);

}  // namespace
