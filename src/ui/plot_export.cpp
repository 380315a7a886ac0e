#include "ui/plot_export.h"

#include <QBuffer>
#include <QChart>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QSvgGenerator>
#include <new>

#include "core/errors.h"
#include "ui/response_chart.h"

namespace pitch {

namespace {

// Collects Qt's warnings while a picture is made: when a step fails they are often the only word
// on why, so they go into the error. The handler installed before still gets every message.
class WarningCapture {
 public:
  WarningCapture() : outer_(active_) {
    active_ = this;
    previous_ = qInstallMessageHandler(&Handle);
  }
  ~WarningCapture() {
    qInstallMessageHandler(previous_);
    active_ = outer_;
  }
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;

  // Raises EPlotError for the failed step, with the warnings seen so far.
  [[noreturn]] void Fail(const QString& step) const {
    QString message = QStringLiteral("The chart cannot be drawn: ") + step;
    if (!warnings_.isEmpty()) {
      message += QStringLiteral(" (Qt: ") + warnings_.join(QStringLiteral("; ")) + ')';
    }
    throw EPlotError(message.toStdString());
  }

 private:
  static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    WarningCapture* const capture = active_;
    if (capture == nullptr) {
      return;
    }
    if (type == QtWarningMsg || type == QtCriticalMsg) {
      capture->warnings_.append(message);
    }
    if (capture->previous_ != nullptr) {
      capture->previous_(type, context, message);
    }
  }

  static inline WarningCapture* active_ = nullptr;
  WarningCapture* outer_;
  QtMessageHandler previous_ = nullptr;
  QStringList warnings_;
};

QByteArray Render(const QList<QPointF>& points, QSize size, char separator, PlotFormat format,
                  const std::optional<analysis::StepCharacteristics>& marks,
                  const WarningCapture& capture) {
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
  if (!buffer.open(QIODevice::WriteOnly)) {
    capture.Fail(QStringLiteral("no buffer for the picture"));
  }
  QPainter painter;
  if (format == PlotFormat::kSvg) {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(area);
    svg.setTitle(QStringLiteral("Переходной процесс"));
    if (!painter.begin(&svg)) {
      capture.Fail(QStringLiteral("the SVG picture cannot be started"));
    }
    scene.render(&painter, area, area);
    if (!painter.end()) {
      capture.Fail(QStringLiteral("the SVG picture cannot be finished"));
    }
  } else {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
      capture.Fail(QStringLiteral("not enough memory for a picture of %1 x %2 pixels")
                       .arg(size.width())
                       .arg(size.height()));
    }
    image.fill(Qt::white);
    if (!painter.begin(&image)) {
      capture.Fail(QStringLiteral("the picture cannot be painted"));
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    scene.render(&painter, area, area);
    if (!painter.end()) {
      capture.Fail(QStringLiteral("the picture cannot be painted"));
    }
    if (!image.save(&buffer, "PNG")) {
      capture.Fail(QStringLiteral("the picture cannot be encoded as PNG"));
    }
  }
  if (bytes.isEmpty()) {
    capture.Fail(QStringLiteral("the picture came out empty"));
  }
  return bytes;
}

}  // namespace

PlotFormat PlotFormatForPath(const QString& path) {
  return path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive) ? PlotFormat::kSvg
                                                                   : PlotFormat::kPng;
}

std::string RenderResponsePlot(const QList<QPointF>& points, QSize size, char separator,
                               PlotFormat format,
                               const std::optional<analysis::StepCharacteristics>& marks) {
  const WarningCapture capture;
  try {
    return Render(points, size, separator, format, marks, capture).toStdString();
  } catch (const std::bad_alloc&) {
    capture.Fail(QStringLiteral("not enough memory"));
  }
}

}  // namespace pitch
