// Pictures of the response chart, drawn off screen by the same chart builder as the window.
#pragma once

#include <QList>
#include <QPointF>
#include <QSize>
#include <QString>
#include <optional>
#include <string>

#include "analysis/analysis.h"
#include "storage/picture_format.h"

namespace pitch {

using PlotFormat = PictureFormat;

// PNG by default, SVG for a path ending in ".svg" (any case).
PlotFormat PlotFormatForPath(const QString& path);

// The file's bytes of the chart with these points, at this size, with the tick labels' decimal
// separator, and the characteristics marked when given. Needs a QApplication. Every step is
// checked (the image allocated, painted, encoded, the bytes not empty); a failed step raises
// EPlotError, whose message carries Qt's warnings of the attempt. Nothing is written anywhere,
// so a caller that writes the bytes afterwards leaves an existing file alone on failure.
std::string RenderResponsePlot(const QList<QPointF>& points, QSize size, char separator,
                               PlotFormat format,
                               const std::optional<analysis::StepCharacteristics>& marks = {});

}  // namespace pitch
