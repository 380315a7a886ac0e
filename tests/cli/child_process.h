// Runs the built program as a child process with an explicit environment, resource limits and
// standard output, as a script or a shell would start it.
#pragma once

#include <sys/resource.h>

#include <string>
#include <utility>
#include <vector>

namespace pitch::testing {

enum class StandardOutput {
  kCapture,     // a pipe read to its end
  kDevFull,     // /dev/full: every write fails with "No space left on device"
  kClosed,      // no descriptor 1 at all (">&-")
  kReaderGone,  // a pipe whose reader has already closed it
  kFile,        // the file ChildRun::output_file, created or emptied
};

struct ChildRun {
  std::vector<std::string> args;               // after the program's name
  std::vector<std::string> env;                // the whole environment
  std::string dir;                             // working directory
  std::vector<std::pair<int, rlim_t>> limits;  // setrlimit resource and value, before exec
  StandardOutput output = StandardOutput::kCapture;
  unsigned timeout_seconds = 60;  // SIGALRM ends a child that hangs
  std::string output_file;        // for StandardOutput::kFile
  // A signal sent to the child once it has run for signal_after_ms (0: none), as a user's ^C or
  // a batch system's job end would.
  int send_signal = 0;
  unsigned signal_after_ms = 0;
};

struct ChildResult {
  int code = -1;   // exit code, or -1 when a signal ended it
  int signal = 0;  // the signal that ended it, or 0
  std::string out;
  std::string err;
};

// The child starts with SIGPIPE and SIGXFSZ at their default actions and with only descriptors
// 0, 1 and 2 open, so that what it survives is its own doing; an alarm bounds its run.
ChildResult RunChild(const std::string& program, const ChildRun& run);

}  // namespace pitch::testing
