#include "ui/fonts.h"

#include <QFile>
#include <QFontDatabase>

namespace pitch {

void EnsureTahoma() {
  if (QFontDatabase::families().contains(QStringLiteral("Tahoma"))) {
    return;
  }
  const QString wine_tahoma = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");
  if (QFile::exists(wine_tahoma)) {
    QFontDatabase::addApplicationFont(wine_tahoma);
  }
}

}  // namespace pitch
