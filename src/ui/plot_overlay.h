// What the response chart draws over its plot area itself, instead of leaving it to Qt Charts:
// the curve, the title centred above the plot area, and the characteristics' marks and text.
//
// Qt Charts clips a line series to the plot area's rectangle rounded at the device's scale; at
// some scales (120 or 144 dpi) that cuts away the stretch of the curve that runs along the top
// or bottom edge, which is where its peak and its minimum lie, since the axes end exactly at the
// data's extremes. The overlay draws the curve with a clip one pixel wider, so it is whole at
// every scale. Its title is centred on the plot area, not on the whole chart.
#pragma once

#include <QColor>
#include <QGraphicsItem>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

class QChart;
class QLineSeries;

namespace pitch {

// Keeps Qt's own (transparent) title item of a chart that an overlay draws the title for from
// painting, its place in the layout kept: on a vector page its text would be written a second
// time, found twice by a search. The overlay draws the title from the item all the same, and
// calls this on every layout (the item has its text only once laid out).
void HideQtTitleText(QChart* chart);

class TPlotOverlay final : public QGraphicsItem {
 public:
  // A child of the chart, drawing the series' points (the series itself draws nothing) and the
  // chart's title in title_colour (Qt's title is kept transparent, for its place in the layout).
  TPlotOverlay(QChart* chart, QLineSeries* series, QColor title_colour);

  QRectF boundingRect() const override;
  void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

  // Marks at these points of the curve (in data values) and a text of lines in a box; empty
  // removes both.
  void SetMarks(const QList<QPointF>& marks, const QStringList& lines);
  const QList<QPointF>& Marks() const { return marks_; }

  // Where the parts are drawn, in chart coordinates, as laid out for the chart's current size.
  QRectF TitleRect() const;
  QList<QPointF> MarkPositions() const;
  QRectF TextBox() const;  // empty without marks

  // The chart's geometry changed: lay out again.
  void Relayout();

 private:
  QList<QPointF> CurvePositions() const;

  QChart* chart_;
  QLineSeries* series_;
  QColor title_colour_;
  QList<QPointF> marks_;
  QStringList lines_;
};

}  // namespace pitch
