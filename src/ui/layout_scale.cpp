#include "ui/layout_scale.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QRawFont>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace pitch {

namespace {

// a · b / c rounded to the nearest integer, halves away from zero (as Windows' MulDiv).
int MulDiv(int a, int b, int c) {
  return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

}  // namespace

QFont Tahoma(int pixels) {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(pixels);
  font.setStyleStrategy(QFont::PreferDefault);
  return font;
}

WindowsLineMetrics WindowsMetrics(const QFont& font) {
  const QFontMetrics qt_metrics(font);
  WindowsLineMetrics metrics{qt_metrics.ascent(), qt_metrics.height()};
  const QRawFont raw = QRawFont::fromFont(font);
  const QByteArray os2 = raw.fontTable("OS/2");
  if (os2.size() >= 78 && raw.unitsPerEm() > 0) {
    const auto at = [&](int offset) {
      return (static_cast<unsigned char>(os2[offset]) << 8) |
             static_cast<unsigned char>(os2[offset + 1]);
    };
    const double scale = raw.pixelSize() / raw.unitsPerEm();
    metrics.ascent = static_cast<int>(std::lround(at(74) * scale));
    metrics.height = metrics.ascent + static_cast<int>(std::lround(at(76) * scale));
  }
  return metrics;
}

LayoutScale LayoutScale::ForDpi(int dpi) {
  const int pixels = MulDiv(kLayoutFontPixels, dpi, kLayoutDpi);
  return LayoutScale(dpi, pixels, WindowsMetrics(Tahoma(pixels)).height);
}

int LayoutScale::Apply(int v) const { return MulDiv(v, zero_height_, kLayoutZeroHeight); }

QRect LayoutScale::Apply(const QRect& r) const {
  const int left = Apply(r.left());
  const int top = Apply(r.top());
  return QRect(left, top, Apply(r.left() + r.width()) - left, Apply(r.top() + r.height()) - top);
}

int LayoutScale::LabelFontPixels() const {
  // The font keeps its pixel height when the layout is read on another screen, so its point
  // size there is 16 · 72 / dpi; that point size is what is scaled.
  const int points = MulDiv(kLayoutLabelPixels, 72, dpi_);
  return MulDiv(MulDiv(points, zero_height_, kLayoutZeroHeight), dpi_, 72);
}

int ScreenDpi(const QWidget* widget) {
  const QScreen* screen = widget != nullptr ? widget->screen() : nullptr;
  if (screen == nullptr) {
    screen = QGuiApplication::primaryScreen();
  }
  return screen != nullptr ? static_cast<int>(std::lround(screen->logicalDotsPerInchY()))
                           : kLayoutDpi;
}

LayoutScale LayoutScale::ForWidget(const QWidget* widget) { return ForDpi(ScreenDpi(widget)); }

}  // namespace pitch
