#include "ui/plot_overlay.h"

#include <QAbstractTextDocumentLayout>
#include <QChart>
#include <QFontMetricsF>
#include <QGraphicsTextItem>
#include <QLineSeries>
#include <QPainter>
#include <QTextDocument>
#include <algorithm>
#include <array>

namespace pitch {

namespace {

constexpr qreal kMarkRadius = 3.5;
constexpr qreal kBoxPadding = 4;
constexpr qreal kBoxInset = 6;  // from the plot area's edges
const QColor kCurveColour(255, 0, 0);
const QColor kMarkColour(0, 90, 200);

// Qt's own title item, which keeps the title's place in the layout (drawn transparent).
const QGraphicsTextItem* QtTitleItem(const QChart* chart) {
  QList<QGraphicsItem*> pending = chart->childItems();
  while (!pending.isEmpty()) {
    QGraphicsItem* item = pending.takeFirst();
    if (const auto* text = dynamic_cast<const QGraphicsTextItem*>(item);
        text != nullptr && text->toPlainText() == chart->title()) {
      return text;
    }
    pending.append(item->childItems());
  }
  return nullptr;
}

}  // namespace

void HideQtTitleText(QChart* chart) {
  if (const QGraphicsTextItem* title = QtTitleItem(chart)) {
    // Fully transparent, Qt's scene skips it when painting; hidden, its place in the layout
    // would go.
    const_cast<QGraphicsTextItem*>(title)->setOpacity(0);
  }
}

TPlotOverlay::TPlotOverlay(QChart* chart, QLineSeries* series, QColor title_colour)
    : QGraphicsItem(chart), chart_(chart), series_(series), title_colour_(title_colour) {
  setZValue(100);  // above the grid, the axes and the (empty) series
}

QRectF TPlotOverlay::boundingRect() const { return chart_->rect(); }

void TPlotOverlay::Relayout() {
  // Qt's title item gets its text in the layout: hidden from then on, so that a vector picture
  // or page holds the title's text once, the overlay's.
  HideQtTitleText(chart_);
  prepareGeometryChange();
  update();
}

void TPlotOverlay::SetMarks(const QList<QPointF>& marks, const QStringList& lines) {
  marks_ = marks;
  lines_ = lines;
  update();
}

QList<QPointF> TPlotOverlay::CurvePositions() const {
  QList<QPointF> positions;
  const QList<QPointF> points = series_->points();
  positions.reserve(points.size());
  for (const QPointF& p : points) {
    positions.append(chart_->mapToPosition(p, series_));
  }
  return positions;
}

QRectF TPlotOverlay::TitleRect() const {
  const QRectF plot = chart_->plotArea();
  if (const QGraphicsTextItem* qt_title = QtTitleItem(chart_)) {
    // Qt's title, moved to be centred on the plot area.
    const QRectF band = qt_title->mapRectToItem(chart_, qt_title->boundingRect());
    return QRectF(plot.center().x() - band.width() / 2, band.top(), band.width(), band.height());
  }
  const QFontMetricsF metrics(chart_->titleFont());
  const qreal width = metrics.horizontalAdvance(chart_->title());
  return QRectF(plot.center().x() - width / 2, chart_->margins().top(), width, metrics.height());
}

QList<QPointF> TPlotOverlay::MarkPositions() const {
  // Each mark is centred on its point of the curve, also on the plot area's edge (the peak lies
  // on the top edge): the mark is drawn whole over the edge rather than moved off the curve.
  QList<QPointF> positions;
  for (const QPointF& mark : marks_) {
    positions.append(chart_->mapToPosition(mark, series_));
  }
  return positions;
}

QRectF TPlotOverlay::TextBox() const {
  if (lines_.isEmpty()) {
    return {};
  }
  const QFontMetricsF metrics(chart_->font());
  qreal width = 0;
  for (const QString& line : lines_) {
    width = std::max(width, metrics.horizontalAdvance(line));
  }
  const QSizeF size(width + 2 * kBoxPadding,
                    static_cast<qreal>(lines_.size()) * metrics.lineSpacing() + 2 * kBoxPadding);
  // The inner corner of the plot area whose box the curve and the marks cross least.
  const QRectF plot = chart_->plotArea().adjusted(kBoxInset, kBoxInset, -kBoxInset, -kBoxInset);
  const std::array<QRectF, 4> corners = {
      QRectF(QPointF(plot.right() - size.width(), plot.bottom() - size.height()), size),
      QRectF(QPointF(plot.right() - size.width(), plot.top()), size), QRectF(plot.topLeft(), size),
      QRectF(QPointF(plot.left(), plot.bottom() - size.height()), size)};
  QList<QPointF> obstacles = CurvePositions();
  obstacles.append(MarkPositions());
  QRectF best;
  qsizetype fewest = -1;
  for (const QRectF& corner : corners) {
    const QRectF reach = corner.adjusted(-2, -2, 2, 2);
    const auto crossing = std::count_if(obstacles.begin(), obstacles.end(),
                                        [&](const QPointF& p) { return reach.contains(p); });
    if (fewest < 0 || crossing < fewest) {
      fewest = crossing;
      best = corner;
    }
  }
  return best;
}

void TPlotOverlay::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
  painter->save();
  // The title, centred above the plot area: Qt's own title text (its font and layout) in the
  // title colour, where Qt's item is there, else plain text.
  const QRectF title = TitleRect();
  if (const QGraphicsTextItem* qt_title = QtTitleItem(chart_)) {
    painter->save();
    painter->translate(title.topLeft());
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, title_colour_);
    qt_title->document()->documentLayout()->draw(painter, context);
    painter->restore();
  } else {
    painter->setFont(chart_->titleFont());
    painter->setPen(title_colour_);
    painter->drawText(title, Qt::AlignCenter, chart_->title());
  }

  // The curve, one pixel wide, clipped one pixel outside the plot area so that the stretches
  // along its edges stay whole.
  const QRectF plot = chart_->plotArea();
  painter->setClipRect(plot.adjusted(-1, -1, 1, 1));
  painter->setRenderHint(QPainter::Antialiasing, false);
  QPen pen(kCurveColour);
  pen.setWidth(1);
  painter->setPen(pen);
  const QList<QPointF> curve = CurvePositions();
  if (curve.size() > 1) {
    painter->drawPolyline(curve.constData(), static_cast<int>(curve.size()));
  }

  // The characteristics: marks, then their text in a box that hides what lies beneath it. A
  // mark on the plot area's edge reaches over it by its radius.
  painter->setClipRect(
      plot.adjusted(-kMarkRadius - 1, -kMarkRadius - 1, kMarkRadius + 1, kMarkRadius + 1));
  painter->setRenderHint(QPainter::Antialiasing, true);
  painter->setPen(kMarkColour);
  painter->setBrush(kMarkColour);
  for (const QPointF& at : MarkPositions()) {
    painter->drawEllipse(at, kMarkRadius, kMarkRadius);
  }
  if (const QRectF box = TextBox(); !box.isEmpty()) {
    painter->setPen(QColor(160, 160, 160));
    painter->setBrush(QColor(255, 255, 255, 235));
    painter->drawRect(box);
    painter->setPen(Qt::black);
    painter->setFont(chart_->font());
    const QFontMetricsF metrics(chart_->font());
    qreal baseline = box.top() + kBoxPadding + metrics.ascent();
    for (const QString& line : lines_) {
      painter->drawText(QPointF(box.left() + kBoxPadding, baseline), line);
      baseline += metrics.lineSpacing();
    }
  }
  painter->restore();
}

}  // namespace pitch
