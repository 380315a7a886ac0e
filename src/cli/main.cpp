// pitch-autopilot-cli: the gear-ratio synthesis and the step response without a window.
#include <QApplication>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "number_text/number_settings.h"
#include "cli/run.h"
#include "core/fp_environment.h"
#include "storage/write_signals.h"
#include "ui/fonts.h"
#include "ui/plot_export.h"

namespace {

QList<QPointF> Points(const pitch::cli::PlotRequest& request) {
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

}  // namespace

int main(int argc, char** argv) {
  pitch::IgnoreWriteSignals();
  try {
    pitch::CheckFloatingPointEnvironment();
  } catch (const pitch::EEnvironmentError& e) {
    std::cerr << e.what() << ".\n";
    return 1;
  }
  const pitch::NumberSettings settings = pitch::ReadNumberSettings();
  const std::vector<std::string> args(argv + 1, argv + argc);
  // Pictures are drawn with Qt off screen; the application object is made for the first picture
  // only, so runs without --plot never touch Qt.
  std::unique_ptr<QApplication> application;
  const auto render = [&](const pitch::cli::PlotRequest& request) {
    if (!application) {
      if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
      }
      qInstallMessageHandler(QuietQtMessages);
      application = std::make_unique<QApplication>(argc, argv);
      pitch::EnsureTahoma();
    }
    return pitch::RenderResponsePlot(
        Points(request), QSize(request.width, request.height), request.separator,
        request.svg ? pitch::PlotFormat::kSvg : pitch::PlotFormat::kPng);
  };
  return pitch::cli::Run(args, settings, std::cout, std::cerr, render);
}
