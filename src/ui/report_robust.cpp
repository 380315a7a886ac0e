#include "ui/report_robust.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>

#include "core/errors.h"

namespace pitch {

namespace {

QString Heading() { return QStringLiteral("Робастная устойчивость: область коэффициентов"); }

QFont SectionFont(int pixels, bool bold) {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  // No ligatures: the text layer reads "fl" as the two letters typed.
  font.setStyleStrategy(QFont::PreferNoShaping);
  return font;
}

// Draws the text wrapped to the room's width from y on; returns the y below it.
double DrawWrapped(QPainter& p, const QString& text, const QFont& font, const QRectF& room,
                   double y) {
  p.setFont(font);
  const QFontMetricsF metrics(font, p.device());
  const QRectF lines(room.left(), y, room.width(), room.bottom() - y);
  const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
  p.drawText(lines, flags, text);
  return y + metrics.boundingRect(lines, flags, text).height() + 3;
}

}  // namespace

QStringList RobustSectionTextLines(const ReportRobustSection& section) {
  return QStringList{Heading()} + section.lines;
}

void DrawRobustSection(QPainter& p, const ReportRobustSection& section, char separator,
                       const QRectF& room) {
  p.setPen(Qt::black);
  double y = DrawWrapped(p, Heading(), SectionFont(18, true), room, room.top()) + 8;
  for (const QString& line : section.lines) {
    // The command line indents the parts of an entry; the page keeps that.
    const qsizetype indent = std::distance(
        line.begin(), std::find_if(line.begin(), line.end(), [](QChar c) { return c != ' '; }));
    const QRectF indented = room.adjusted(6.0 * static_cast<double>(indent), 0, 0, 0);
    y = DrawWrapped(p, line.trimmed(), SectionFont(12, indent == 0), indented, y);
  }
  if (!section.map) {
    return;
  }
  // As wide as the room, or as high as what is left, in the map's own proportions.
  const double aspect = static_cast<double>(kRegionMapSize.height()) / kRegionMapSize.width();
  const double left = room.bottom() - y - 8;
  const double width = std::min(room.width(), left / aspect);
  if (width < 100) {
    throw EPlotError("no room left on the page for the region map");
  }
  p.save();
  p.translate(room.left() + (room.width() - width) / 2, y + 8);
  p.scale(width / kRegionMapSize.width(), width / kRegionMapSize.width());
  p.setFont(SectionFont(13, false));
  RegionMapData map = *section.map;
  map.russian = true;
  DrawRegionMap(p, map, separator);
  p.restore();
}

}  // namespace pitch
