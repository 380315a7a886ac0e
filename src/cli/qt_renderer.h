// The pictures of the command line, drawn with Qt off screen.
#pragma once

#include "cli/files.h"
#include "study/study.h"

namespace pitch::cli {

// Renderers that start Qt at their first picture, so that runs without a picture never touch
// Qt. Both share one application object, which lives as long as the returned functions.
PlotRenderer QtPlotRenderer();
BodeRenderer QtBodeRenderer();
ReportRenderer QtReportRenderer();
// The same for a study's heat map.
study::MapRenderer QtMapRenderer();

}  // namespace pitch::cli
