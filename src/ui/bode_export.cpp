#include "ui/bode_export.h"

#include <QBuffer>
#include <QGraphicsScene>
#include <QGraphicsWidget>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <new>

#include "core/errors.h"
#include "ui/bode_chart.h"

namespace pitch {

namespace {

[[noreturn]] void Fail(const QString& step) {
  throw EPlotError((QStringLiteral("The Bode diagram cannot be drawn: ") + step).toStdString());
}

QByteArray Render(const analysis::BodeData& data, QSize size, char separator, PlotFormat format) {
  TBodeChart builder;
  QGraphicsScene scene;
  scene.addItem(builder.widget());  // the scene owns the charts from here on
  builder.SetDecimalSeparator(separator);
  builder.SetData(data);
  const QRectF area(QPointF(0, 0), size);
  builder.widget()->setGeometry(area);
  builder.AlignPlotAreas();  // lays the two charts out now, not at the next event
  scene.setSceneRect(area);

  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly)) {
    Fail(QStringLiteral("no buffer for the picture"));
  }
  QPainter painter;
  if (format == PlotFormat::kSvg) {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(area);
    svg.setTitle(QStringLiteral("Частотные характеристики"));
    if (!painter.begin(&svg)) {
      Fail(QStringLiteral("the SVG picture cannot be started"));
    }
    scene.render(&painter, area, area);
    if (!painter.end()) {
      Fail(QStringLiteral("the SVG picture cannot be finished"));
    }
  } else {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
      Fail(QStringLiteral("not enough memory for a picture of %1 x %2 pixels")
               .arg(size.width())
               .arg(size.height()));
    }
    image.fill(Qt::white);
    if (!painter.begin(&image)) {
      Fail(QStringLiteral("the picture cannot be painted"));
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    scene.render(&painter, area, area);
    if (!painter.end()) {
      Fail(QStringLiteral("the picture cannot be painted"));
    }
    if (!image.save(&buffer, "PNG")) {
      Fail(QStringLiteral("the picture cannot be encoded as PNG"));
    }
  }
  if (bytes.isEmpty()) {
    Fail(QStringLiteral("the picture came out empty"));
  }
  return bytes;
}

}  // namespace

std::string RenderBodePlot(const analysis::BodeData& data, QSize size, char separator,
                           PlotFormat format) {
  try {
    return Render(data, size, separator, format).toStdString();
  } catch (const std::bad_alloc&) {
    Fail(QStringLiteral("not enough memory"));
  }
}

}  // namespace pitch
