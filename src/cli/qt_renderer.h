// The chart pictures of the command line, drawn with Qt off screen.
#pragma once

#include "cli/files.h"

namespace pitch::cli {

// A renderer that starts Qt at its first picture, so that runs without --plot never touch Qt.
// Lives as long as the returned function.
PlotRenderer QtPlotRenderer();

}  // namespace pitch::cli
