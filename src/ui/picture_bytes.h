// The one way a picture becomes a file's bytes: painted off screen into an image encoded as PNG,
// or into an SVG document, every step checked, Qt's warnings of a failed step in the error.
#pragma once

#include <QImage>
#include <QPainter>
#include <QSize>
#include <QString>
#include <functional>
#include <string>

#include "storage/picture_format.h"

class QGraphicsScene;

namespace pitch {

struct PictureCanvas {
  QSize size;
  PictureFormat format = PictureFormat::kPng;
  QString subject;    // names the picture in errors: "The chart", "The map"
  QString svg_title;  // the SVG document's title
  // The raster picture: its pixel format, whether it starts white, and its antialiasing.
  QImage::Format image_format = QImage::Format_ARGB32_Premultiplied;
  bool fill_white = true;
  bool antialiasing = false;
};

// Paints with paint (on a painter covering QRect(0, 0, size)) and returns the file's bytes.
// A failed step (the image not allocated, the painter not started or finished, the encoding,
// empty bytes, no memory) raises EPlotError "<subject> cannot be drawn: <step>", followed by
// the warnings Qt gave meanwhile. Needs a QGuiApplication; writes nothing anywhere.
std::string PaintPicture(const PictureCanvas& canvas, const std::function<void(QPainter&)>& paint);

// The same for what the scene shows in QRectF(0, 0, canvas.size), which becomes its scene rect.
std::string PaintScene(QGraphicsScene& scene, const PictureCanvas& canvas);

}  // namespace pitch
