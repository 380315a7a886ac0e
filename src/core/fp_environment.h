// The floating-point environment that the results rest on: the x87 unit computing with a 64-bit
// significand and rounding to nearest, and SSE rounding to nearest. The compilers' defaults on
// x86-64 Linux give exactly this; a library or a launcher that changed it would make every
// result differ silently, so both programs check it at start-up.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "core/errors.h"

namespace pitch {

static_assert(std::numeric_limits<double>::is_iec559, "Real must be an IEEE 754 double");

// Start-up found the floating-point unit in a state in which results would differ.
class EEnvironmentError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EEnvironmentError"; }
};

// What is wrong with these control words (x87 control word, SSE MXCSR), or "" when nothing is.
std::string FloatingPointEnvironmentProblem(std::uint16_t x87_control, std::uint32_t mxcsr);

// The results of two additions that tell how the x87 unit really computes, whatever its control
// word says (an emulator such as valgrind keeps the word but computes with 53-bit doubles):
//   nearest = (1 + 3·2^-64) − 1, which is 2^-62 with a 64-bit significand rounding to nearest,
//             0 with 53 bits, 2^-63 rounding down or toward zero;
//   tie     = (1 + 2^-64) − 1, a tie that rounds to the even 1, giving 0; 2^-63 rounding up.
struct ArithmeticProbe {
  long double nearest;
  long double tie;
};
// Both additions on the running thread's unit, with operands the compiler cannot fold.
ArithmeticProbe ProbeArithmetic();
// What is wrong with these probe results, or "" when they are those of 64-bit rounding to nearest.
std::string ArithmeticProblem(const ArithmeticProbe& probe);

// The control words of the running thread.
std::uint16_t X87ControlWord();
std::uint32_t SseControlWord();

// Raises EEnvironmentError when the running thread's unit is not set as the results need, or does
// not compute as it is set.
void CheckFloatingPointEnvironment();

}  // namespace pitch
