#include "ui/report_pdf.h"

#include <QBuffer>
#include <QChart>
#include <QFont>
#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QGraphicsWidget>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>
#include <new>

#include "core/errors.h"
#include "number_text/number_text.h"
#include "ui/bode_chart.h"
#include "ui/response_chart.h"

namespace pitch {

namespace {

constexpr double kResolution = 96;  // page units per inch
constexpr double kPageWidth = 210 / 25.4 * kResolution;
constexpr double kPageHeight = 297 / 25.4 * kResolution;
constexpr double kMargin = 40;
constexpr double kContentWidth = kPageWidth - 2 * kMargin;
constexpr double kColumnGap = 24;
constexpr double kColumnWidth = (kContentWidth - kColumnGap) / 2;

// The response chart is laid out at the window's width and scaled onto the page; below it two
// columns of text, then the Bode diagram, laid out at its size on the page.
constexpr QSizeF kChartSize(768, 323);
constexpr double kChartTop = 195;
constexpr double kChartHeight = kContentWidth * 323 / 768;
constexpr double kTextTop = kChartTop + kChartHeight + 14;
constexpr double kBodeTop = 690;     // unless the texts above reach further
constexpr double kBodeScale = 0.85;  // the diagram is laid out larger than it is drawn
constexpr double kBottom = kPageHeight - 30;

const QColor kError(0xB0, 0x00, 0x00);

[[noreturn]] void Fail(const QString& step) {
  throw EPlotError((QStringLiteral("The report cannot be drawn: ") + step).toStdString());
}

// A number with six significant digits, as the Bode window lists its margins.
QString Number(double value, char separator) { return RoundedNumber(value, 6, separator); }

// A result box's text: the Real as decimal text with at most 15 significant digits.
QString Shown(Real value, char separator) {
  return QString::fromStdString(FormatNumber(value, separator));
}

struct Block {
  QString heading;
  QStringList lines;
};

Block Coefficients(const ReportData& d) {
  Block b{QStringLiteral("Параметры линейной модели ЛА:"), {}};
  for (std::size_t k = 0; k < 5; ++k) {
    // The window's captions: the Cyrillic es.
    b.lines << QStringLiteral("с%1 = %2")
                   .arg(k + 1)
                   .arg(QString::fromStdString(d.coefficient_texts[k]));
  }
  return b;
}

Block Ratios(const ReportData& d) {
  Block b{QStringLiteral("Передаточные числа автопилота:"), {}};
  if (!d.ratios) {
    b.lines << QStringLiteral("не вычислены");
    return b;
  }
  const char s = d.separator;
  const std::array<Real, 4>& r = *d.ratios;
  b.lines << QStringLiteral("mu = ") + Shown(r[0], s) << QStringLiteral("iv = ") + Shown(r[1], s)
          << QStringLiteral("nu = ") + Shown(r[2], s) << QStringLiteral("Tnu = ") + Shown(r[3], s);
  return b;
}

// The error in words and what it left out.
QStringList ErrorLines(const ReportData& d) {
  if (d.error.empty()) {
    return {};
  }
  QStringList lines{QStringLiteral("Расчёт прерван с ошибкой: ") + QString::fromStdString(d.error)};
  if (!d.ratios) {
    lines << QStringLiteral(
        "Передаточные числа не вычислены; переходной процесс, полюса и запасы устойчивости "
        "не определены.");
  } else if (d.t.empty()) {
    lines << QStringLiteral(
        "Моделирование переходного процесса не завершено: график и его показатели не "
        "построены.");
  }
  return lines;
}

Block Characteristics(const ReportData& d) {
  const char s = d.separator;
  const QString sec = QStringLiteral(" с");
  Block b{QStringLiteral("Переходной процесс (метод Эйлера, шаг %1 с):").arg(Number(kTimeStep, s)),
          {}};
  if (!d.characteristics) {
    b.lines << QStringLiteral("не построен");
    return b;
  }
  const analysis::StepCharacteristics& c = *d.characteristics;
  if (d.stability && !d.stability->iteration.stable) {
    b.lines << QStringLiteral("итерация Эйлера расходится: показатели расходящейся кривой");
  }
  if (c.rise_time) {
    b.lines << QStringLiteral("время нарастания 10–90 %: %1 (от %2 до %3)")
                   .arg(Number(*c.rise_time, s) + sec, Number(*c.t10, s) + sec,
                        Number(*c.t90, s) + sec);
  } else {
    b.lines << QStringLiteral("время нарастания 10–90 %: не достигнуто");
  }
  b.lines
      << QStringLiteral("пик: %1 при t = %2").arg(Number(c.peak, s), Number(c.peak_time, s) + sec);
  b.lines << QStringLiteral("перерегулирование: %1 %").arg(Number(c.overshoot_percent, s));
  if (c.settling_time) {
    b.lines
        << QStringLiteral("время установления (2 %): %1").arg(Number(*c.settling_time, s) + sec);
  } else {
    b.lines << QStringLiteral("время установления (2 %): не установился за %1")
                   .arg(Number(c.final_time, s) + sec);
  }
  b.lines << QStringLiteral("отклонение при t = %1: %2")
                 .arg(Number(c.final_time, s) + sec, Number(c.final_deviation, s));
  return b;
}

Block Poles(const ReportData& d) {
  const char s = d.separator;
  Block b{QStringLiteral("Полюса замкнутой системы:"), {}};
  if (!d.stability) {
    b.lines << QStringLiteral("не определены");
    return b;
  }
  const ReportStability& st = *d.stability;
  for (const analysis::Pole& p : st.poles) {
    if (p.damping_ratio) {
      b.lines << QStringLiteral("%1 ± %2j: ζ = %3, ωn = %4 рад/с")
                     .arg(Number(p.value.real(), s), Number(p.value.imag(), s),
                          Number(*p.damping_ratio, s), Number(*p.natural_frequency, s));
    } else if (p.time_constant) {
      b.lines << QStringLiteral("%1: T = %2 с")
                     .arg(Number(p.value.real(), s), Number(*p.time_constant, s));
    } else {
      b.lines << Number(p.value.real(), s);
    }
  }
  return b;
}

Block Stability(const ReportData& d) {
  const char s = d.separator;
  Block b{QStringLiteral("Устойчивость:"), {}};
  if (!d.stability) {
    b.lines << QStringLiteral("не определена");
    return b;
  }
  const ReportStability& st = *d.stability;
  b.lines << QStringLiteral("непрерывная система: ") +
                 (st.stable ? QStringLiteral("устойчива") : QStringLiteral("неустойчива"));
  const analysis::EulerStability& e = st.iteration;
  b.lines << QStringLiteral("итерация Эйлера (шаг %1 с): ").arg(Number(kTimeStep, s)) +
                 (e.stable ? QStringLiteral("устойчива") : QStringLiteral("расходится"));
  b.lines << QStringLiteral("спектральный радиус I + A·dt: ") + Number(e.spectral_radius, s);
  b.lines << QStringLiteral("наибольший устойчивый шаг: ") +
                 (e.largest_stable_step ? Number(*e.largest_stable_step, s) + QStringLiteral(" с")
                                        : QStringLiteral("нет"));
  return b;
}

Block Margins(const ReportData& d) {
  Block b{QStringLiteral("Запасы устойчивости:"), {}};
  if (!d.bode) {
    b.lines << (d.bode_error.empty()
                    ? QStringLiteral("не определены")
                    : QStringLiteral("не вычислены: ") + QString::fromStdString(d.bode_error));
  } else {
    // As the Bode window lists them: every crossing, six significant digits.
    b.lines << MarginLines(d.bode->margins, d.separator, 6, true);
  }
  return b;
}

QString Title() { return QStringLiteral("Отчёт: система ЛА-АП тангажа ЖОС"); }

QString Stamp(const ReportData& d) {
  return QStringLiteral("Дата: %1      Программа: %2")
      .arg(QString::fromStdString(d.date), QString::fromStdString(d.version));
}

QFont PageFont(double pixels, bool bold = false) {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(static_cast<int>(pixels));
  font.setBold(bold);
  // No ligatures: the text layer reads "fl" as the two letters typed, not as one glyph.
  font.setStyleStrategy(QFont::PreferNoShaping);
  return font;
}

// The mark at the end of a line broken inside a word or number: the text goes on below.
const QString kContinuation = QStringLiteral(" →");

// A line as the lines it takes at width: broken at a blank where one is in the second half of
// what fits, else where the width ends, that piece marked with kContinuation.
QStringList WrappedLine(const QString& line, const QFontMetricsF& metrics, double width) {
  QStringList pieces;
  QString rest = line;
  while (rest.size() > 1 && metrics.horizontalAdvance(rest) > width) {
    const double room = width - metrics.horizontalAdvance(kContinuation);
    qsizetype fits = 1;
    while (fits < rest.size() && metrics.horizontalAdvance(rest.left(fits + 1)) <= room) {
      ++fits;
    }
    const qsizetype blank = rest.lastIndexOf(QLatin1Char(' '), fits);
    if (blank > fits / 2 && metrics.horizontalAdvance(rest.left(blank)) <= width) {
      pieces << rest.left(blank);
      rest = rest.mid(blank + 1);
    } else {
      pieces << rest.left(fits) + kContinuation;
      rest = rest.mid(fits);
    }
  }
  pieces << rest;
  return pieces;
}

// Draws the lines from top down, each wrapped to width (its later pieces indented); returns the
// y below the last.
double DrawLines(QPainter& p, const QStringList& lines, double x, double y, double width,
                 const QFont& font, const QColor& colour = Qt::black) {
  p.setFont(font);
  p.setPen(colour);
  const QFontMetricsF metrics(font, p.device());
  constexpr double kIndent = 10;
  const double step = metrics.lineSpacing() * 1.2;
  for (const QString& line : lines) {
    const QStringList pieces = WrappedLine(line, metrics, width - kIndent);
    for (qsizetype k = 0; k < pieces.size(); ++k) {
      p.drawText(QPointF(x + (k == 0 ? 0 : kIndent), y + metrics.ascent()), pieces[k]);
      y += step;
    }
  }
  return y;
}

double DrawBlock(QPainter& p, const Block& block, double x, double y, double width) {
  y = DrawLines(p, {block.heading}, x, y, width, PageFont(13, true));
  return DrawLines(p, block.lines, x + 8, y + 2, width - 8, PageFont(12));
}

// Every item painted directly, never through a cached pixmap: the page stays vector graphics.
void NoCaches(QGraphicsScene& scene) {
  for (QGraphicsItem* item : scene.items()) {
    item->setCacheMode(QGraphicsItem::NoCache);
  }
}

void DrawResponse(QPainter& p, const ReportData& d) {
  const QRectF target = ReportResponseChartRect();
  if (d.t.empty()) {
    // No curve: the frame of the chart, and the error that stopped the calculation in it.
    p.setPen(QPen(Qt::gray, 1));
    p.drawRect(target);
    const double y =
        DrawLines(p, {QStringLiteral("Переходной процесс не построен")}, target.left() + 16,
                  target.top() + 16, target.width() - 32, PageFont(13), Qt::gray);
    DrawLines(p, ErrorLines(d), target.left() + 16, y + 8, target.width() - 32, PageFont(12, true),
              kError);
    return;
  }
  TResponseChart builder;
  QGraphicsScene scene;
  scene.addItem(builder.TakeChart().release());
  builder.SetDecimalSeparator(d.separator);
  QList<QPointF> points;
  points.reserve(static_cast<qsizetype>(d.t.size()));
  for (std::size_t k = 0; k < d.t.size() && k < d.h.size(); ++k) {
    points.append(QPointF(d.t[k], d.h[k]));
  }
  builder.SetPoints(points);
  // The box as the window writes it, its heading for a diverging iteration included.
  builder.ShowCharacteristics(d.characteristics, d.stability && !d.stability->iteration.stable);
  const QRectF area(QPointF(0, 0), kChartSize);
  builder.chart()->setAnimationOptions(QChart::NoAnimation);
  builder.chart()->setGeometry(area);
  scene.setSceneRect(area);
  NoCaches(scene);
  scene.render(&p, target, area);
}

void DrawBode(QPainter& p, const ReportData& d, double top) {
  if (!d.bode) {
    return;
  }
  TBodeChart builder;
  QGraphicsScene scene;
  scene.addItem(builder.widget());
  builder.SetDecimalSeparator(d.separator);
  builder.SetData(*d.bode);
  const QRectF target(kMargin, top, kContentWidth, std::max(200.0, kBottom - top));
  const QRectF area(QPointF(0, 0), target.size() / kBodeScale);
  builder.widget()->setGeometry(area);
  builder.AlignPlotAreas();
  scene.setSceneRect(area);
  NoCaches(scene);
  scene.render(&p, target, area);
}

void DrawPage(QPainter& p, const ReportData& d) {
  double y = kMargin;
  y = DrawLines(p, {Title()}, kMargin, y, kContentWidth, PageFont(18, true));
  y = DrawLines(p, {Stamp(d)}, kMargin, y + 2, kContentWidth, PageFont(11), Qt::darkGray);
  y += 12;
  const double right_x = kMargin + kColumnWidth + kColumnGap;
  DrawBlock(p, Coefficients(d), kMargin, y, kColumnWidth);
  DrawBlock(p, Ratios(d), right_x, y, kColumnWidth);
  DrawResponse(p, d);
  double left = DrawBlock(p, Characteristics(d), kMargin, kTextTop, kColumnWidth);
  left = DrawBlock(p, Stability(d), kMargin, left + 6, kColumnWidth);
  double right = DrawBlock(p, Poles(d), right_x, kTextTop, kColumnWidth);
  right = DrawBlock(p, Margins(d), right_x, right + 6, kColumnWidth);
  DrawBode(p, d, std::max({kBodeTop, left + 8, right + 8}));
}

}  // namespace

QRectF ReportResponseChartRect() { return {kMargin, kChartTop, kContentWidth, kChartHeight}; }

QStringList ReportTextLines(const ReportData& d) {
  QStringList lines{Title(), Stamp(d)};
  for (const Block& b : {Coefficients(d), Ratios(d)}) {
    lines << b.heading << b.lines;
  }
  if (d.t.empty()) {
    lines << QStringLiteral("Переходной процесс не построен") << ErrorLines(d);
  }
  for (const Block& b : {Characteristics(d), Stability(d), Poles(d), Margins(d)}) {
    lines << b.heading << b.lines;
  }
  return lines;
}

QByteArray RenderReportPdf(const ReportData& data, const ReportRobustSection* robust) {
  try {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly)) {
      Fail(QStringLiteral("no buffer for the page"));
    }
    {
      QPdfWriter pdf(&buffer);
      pdf.setResolution(static_cast<int>(kResolution));
      pdf.setPageLayout(
          QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
      pdf.setTitle(Title());
      pdf.setCreator(QString::fromStdString(data.version));
      QPainter painter;
      if (!painter.begin(&pdf)) {
        Fail(QStringLiteral("the PDF page cannot be started"));
      }
      painter.setRenderHint(QPainter::Antialiasing, true);
      painter.setRenderHint(QPainter::TextAntialiasing, true);
      DrawPage(painter, data);
      if (robust != nullptr) {
        if (!pdf.newPage()) {
          Fail(QStringLiteral("the PDF's second page cannot be started"));
        }
        DrawRobustSection(painter, *robust, data.separator,
                          QRectF(kMargin, kMargin, kContentWidth, kBottom - kMargin));
      }
      if (!painter.end()) {
        Fail(QStringLiteral("the PDF page cannot be finished"));
      }
    }
    if (!bytes.startsWith("%PDF")) {
      Fail(QStringLiteral("the page came out empty"));
    }
    return bytes;
  } catch (const std::bad_alloc&) {
    Fail(QStringLiteral("not enough memory"));
  }
}

}  // namespace pitch
