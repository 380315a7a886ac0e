// The flight envelope's section of the report, on a page of its own after the calculation's page:
// the robust study's lines in Russian (the box, the ratios, the verdict with its certificate or
// destabilising set, the stability margin's bounds, the worst-case margins) and the certified
// region map below them, with its legend in Russian, drawn as vector graphics.
#pragma once

#include <QRectF>
#include <QStringList>
#include <optional>

#include "ui/region_map.h"

class QPainter;

namespace pitch {

struct ReportRobustSection {
  QStringList lines;
  std::optional<RegionMapData> map;  // over two coefficients with intervals; none: no picture
};

// The section's heading and lines, in the page's order (without the texts inside the map).
QStringList RobustSectionTextLines(const ReportRobustSection& section);

// Draws the section into room, from its top: the heading, the lines wrapped to its width, then
// the map as wide as the room allows in what is left below. Raises EPlotError when the map
// cannot be drawn.
void DrawRobustSection(QPainter& painter, const ReportRobustSection& section, char separator,
                       const QRectF& room);

}  // namespace pitch
