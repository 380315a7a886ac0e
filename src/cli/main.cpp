// pitch-autopilot-cli: the gear-ratio synthesis and the step response without a window.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/renderer_process.h"
#include "cli/run.h"
#include "core/errors.h"
#include "core/fp_environment.h"
#include "number_text/number_settings.h"
#include "storage/file_record.h"
#include "storage/write_signals.h"

namespace {

// A standard descriptor that was closed at start (">&-") is held by /dev/null opened for
// reading, so that no file the program opens later takes its number; writes to it still fail
// (EBADF), as they would on the closed descriptor.
void HoldClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int held = ::open("/dev/null", O_RDONLY);
      if (held >= 0 && held != fd) {
        ::dup2(held, fd);
        ::close(held);
      }
    }
  }
}

// Everything printed must have arrived: the standard output is flushed and closed, and a failure
// is reported like a file's, with the results file's codes and messages (after coreutils'
// close_stdout). Returns the exit code.
int CloseStandardOutput(int code) {
  std::cout.flush();
  bool failed = !std::cout.good() || std::ferror(stdout) != 0;
  int error = failed ? errno : 0;
  if (std::fclose(stdout) != 0 && !failed) {
    failed = true;
    error = errno;
  }
  if (!failed) {
    return code;
  }
  const int io_code = pitch::InOutErrorCodeOf(error != 0 ? error : EIO);
  std::cerr << "pitch-autopilot-cli: the standard output: "
            << pitch::WithFullStop(pitch::InOutErrorMessage(io_code, "the standard output"))
            << '\n';
  return code == 0 ? 1 : code;
}

// SIGTERM, SIGHUP and SIGINT end the command line as before, and first the renderers' process
// groups with it (a picture left drawing would run on under PID 1). SIGKILL leaves no handler a
// chance: the renderer asks the kernel to end it with its parent.
extern "C" void EndWithRenderers(int signal) {
  pitch::cli::KillRunningRenderers();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void EndRenderersOnSignals() {
  struct sigaction action {};
  action.sa_handler = EndWithRenderers;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    struct sigaction previous {};
    // A signal ignored when the program started (nohup, a background job) stays ignored.
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
      ::sigaction(signal, &action, nullptr);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  pitch::IgnoreWriteSignals();
  HoldClosedStandardDescriptors();
  EndRenderersOnSignals();
  try {
    pitch::CheckFloatingPointEnvironment();
  } catch (const pitch::EEnvironmentError& e) {
    std::cerr << e.what() << ".\n";
    return 1;
  }
  const int code = pitch::cli::Guarded(
      [&] {
        const pitch::NumberSettings settings = pitch::ReadNumberSettings();
        const std::vector<std::string> args(argv + 1, argv + argc);
        // The pictures come from the renderer program, run as a child for each.
        pitch::cli::RendererSettings renderer;
        try {
          renderer = pitch::cli::FindRenderer();
        } catch (const pitch::EUsageError& e) {
          std::cerr << "pitch-autopilot-cli: " << e.what()
                    << "\nTry 'pitch-autopilot-cli --help' for more information.\n";
          return 2;
        }
        pitch::cli::StudyContext study;
        study.in = &std::cin;
        study.map_renderer = pitch::cli::ChildMapRenderer(renderer);
        study.err_is_terminal = ::isatty(STDERR_FILENO) == 1;
        study.out_descriptor = STDOUT_FILENO;
        study.in_descriptor = STDIN_FILENO;
        study.stop_on_signals = true;
        return pitch::cli::Run(args, settings, std::cout, std::cerr,
                               pitch::cli::ChildPlotRenderer(renderer),
                               pitch::cli::ChildBodeRenderer(renderer), study,
                               pitch::cli::ChildReportRenderer(renderer));
      },
      std::cerr);
  return CloseStandardOutput(code);
}
