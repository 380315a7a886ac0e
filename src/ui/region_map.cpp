#include "ui/region_map.h"

#include <QFontMetricsF>
#include <QPainter>
#include <array>
#include <cmath>

#include "core/errors.h"
#include "ui/heat_map.h"
#include "ui/picture_bytes.h"
#include "ui/response_chart.h"

namespace pitch {

namespace {

const std::array<QColor, 4> kCellColours = {QColor(0xdc, 0xdc, 0xdc), QColor(0x5c, 0xb8, 0x5c),
                                            QColor(0xf0, 0xa0, 0x30), QColor(0xc8, 0x32, 0x32)};
const std::array<const char*, 4> kCellNames = {
    "undecided", "proven stable", "holds a confirmed unstable set", "proven unstable everywhere"};
const std::array<const char*, 4> kRussianCellNames = {"не решено", "доказанно устойчива",
                                                      "с подтверждённым неустойчивым набором",
                                                      "доказанно неустойчива всюду"};

// Ticks along one axis whose edges run from first to last over length pixels.
void DrawTicks(QPainter& p, double first, double last, const QRectF& plot, bool x_axis,
               char separator) {
  const double length = x_axis ? plot.width() : plot.height();
  const auto position = [&](double v) {
    const double along = first == last ? length / 2 : (v - first) / (last - first) * length;
    return x_axis ? plot.left() + along : plot.bottom() - along;
  };
  DrawMapTicks(p, first, last, position, plot, x_axis, separator);
}

void DrawMap(QPainter& p, const RegionMapData& data, char separator, QSize size) {
  p.fillRect(QRectF(QPointF(0, 0), size), Qt::white);
  QFont font = p.font();
  font.setPixelSize(13);
  p.setFont(font);
  const QRectF plot(96, 52, size.width() - 96 - 300, size.height() - 52 - 72);
  if (!(plot.width() >= 16 && plot.height() >= 16)) {
    throw EPlotError("the region map's picture is too small");
  }
  const std::size_t nx = data.x_edges.size() - 1;
  const std::size_t ny = data.y_edges.size() - 1;
  const double x0 = data.x_edges.front();
  const double x1 = data.x_edges.back();
  const double y0 = data.y_edges.front();
  const double y1 = data.y_edges.back();
  const auto px = [&](double x) {
    return x1 == x0 ? plot.center().x() : plot.left() + (x - x0) / (x1 - x0) * plot.width();
  };
  const auto py = [&](double y) {
    return y1 == y0 ? plot.center().y() : plot.bottom() - (y - y0) / (y1 - y0) * plot.height();
  };
  std::array<std::int64_t, 4> counts{};
  p.setPen(Qt::NoPen);
  for (std::size_t ix = 0; ix < nx; ++ix) {
    for (std::size_t iy = 0; iy < ny; ++iy) {
      const unsigned char c = data.cells[ix * ny + iy];
      const std::size_t k = c < 4 ? c : 0;
      ++counts[k];
      const QRectF cell(QPointF(px(data.x_edges[ix]), py(data.y_edges[iy + 1])),
                        QPointF(px(data.x_edges[ix + 1]), py(data.y_edges[iy])));
      p.fillRect(cell, kCellColours[k]);
    }
  }
  p.setPen(Qt::black);
  p.setBrush(Qt::NoBrush);
  p.drawRect(plot);
  DrawTicks(p, x0, x1, plot, true, separator);
  DrawTicks(p, y0, y1, plot, false, separator);
  DrawMapLabels(p, plot, size, data.x_name, data.y_name,
                (data.russian ? QStringLiteral("доказанная область устойчивости: ")
                              : QStringLiteral("certified stability region: ")) +
                    data.x_name + QStringLiteral(" × ") + data.y_name);
  const QFontMetricsF metrics(p.font());

  // The marked sets: a ring with a cross, and the name beside it.
  p.setRenderHint(QPainter::Antialiasing, true);
  for (const RegionMapPoint& point : data.points) {
    const QPointF at(px(point.x), py(point.y));
    p.setPen(QPen(Qt::black, 2));
    p.drawEllipse(at, 6, 6);
    p.drawLine(at - QPointF(9, 0), at + QPointF(9, 0));
    p.drawLine(at - QPointF(0, 9), at + QPointF(0, 9));
    p.setPen(Qt::black);
    p.drawText(QRectF(at.x() + 10, at.y() - metrics.height() - 2, 200, metrics.height()),
               Qt::AlignLeft | Qt::AlignVCenter, point.name);
  }

  // The legend with the counts.
  QPointF at(plot.right() + 32, plot.top() + 8);
  const QSizeF swatch(18, 14);
  for (std::size_t k : {std::size_t{1}, std::size_t{3}, std::size_t{2}, std::size_t{0}}) {
    const QRectF box(at, swatch);
    p.fillRect(box, kCellColours[k]);
    p.drawRect(box);
    p.drawText(QRectF(at.x() + swatch.width() + 8, at.y() - 4, 260, swatch.height() + 8),
               Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8(data.russian ? kRussianCellNames[k] : kCellNames[k]) +
                   QStringLiteral(": ") + QString::number(counts[k]));
    at.ry() += 24;
  }
  p.drawText(
      QRectF(at.x(), at.y() + 8, 260, 3 * metrics.height()), Qt::AlignLeft | Qt::TextWordWrap,
      data.russian
          ? QStringLiteral("каждая ячейка — с остальными коэффициентами по всем их интервалам")
          : QStringLiteral("each cell with the other coefficients over their whole intervals"));
}

}  // namespace

void DrawRegionMap(QPainter& painter, const RegionMapData& data, char separator, QSize size) {
  if (data.x_edges.size() < 2 || data.y_edges.size() < 2 ||
      data.cells.size() != (data.x_edges.size() - 1) * (data.y_edges.size() - 1)) {
    throw EPlotError("the region map's cells do not fit its edges");
  }
  DrawMap(painter, data, separator, size);
}

std::string RenderRegionMap(const RegionMapData& data, PlotFormat format, char separator,
                            QSize size) {
  PictureCanvas canvas;
  canvas.size = size;
  canvas.format = format;
  canvas.subject = QStringLiteral("The region map");
  canvas.svg_title = QStringLiteral("certified stability region");
  canvas.image_format = QImage::Format_RGB32;
  canvas.fill_white = false;
  canvas.antialiasing = false;  // the cells meet without seams; the marks turn it on
  return PaintPicture(canvas,
                      [&](QPainter& painter) { DrawRegionMap(painter, data, separator, size); });
}

}  // namespace pitch
