// Pictures of the Bode diagram, drawn off screen by the same chart builder as the Bode window.
#pragma once

#include <QSize>
#include <string>

#include "analysis/frequency_response.h"
#include "ui/plot_export.h"

namespace pitch {

// The size of a picture when none is asked for.
inline constexpr int kBodeWidth = 800;
inline constexpr int kBodeHeight = 640;

// The file's bytes of the Bode diagram at this size, with the numbers' decimal separator.
// Raises EPlotError when the picture cannot be made (not enough memory for its pixels, say).
// Needs a QApplication.
std::string RenderBodePlot(const analysis::BodeData& data, QSize size, char separator,
                           PlotFormat format);

}  // namespace pitch
