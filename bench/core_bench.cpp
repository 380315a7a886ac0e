// The gear-ratio synthesis and the simulation, against a plain double Euler loop of the same
// equations as the reference for the cost of extended precision and the overflow checks; the
// x87 unit's throughput for each kind of operation of an Euler step, and the floor of a step
// that follows from it.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <exception>
#include <span>
#include <vector>

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

#if defined(__x86_64__) && defined(__GNUC__)

// The calling thread's processor time in seconds.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Each kind of x87 operation alone, as many independent ones as the unit can overlap; seconds
// per operation, the least of several runs (the machine is shared).
constexpr int kOperationRuns = 20;
constexpr long kOperationRounds = 20000;

#define PITCH_SEVEN(op)                                                            \
  op "%%st(0), %%st(1)\n\t" op "%%st(0), %%st(2)\n\t" op "%%st(0), %%st(3)\n\t" op \
     "%%st(0), %%st(4)\n\t" op "%%st(0), %%st(5)\n\t" op "%%st(0), %%st(6)\n\t" op \
     "%%st(0), %%st(7)\n\t"
#define PITCH_FOUR_TIMES(text) text text text text

// Seven chains, st(1) … st(7), each multiplied by st(0) = 1 (or increased by st(0) = 0): each
// operation waits only for the one seven places before it.
template <bool kMultiply>
double OperationSeconds() {
  double best = 1;
  for (int run = 0; run < kOperationRuns; ++run) {
    const double start = ThreadSeconds();
    if constexpr (kMultiply) {
      asm volatile("fld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1" ::
                       : "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)");
      for (long k = 0; k < kOperationRounds; ++k) {
        asm volatile(PITCH_FOUR_TIMES(PITCH_SEVEN("fmul "))::
                         : "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)");
      }
    } else {
      asm volatile("fldz\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1" ::
                       : "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)");
      for (long k = 0; k < kOperationRounds; ++k) {
        asm volatile(PITCH_FOUR_TIMES(PITCH_SEVEN("fadd "))::
                         : "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)");
      }
    }
    asm volatile(
        "fstp %%st(0)\n\tfstp %%st(0)\n\tfstp %%st(0)\n\tfstp %%st(0)\n\t"
        "fstp %%st(0)\n\tfstp %%st(0)\n\tfstp %%st(0)\n\tfstp %%st(0)" ::
            : "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)");
    best = std::min(best, (ThreadSeconds() - start) / (kOperationRounds * 28.0));
  }
  return best;
}

// An extended value rounded to a double and stored, eight places in turn.
double StoreSeconds() {
  double best = 1;
  std::array<double, 8> slots{};
  for (int run = 0; run < kOperationRuns; ++run) {
    const double start = ThreadSeconds();
    asm volatile("fld1" ::: "st");
    for (long k = 0; k < kOperationRounds; ++k) {
      asm volatile(PITCH_FOUR_TIMES("fstl %0\n\tfstl 8+%0\n\tfstl 16+%0\n\tfstl 24+%0\n\t"
                                    "fstl 32+%0\n\tfstl 40+%0\n\tfstl 48+%0\n\tfstl 56+%0\n\t")
                   : "=m"(slots));
    }
    asm volatile("fstp %%st(0)" ::: "st");
    best = std::min(best, (ThreadSeconds() - start) / (kOperationRounds * 32.0));
  }
  benchmark::DoNotOptimize(slots);
  return best;
}

#undef PITCH_SEVEN
#undef PITCH_FOUR_TIMES

// The unit's throughput per kind of operation, in ns: one extended multiplication, one extended
// addition, one store rounded to a double.
void BM_X87Throughput(benchmark::State& state) {
  double multiply = 1;
  double add = 1;
  double store = 1;
  for (auto _ : state) {
    multiply = std::min(multiply, OperationSeconds<true>());
    add = std::min(add, OperationSeconds<false>());
    store = std::min(store, StoreSeconds());
  }
  state.counters["multiply_ns"] = multiply * 1e9;
  state.counters["add_ns"] = add * 1e9;
  state.counters["store_ns"] = store * 1e9;
}
BENCHMARK(BM_X87Throughput)->Iterations(3);

// One step of one set is 9 multiplications, 9 additions (the sample's among them) and 5 stores
// rounded to double; its floor is the largest of their throughput times, a set's floor that of
// its 999 steps. Beside it, a set's simulation alone and in groups (SimulateResponses), the
// least per set of several runs, alternating, over a few sets simulated again and again (as a
// study reuses its controllers, so that the samples stay in the cache): "over_floor" is the
// grouped time over the floor (target: at most 2), "gain" one set's time over the grouped time.
void BM_SimulationAgainstFloor(benchmark::State& state) {
  constexpr std::size_t kSets = 2 * pitch::kInterleavedResponses;
  constexpr int kRounds = 100;
  std::vector<pitch::TController> sets(kSets);
  std::vector<pitch::TController*> pointers;
  for (std::size_t k = 0; k < kSets; ++k) {
    SetDefaults(sets[k]);
    sets[k].c3 *= 1 + 0.3 * static_cast<double>(k) / kSets;
    sets[k].ComputeGearRatios();
    pointers.push_back(&sets[k]);
  }
  std::vector<std::exception_ptr> faults(kSets);
  double floor = 1;
  double alone = 1;
  double grouped = 1;
  for (auto _ : state) {
    const double multiply = OperationSeconds<true>();
    const double add = OperationSeconds<false>();
    const double store = StoreSeconds();
    floor =
        std::min(floor, std::max({9 * multiply, 9 * add, 5 * store}) * (pitch::kSampleCount - 1));
    double start = ThreadSeconds();
    for (int round = 0; round < kRounds; ++round) {
      for (pitch::TController& c : sets) {
        c.SimulateResponse();
      }
    }
    alone = std::min(alone, (ThreadSeconds() - start) / (kRounds * kSets));
    start = ThreadSeconds();
    for (int round = 0; round < kRounds; ++round) {
      pitch::SimulateResponses(pointers, faults);
    }
    grouped = std::min(grouped, (ThreadSeconds() - start) / (kRounds * kSets));
    benchmark::DoNotOptimize(sets.back().teta[1000]);
  }
  state.counters["floor_us"] = floor * 1e6;
  state.counters["one_set_us"] = alone * 1e6;
  state.counters["grouped_us"] = grouped * 1e6;
  state.counters["over_floor"] = grouped / floor;
  state.counters["gain"] = alone / grouped;
}
BENCHMARK(BM_SimulationAgainstFloor)->Iterations(10)->Unit(benchmark::kMillisecond);

#endif

}  // namespace
