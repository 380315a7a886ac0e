// SIGINT and SIGTERM during a study: the handler only notes the signal; the study stops taking
// new rows, writes the rows already computed in order (whole rows only) and ends with 128 plus
// the signal's number, as a shell expects of a program that a signal stopped.
#pragma once

namespace pitch::study {

// Installs the handlers for its lifetime and restores the previous ones after.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// The signal received while a guard was installed, or 0.
int InterruptSignal();

}  // namespace pitch::study
