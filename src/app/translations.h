// Qt's own texts (the file dialog, the message box's buttons, the edit boxes' context menus) in
// the window's language, Russian, from the qt6-translations-l10n package, and the program's
// translation of what that lacks (i18n/pitch_ru.ts, built into the program).
#pragma once

class QTranslator;

namespace pitch {

// Loads qtbase_ru from Qt's translations folder into translator; false when it is not there
// (Qt's texts then stay English).
bool LoadQtTranslations(QTranslator& translator);

// Loads the program's own Russian texts. Installed after qtbase_ru, so that they are looked up
// first.
bool LoadOwnTranslations(QTranslator& translator);

}  // namespace pitch
