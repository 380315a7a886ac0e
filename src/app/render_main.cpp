// pitch-autopilot-render: draws one picture for the command line, off screen. The request comes
// on standard input, the answer (the picture's bytes or the error) goes to standard output; see
// picture/request.h. Anything else (Qt's messages) goes to standard error.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QApplication>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

#include "app/picture_drawing.h"
#include "core/errors.h"
#include "picture/request.h"
#include "storage/descriptors.h"
#include "storage/write_signals.h"
#include "ui/fonts.h"

namespace {

constexpr const char* kHelp =
    "Usage: pitch-autopilot-render\n"
    "Draws one picture of pitch-autopilot off screen: reads the request that pitch-autopilot-cli\n"
    "writes to its standard input and answers with the picture's bytes (PNG or SVG) or the\n"
    "error on its standard output. It is started by pitch-autopilot-cli for --plot, --bode and\n"
    "--map, not by hand.\n";

int g_answer = -1;                      // the descriptor the answer goes to
std::string g_subject = "The picture";  // how errors name the picture

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void Answer(const pitch::picture::Reply& reply) {
  WriteAll(g_answer, pitch::picture::EncodeReply(reply));
  ::close(g_answer);
  g_answer = -1;
}

[[noreturn]] void AnswerErrorAndEnd(const std::string& message) {
  Answer({"", "EPlotError", g_subject + " cannot be drawn: " + message});
  std::_Exit(1);
}

// Qt's informational messages stay quiet; a critical one goes to standard error. A thread that
// cannot be started leaves Qt waiting for it forever, and a fatal message would end in a core
// dump: both end the renderer at once with the error as its answer.
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  const std::string text = message.toStdString();
  if (type == QtFatalMsg) {
    AnswerErrorAndEnd("Qt: " + text);
  }
  if (message.contains(QLatin1String("Thread creation error"))) {
    AnswerErrorAndEnd("no thread can be started (" + text + ")");
  }
  if (type == QtCriticalMsg) {
    std::cerr << text << '\n';
  }
}

// Starting Qt takes a few descriptors (the platform plugin, the event dispatcher's wake-up
// pipe); without them Qt ends the process. Raises EPlotError when fewer than that are free.
void CheckFreeDescriptors() {
  constexpr std::size_t kNeeded = 4;
  if (!pitch::DescriptorsAvailable(kNeeded)) {
    throw pitch::EPlotError(g_subject + " cannot be drawn: too many open files");
  }
}

std::string ReadAll(int fd) {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      throw pitch::EPlotError(std::string("the request cannot be read: ") + std::strerror(errno));
    }
    if (n == 0) {
      return bytes;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string Draw() {
  const pitch::picture::Request request = pitch::picture::DecodeRequest(ReadAll(STDIN_FILENO));
  g_subject = pitch::picture::SubjectOf(request);
  CheckFreeDescriptors();
  // Off screen whatever display the environment names, without a GLib event loop (one less set
  // of descriptors that could run out); the program's name as the only argument.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QT_NO_GLIB", "1");
  qInstallMessageHandler(QtMessages);
  // Never destroyed: the renderer ends right after its answer, without Qt's teardown.
  static int argc = 1;
  static char name[] = "pitch-autopilot-render";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
  pitch::EnsureTahoma();
  return pitch::DrawPicture(request);
}

// Started by the command line (which names itself in the environment), the renderer ends when
// it does, however it ended. The command line may have ended before the request was made: then
// the parent is another process already, and the renderer ends now.
void EndWithTheCommandLine() {
  const char* parent = std::getenv("PITCH_AUTOPILOT_RENDER_PARENT");
  if (parent == nullptr || *parent == '\0') {
    return;
  }
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (std::to_string(::getppid()) != parent) {
    std::_Exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const std::string option = argv[1];
    if (option == "--help" || option == "-h") {
      std::cout << kHelp;
      return 0;
    }
    if (option == "--version") {
      std::cout << "pitch-autopilot-render " PITCH_VERSION "\n";
      return 0;
    }
    std::cerr << "pitch-autopilot-render: unknown option " << option << '\n' << kHelp;
    return 2;
  }
  EndWithTheCommandLine();
  pitch::IgnoreWriteSignals();
  // The answer has the standard output to itself: whatever a library prints goes to stderr.
  g_answer = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (g_answer < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    std::cerr << "pitch-autopilot-render: no descriptor for the answer: " << std::strerror(errno)
              << '\n';
    return 1;
  }
  pitch::picture::Reply reply;
  try {
    reply.picture = Draw();
  } catch (const pitch::Exception& e) {
    // Every error names the picture it stopped.
    const std::string message = e.what();
    reply = {"", e.ClassName(),
             message.find(" cannot be drawn: ") == std::string::npos
                 ? g_subject + " cannot be drawn: " + message
                 : message};
  } catch (const std::bad_alloc&) {
    reply = {"", "EPlotError", g_subject + " cannot be drawn: not enough memory"};
  } catch (const std::exception& e) {
    reply = {"", "EPlotError", g_subject + " cannot be drawn: " + e.what()};
  }
  Answer(reply);
  std::_Exit(reply.error_kind.empty() ? 0 : 1);
}
