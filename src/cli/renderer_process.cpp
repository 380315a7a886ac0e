#include "cli/renderer_process.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "cli/options.h"
#include "core/errors.h"
#include "study/interrupt.h"

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

// The renderers' process groups while they run, for the signal handlers: a slot holds a group's
// number or 0. Written by the threads that start renderers, read by the handlers.
constexpr std::size_t kGroupSlots = 16;
std::atomic<pid_t> running_groups[kGroupSlots];
static_assert(std::atomic<pid_t>::is_always_lock_free, "read by a signal handler");

// A child process, leading a process group of its own so that whatever it started goes with it;
// the group is killed and the child reaped unless it was waited for.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {
    for (std::atomic<pid_t>& slot : running_groups) {
      pid_t empty = 0;
      if (slot.compare_exchange_strong(empty, pid)) {
        slot_ = &slot;
        break;
      }
    }
    // A descriptor that becomes readable when the child ends; without one (a kernel before 5.3)
    // the wait looks at the child every 20 ms.
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  }
  ~Child() {
    KillGroup();
    if (slot_ != nullptr) {
      slot_->store(0);
    }
    int status = 0;
    while (pid_ > 0 && ::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    if (pidfd_ >= 0) {
      ::close(pidfd_);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Kills what is left of the child's process group. The group's number is not given to another
  // process while any member of it lives, so this is safe also after the child was reaped.
  void KillGroup() const { ::kill(-group_, SIGKILL); }

  int pidfd() const { return pidfd_; }
  bool ended() const { return pid_ < 0; }
  const std::optional<int>& status() const { return status_; }
  int wait_error() const { return wait_error_; }

  // Reaps the child if it has ended; returns whether it has.
  bool TryReap() {
    if (pid_ < 0) {
      return true;
    }
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = status;
    } else if (done < 0 && errno != EINTR) {
      // Reaped elsewhere (SIGCHLD ignored, as a parent may hand it down): ended, status unknown.
      wait_error_ = errno;
    } else {
      return false;
    }
    pid_ = -1;
    return true;
  }

 private:
  pid_t pid_;
  pid_t group_ = pid_;
  std::atomic<pid_t>* slot_ = nullptr;
  int pidfd_ = -1;
  std::optional<int> status_;
  int wait_error_ = 0;
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

enum class Exchanged { kDone, kTimeOut, kPollFailed, kTooLong, kInterrupted };

// Writes the request and reads the answer until the answer is complete (its stated length has
// arrived, or the renderer closed its end) and the child has ended, or until the deadline.
// An answer longer than the limit stops the exchange. poll_error gets poll's errno.
Exchanged Exchange(Child& child, Descriptor& to_child, Descriptor& from_child,
                   std::string_view request, std::string& answer, std::size_t limit,
                   Clock::time_point deadline, int& poll_error) {
  const PipeSignalHeld held;
  ::fcntl(to_child.get(), F_SETFL, O_NONBLOCK);
  ::fcntl(from_child.get(), F_SETFL, O_NONBLOCK);
  std::size_t written = 0;
  if (request.empty()) {
    to_child.Close();
  }
  std::vector<char> buffer(65536);
  for (;;) {
    if (from_child.get() >= 0 && picture::CompleteReplyLength(answer)) {
      // Complete: whatever still holds the pipe (a child the renderer started) has no say.
      from_child.Close();
      to_child.Close();
    }
    child.TryReap();
    if (child.ended() && from_child.get() >= 0) {
      // The renderer ended with its answer short: what it left behind is stopped, and what is
      // in the pipe still read.
      child.KillGroup();
    }
    if (child.ended() && from_child.get() < 0) {
      return Exchanged::kDone;
    }
    if (study::InterruptSignal() != 0) {
      return Exchanged::kInterrupted;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return Exchanged::kTimeOut;
    }
    if (child.pidfd() < 0 && !child.ended()) {
      left = std::min(left, std::chrono::milliseconds(20));
    }
    pollfd fds[3];
    nfds_t count = 0;
    if (from_child.get() >= 0) {
      fds[count] = {from_child.get(), POLLIN, 0};
      ++count;
    }
    if (to_child.get() >= 0) {
      fds[count] = {to_child.get(), POLLOUT, 0};
      ++count;
    }
    if (child.pidfd() >= 0 && !child.ended()) {
      fds[count++] = {child.pidfd(), POLLIN, 0};
    }
    const int ready = ::poll(fds, count, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) {
      poll_error = errno;
      return Exchanged::kPollFailed;
    }
    if (ready <= 0) {
      continue;
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) {
        continue;
      }
      if (fds[i].fd == to_child.get()) {
        const ssize_t n =
            ::write(to_child.get(), request.data() + written, request.size() - written);
        if (n > 0) {
          written += static_cast<std::size_t>(n);
        }
        // Everything written, or the renderer stopped reading (it answers why, or its end tells).
        if (written == request.size() || (n < 0 && errno != EAGAIN && errno != EINTR)) {
          to_child.Close();
        }
      } else if (fds[i].fd == from_child.get()) {
        const ssize_t n = ::read(from_child.get(), buffer.data(), buffer.size());
        if (n > 0) {
          if (static_cast<std::size_t>(n) > limit - answer.size()) {
            return Exchanged::kTooLong;
          }
          answer.append(buffer.data(), static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
          from_child.Close();
        }
      }
    }
  }
}

std::string EndOf(const Child& child) {
  if (!child.status()) {
    return std::string("the renderer ended without a picture, its exit status taken elsewhere (") +
           std::strerror(child.wait_error()) + ")";
  }
  const int status = *child.status();
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

unsigned TimeoutSeconds(std::string_view text) {
  unsigned seconds = 0;
  bool valid = !text.empty() && text.size() <= 4;
  for (const char c : text) {
    valid = valid && c >= '0' && c <= '9';
    seconds = valid ? seconds * 10 + static_cast<unsigned>(c - '0') : 0;
  }
  if (!valid || seconds < 1 || seconds > kMaxTimeoutSeconds) {
    throw EUsageError(std::string(kTimeoutVariable) + " is \"" + std::string(text) +
                      "\": it takes a whole number of seconds from 1 to " +
                      std::to_string(kMaxTimeoutSeconds) + " in ASCII digits");
  }
  return seconds;
}

void KillRunningRenderers() noexcept {
  for (const std::atomic<pid_t>& slot : running_groups) {
    const pid_t group = slot.load();
    if (group > 0) {
      ::kill(-group, SIGKILL);
    }
  }
}

RendererSettings FindRenderer() {
  RendererSettings settings;
  if (const char* program = std::getenv("PITCH_AUTOPILOT_RENDERER"); program && *program) {
    settings.program = program;
  } else {
    settings.program =
        FolderOfThisProgram() + "/" PITCH_RENDERER_FOLDER "/" + std::string(kRendererName);
  }
  if (const char* timeout = std::getenv(kTimeoutVariable); timeout && *timeout) {
    settings.timeout_seconds = TimeoutSeconds(timeout);
  }
  return settings;
}

std::size_t AnswerLimit(const picture::Request& request, std::size_t request_size) {
  const auto pixels =
      static_cast<std::size_t>(request.width) * static_cast<std::size_t>(request.height);
  return kAnswerBaseLimit + kAnswerBytesPerPixel * pixels +
         kAnswerBytesPerRequestByte * request_size;
}

namespace {

std::string Render(const picture::Request& request, const RendererSettings& settings,
                   const std::string& subject) {
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

  // The renderer learns which process it serves: it ends when that one does.
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, kParentVariable, std::strlen(kParentVariable)) != 0 ||
        (*entry)[std::strlen(kParentVariable)] != '=') {
      environment.emplace_back(*entry);
    }
  }
  environment.push_back(std::string(kParentVariable) + "=" + std::to_string(::getpid()));
  std::vector<char*> envp;
  for (std::string& entry : environment) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);

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
  // The signals that end the command line wait until the renderer's group is known to their
  // handler (the renderer itself starts with none blocked).
  sigset_t ending;
  sigemptyset(&ending);
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    sigaddset(&ending, signal);
  }
  sigset_t previous;
  ::pthread_sigmask(SIG_BLOCK, &ending, &previous);
  pid_t pid = -1;
  const int spawned =
      ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    FailWithErrno(subject, "the renderer " + settings.program + " cannot be started", spawned);
  }
  Child child(pid);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  child_in.Close();
  child_out.Close();

  // A large picture takes its time to paint and encode: 2 s more for each million pixels.
  const long long pixels = static_cast<long long>(request.width) * request.height;
  const long long seconds = settings.timeout_seconds + pixels / 500'000;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
  const std::size_t limit = AnswerLimit(request, message.size());
  std::string answer;
  int poll_error = 0;
  switch (Exchange(child, to_child, from_child, message, answer, limit, deadline, poll_error)) {
    case Exchanged::kDone:
      break;
    case Exchanged::kTimeOut:
      Fail(subject,
           "the renderer did not finish within " + std::to_string(seconds) + " s and was stopped");
    case Exchanged::kPollFailed:
      Fail(subject, std::string("waiting for the renderer failed (") + std::strerror(poll_error) +
                        ") and it was stopped");
    case Exchanged::kTooLong:
      Fail(subject, "the renderer's answer is longer than " + std::to_string(limit) +
                        " bytes, the most a picture of this size may take, and it was stopped");
    case Exchanged::kInterrupted:
      Fail(subject,
           "the renderer was stopped by signal " + std::to_string(study::InterruptSignal()));
  }
  if (answer.empty()) {
    Fail(subject, EndOf(child));
  }
  // Whatever came after a complete answer (from a child the renderer started) is no part of it.
  if (const std::optional<std::size_t> length = picture::CompleteReplyLength(answer)) {
    answer.resize(*length);
  }
  picture::Reply reply;
  try {
    reply = picture::DecodeReply(answer);
  } catch (const EPlotError& e) {
    Fail(subject, std::string(e.what()) + "; " + EndOf(child));
  }
  if (!reply.error_kind.empty()) {
    throw EPlotError(reply.error);
  }
  if (reply.picture.empty()) {
    Fail(subject, "the renderer's picture is empty");
  }
  return std::move(reply.picture);
}

}  // namespace

std::string RenderInChild(const picture::Request& request, const RendererSettings& settings) {
  const std::string subject = picture::SubjectOf(request);
  try {
    return Render(request, settings, subject);
  } catch (const std::bad_alloc&) {
    // The answer (or the request) did not fit in memory: this picture's error, not the run's.
    Fail(subject, "not enough memory for the picture");
  }
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

picture::ReportPicture ReportPictureOf(const ReportSource& source) {
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
  return report;
}

ReportRenderer ChildReportRenderer(const RendererSettings& settings) {
  return [settings](const ReportSource& source) {
    picture::Request request;
    request.content = ReportPictureOf(source);
    request.format = PictureFormat::kPdf;
    request.separator = source.separator;
    return RenderInChild(request, settings);
  };
}

}  // namespace pitch::cli
