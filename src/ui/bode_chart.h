// The open loop's Bode diagram: the magnitude ("ЛАЧХ, дБ") above the phase ("ЛФЧХ, град"), both
// over a logarithmic frequency axis ("ω, рад/с"), with the crossovers marked and the margins
// written on the magnitude chart. The Bode window and the picture export both build it here.
#pragma once

#include <QList>
#include <QMetaObject>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <string>
#include <utility>
#include <vector>

#include "analysis/frequency_response.h"

class QCategoryAxis;
class QChart;
class QGraphicsRectItem;
class QGraphicsSimpleTextItem;
class QGraphicsWidget;
class QLineSeries;
class QLogValueAxis;
class QScatterSeries;

namespace pitch {

// The frequency a margin belongs to in words ("при ω = … рад/с", "при ω → ∞"), the number with
// digits significant digits and the given decimal separator.
QString AtFrequency(double omega, char separator, int digits);

// The poles and zeros of L on the imaginary axis in words, one each: what it is, where, and why it
// is no crossing.
struct AxisRoot {
  QString quantity;
  QString value;
  QString note;
};
std::vector<AxisRoot> AxisRoots(const analysis::LoopMargins& m, char separator, int digits);

// Margins not computable in the double range, in words: what, the verdict, and why, ending with
// the analysis's reason as every view quotes it.
struct NotComputableWords {
  QString quantity = QStringLiteral("Запасы устойчивости");
  QString value = QStringLiteral("не вычислимы");
  QString why;
};
NotComputableWords NotComputable(const std::string& reason);

// One row of the margins: what, how much, where ("при ω = … рад/с" or why there is none). As a
// line of text: quantity, joiner, value, and the place after a space.
struct MarginRow {
  QString quantity;
  QString value;
  QString where;
  QString joiner = QStringLiteral(": ");
  QString Line() const;
};
// The margins in the order gain, phase, delay, least distance from −1: every crossing and then the
// poles and zeros of L on the imaginary axis when all is set, else the first margin of each kind.
// Numbers have digits significant digits and the given decimal separator.
std::vector<MarginRow> MarginRows(const analysis::LoopMargins& m, char separator, int digits,
                                  bool all = true);
// The same as lines of text, after a line on the closed loop's instability where it is unstable.
QStringList MarginLines(const analysis::LoopMargins& m, char separator, int digits, bool all);

class TBodeChart {
 public:
  // Builds both charts in one graphics widget; the caller (a scene) takes ownership of widget().
  TBodeChart();
  ~TBodeChart();
  TBodeChart(const TBodeChart&) = delete;
  TBodeChart& operator=(const TBodeChart&) = delete;

  QGraphicsWidget* widget() const { return widget_; }
  QChart* magnitudeChart() const { return magnitude_.chart; }
  QChart* phaseChart() const { return phase_.chart; }
  QLineSeries* magnitudeSeries() const { return magnitude_.curve; }
  QLineSeries* phaseSeries() const { return phase_.curve; }
  QLogValueAxis* magnitudeFrequencyAxis() const { return magnitude_.frequency; }
  QLogValueAxis* phaseFrequencyAxis() const { return phase_.frequency; }
  // The axes that carry the frequency's labels (the decades) and its title.
  QCategoryAxis* magnitudeDecadesAxis() const { return magnitude_.decades; }
  QCategoryAxis* phaseDecadesAxis() const { return phase_.decades; }
  QCategoryAxis* magnitudeAxis() const { return magnitude_.value; }
  QCategoryAxis* phaseAxis() const { return phase_.value; }
  // The marked points: gain crossovers and phase crossings on each chart.
  QScatterSeries* magnitudeMarks() const { return magnitude_.marks; }
  QScatterSeries* phaseMarks() const { return phase_.marks; }

  // The decimal separator of the tick labels and of the margins text.
  void SetDecimalSeparator(char separator);
  // Draws the diagram and its margins.
  void SetData(const analysis::BodeData& data);
  // Gives both plot areas the same left and right edges, so that one frequency lies at one x
  // in both charts; again after every change of the widget's size.
  void AlignPlotAreas();
  // The text written on the magnitude chart.
  QString MarginsText() const;

 private:
  // One of the two charts: its curve, its marks, the margin segments and the reference lines.
  struct Panel {
    QChart* chart = nullptr;
    QLineSeries* curve = nullptr;
    QScatterSeries* marks = nullptr;
    QLogValueAxis* frequency = nullptr;
    QCategoryAxis* decades = nullptr;
    QCategoryAxis* value = nullptr;
    std::vector<QLineSeries*> extras;  // the margin segments of the current data
    std::vector<QLineSeries*> levels;  // the reference lines (dashed) across the axis' range
  };
  static void Build(Panel& panel, const QString& value_title, bool frequency_title);
  static void Remove(Panel& panel, std::vector<QLineSeries*>& series);
  static void ClearExtras(Panel& panel);
  static QLineSeries* AddExtra(Panel& panel, const QList<QPointF>& points, bool dashed);
  void PlaceText();
  // Ticks on the three axes of each chart, as many as fit its plot area's size; then the
  // reference lines (0 dB, the −180° levels) for the value axes' ranges as fitted.
  void FitTicks();
  void DrawLevels();

  QGraphicsWidget* widget_;
  Panel magnitude_;
  Panel phase_;
  QGraphicsRectItem* text_box_;
  QGraphicsSimpleTextItem* text_;
  QMetaObject::Connection placement_;
  char separator_ = '.';
  analysis::BodeData data_;
  // The values each value axis must show: the curve, its marks and the reference levels.
  std::pair<double, double> magnitude_span_{-1, 1};
  std::pair<double, double> phase_span_{-1, 1};
  bool has_data_ = false;
};

}  // namespace pitch
