#include "study/interrupt.h"

#include <atomic>
#include <csignal>

namespace pitch::study {

namespace {

std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free, "read and written by a signal handler");

struct sigaction saved_int {};
struct sigaction saved_term {};

extern "C" void NoteSignal(int signal) { received.store(signal, std::memory_order_relaxed); }

}  // namespace

InterruptGuard::InterruptGuard() {
  received.store(0);
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // reads and writes go on; the study stops between rows
  sigaction(SIGINT, &action, &saved_int);
  sigaction(SIGTERM, &action, &saved_term);
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &saved_int, nullptr);
  sigaction(SIGTERM, &saved_term, nullptr);
}

int InterruptSignal() { return received.load(std::memory_order_relaxed); }

}  // namespace pitch::study
