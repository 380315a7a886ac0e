// The response chart: title, axis titles, a single red line series without markers, no legend,
// axes that run exactly from the data's minimum to its maximum. The window and the plot export
// both build it here, so that a picture matches the window.
#pragma once

#include <QList>
#include <QPointF>
#include <QString>
#include <memory>
#include <optional>

#include "analysis/analysis.h"

class QChart;
class QGraphicsSimpleTextItem;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace pitch {

// Ticks for an axis whose ends are fixed by the data: a 1-2-5 interval, anchored on a multiple
// of it, labelled with as many decimals as the interval needs, so no label claims a value
// outside the range. Any finite ends give a handful of ticks at most, each distinct from the
// next, also when the span itself is beyond the double range (−1.5e308 … 1.5e308) or only a few
// units in the last place; no ticks for an empty or non-finite range.
struct AxisTicks {
  double interval = 0;
  double anchor = 0;  // the first tick: the smallest multiple of interval not below the minimum
  int decimals = 0;
  int count = 0;     // ticks k = 0 … count − 1, all inside the range
  double first = 0;  // anchor / interval, a whole number
  // Tick k as a whole multiple of the interval (no running sum: it could overflow or drift).
  double Value(int k) const { return (first + k) * interval; }
};
AxisTicks NiceTicks(double min, double max, int target_count = 5);

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
  QLineSeries* series() const { return series_; }
  QValueAxis* axisX() const { return axis_x_; }
  QValueAxis* axisY() const { return axis_y_; }

  // Replaces all points in one batch and fits both axes to the data exactly.
  void SetPoints(const QList<QPointF>& points);
  // The decimal separator of the tick labels and of the characteristics text.
  void SetDecimalSeparator(char separator);
  // Marks the peak, the 10 % and 90 % rise points and the settling point on the curve, with a
  // short text in the chart; an empty value removes them.
  void ShowCharacteristics(const std::optional<analysis::StepCharacteristics>& marks);
  bool CharacteristicsShown() const;
  QString CharacteristicsText() const;

 private:
  std::unique_ptr<QChart> owned_;
  QChart* chart_;
  QLineSeries* series_;
  QValueAxis* axis_x_;
  QValueAxis* axis_y_;
  QScatterSeries* marks_ = nullptr;
  QGraphicsSimpleTextItem* marks_text_ = nullptr;
  char separator_ = '.';
};

// "12,96" style text with four significant digits, for short labels in the chart.
QString ShortNumber(double value, char separator);

}  // namespace pitch
