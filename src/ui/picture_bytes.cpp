#include "ui/picture_bytes.h"

#include <QBuffer>
#include <QGraphicsScene>
#include <QStringList>
#include <QSvgGenerator>
#include <new>

#include "core/errors.h"

namespace pitch {

namespace {

// Collects Qt's warnings while a picture is made: when a step fails they are often the only word
// on why, so they go into the error. The handler installed before still gets every message.
class WarningCapture {
 public:
  explicit WarningCapture(QString subject) : subject_(std::move(subject)), outer_(active_) {
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
    QString message = subject_ + QStringLiteral(" cannot be drawn: ") + step;
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
  QString subject_;
  WarningCapture* outer_;
  QtMessageHandler previous_ = nullptr;
  QStringList warnings_;
};

QByteArray Paint(const PictureCanvas& canvas, const std::function<void(QPainter&)>& paint,
                 const WarningCapture& capture) {
  const QSize size = canvas.size;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly)) {
    capture.Fail(QStringLiteral("no buffer for the picture"));
  }
  // The painter ends before its device goes, also when painting fails.
  const auto paint_on = [&](QPainter& painter) {
    try {
      paint(painter);
    } catch (...) {
      painter.end();
      throw;
    }
  };
  if (canvas.format == PictureFormat::kSvg) {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(QRectF(QPointF(0, 0), size));
    svg.setTitle(canvas.svg_title);
    QPainter painter;
    if (!painter.begin(&svg)) {
      capture.Fail(QStringLiteral("the SVG picture cannot be started"));
    }
    paint_on(painter);
    if (!painter.end()) {
      capture.Fail(QStringLiteral("the SVG picture cannot be finished"));
    }
  } else {
    QImage image(size, canvas.image_format);
    if (image.isNull()) {
      capture.Fail(QStringLiteral("not enough memory for a picture of %1 x %2 pixels")
                       .arg(size.width())
                       .arg(size.height()));
    }
    if (canvas.fill_white) {
      image.fill(Qt::white);
    }
    QPainter painter;
    if (!painter.begin(&image)) {
      capture.Fail(QStringLiteral("the picture cannot be painted"));
    }
    painter.setRenderHint(QPainter::Antialiasing, canvas.antialiasing);
    paint_on(painter);
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

std::string PaintPicture(const PictureCanvas& canvas, const std::function<void(QPainter&)>& paint) {
  const WarningCapture capture(canvas.subject);
  try {
    return Paint(canvas, paint, capture).toStdString();
  } catch (const std::bad_alloc&) {
    capture.Fail(QStringLiteral("not enough memory"));
  }
}

std::string PaintScene(QGraphicsScene& scene, const PictureCanvas& canvas) {
  const QRectF area(QPointF(0, 0), canvas.size);
  scene.setSceneRect(area);
  return PaintPicture(canvas, [&](QPainter& painter) { scene.render(&painter, area, area); });
}

}  // namespace pitch
