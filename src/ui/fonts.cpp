#include "ui/fonts.h"

#include <fontconfig/fontconfig.h>

#include <QFile>
#include <QFontDatabase>
#include <QtGlobal>

namespace pitch {

namespace {

const char kWineTahoma[] = "/usr/share/wine/fonts/tahoma.ttf";

// The first regular, upright face of the family "Tahoma" in fontconfig's configuration.
QString FontconfigTahoma() {
  if (FcInit() == FcFalse) {
    return {};
  }
  FcPattern* pattern =
      FcPatternBuild(nullptr, FC_FAMILY, FcTypeString, "Tahoma", FC_WEIGHT, FcTypeInteger,
                     FC_WEIGHT_REGULAR, FC_SLANT, FcTypeInteger, FC_SLANT_ROMAN, nullptr);
  FcObjectSet* objects = FcObjectSetBuild(FC_FILE, nullptr);
  FcFontSet* fonts = FcFontList(nullptr, pattern, objects);
  QString path;
  for (int k = 0; fonts != nullptr && k < fonts->nfont && path.isEmpty(); ++k) {
    FcChar8* file = nullptr;
    if (FcPatternGetString(fonts->fonts[k], FC_FILE, 0, &file) == FcResultMatch) {
      path = QString::fromLocal8Bit(reinterpret_cast<const char*>(file));
    }
  }
  if (fonts != nullptr) {
    FcFontSetDestroy(fonts);
  }
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  return path;
}

}  // namespace

QString FindTahoma() {
  QString path = FontconfigTahoma();
  if (path.isEmpty() && QFile::exists(QString::fromLatin1(kWineTahoma))) {
    path = QString::fromLatin1(kWineTahoma);
  }
  return path;
}

void EnsureTahoma() {
  if (QFontDatabase::families().contains(QStringLiteral("Tahoma"))) {
    return;
  }
  const QString path = FindTahoma();
  if (path.isEmpty()) {
    qWarning(
        "pitch-autopilot: no Tahoma font found (fontconfig knows none, and %s is missing; "
        "Debian's fonts-wine package brings it): the window's texts are drawn in a "
        "substitute font and may not fit their places",
        kWineTahoma);
    return;
  }
  if (QFontDatabase::addApplicationFont(path) < 0) {
    qWarning(
        "pitch-autopilot: the Tahoma font in %s cannot be loaded: the window's texts are "
        "drawn in a substitute font and may not fit their places",
        qPrintable(path));
  }
}

}  // namespace pitch
