#include "core/fp_environment.h"

#include <cstdio>

namespace pitch {

std::string FloatingPointEnvironmentProblem(std::uint16_t x87_control, std::uint32_t mxcsr) {
  const unsigned precision = (x87_control >> 8) & 3u;  // 3: 64-bit significand
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
}

}  // namespace pitch
