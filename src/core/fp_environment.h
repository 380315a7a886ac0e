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

// The control words of the running thread.
std::uint16_t X87ControlWord();
std::uint32_t SseControlWord();

// Raises EEnvironmentError when the running thread's unit is not set as the results need.
void CheckFloatingPointEnvironment();

}  // namespace pitch
