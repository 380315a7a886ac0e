#include "ui/plot_export.h"

#include <QChart>
#include <QGraphicsScene>

#include "ui/picture_bytes.h"
#include "ui/response_chart.h"

namespace pitch {

PlotFormat PlotFormatForPath(const QString& path) {
  return PictureFormatOfPath(path.toStdString()).value_or(PlotFormat::kPng);
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
  return PaintScene(scene, {.size = size,
                            .format = format,
                            .subject = QStringLiteral("The chart"),
                            .svg_title = QStringLiteral("Переходной процесс")});
}

}  // namespace pitch
