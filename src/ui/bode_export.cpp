#include "ui/bode_export.h"

#include <QGraphicsScene>
#include <QGraphicsWidget>

#include "ui/bode_chart.h"
#include "ui/picture_bytes.h"

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

  PictureCanvas canvas;
  canvas.size = size;
  canvas.format = format;
  canvas.subject = QStringLiteral("The Bode diagram");
  canvas.svg_title = QStringLiteral("Частотные характеристики");
  canvas.antialiasing = true;
  return PaintPicture(canvas, [&](QPainter& painter) { scene.render(&painter, area, area); });
}

}  // namespace pitch
