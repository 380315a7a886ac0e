// Parameter studies: the whole row pipeline against the simulation alone, the rows per second
// with one and two threads, and the peak memory of a long sweep.
#include <benchmark/benchmark.h>
#include <time.h>

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <random>
#include <span>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/session.h"
#include "core/controller.h"
#include "core/model.h"
#include "study/row.h"
#include "study/row_format.h"
#include "study/study.h"

namespace {

using Clock = std::chrono::steady_clock;

// The calling thread's processor time in seconds: with --jobs 1 the whole study runs on it, so
// the pipeline and the simulation are compared without the time other processes take.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Output that is thrown away, as a study writes to /dev/null.
class Discard : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Seeded sets around the defaults, every one of which synthesises and simulates: 2,000
// controllers for the simulation alone, and their CSV ten times over (20,000 rows) for the
// pipeline, so that a run's start-up is spread over as many rows as in a real study.
constexpr int kRepeats = 10;
struct Sets {
  std::vector<pitch::TController> controllers;
  std::string rows;
  std::string csv;
};

const Sets& BenchmarkSets() {
  static const Sets sets = [] {
    Sets s;
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> scale(0.8, 1.25);
    s.csv = "id,c1,c2,c3,c4,c5\n";
    while (s.controllers.size() < 2000) {
      pitch::TController c;
      std::array<std::string, 5> texts;
      pitch::Real* const fields[5] = {&c.c1, &c.c2, &c.c3, &c.c4, &c.c5};
      for (std::size_t k = 0; k < 5; ++k) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6g", pitch::kDefaultCoefficients[k] * scale(random));
        texts[k] = text;
        *fields[k] = std::stod(text);
      }
      try {
        c.ComputeGearRatios();
        c.SimulateResponse();
      } catch (const pitch::Exception&) {
        continue;
      }
      s.rows += "set" + std::to_string(s.controllers.size());
      for (const std::string& t : texts) {
        s.rows += "," + t;
      }
      s.rows += '\n';
      s.controllers.push_back(c);
    }
    for (int k = 0; k < kRepeats; ++k) {
      s.csv += s.rows;
    }
    return s;
  }();
  return sets;
}

// Each set's simulation in one controller (as the pipeline did before it simulated several sets
// in one loop, so that both work in the same cache): its coefficients and ratios are copied in,
// then the response is simulated.
void CopySet(const pitch::TController& set, pitch::TController& c) {
  c.c1 = set.c1;
  c.c2 = set.c2;
  c.c3 = set.c3;
  c.c4 = set.c4;
  c.c5 = set.c5;
  c.muv = set.muv;
  c.iv = set.iv;
  c.nuv = set.nuv;
}

double SimulateAll(const std::vector<pitch::TController>& sets) {
  pitch::TController c;
  const double start = ThreadSeconds();
  for (int k = 0; k < kRepeats; ++k) {
    for (const pitch::TController& set : sets) {
      CopySet(set, c);
      c.SimulateResponse();
      benchmark::DoNotOptimize(c.teta[1000]);
    }
  }
  return ThreadSeconds() - start;
}

// The same sets kInterleavedResponses at a time in one loop, as the pipeline simulates them.
double SimulateAllInterleaved(const std::vector<pitch::TController>& sets) {
  constexpr std::size_t kWidth = pitch::kInterleavedResponses;
  std::array<pitch::TController, kWidth> group;
  std::array<pitch::TController*, kWidth> pointers{};
  std::array<std::exception_ptr, kWidth> faults;
  for (std::size_t k = 0; k < kWidth; ++k) {
    pointers[k] = &group[k];
  }
  const double start = ThreadSeconds();
  for (int k = 0; k < kRepeats; ++k) {
    for (std::size_t first = 0; first < sets.size(); first += kWidth) {
      const std::size_t count = std::min(kWidth, sets.size() - first);
      for (std::size_t j = 0; j < count; ++j) {
        CopySet(sets[first + j], group[j]);
      }
      pitch::SimulateResponses(std::span(pointers).first(count), std::span(faults).first(count));
      benchmark::DoNotOptimize(group[0].teta[1000]);
    }
  }
  return ThreadSeconds() - start;
}

// Input read in place, as from a file already in the page cache (no copy per run).
class View : public std::streambuf {
 public:
  explicit View(const std::string& text) {
    char* begin = const_cast<char*>(text.data());
    setg(begin, begin, begin + text.size());
  }
};

int RunStudy(const pitch::study::StudyOptions& options, const std::string& input = "") {
  View view(input);
  std::istream in(&view);
  Discard discard;
  std::ostream out(&discard);
  std::ostringstream err;
  return pitch::study::RunStudy(options, in, out, err);
}

// The batch on one thread (its processor time), with or without the loop margins.
double BatchAll(bool margins = false) {
  pitch::study::StudyOptions o;
  o.batch = "-";
  o.jobs = 1;
  o.margins = margins;
  const double start = ThreadSeconds();
  if (RunStudy(o, BenchmarkSets().csv) != 0) {
    std::abort();
  }
  return ThreadSeconds() - start;
}

// The simulation alone, per set, as the pipeline runs it.
void BM_StudySimulationAlone(benchmark::State& state) {
  const std::vector<pitch::TController>& controllers = BenchmarkSets().controllers;
  for (auto _ : state) {
    SimulateAllInterleaved(controllers);
  }
  state.SetItemsProcessed(state.iterations() * kRepeats * static_cast<int64_t>(controllers.size()));
}
BENCHMARK(BM_StudySimulationAlone)->Unit(benchmark::kMillisecond);

// One set after another against kInterleavedResponses sets in one loop, alternating in every
// iteration so that both see the same machine load; "gain" is the one-by-one time over the
// interleaved time.
void BM_StudySimulationInterleavedGain(benchmark::State& state) {
  const std::vector<pitch::TController>& controllers = BenchmarkSets().controllers;
  double one_by_one = 0;
  double interleaved = 0;
  for (auto _ : state) {
    one_by_one += SimulateAll(controllers);
    interleaved += SimulateAllInterleaved(controllers);
  }
  const double sets = static_cast<double>(state.iterations() * kRepeats * controllers.size());
  state.counters["one_by_one_us"] = one_by_one / sets * 1e6;
  state.counters["interleaved_us"] = interleaved / sets * 1e6;
  state.counters["gain"] = one_by_one / interleaved;
}
BENCHMARK(BM_StudySimulationInterleavedGain)->Unit(benchmark::kMillisecond)->MinTime(4);

// The whole pipeline per set: CSV parsing, synthesis, simulation, characteristics, stability,
// CSV formatting and the (discarded) write, on one thread.
// "rows_per_core_s" is the rows per second of the thread's processor time.
void BM_StudyWholePipeline(benchmark::State& state) {
  double seconds = 0;
  for (auto _ : state) {
    seconds += BatchAll();
  }
  const int64_t rows =
      state.iterations() * kRepeats * static_cast<int64_t>(BenchmarkSets().controllers.size());
  state.SetItemsProcessed(rows);
  state.counters["rows_per_core_s"] = static_cast<double>(rows) / seconds;
}
BENCHMARK(BM_StudyWholePipeline)->Unit(benchmark::kMillisecond);

// Both, alternating in every iteration so that they see the same machine load; the counter
// "ratio" is the pipeline's time over the simulation's (target: at most 1.3).
void BM_StudyPipelineOverSimulation(benchmark::State& state) {
  const std::vector<pitch::TController>& controllers = BenchmarkSets().controllers;
  double simulation = 0;
  double pipeline = 0;
  for (auto _ : state) {
    simulation += SimulateAllInterleaved(controllers);
    pipeline += BatchAll();
  }
  const double sets = static_cast<double>(state.iterations() * kRepeats * controllers.size());
  state.counters["simulation_us"] = simulation / sets * 1e6;
  state.counters["pipeline_us"] = pipeline / sets * 1e6;
  state.counters["ratio"] = pipeline / simulation;
}
BENCHMARK(BM_StudyPipelineOverSimulation)->Unit(benchmark::kMillisecond)->MinTime(4);

// The pipeline with and without the loop margins, alternating; the counter "margins_share" is
// what the margins add over the row without them (target: at most 0.5).
void BM_StudyMarginsShare(benchmark::State& state) {
  const std::vector<pitch::TController>& controllers = BenchmarkSets().controllers;
  double without = 0;
  double with = 0;
  for (auto _ : state) {
    without += BatchAll(false);
    with += BatchAll(true);
  }
  const double sets = static_cast<double>(state.iterations() * kRepeats * controllers.size());
  state.counters["row_us"] = without / sets * 1e6;
  state.counters["row_with_margins_us"] = with / sets * 1e6;
  state.counters["margins_share"] = (with - without) / without;
}
BENCHMARK(BM_StudyMarginsShare)->Unit(benchmark::kMillisecond)->MinTime(4);

// The row beyond the simulation and the margins, over the benchmark's 2,000 simulated sets, each
// part alone (thread time per row): the whole of FinishRow without margins and the CSV line of
// its result, and inside it the step characteristics, the loop's two stability verdicts, the
// closed loop's eigenvalues and the Euler figures from them, and the CSV line alone.
void BM_StudyRowRest(benchmark::State& state) {
  const std::vector<pitch::TController>& controllers = BenchmarkSets().controllers;
  std::vector<pitch::study::RowResult> results(controllers.size());
  for (std::size_t k = 0; k < controllers.size(); ++k) {
    results[k].have_ratios = true;
    pitch::study::FinishRow(controllers[k], nullptr, results[k], false);
  }
  const std::string_view id = "set1234";
  const pitch::study::Carried carried{id, {}};
  std::string line;
  line.reserve(1024);
  double rest = 0;
  double characteristics = 0;
  double verdicts = 0;
  double eigenvalues = 0;
  double euler = 0;
  double solver = 0;
  double construct = 0;
  double format = 0;
  const auto timed = [&controllers](double& total, const auto& part) {
    const double start = ThreadSeconds();
    for (std::size_t k = 0; k < controllers.size(); ++k) {
      part(k);
    }
    total += ThreadSeconds() - start;
  };
  for (auto _ : state) {
    timed(rest, [&](std::size_t k) {
      pitch::study::RowResult r;
      r.have_ratios = true;
      pitch::study::FinishRow(controllers[k], nullptr, r, false);
      line.clear();
      pitch::study::AppendCsvRow(line, r, carried);
      benchmark::DoNotOptimize(line.data());
    });
    timed(characteristics, [&](std::size_t k) {
      benchmark::DoNotOptimize(pitch::analysis::Characteristics(pitch::study::StudySampleTimes(),
                                                                controllers[k].teta.values()));
    });
    timed(verdicts, [&](std::size_t k) {
      const pitch::analysis::ClosedLoop loop(controllers[k]);
      benchmark::DoNotOptimize(loop.Continuous());
      benchmark::DoNotOptimize(loop.EulerIterationStable(pitch::kTimeStep));
    });
    timed(eigenvalues, [&](std::size_t k) {
      const pitch::analysis::ClosedLoop loop(controllers[k]);
      benchmark::DoNotOptimize(loop.Eigenvalues());
    });
    timed(solver, [&](std::size_t k) {
      const pitch::analysis::Matrix4 a =
          pitch::analysis::ToEigen(pitch::ClosedLoopMatrix(controllers[k]));
      benchmark::DoNotOptimize(
          Eigen::EigenSolver<pitch::analysis::Matrix4>(a, false).eigenvalues());
    });
    timed(construct, [&](std::size_t k) {
      const pitch::analysis::ClosedLoop loop(controllers[k]);
      benchmark::DoNotOptimize(&loop);
    });
    timed(euler, [&](std::size_t k) {
      const pitch::analysis::TLoopResults loop(controllers[k]);
      benchmark::DoNotOptimize(loop.Iteration().spectral_radius);
    });
    timed(format, [&](std::size_t k) {
      line.clear();
      pitch::study::AppendCsvRow(line, results[k], carried);
      benchmark::DoNotOptimize(line.data());
    });
  }
  const double rows = static_cast<double>(state.iterations() * controllers.size());
  state.counters["rest_us"] = rest / rows * 1e6;
  state.counters["characteristics_us"] = characteristics / rows * 1e6;
  state.counters["verdicts_us"] = verdicts / rows * 1e6;
  state.counters["eigenvalues_us"] = eigenvalues / rows * 1e6;
  state.counters["iteration_us"] = euler / rows * 1e6;
  state.counters["solver_us"] = solver / rows * 1e6;
  state.counters["loop_us"] = construct / rows * 1e6;
  state.counters["csv_us"] = format / rows * 1e6;
}
BENCHMARK(BM_StudyRowRest)->Unit(benchmark::kMillisecond)->MinTime(2);

// One study row with margins (synthesis, simulation, analysis, margins) per set of a mix of
// ordinary and extreme sets: twelve around the defaults, and sets whose loops have roots near
// 1e±150 and 1e154, crossings near 1e7 and 1e154 in one loop, coefficients near 1e-263 and
// 1e135, the defaults scaled in frequency by 2^±300, a lightly damped loop and a pole pair of L
// on the axis. Each set's cost is the least of five timings of a few rows (thread time);
// counters: the median and the worst set's row, and their ratio (target: at most 20).
void BM_StudyRowMix(benchmark::State& state) {
  using Coefficients = std::array<pitch::Real, 5>;
  std::vector<Coefficients> sets;
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> scale(0.8, 1.25);
  for (int k = 0; k < 12; ++k) {
    Coefficients c{};
    for (std::size_t i = 0; i < 5; ++i) {
      c[i] = pitch::kDefaultCoefficients[i] * scale(random);
    }
    sets.push_back(c);
  }
  const auto scaled = [](double a) {
    const Coefficients& d = pitch::kDefaultCoefficients;
    return Coefficients{d[0] * a, d[1] * a * a, d[2] * a, d[3] * a, d[4] * a};
  };
  sets.push_back(scaled(0x1p300));
  sets.push_back(scaled(0x1p-300));
  sets.push_back({1.2318778779988625e-150, 5.115111450396023e-300, -1.56806931182502e-151,
                  4.4431849333672393e-150, 8.198747762598484e-151});
  sets.push_back({4.630392010348025e+150, 4.59358353934957e+300, -1.321765078188936e+150,
                  2.5010212186045925e+150, 1.704149656775364e+150});
  sets.push_back({0.88, 1e308, 7.028, 0.987, 0.251});
  sets.push_back({1.397e-263, 9.144e135, -7.203e124, 2.146e-269, 2.146e-269});
  sets.push_back({-3.9445840745745637, 17.622344626098055, -96.84800218534504, 2.4009044138406184,
                  1.543679660734072});
  sets.push_back({0.25, 1.3, -5.0, 0.5, -0.75});
  constexpr int kRows = 4;
  std::vector<double> cost(sets.size(), 0);
  std::size_t worst = 0;
  for (auto _ : state) {
    for (std::size_t k = 0; k < sets.size(); ++k) {
      double least = 0;
      for (int attempt = 0; attempt < 5; ++attempt) {
        const double start = ThreadSeconds();
        for (int r = 0; r < kRows; ++r) {
          pitch::TController controller;
          pitch::study::RowResult result;
          pitch::study::ComputeRow(sets[k], nullptr, controller, result, true);
          benchmark::DoNotOptimize(result);
        }
        const double seconds = (ThreadSeconds() - start) / kRows;
        least = attempt == 0 ? seconds : std::min(least, seconds);
      }
      cost[k] = least;
    }
  }
  std::vector<double> sorted = cost;
  std::sort(sorted.begin(), sorted.end());
  worst = static_cast<std::size_t>(std::max_element(cost.begin(), cost.end()) - cost.begin());
  const double median = sorted[sorted.size() / 2];
  state.counters["median_row_us"] = median * 1e6;
  state.counters["worst_row_us"] = sorted.back() * 1e6;
  state.counters["worst_over_median"] = sorted.back() / median;
  state.SetLabel("worst: set " + std::to_string(worst));
}
BENCHMARK(BM_StudyRowMix)->Unit(benchmark::kMillisecond)->Iterations(3);

pitch::study::StudyOptions Sweep(std::int64_t sets, int jobs) {
  pitch::study::StudyOptions o;
  const std::int64_t side = 500;
  o.sweeps = {"c1=0.5:1.5:" + std::to_string(sets / side), "c3=3:12:" + std::to_string(side)};
  o.jobs = jobs;
  return o;
}

double SweepSeconds(std::int64_t sets, int jobs) {
  const Clock::time_point start = Clock::now();
  if (RunStudy(Sweep(sets, jobs)) != 0) {
    std::abort();
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A 200,000-set sweep with --jobs 1 and --jobs 2, alternating; "speedup" is the ratio of the
// rows per second (target: at least 1.8 on two free cores).
void BM_StudySweepJobsSpeedup(benchmark::State& state) {
  constexpr std::int64_t kSets = 200000;
  double one = 0;
  double two = 0;
  for (auto _ : state) {
    one += SweepSeconds(kSets, 1);
    two += SweepSeconds(kSets, 2);
  }
  const double rows = static_cast<double>(state.iterations() * kSets);
  state.counters["rows_per_s_jobs1"] = rows / one;
  state.counters["rows_per_s_jobs2"] = rows / two;
  state.counters["speedup"] = one / two;
}
BENCHMARK(BM_StudySweepJobsSpeedup)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

// The process's peak resident memory in MB since the last reset (VmHWM).
double PeakResidentMb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) {
      return std::stod(line.substr(6)) / 1024;
    }
  }
  return -1;
}

void ResetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Sweeps of 100,000 and 1,000,000 sets on two threads: the peak memory of the process stays
// the same (target: under 50 MB) whatever the number of rows.
void BM_StudySweepPeakMemory(benchmark::State& state) {
  const std::int64_t sets = state.range(0);
  ResetPeakResident();
  for (auto _ : state) {
    SweepSeconds(sets, 2);
  }
  state.counters["peak_rss_mb"] = PeakResidentMb();
  state.SetItemsProcessed(state.iterations() * sets);
}
BENCHMARK(BM_StudySweepPeakMemory)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
