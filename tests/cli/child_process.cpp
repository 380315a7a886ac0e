#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace pitch::testing {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// Reads both pipes to their ends.
void Drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  struct Stream {
    int fd;
    std::string* text;
  } streams[2] = {{out_fd, &out}, {err_fd, &err}};
  int open = (out_fd >= 0 ? 1 : 0) + 1;
  while (open > 0) {
    pollfd fds[2];
    nfds_t n = 0;
    for (const Stream& s : streams) {
      if (s.fd >= 0) {
        fds[n++] = {s.fd, POLLIN, 0};
      }
    }
    if (::poll(fds, n, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw std::runtime_error("poll failed");
    }
    for (nfds_t k = 0; k < n; ++k) {
      if (fds[k].revents == 0) {
        continue;
      }
      for (Stream& s : streams) {
        if (s.fd != fds[k].fd) {
          continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(s.fd, buffer, sizeof buffer);
        if (got > 0) {
          s.text->append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
          ::close(s.fd);
          s.fd = -1;
          --open;
        }
      }
    }
  }
}

}  // namespace

ChildResult RunChild(const std::string& program, const ChildRun& run) {
  std::vector<std::string> argv_texts = {program};
  argv_texts.insert(argv_texts.end(), run.args.begin(), run.args.end());
  std::vector<std::string> env_texts = run.env;
  const std::vector<char*> argv = Pointers(argv_texts);
  const std::vector<char*> envp = Pointers(env_texts);

  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  const bool piped_output =
      run.output == StandardOutput::kCapture || run.output == StandardOutput::kReaderGone;
  if ((piped_output && ::pipe2(out_pipe, O_CLOEXEC) != 0) || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  if (run.output == StandardOutput::kReaderGone) {
    // Gone before the child starts: closed after the fork instead, a loaded machine could let the
    // child write its whole output into the pipe first.
    ::close(out_pipe[0]);
    out_pipe[0] = -1;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGXFSZ, SIG_DFL);
    switch (run.output) {
      case StandardOutput::kCapture:
      case StandardOutput::kReaderGone:
        ::dup2(out_pipe[1], 1);
        break;
      case StandardOutput::kDevFull: {
        const int fd = ::open("/dev/full", O_WRONLY);
        ::dup2(fd, 1);
        break;
      }
      case StandardOutput::kFile: {
        const int fd = ::open(run.output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        break;
      }
      case StandardOutput::kClosed:
        break;
    }
    ::dup2(err_pipe[1], 2);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(null_fd, 0);
    ::close_range(3, ~0U, 0);
    if (run.output == StandardOutput::kClosed) {
      ::close(1);
    }
    if (!run.dir.empty() && ::chdir(run.dir.c_str()) != 0) {
      ::_exit(126);
    }
    for (const auto& [resource, value] : run.limits) {
      const rlimit limit{value, value};
      if (::setrlimit(resource, &limit) != 0) {
        ::_exit(126);
      }
    }
    ::alarm(run.timeout_seconds);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }

  ChildResult result;
  if (piped_output) {
    ::close(out_pipe[1]);
  }
  ::close(err_pipe[1]);
  std::thread signaller;
  if (run.send_signal != 0) {
    signaller = std::thread([&run, pid] {
      std::this_thread::sleep_for(std::chrono::milliseconds(run.signal_after_ms));
      ::kill(pid, run.send_signal);  // the child is not reaped before this thread is joined
    });
  }
  Drain(out_pipe[0], err_pipe[0], result.out, result.err);
  if (signaller.joinable()) {
    signaller.join();
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace pitch::testing
