#include "ui/plot_export.h"

#include <QBuffer>
#include <QChart>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include "ui/response_chart.h"

namespace pitch {

PlotFormat PlotFormatForPath(const QString& path) {
  return path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive) ? PlotFormat::kSvg
                                                                   : PlotFormat::kPng;
}

std::string RenderResponsePlot(const QList<QPointF>& points, QSize size, char separator,
                               PlotFormat format,
                               const std::optional<analysis::StepCharacteristics>& marks) {
  TResponseChart builder;
  QGraphicsScene scene;
  scene.addItem(builder.TakeChart().release());  // the scene owns the chart from here on
  builder.SetDecimalSeparator(separator);
  builder.SetPoints(points);
  builder.ShowCharacteristics(marks);
  builder.chart()->setGeometry(QRectF(QPointF(0, 0), size));
  builder.chart()->setAnimationOptions(QChart::NoAnimation);
  const QRectF area(QPointF(0, 0), size);
  scene.setSceneRect(area);

  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (format == PlotFormat::kSvg) {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(area);
    svg.setTitle(QStringLiteral("Переходной процесс"));
    QPainter painter(&svg);
    scene.render(&painter, area, area);
  } else {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      painter.setRenderHint(QPainter::Antialiasing, false);
      scene.render(&painter, area, area);
    }
    image.save(&buffer, "PNG");
  }
  return bytes.toStdString();
}

}  // namespace pitch
