#include "cli/qt_renderer.h"

#include <QApplication>
#include <iostream>
#include <memory>

#include "ui/fonts.h"
#include "ui/plot_export.h"

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
// command-line tool's output; real errors still go to stderr.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) {
    std::cerr << message.toStdString() << '\n';
  }
}

// The application object with the program's name as its only argument.
struct QtSession {
  int argc = 1;
  char name[20] = "pitch-autopilot-cli";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> application;

  void Start() {
    if (application) {
      return;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
      qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qInstallMessageHandler(QuietQtMessages);
    application = std::make_unique<QApplication>(argc, argv);
    EnsureTahoma();
  }
};

}  // namespace

PlotRenderer QtPlotRenderer() {
  auto session = std::make_shared<QtSession>();
  return [session](const PlotRequest& request) {
    session->Start();
    return RenderResponsePlot(Points(request), QSize(request.width, request.height),
                              request.separator, request.svg ? PlotFormat::kSvg : PlotFormat::kPng);
  };
}

}  // namespace pitch::cli
