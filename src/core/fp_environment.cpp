#include "core/fp_environment.h"

#include <cstdio>

namespace pitch {

std::string FloatingPointEnvironmentProblem(std::uint16_t x87_control, std::uint32_t mxcsr) {
  const unsigned precision = (x87_control >> 8) & 3u;      // 3: 64-bit significand
  const unsigned x87_rounding = (x87_control >> 10) & 3u;  // 0: to nearest
  const unsigned sse_rounding = (mxcsr >> 13) & 3u;        // 0: to nearest
  const bool sse_flush = (mxcsr & 0x8040u) != 0;           // flush-to-zero, denormals-are-zero
  if (precision == 3 && x87_rounding == 0 && sse_rounding == 0 && !sse_flush) {
    return {};
  }
  char text[200];
  std::snprintf(text, sizeof text,
                "The floating-point unit is not set to 64-bit precision and rounding to nearest "
                "(x87 control word 0x%04X, MXCSR 0x%04X), so results would differ",
                static_cast<unsigned>(x87_control), static_cast<unsigned>(mxcsr));
  return text;
}

ArithmeticProbe ProbeArithmetic() {
  // volatile: the additions happen here, at run time, on the x87 unit.
  volatile long double one = 1.0L;
  volatile long double three_halves_ulp = 0x3p-64L;
  volatile long double half_ulp = 0x1p-64L;
  ArithmeticProbe probe;
  volatile long double sum = one + three_halves_ulp;
  probe.nearest = sum - one;
  sum = one + half_ulp;
  probe.tie = sum - one;
  return probe;
}

std::string ArithmeticProblem(const ArithmeticProbe& probe) {
  if (probe.nearest == 0x1p-62L && probe.tie == 0.0L) {
    return {};
  }
  char text[200];
  std::snprintf(text, sizeof text,
                "The floating-point unit does not compute with a 64-bit significand rounding to "
                "nearest ((1 + 3*2^-64) - 1 = %La, (1 + 2^-64) - 1 = %La), so results would differ",
                static_cast<long double>(probe.nearest), static_cast<long double>(probe.tie));
  return text;
}

std::uint16_t X87ControlWord() {
  std::uint16_t word = 0;
  asm volatile("fnstcw %0" : "=m"(word));
  return word;
}

std::uint32_t SseControlWord() {
  std::uint32_t word = 0;
  asm volatile("stmxcsr %0" : "=m"(word));
  return word;
}

void CheckFloatingPointEnvironment() {
  const std::string problem = FloatingPointEnvironmentProblem(X87ControlWord(), SseControlWord());
  if (!problem.empty()) {
    throw EEnvironmentError(problem);
  }
  const std::string arithmetic = ArithmeticProblem(ProbeArithmetic());
  if (!arithmetic.empty()) {
    throw EEnvironmentError(arithmetic);
  }
}

}  // namespace pitch
