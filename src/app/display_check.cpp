#include "app/display_check.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>
#include <QStringList>
#include <cstdlib>
#include <set>

namespace pitch {

namespace {

QString Environment(const char* name) {
  const char* value = std::getenv(name);
  return QString::fromLocal8Bit(value != nullptr ? value : "");
}

// The value of a Qt option such as "-platform NAME" (or "--platform NAME"), empty when absent.
QString Argument(int argc, char** argv, const char* option) {
  for (int i = 1; i + 1 < argc; ++i) {
    QString arg = QString::fromLocal8Bit(argv[i]);
    if (arg.startsWith(QLatin1String("--"))) {
      arg.remove(0, 1);
    }
    if (arg == QLatin1String(option)) {
      return QString::fromLocal8Bit(argv[i + 1]);
    }
  }
  return {};
}

// The keys ("xcb", "offscreen", …) of every platform plugin in Qt's plugin folders, lower case.
std::set<QString> PlatformPluginKeys() {
  QStringList folders;
  const QString own_path = Environment("QT_QPA_PLATFORM_PLUGIN_PATH");
  if (!own_path.isEmpty()) {
    folders.append(own_path);
  }
  for (const QString& path : QCoreApplication::libraryPaths()) {
    folders.append(path + QLatin1String("/platforms"));
  }
  std::set<QString> keys;
  for (const QString& folder : folders) {
    const QDir dir(folder);
    for (const QString& file : dir.entryList(QDir::Files)) {
      // Reads the plugin's metadata without loading it.
      const QJsonObject meta =
          QPluginLoader(dir.filePath(file)).metaData().value(QLatin1String("MetaData")).toObject();
      for (const auto& key : meta.value(QLatin1String("Keys")).toArray()) {
        keys.insert(key.toString().toLower());
      }
    }
  }
  return keys;
}

bool XServerAnswers(const QString& display) {
  const QByteArray name = display.toLocal8Bit();
  xcb_connection_t* connection = xcb_connect(name.constData(), nullptr);
  const bool ok = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return ok;
}

}  // namespace

std::optional<std::string> DisplayProblem(int argc, char** argv) {
  QString platforms = Argument(argc, argv, "-platform");
  if (platforms.isEmpty()) {
    platforms = Environment("QT_QPA_PLATFORM");
  }
  if (platforms.isEmpty()) {
    // Qt's own default here; a Wayland session makes it try Wayland first.
    platforms = Environment("XDG_SESSION_TYPE") == QLatin1String("wayland")
                    ? QStringLiteral("wayland;xcb")
                    : QStringLiteral("xcb");
  }
  const std::set<QString> installed = PlatformPluginKeys();
  QStringList reasons;
  // Qt tries the names of a ';'-separated list in turn; a name may carry ':'-separated options.
  for (const QString& entry : platforms.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const QString name = entry.section(QLatin1Char(':'), 0, 0).toLower();
    if (installed.count(name) == 0) {
      QStringList known(installed.begin(), installed.end());
      reasons.append(QStringLiteral("the display cannot be opened: Qt has no platform \"%1\"; "
                                    "it has %2")
                         .arg(name, known.join(QLatin1String(", "))));
      continue;
    }
    if (name == QLatin1String("xcb")) {
      QString display = Argument(argc, argv, "-display");
      if (display.isEmpty()) {
        display = Environment("DISPLAY");
      }
      if (display.isEmpty()) {
        reasons.append(QStringLiteral("DISPLAY is not set"));
        continue;
      }
      if (!XServerAnswers(display)) {
        reasons.append(QStringLiteral("the display \"%1\" cannot be opened: no X server answers "
                                      "there")
                           .arg(display));
        continue;
      }
    }
    return std::nullopt;
  }
  return NoDisplayMessage(reasons.join(QLatin1String("; ")).toStdString());
}

std::string NoDisplayMessage(const std::string& reason) {
  return "No display to show the window on (" + reason +
         "). Without a display, use pitch-autopilot-cli for the calculation, or "
         "scripts/screenshot for a picture of the window";
}

}  // namespace pitch
