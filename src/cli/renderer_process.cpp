#include "cli/renderer_process.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "core/errors.h"

extern char** environ;

namespace pitch::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

 private:
  int fd_ = -1;
};

// A child process that is killed and reaped unless it was waited for.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  // The renderer leads a process group of its own, so that whatever it started goes with it.
  ~Child() {
    if (pid_ > 0) {
      ::kill(-pid_, SIGKILL);
      Reap(0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Waits until the deadline for the child to end; returns its wait status, or kills it and
  // returns nothing when it is still running then.
  std::optional<int> WaitUntil(Clock::time_point deadline) {
    for (;;) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        return status;
      }
      if (done < 0 && errno != EINTR) {
        // Reaped already (SIGCHLD ignored, as a parent may hand it down): it has ended.
        pid_ = -1;
        return 0;
      }
      if (Clock::now() >= deadline) {
        return std::nullopt;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

 private:
  void Reap(int options) {
    int status = 0;
    while (::waitpid(pid_, &status, options) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

  pid_t pid_;
};

// SIGPIPE held back on this thread while the renderer's pipe is written: a renderer that stops
// reading makes the write fail (EPIPE) instead of ending the program. A SIGPIPE raised meanwhile
// is taken before the mask is restored.
class PipeSignalHeld {
 public:
  PipeSignalHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~PipeSignalHeld() {
    const timespec now{0, 0};
    while (::sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
    }
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  PipeSignalHeld(const PipeSignalHeld&) = delete;
  PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

 private:
  sigset_t pipe_;
  sigset_t previous_;
};

[[noreturn]] void Fail(const std::string& subject, const std::string& why) {
  throw EPlotError(subject + " cannot be drawn: " + why);
}

[[noreturn]] void FailWithErrno(const std::string& subject, const std::string& step, int error) {
  if (error == EMFILE || error == ENFILE) {
    Fail(subject, "too many open files");
  }
  Fail(subject, step + ": " + std::strerror(error));
}

std::string FolderOfThisProgram() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) {
    return ".";
  }
  std::string text(path, static_cast<std::size_t>(length));
  const std::size_t slash = text.rfind('/');
  return slash == std::string::npos ? "." : text.substr(0, slash);
}

// Writes the request, reads the answer to its end and closes both pipes, until the deadline.
// Returns false when the deadline passed first.
bool Exchange(Descriptor& to_child, Descriptor& from_child, std::string_view request,
              std::string& answer, Clock::time_point deadline) {
  const PipeSignalHeld held;
  ::fcntl(to_child.get(), F_SETFL, O_NONBLOCK);
  std::size_t written = 0;
  if (request.empty()) {
    to_child.Close();
  }
  char buffer[65536];
  while (from_child.get() >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd fds[2] = {{from_child.get(), POLLIN, 0}, {to_child.get(), POLLOUT, 0}};
    const nfds_t count = to_child.get() >= 0 ? 2 : 1;
    const int ready = ::poll(fds, count, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) {
      return false;
    }
    if (ready <= 0) {
      continue;
    }
    if (count == 2 && fds[1].revents != 0) {
      const ssize_t n = ::write(to_child.get(), request.data() + written, request.size() - written);
      if (n > 0) {
        written += static_cast<std::size_t>(n);
      }
      // Everything written, or the renderer stopped reading (it answers why, or its end tells).
      if (written == request.size() || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        to_child.Close();
      }
    }
    if (fds[0].revents != 0) {
      const ssize_t n = ::read(from_child.get(), buffer, sizeof buffer);
      if (n > 0) {
        answer.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        from_child.Close();
      }
    }
  }
  to_child.Close();
  return true;
}

std::string EndOf(int status) {
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    const char* name = ::strsignal(signal);
    return "the renderer ended with signal " + std::to_string(signal) +
           (name != nullptr ? std::string(" (") + name + ")" : std::string());
  }
  return "the renderer ended with exit code " + std::to_string(WEXITSTATUS(status)) +
         " without a picture";
}

}  // namespace

RendererSettings FindRenderer() {
  RendererSettings settings;
  if (const char* program = std::getenv("PITCH_AUTOPILOT_RENDERER"); program && *program) {
    settings.program = program;
  } else {
    settings.program =
        FolderOfThisProgram() + "/" PITCH_RENDERER_FOLDER "/" + std::string(kRendererName);
  }
  if (const char* timeout = std::getenv("PITCH_AUTOPILOT_RENDER_TIMEOUT"); timeout && *timeout) {
    char* end = nullptr;
    const unsigned long seconds = std::strtoul(timeout, &end, 10);
    if (*end == '\0' && seconds > 0 && seconds < 86400) {
      settings.timeout_seconds = static_cast<unsigned>(seconds);
    }
  }
  return settings;
}

std::string RenderInChild(const picture::Request& request, const RendererSettings& settings) {
  const std::string subject = picture::SubjectOf(request);
  if (::access(settings.program.c_str(), X_OK) != 0) {
    throw ERendererMissing(subject + " cannot be drawn: the picture renderer " + settings.program +
                           " is not installed (" + std::strerror(errno) + ")");
  }
  const std::string message = picture::EncodeRequest(request);

  int in[2];
  if (::pipe2(in, O_CLOEXEC) != 0) {
    FailWithErrno(subject, "no pipe to the renderer", errno);
  }
  Descriptor child_in(in[0]);
  Descriptor to_child(in[1]);
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    FailWithErrno(subject, "no pipe from the renderer", errno);
  }
  Descriptor from_child(out[0]);
  Descriptor child_out(out[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, child_in.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, child_out.get(), STDOUT_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  std::string program = settings.program;
  char* argv[] = {program.data(), nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    FailWithErrno(subject, "the renderer " + settings.program + " cannot be started", spawned);
  }
  Child child(pid);
  child_in.Close();
  child_out.Close();

  // A large picture takes its time to paint and encode: 2 s more for each million pixels.
  const long long pixels = static_cast<long long>(request.width) * request.height;
  const long long seconds = settings.timeout_seconds + pixels / 500'000;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
  std::string answer;
  std::optional<int> status;
  if (Exchange(to_child, from_child, message, answer, deadline)) {
    status = child.WaitUntil(deadline);
  }
  if (!status) {
    Fail(subject,
         "the renderer did not finish within " + std::to_string(seconds) + " s and was stopped");
  }
  if (answer.empty()) {
    Fail(subject, EndOf(*status));
  }
  picture::Reply reply;
  try {
    reply = picture::DecodeReply(answer);
  } catch (const EPlotError& e) {
    Fail(subject, std::string(e.what()) + "; " + EndOf(*status));
  }
  if (!reply.error_kind.empty()) {
    throw EPlotError(reply.error);
  }
  if (reply.picture.empty()) {
    Fail(subject, "the renderer's picture is empty");
  }
  return std::move(reply.picture);
}

PlotRenderer ChildPlotRenderer(const RendererSettings& settings) {
  return [settings](const PlotRequest& r) {
    picture::Request request;
    request.content = picture::ResponsePicture{{r.t.begin(), r.t.end()}, {r.h.begin(), r.h.end()}};
    request.format = r.svg ? PictureFormat::kSvg : PictureFormat::kPng;
    request.width = r.width;
    request.height = r.height;
    request.separator = r.separator;
    return RenderInChild(request, settings);
  };
}

BodeRenderer ChildBodeRenderer(const RendererSettings& settings) {
  return [settings](const BodeRequest& r) {
    picture::Request request;
    request.content = picture::BodePicture{r.data};
    request.format = r.svg ? PictureFormat::kSvg : PictureFormat::kPng;
    request.width = r.width;
    request.height = r.height;
    request.separator = r.separator;
    return RenderInChild(request, settings);
  };
}

study::MapRenderer ChildMapRenderer(const RendererSettings& settings) {
  return [settings](const study::MapRequest& r) {
    picture::Request request;
    request.content = picture::MapPicture{r.x_name, r.y_name, r.x_values,  r.y_values,
                                          r.values, r.marks,  r.value_name};
    request.format = r.svg ? PictureFormat::kSvg : PictureFormat::kPng;
    return RenderInChild(request, settings);
  };
}

ReportRenderer ChildReportRenderer(const RendererSettings& settings) {
  return [settings](const ReportSource& source) {
    picture::ReportPicture report;
    report.texts = source.coefficient_texts;
    report.error = source.error;
    report.version = source.version;
    if (const TController* c = source.controller) {
      report.ratios_known = true;
      report.values = {c->c1, c->c2, c->c3, c->c4, c->c5, c->muv, c->iv, c->nuv, c->Tnu};
      if (source.simulated) {
        report.teta.assign(c->teta.values().begin(), c->teta.values().end());
      }
    } else {
      report.values.assign(9, 0.0);
    }
    picture::Request request;
    request.content = std::move(report);
    request.format = PictureFormat::kPdf;
    request.separator = source.separator;
    return RenderInChild(request, settings);
  };
}

}  // namespace pitch::cli
