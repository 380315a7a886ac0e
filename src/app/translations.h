// Qt's own texts (the file dialog, the message box's buttons, the edit boxes' context menus) in
// the window's language, Russian, from the qt6-translations-l10n package.
#pragma once

class QTranslator;

namespace pitch {

// Loads qtbase_ru from Qt's translations folder into translator; false when it is not there
// (Qt's texts then stay English).
bool LoadQtTranslations(QTranslator& translator);

}  // namespace pitch
