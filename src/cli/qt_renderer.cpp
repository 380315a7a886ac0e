#include "cli/qt_renderer.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "cli/study_map.h"
#include "core/errors.h"
#include "ui/bode_export.h"
#include "ui/fonts.h"
#include "ui/plot_export.h"
#include "ui/report_pdf.h"

namespace pitch::cli {

namespace {

QList<QPointF> Points(const PlotRequest& request) {
  QList<QPointF> points;
  points.reserve(static_cast<qsizetype>(request.t.size()));
  for (std::size_t i = 0; i < request.t.size(); ++i) {
    points.append(QPointF(request.t[i], request.h[i]));
  }
  return points;
}

// Qt's informational warnings (a missing XDG_RUNTIME_DIR and the like) are no business of a
// command-line tool's output; the picture export reports the warnings that come with a failure
// in its error. Real errors go to stderr, and a fatal one ends the program with code 1 instead of
// a core dump (nothing has been written yet: the picture is drawn before any file).
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg) {
    std::cerr << message.toStdString() << '\n';
  } else if (type == QtFatalMsg) {
    std::cerr << "pitch-autopilot-cli: " << message.toStdString() << std::endl;
    std::_Exit(1);
  }
}

// Starting Qt takes a few descriptors (the platform plugin, the event dispatcher's wake-up
// pipe); without them Qt ends the process. Raises EPlotError when fewer than that are free.
void CheckFreeDescriptors() {
  constexpr std::size_t kNeeded = 4;
  std::array<int, kNeeded> probes;
  probes.fill(-1);
  int error = 0;
  for (int& fd : probes) {
    fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = errno;
      break;
    }
  }
  for (const int fd : probes) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
  if (error == EMFILE || error == ENFILE) {
    throw EPlotError("The chart cannot be drawn: too many open files");
  }
}

// The application object with the program's name as its only argument, so that no argument is
// read as a Qt option.
struct QtSession {
  int argc = 1;
  char name[20] = "pitch-autopilot-cli";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> application;

  void Start() {
    if (application) {
      return;
    }
    CheckFreeDescriptors();
    // A front end without a window draws off screen, whatever display the environment names;
    // it needs no GLib event loop either (one less set of descriptors that could run out).
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_NO_GLIB", "1");
    qInstallMessageHandler(QtMessages);
    application = std::make_unique<QApplication>(argc, argv);
    EnsureTahoma();
  }
};

// The one session of the process, shared by the renderers that are alive.
std::shared_ptr<QtSession> SharedSession() {
  static std::weak_ptr<QtSession> current;
  std::shared_ptr<QtSession> session = current.lock();
  if (!session) {
    session = std::make_shared<QtSession>();
    current = session;
  }
  return session;
}

PlotFormat FormatOf(bool svg) { return svg ? PlotFormat::kSvg : PlotFormat::kPng; }

}  // namespace

PlotRenderer QtPlotRenderer() {
  return [session = SharedSession()](const PlotRequest& request) {
    session->Start();
    return RenderResponsePlot(Points(request), QSize(request.width, request.height),
                              request.separator, FormatOf(request.svg));
  };
}

BodeRenderer QtBodeRenderer() {
  return [session = SharedSession()](const BodeRequest& request) {
    session->Start();
    return RenderBodePlot(request.data, QSize(request.width, request.height), request.separator,
                          FormatOf(request.svg));
  };
}

ReportRenderer QtReportRenderer() {
  return [session = SharedSession()](const ReportData& data) {
    session->Start();
    const QByteArray pdf = RenderReportPdf(data);
    return std::string(pdf.constData(), static_cast<std::size_t>(pdf.size()));
  };
}

study::MapRenderer QtMapRenderer() {
  auto session = SharedSession();
  return [session](const study::MapRequest& request) {
    session->Start();
    return RenderStudyMap(request);
  };
}

}  // namespace pitch::cli
