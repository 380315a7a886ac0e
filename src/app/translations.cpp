#include "app/translations.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pitch {

bool LoadQtTranslations(QTranslator& translator) {
  return translator.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

bool LoadOwnTranslations(QTranslator& translator) {
  return translator.load(QStringLiteral(":/i18n/pitch_ru.qm"));
}

}  // namespace pitch
