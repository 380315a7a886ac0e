// A heat map over two coefficients: one cell per set, coloured by a quantity on a colour scale,
// with axis ticks in coefficient values, distinct marks for sets whose synthesis failed and whose
// Euler iteration diverges, and a legend. Drawn off screen as PNG or SVG.
#pragma once

#include <QSize>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "ui/plot_export.h"

class QPainter;
class QRectF;

namespace pitch {

struct HeatMapData {
  QString x_name;  // along x, from left to right in the order of x_values
  QString y_name;  // along y, from bottom to top in the order of y_values
  std::vector<double> x_values;
  std::vector<double> y_values;
  // Cell (ix, iy) at ix·y_values.size() + iy; NaN where the set has no value.
  std::vector<double> values;
  std::vector<unsigned char> marks;  // kHeatFailed, kHeatDiverging
  QString value_name;                // the quantity and its unit
};
inline constexpr unsigned char kHeatFailed = 1;
inline constexpr unsigned char kHeatDiverging = 2;

inline constexpr QSize kHeatMapSize(960, 640);

// The axis names under and beside a map's plot area and its bold title above it, in the
// painter's font.
void DrawMapLabels(QPainter& p, const QRectF& plot, QSize size, const QString& x_name,
                   const QString& y_name, const QString& title);

// Round ticks from first to last (one tick when they are equal) along the bottom (x_axis) or left
// edge of a map's plot area, each at position(value) pixels, labelled in the painter's font.
void DrawMapTicks(QPainter& p, double first, double last,
                  const std::function<double(double)>& position, const QRectF& plot, bool x_axis,
                  char separator);

// The file's bytes. Needs a QGuiApplication; raises EPlotError when the data do not fit
// (sizes that disagree, no cells) or a drawing step fails.
std::string RenderHeatMap(const HeatMapData& data, PlotFormat format, QSize size = kHeatMapSize);

}  // namespace pitch
