#include "ui/heat_map.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>

#include "ui/picture_bytes.h"
#include "ui/response_chart.h"

namespace pitch {

namespace {

const QColor kFailedColour(0x4a, 0x4a, 0x4a);
const QColor kNoValueColour(0xdc, 0xdc, 0xdc);
const QColor kHatchColour(Qt::black);
constexpr int kHatchPeriod = 6;  // pixels between the diagonal lines of a diverging cell

// A perceptually even scale from dark blue through green to yellow (viridis, sampled).
QColor ScaleColour(double f) {
  static constexpr std::array<std::array<int, 3>, 9> kStops = {{{68, 1, 84},
                                                                {71, 44, 122},
                                                                {59, 81, 139},
                                                                {44, 113, 142},
                                                                {33, 144, 141},
                                                                {39, 173, 129},
                                                                {92, 200, 99},
                                                                {170, 220, 50},
                                                                {253, 231, 37}}};
  f = std::clamp(f, 0.0, 1.0) * (kStops.size() - 1);
  const auto i = std::min(static_cast<std::size_t>(f), kStops.size() - 2);
  const double u = f - static_cast<double>(i);
  const auto mix = [&](std::size_t k) {
    return static_cast<int>(std::lround(kStops[i][k] + u * (kStops[i + 1][k] - kStops[i][k])));
  };
  return QColor(mix(0), mix(1), mix(2));
}

struct Range {
  double min = 0;
  double max = 1;
  bool any = false;
};

// The range of the colour scale: the values of the cells whose Euler iteration stays bounded
// (a diverging response's figures can be astronomically large and would flatten the scale), or
// of all cells when every one diverges. Cells outside take the colour of the nearer end.
Range ValueRange(const HeatMapData& data) {
  Range r;
  for (const bool with_diverging : {false, true}) {
    for (std::size_t i = 0; i < data.values.size(); ++i) {
      const double v = data.values[i];
      if (!std::isfinite(v) || (!with_diverging && (data.marks[i] & kHeatDiverging) != 0)) {
        continue;
      }
      if (!r.any) {
        r.min = r.max = v;
        r.any = true;
      } else {
        r.min = std::min(r.min, v);
        r.max = std::max(r.max, v);
      }
    }
    if (r.any) {
      break;
    }
  }
  if (!(r.max > r.min)) {
    r.min -= 0.5;
    r.max += 0.5;
  }
  return r;
}

// The hatching stands out from its cell: black on light colours, white on dark ones.
QRgb HatchOn(QRgb colour) {
  return qGray(colour) >= 110 ? kHatchColour.rgb() : qRgb(255, 255, 255);
}

// The cells as a picture of the plot area's size: each pixel takes its cell's colour; a
// diverging cell is crossed by diagonal black lines.
QImage CellPicture(const HeatMapData& data, const Range& range, QSize size) {
  const std::size_t nx = data.x_values.size();
  const std::size_t ny = data.y_values.size();
  std::vector<QRgb> colours(nx * ny);
  for (std::size_t i = 0; i < colours.size(); ++i) {
    const double v = data.values[i];
    if ((data.marks[i] & kHeatFailed) != 0) {
      colours[i] = kFailedColour.rgb();
    } else if (!std::isfinite(v)) {
      colours[i] = kNoValueColour.rgb();
    } else {
      colours[i] = ScaleColour((v - range.min) / (range.max - range.min)).rgb();
    }
  }
  QImage image(size, QImage::Format_RGB32);
  if (image.isNull()) {
    throw EPlotError("the map's picture could not be made");
  }
  for (int py = 0; py < size.height(); ++py) {
    const std::size_t iy = ny - 1 - static_cast<std::size_t>(py) * ny / size.height();
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(py));
    for (int px = 0; px < size.width(); ++px) {
      const std::size_t ix = static_cast<std::size_t>(px) * nx / size.width();
      const std::size_t i = ix * ny + iy;
      const bool hatch = (data.marks[i] & kHeatDiverging) != 0 && (px + py) % kHatchPeriod == 0;
      line[px] = hatch ? HatchOn(colours[i]) : colours[i];
    }
  }
  return image;
}

// Ticks along one axis of cells: value v sits at the centre of its cell.
void DrawAxisTicks(QPainter& p, const std::vector<double>& values, const QRectF& plot,
                   bool x_axis) {
  const double first = values.front();
  const double last = values.back();
  const auto n = static_cast<double>(values.size());
  const double length = x_axis ? plot.width() : plot.height();
  const double cell = length / n;
  const auto position = [&](double v) {
    const double f = values.size() == 1 ? 0 : (v - first) / (last - first);
    const double along = cell / 2 + f * (length - cell);
    return x_axis ? plot.left() + along : plot.bottom() - along;
  };
  DrawMapTicks(p, first, last, position, plot, x_axis, '.');
}

void DrawColourScale(QPainter& p, const Range& range, const QRectF& bar, const QString& title) {
  QImage gradient(1, static_cast<int>(bar.height()), QImage::Format_RGB32);
  if (gradient.isNull()) {
    throw EPlotError("the map's colour scale could not be made");
  }
  for (int y = 0; y < gradient.height(); ++y) {
    const double f = 1 - (y + 0.5) / gradient.height();
    gradient.setPixel(0, y, ScaleColour(f).rgb());
  }
  p.drawImage(bar, gradient);
  p.drawRect(bar);
  const QFontMetricsF metrics(p.font());
  const AxisTicks t = NiceTicks(range.min, range.max);
  for (int k = 0; k < t.count; ++k) {
    const double v = t.Value(k);
    const double y = bar.bottom() - (v - range.min) / (range.max - range.min) * bar.height();
    p.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + 5, y));
    p.drawText(QRectF(bar.right() + 8, y - metrics.height() / 2, 120, metrics.height()),
               Qt::AlignLeft | Qt::AlignVCenter, TickLabel(v, '.'));
  }
  p.drawText(QRectF(bar.left(), bar.top() - 8 - metrics.height(), 240, metrics.height()),
             Qt::AlignLeft | Qt::AlignBottom, title);
}

void DrawLegend(QPainter& p, const HeatMapData& data, QPointF at) {
  bool no_value = false;
  for (std::size_t i = 0; i < data.values.size(); ++i) {
    no_value |= (data.marks[i] & kHeatFailed) == 0 && !std::isfinite(data.values[i]);
  }
  const QFontMetricsF metrics(p.font());
  const double row = std::max(22.0, metrics.height() + 6);
  const QSizeF swatch(18, 14);
  const auto entry = [&](const QImage& picture, const QString& text) {
    const QRectF box(at, swatch);
    p.drawImage(box, picture);
    p.drawRect(box);
    p.drawText(QRectF(at.x() + swatch.width() + 8, at.y() - 4, 220, swatch.height() + 8),
               Qt::AlignLeft | Qt::AlignVCenter, text);
    at.ry() += row;
  };
  const auto solid = [&](const QColor& colour) {
    QImage image(swatch.toSize(), QImage::Format_RGB32);
    image.fill(colour);
    return image;
  };
  // Always shown, so that a reader knows what is absent as well as what is there.
  entry(solid(kFailedColour), QStringLiteral("synthesis failed"));
  QImage hatched = solid(Qt::white);
  for (int y = 0; y < hatched.height(); ++y) {
    for (int x = 0; x < hatched.width(); ++x) {
      if ((x + y) % kHatchPeriod == 0) {
        hatched.setPixel(x, y, kHatchColour.rgb());
      }
    }
  }
  entry(hatched, QStringLiteral("Euler iteration diverges"));
  if (no_value) {
    entry(solid(kNoValueColour), QStringLiteral("no value"));
  }
}

}  // namespace

void DrawMapLabels(QPainter& p, const QRectF& plot, QSize size, const QString& x_name,
                   const QString& y_name, const QString& title) {
  const QFont font = p.font();
  const QFontMetricsF metrics(font);
  p.drawText(
      QRectF(plot.left(), size.height() - 8 - metrics.height(), plot.width(), metrics.height()),
      Qt::AlignHCenter, x_name);
  p.save();
  p.translate(18, plot.center().y());
  p.rotate(-90);
  p.drawText(QRectF(-plot.height() / 2, -metrics.height() / 2, plot.height(), metrics.height()),
             Qt::AlignHCenter, y_name);
  p.restore();
  QFont bold = font;
  bold.setBold(true);
  p.setFont(bold);
  p.drawText(QRectF(0, 12, size.width(), metrics.height() + 4), Qt::AlignHCenter, title);
  p.setFont(font);
}

void DrawMapTicks(QPainter& p, double first, double last,
                  const std::function<double(double)>& position, const QRectF& plot, bool x_axis,
                  char separator) {
  std::vector<double> ticks;
  if (first == last) {
    ticks.push_back(first);
  } else {
    const AxisTicks t = NiceTicks(std::min(first, last), std::max(first, last));
    for (int k = 0; k < t.count; ++k) {
      ticks.push_back(t.Value(k));
    }
  }
  const QFontMetricsF metrics(p.font());
  for (const double v : ticks) {
    const double at = position(v);
    const QString label = TickLabel(v, separator);
    if (x_axis) {
      p.drawLine(QPointF(at, plot.bottom()), QPointF(at, plot.bottom() + 5));
      p.drawText(QRectF(at - 60, plot.bottom() + 7, 120, metrics.height()),
                 Qt::AlignHCenter | Qt::AlignTop, label);
    } else {
      p.drawLine(QPointF(plot.left() - 5, at), QPointF(plot.left(), at));
      p.drawText(QRectF(plot.left() - 128, at - metrics.height() / 2, 120, metrics.height()),
                 Qt::AlignRight | Qt::AlignVCenter, label);
    }
  }
}

namespace {

void Draw(QPainter& p, const HeatMapData& data, QSize size) {
  p.fillRect(QRectF(QPointF(0, 0), size), Qt::white);
  QFont font = p.font();
  font.setPixelSize(13);
  p.setFont(font);
  p.setPen(Qt::black);
  const QRectF plot(96, 52, size.width() - 96 - 280, size.height() - 52 - 72);
  if (!(plot.width() >= 16 && plot.height() >= 16)) {
    throw EPlotError("the map's picture is too small");
  }
  const Range range = ValueRange(data);
  p.drawImage(plot, CellPicture(data, range, plot.size().toSize()));
  p.drawRect(plot);
  DrawAxisTicks(p, data.x_values, plot, true);
  DrawAxisTicks(p, data.y_values, plot, false);

  DrawMapLabels(
      p, plot, size, data.x_name, data.y_name,
      data.x_name + QStringLiteral(" × ") + data.y_name + QStringLiteral(": ") + data.value_name);

  const QRectF bar(plot.right() + 48, plot.top() + 24, 22, plot.height() * 0.55);
  DrawColourScale(p, range, bar, data.value_name);
  DrawLegend(p, data, QPointF(bar.left(), bar.bottom() + 36));
}

}  // namespace

std::string RenderHeatMap(const HeatMapData& data, PlotFormat format, QSize size) {
  const std::size_t cells = data.x_values.size() * data.y_values.size();
  if (cells == 0 || data.values.size() != cells || data.marks.size() != cells) {
    throw EPlotError("the map has no cells, or its values do not fit its axes");
  }
  PictureCanvas canvas;
  canvas.size = size;
  canvas.format = format;
  canvas.subject = QStringLiteral("The map");
  canvas.svg_title = data.value_name;
  canvas.image_format = QImage::Format_RGB32;
  canvas.fill_white = false;  // Draw fills the whole picture
  return PaintPicture(canvas, [&](QPainter& painter) { Draw(painter, data, size); });
}

}  // namespace pitch
