#include "app/startup.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <typeinfo>

#include "app/error_display.h"
#include "number_text/number_settings.h"
#include "core/controller.h"
#include "core/errors.h"
#include "core/fp_environment.h"
#include "storage/storage.h"
#include "storage/write_signals.h"
#include "ui/fonts.h"
#include "ui/form_base.h"

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

}  // namespace

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

bool DisplayAvailable() {
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  const char* platform_env = std::getenv("QT_QPA_PLATFORM");
  const QString platform = QString::fromLocal8Bit(platform_env != nullptr ? platform_env : "");
  if (platform.isEmpty()) {
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
  }
  if (platform.startsWith(QLatin1String("xcb"))) {
    return set("DISPLAY");
  }
  if (platform.startsWith(QLatin1String("wayland"))) {
    return set("WAYLAND_DISPLAY");
  }
  return true;  // offscreen, vnc, eglfs, ... need no display variable
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
  if (!DisplayAvailable()) {
    return FailStartup(
        EStartupError("No display to show the window on (DISPLAY is not set). Without a "
                      "display, use pitch-autopilot-cli for the calculation, or "
                      "scripts/screenshot for a picture of the window"),
        argc > 0 ? argv[0] : nullptr, false);
  }
  QApplication application(argc, argv);
  const QString title = ApplicationTitle(QApplication::applicationFilePath());
  QApplication::setApplicationName(title);
  QIcon icon(QStringLiteral(":/pitch-autopilot-32.png"));
  icon.addFile(QStringLiteral(":/pitch-autopilot.svg"));  // where Qt's SVG plugin is present
  QApplication::setWindowIcon(icon);
  QtMessageBox box;
  TErrorDisplay errors(box, title);

  try {
    // 2. Fonts; 3. the window, hidden; 4. the controller; 5. the storage object.
    EnsureTahoma();
    FormBase = new TFormBase(errors, settings);
    Controller = new TController;
    Storage = new TStorage(settings);
    // 6–9. The links, in this order.
    FormBase->ConnectController(Controller);
    Controller->ConnectBorder(FormBase);
    Controller->ConnectStorage(Storage);
    Storage->ConnectController(Controller);
  } catch (const std::exception& e) {
    return FailStartup(e, argc > 0 ? argv[0] : nullptr, true);
  }

  // 10. The event loop shows the window; closing it ends the loop.
  FormBase->show();
  const int code = QApplication::exec();
  delete FormBase;  // the application's window ends with the application
  FormBase = nullptr;
  return code;
}

}  // namespace pitch
