// Resolution scaling of the window's layout. The layout is drawn for 96 pixels per inch, where
// "0" in the window font (Tahoma, 11 pixels) is 13 pixels high. On another resolution the window
// font's pixel height is first multiplied by dpi / 96; when "0" in that font is then no longer
// 13 pixels high, every control's edges, the client size and the labels' point sizes are
// multiplied by (new height of "0") / 13, each product rounded to the nearest integer.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace pitch {

// The ascent and the line height that Windows gives a font at its pixel size: from the
// usWinAscent and usWinDescent of its OS/2 table, each rounded, where Qt takes the typographic
// values (Tahoma at 16 pixels: 16 and 19 against Qt's 13 and 16). Qt's own metrics for a font
// without that table.
struct WindowsLineMetrics {
  int ascent;
  int height;
};
WindowsLineMetrics WindowsMetrics(const QFont& font);

// Tahoma at this pixel height.
QFont Tahoma(int pixels);

// The logical resolution of the screen a widget will appear on (the primary screen for none).
int ScreenDpi(const QWidget* widget);

inline constexpr int kLayoutDpi = 96;
inline constexpr int kLayoutFontPixels = 11;   // the window font
inline constexpr int kLayoutZeroHeight = 13;   // "0" in it at 96 pixels per inch
inline constexpr int kLayoutLabelPixels = 16;  // the label font: 12 points at 96 pixels per inch

class LayoutScale {
 public:
  // The scale of the screen a widget shows on (its logical resolution), the primary screen's
  // when it has none.
  static LayoutScale ForWidget(const QWidget* widget);
  // The scale for a screen of dpi pixels per inch, from the metrics of Tahoma (needs a
  // QGuiApplication and the font; see fonts.h).
  static LayoutScale ForDpi(int dpi);
  // The scale from given numbers: zero_height is the height of "0" in the window font of
  // font_pixels.
  LayoutScale(int dpi, int font_pixels, int zero_height)
      : dpi_(dpi), font_pixels_(font_pixels), zero_height_(zero_height) {}

  int dpi() const { return dpi_; }
  // The window font's pixel height: 11 · dpi / 96, rounded.
  int FontPixels() const { return font_pixels_; }
  int ZeroHeight() const { return zero_height_; }
  // A coordinate of the layout: v · (height of "0") / 13, rounded.
  int Apply(int v) const;
  // A control's place: each edge scaled, so the size is the difference of the scaled edges.
  QRect Apply(const QRect& r) const;
  QSize Apply(const QSize& s) const { return {Apply(s.width()), Apply(s.height())}; }
  // The labels' font in pixels: its point size on this screen (16 pixels at dpi), scaled and
  // rounded like a coordinate, and back to whole pixels at dpi.
  int LabelFontPixels() const;

 private:
  int dpi_;
  int font_pixels_;
  int zero_height_;
};

}  // namespace pitch
