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
  builder.widget()->setGeometry(QRectF(QPointF(0, 0), size));
  builder.AlignPlotAreas();  // lays the two charts out now, not at the next event
  return PaintScene(scene, {.size = size,
                            .format = format,
                            .subject = QStringLiteral("The Bode diagram"),
                            .svg_title = QStringLiteral("Частотные характеристики"),
                            .antialiasing = true});
}

}  // namespace pitch
