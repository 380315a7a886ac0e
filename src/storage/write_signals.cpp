#include "storage/write_signals.h"

#include <csignal>

namespace pitch {

void IgnoreWriteSignals() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace pitch
