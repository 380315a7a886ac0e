// The response chart: title, axis titles, a single red line without markers, no legend, axes
// that run exactly from the data's minimum to its maximum, their tick labels written as the
// program writes numbers. The window and the plot export both build it here, so that a picture
// matches the window.
#pragma once

#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "analysis/analysis.h"

class QChart;
class QLineSeries;
class QCategoryAxis;
class QValueAxis;

namespace pitch {

// Ticks for an axis whose ends are fixed by the data: a 1-2-5 interval, anchored on a multiple
// of it, so no tick lies outside the range. Any finite ends give a handful of ticks at most, each
// distinct from the next, also when the span itself is beyond the double range (−1.5e308 … 1.5e308)
// or only a few units in the last place; no ticks for an empty or non-finite range.
struct AxisTicks {
  double interval = 0;
  double anchor = 0;  // the first tick: the smallest multiple of interval not below the minimum
  int count = 0;      // ticks k = 0 … count − 1, all inside the range
  double first = 0;   // anchor / interval, a whole number
  // Tick k as a whole multiple of the interval (no running sum: it could overflow or drift).
  double Value(int k) const { return (first + k) * interval; }
};
AxisTicks NiceTicks(double min, double max, int target_count = 5);

// A tick label: the value as the result boxes write it (at most 15 significant digits, E
// notation beyond them, the separator given), so "1E293" rather than 294 digits.
QString TickLabel(double value, char separator);

class TPlotOverlay;

class TResponseChart {
 public:
  // Builds the chart, owned by this object until TakeChart hands it on.
  TResponseChart();
  ~TResponseChart();
  TResponseChart(const TResponseChart&) = delete;
  TResponseChart& operator=(const TResponseChart&) = delete;

  // Hands the chart to its next owner (a QChartView, or a scene for export); this object keeps
  // working on it through the links below, so the owner must keep it alive as long as this
  // object is used. Empty after the first call.
  std::unique_ptr<QChart> TakeChart();
  // The chart, whoever owns it.
  QChart* chart() const { return chart_; }
  // The points, for the axes and for mapping values to positions; the series draws nothing
  // itself: the overlay draws the line.
  QLineSeries* series() const { return series_; }
  QCategoryAxis* axisX() const { return axis_x_; }
  QCategoryAxis* axisY() const { return axis_y_; }
  const TPlotOverlay& overlay() const { return *overlay_; }

  // Replaces all points in one batch and fits both axes to the data exactly.
  void SetPoints(const QList<QPointF>& points);
  // The decimal separator of the tick labels and of the characteristics text.
  void SetDecimalSeparator(char separator);
  // Marks the peak, the 10 % and 90 % rise points and the settling point on the curve, with a
  // short text in a box in the corner of the plot area that the curve crosses least; an empty
  // value removes them. A diverging Euler iteration is said first: the figures are then those
  // of a curve that grows without bound.
  void ShowCharacteristics(const std::optional<analysis::StepCharacteristics>& marks,
                           bool diverging_iteration = false);
  bool CharacteristicsShown() const;
  // The text's parts joined by "; ".
  QString CharacteristicsText() const;
  // The marked points, in data values.
  QList<QPointF> CharacteristicsMarks() const;

 private:
  std::unique_ptr<QChart> owned_;
  QChart* chart_;
  QLineSeries* series_;
  QCategoryAxis* axis_x_;
  QCategoryAxis* axis_y_;
  TPlotOverlay* overlay_;
  QStringList characteristics_;
  char separator_ = '.';
};

// A value rounded to digits significant digits in the program's number text (FormatSignificant:
// "12,96", "1,026E293", "1E4"): the charts' boxes and axes, the margins and the report.
QString RoundedNumber(double value, int digits, char separator);

}  // namespace pitch
