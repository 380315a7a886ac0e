// ParseNumber and FormatNumber on typical coefficients and ratios.
#include <benchmark/benchmark.h>

#include <array>

#include "number_text/number_text.h"

namespace {

constexpr std::array<const char*, 5> kTexts = {"0,880", "0,404", "-7,028", "0,987", "1,5E-7"};
constexpr std::array<double, 5> kValues = {0.0920037424652426, 0.271877699504714,
                                           0.0241508960470038, 11.2574580659687, 0.88};

void BM_ParseNumber(benchmark::State& state) {
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pitch::ParseNumber(kTexts[k], ','));
    k = (k + 1) % kTexts.size();
  }
}
BENCHMARK(BM_ParseNumber);

void BM_FormatNumber(benchmark::State& state) {
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pitch::FormatNumber(kValues[k], ','));
    k = (k + 1) % kValues.size();
  }
}
BENCHMARK(BM_FormatNumber);

}  // namespace
