#include "app/startup.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <typeinfo>

#include "app/application.h"
#include "app/display_check.h"
#include "app/error_display.h"
#include "app/translations.h"
#include "core/controller.h"
#include "core/errors.h"
#include "core/fp_environment.h"
#include "number_text/number_settings.h"
#include "storage/descriptors.h"
#include "storage/storage.h"
#include "storage/write_signals.h"
#include "ui/fonts.h"
#include "ui/form_base.h"
#include "ui/wiring.h"

namespace pitch {

TFormBase* FormBase = nullptr;
TController* Controller = nullptr;
TStorage* Storage = nullptr;

namespace {

// Start-up could not go on.
class EStartupError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EStartupError"; }
};

const char* ClassNameOf(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) {
    return own->ClassName();
  }
  return typeid(e).name();
}

QString ModuleName(const char* argv0) {
  return QFileInfo(QString::fromLocal8Bit(argv0 != nullptr ? argv0 : "pitch-autopilot")).fileName();
}

// Prints the failure, and shows it in a box where a window can be shown.
int FailStartup(const std::exception& e, const char* argv0, bool can_show_box) {
  const std::string text =
      StartupFailureText(ClassNameOf(e), ModuleName(argv0).toStdString(),
                         reinterpret_cast<const void*>(&RunApplication), e.what());
  std::fputs(text.c_str(), stderr);
  if (can_show_box) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Application Error"),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
  }
  return 1;
}

const char* startup_argv0 = nullptr;
QtMessageHandler qt_handler = nullptr;

// Qt's fatal messages while the application object is created: the platform plugin could not
// be started. Other messages go on to Qt's usual output.
void FatalDuringStartup(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    qt_handler(type, context, text);
    return;
  }
  const QString first_line = text.section(QLatin1Char('\n'), 0, 0).trimmed();
  FailStartup(
      EStartupError(NoDisplayMessage("the display cannot be opened: " + first_line.toStdString())),
      startup_argv0, false);
  std::fflush(stderr);
  std::_Exit(1);  // the application object is half made: nothing may run after this
}

}  // namespace

std::string TooFewDescriptorsMessage() {
  return "Too many open files: the window needs " + std::to_string(kStartupDescriptors) +
         " free file descriptors to start";
}

QString ApplicationTitle(const QString& program_path) {
  QString name = program_path.mid(program_path.lastIndexOf(QLatin1Char('/')) + 1);
  name =
      name.left(name.indexOf(QLatin1Char('.')) < 0 ? name.size() : name.indexOf(QLatin1Char('.')));
  if (name.size() > 1) {
    name = name.left(1) + name.mid(1).toLower();
  }
  return name;
}

std::string StartupFailureText(std::string_view class_name, std::string_view module,
                               const void* address, std::string_view message) {
  char where[32];
  std::snprintf(where, sizeof where, "%p", address);
  std::string text = "Exception ";
  text.append(class_name).append(" in module ").append(module).append(" at ").append(where);
  text.append(".\n").append(message);
  if (!message.empty() && message.back() != '.') {
    text += '.';
  }
  text += '\n';
  return text;
}

int RunApplication(int argc, char** argv) {
  // 0. A failed write is reported, never a silent end; the floating-point unit must compute as
  // the results need.
  IgnoreWriteSignals();
  try {
    CheckFloatingPointEnvironment();
  } catch (const EEnvironmentError& e) {
    return FailStartup(e, argc > 0 ? argv[0] : nullptr, false);
  }
  // 1. Number settings, then the application object with its title. The settings live here, at
  // the program's edge, for the whole run: the window and the storage object are handed them,
  // and the window reads the separator again on a locale change. The code page stays as taken
  // now.
  NumberSettings settings = ReadNumberSettings();
  // Qt, its platform plugin and GLib's event loop each need descriptors of their own; with too
  // few free they end the process from inside (a trap or an abort) instead of failing.
  if (!DescriptorsAvailable(kStartupDescriptors)) {
    return FailStartup(EStartupError(TooFewDescriptorsMessage()), argc > 0 ? argv[0] : nullptr,
                       false);
  }
  if (const std::optional<std::string> problem = DisplayProblem(argc, argv)) {
    return FailStartup(EStartupError(*problem), argc > 0 ? argv[0] : nullptr, false);
  }
  // Whatever the check above cannot foresee, Qt reports by a fatal message while the
  // application object starts or the window is first shown; that ends start-up the same way
  // instead of aborting.
  startup_argv0 = argc > 0 ? argv[0] : nullptr;
  qt_handler = qInstallMessageHandler(FatalDuringStartup);
  // The window scales its layout for the screen's resolution itself (see layout_scale.h), in
  // whole device pixels; Qt's own scaling would stretch it once more by a fraction.
  qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  TApplication application(argc, argv);
  if (QGuiApplication::primaryScreen() == nullptr) {
    return FailStartup(EStartupError(NoDisplayMessage(
                           "the display cannot be opened: the platform \"" +
                           QGuiApplication::platformName().toStdString() + "\" has no screen")),
                       startup_argv0, false);
  }
  const QString title = ApplicationTitle(QApplication::applicationFilePath());
  QApplication::setApplicationName(title);
  QIcon icon(QStringLiteral(":/pitch-autopilot-32.png"));
  icon.addFile(QStringLiteral(":/pitch-autopilot.svg"));  // where Qt's SVG plugin is present
  QApplication::setWindowIcon(icon);
  QTranslator qt_texts;
  if (LoadQtTranslations(qt_texts)) {
    QApplication::installTranslator(&qt_texts);
  } else {
    qWarning(
        "pitch-autopilot: Qt's Russian texts (qtbase_ru) are not installed: its dialogs "
        "speak English");
  }
  QTranslator own_texts;  // after Qt's: looked up first
  if (LoadOwnTranslations(own_texts)) {
    QApplication::installTranslator(&own_texts);
  }
  QtMessageBox box;
  TErrorDisplay errors(box, title);
  application.SetErrorSink(&errors);
  // The display goes before the application object: unhook it first.
  struct Unhook {
    TApplication& application;
    ~Unhook() { application.SetErrorSink(nullptr); }
  } unhook{application};

  TProgramObjects objects;
  try {
    // 2. Fonts; 3. the window, hidden; 4. the controller; 5. the storage object; 6–9. the links,
    // in this order.
    EnsureTahoma();
    objects = MakeProgramObjects(errors, settings);
    FormBase = objects.window.get();
    Controller = objects.controller.get();
    Storage = objects.storage.get();
  } catch (const std::exception& e) {
    return FailStartup(e, argc > 0 ? argv[0] : nullptr, true);
  }

  // 10. The event loop shows the window; closing it ends the loop. A results file named on the
  // command line is opened once the loop runs, so that its errors show over the window.
  FormBase->show();
  if (const QStringList files = QApplication::arguments().mid(1); !files.isEmpty()) {
    QMetaObject::invokeMethod(
        FormBase, [files, &errors] { RunGuarded(errors, [&] { FormBase->OpenArguments(files); }); },
        Qt::QueuedConnection);
  }
  qInstallMessageHandler(qt_handler);
  const int code = QApplication::exec();
  objects = TProgramObjects();  // the application's window ends with the application
  FormBase = nullptr;
  Controller = nullptr;
  Storage = nullptr;
  return code;
}

}  // namespace pitch
