#include "ui/bode_export.h"

#include <QBuffer>
#include <QGraphicsScene>
#include <QGraphicsWidget>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include "ui/bode_chart.h"

namespace pitch {

std::string RenderBodePlot(const analysis::BodeData& data, QSize size, char separator,
                           PlotFormat format) {
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
  buffer.open(QIODevice::WriteOnly);
  if (format == PlotFormat::kSvg) {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(area);
    svg.setTitle(QStringLiteral("Частотные характеристики"));
    QPainter painter(&svg);
    scene.render(&painter, area, area);
  } else {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      painter.setRenderHint(QPainter::Antialiasing, true);
      scene.render(&painter, area, area);
    }
    image.save(&buffer, "PNG");
  }
  return bytes.toStdString();
}

}  // namespace pitch
