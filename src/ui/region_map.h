// The certified stability region of a robust study over two coefficients: one cell per piece of
// the plane, coloured by what was proven there (stable, unstable everywhere, holding a confirmed
// unstable set, undecided), with the counts in the legend and the nominal and worst sets marked.
// Drawn off screen as PNG or SVG.
#pragma once

#include <QPainter>
#include <QSize>
#include <QString>
#include <string>
#include <vector>

#include "ui/plot_export.h"

namespace pitch {

struct RegionMapPoint {
  double x = 0;
  double y = 0;
  QString name;
};

struct RegionMapData {
  QString x_name;  // along x, from left to right
  QString y_name;  // along y, from bottom to top
  std::vector<double> x_edges;
  std::vector<double> y_edges;
  // Cell (ix, iy) at ix·(y_edges.size() − 1) + iy: 0 undecided, 1 stable, 2 a confirmed
  // unstable set, 3 unstable everywhere.
  std::vector<unsigned char> cells;
  std::vector<RegionMapPoint> points;
  bool russian = false;  // the title and the legend in Russian, as on the report's page
};

inline constexpr QSize kRegionMapSize(960, 640);

// The file's bytes. Needs a QGuiApplication; raises EPlotError when the data do not fit or a
// drawing step fails.
std::string RenderRegionMap(const RegionMapData& data, PlotFormat format, char separator,
                            QSize size = kRegionMapSize);

// Draws the map on a painter, in a size x size picture at the painter's origin (a report page
// scales it into its place). Raises EPlotError as RenderRegionMap does.
void DrawRegionMap(QPainter& painter, const RegionMapData& data, char separator,
                   QSize size = kRegionMapSize);

}  // namespace pitch
