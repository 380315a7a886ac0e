// The chart pictures of the command line, drawn with Qt off screen.
#pragma once

#include "cli/files.h"
#include "study/study.h"

namespace pitch::cli {

// A renderer that starts Qt at its first picture, so that runs without --plot never touch Qt.
// Lives as long as the returned function.
PlotRenderer QtPlotRenderer();
// The same for a study's heat map.
study::MapRenderer QtMapRenderer();

}  // namespace pitch::cli
