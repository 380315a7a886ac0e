#pragma once

#include <QString>

namespace pitch {

// The file of the regular Tahoma that fontconfig knows, else the copy of Debian's fonts-wine
// package (/usr/share/wine/fonts/tahoma.ttf) when it is there; empty when there is neither.
QString FindTahoma();

// Makes the Tahoma family available: when Qt's font database has no Tahoma, the file that
// FindTahoma names is registered with the application. Without one, says so on stderr: the
// window then draws its texts in a substitute font, and they may not fit the layout. Needs a
// QGuiApplication.
void EnsureTahoma();

}  // namespace pitch
