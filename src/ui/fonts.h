#pragma once

namespace pitch {

// Makes the Tahoma family available: when the machine has no Tahoma, the copy of Debian's
// fonts-wine package is registered with the application. Needs a QGuiApplication.
void EnsureTahoma();

}  // namespace pitch
