// The renderer's drawing: a decoded request drawn by the window's own picture code.
#pragma once

#include <string>

#include "picture/request.h"

namespace pitch {

// The file's bytes of the picture. Needs a QApplication; raises EPlotError when it cannot be
// drawn (with Qt's warnings of the failed step).
std::string DrawPicture(const picture::Request& request);

}  // namespace pitch
