#include "ui/bode_chart.h"

#include <QBrush>
#include <QChart>
#include <QGraphicsLayout>
#include <QGraphicsLinearLayout>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsWidget>
#include <QLineSeries>
#include <QLocale>
#include <QLogValueAxis>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

#include "ui/response_chart.h"

namespace pitch {

namespace {

const QColor kCurveColor(255, 0, 0);
const QColor kMarkColor(0, 90, 200);
const QColor kReferenceColor(128, 128, 128);

// Phase ticks at a whole number of degrees that divides a turn, about five of them.
double PhaseInterval(double span) {
  for (const double interval : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 45.0, 90.0, 180.0}) {
    if (span / interval <= 8) {
      return interval;
    }
  }
  return 360 * std::ceil(span / 360 / 8);
}

// The range rounded outward to whole intervals, ticks at each.
void FitAxis(QValueAxis* axis, double min, double max, double interval) {
  double low = std::floor(min / interval) * interval;
  double high = std::ceil(max / interval) * interval;
  if (!(high > low)) {
    low -= interval;
    high += interval;
  }
  const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(interval) + 1e-9)));
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(low);
  axis->setTickInterval(interval);
  axis->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
  axis->setRange(low, high);
}

QList<QPointF> FinitePoints(const std::vector<double>& x, const std::vector<double>& y) {
  QList<QPointF> points;
  points.reserve(static_cast<qsizetype>(x.size()));
  for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) {
    if (std::isfinite(x[i]) && std::isfinite(y[i])) {
      points.append(QPointF(x[i], y[i]));
    }
  }
  return points;
}

// The smallest and largest y of the points and of the extra values.
std::pair<double, double> Span(const QList<QPointF>& points, std::initializer_list<double> extra,
                               const std::vector<double>& more = {}) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  const auto take = [&](double v) {
    if (std::isfinite(v)) {
      low = std::min(low, v);
      high = std::max(high, v);
    }
  };
  for (const QPointF& p : points) {
    take(p.y());
  }
  for (const double v : extra) {
    take(v);
  }
  for (const double v : more) {
    take(v);
  }
  if (low > high) {
    return {-1, 1};
  }
  return {low, high};
}

}  // namespace

QString MarginNumber(double value, char separator, int digits) {
  QString text = QString::number(value, 'g', digits);
  if (separator != '.') {
    text.replace(QLatin1Char('.'), QLatin1Char(separator));
  }
  return text;
}

QString AtFrequency(double omega, char separator, int digits) {
  if (std::isinf(omega)) {
    return QStringLiteral("при ω → ∞");
  }
  return QStringLiteral("при ω = %1 рад/с").arg(MarginNumber(omega, separator, digits));
}

std::vector<AxisRoot> AxisRoots(const analysis::LoopMargins& m, char separator, int digits) {
  std::vector<AxisRoot> roots;
  const auto at = [&](double w) {
    return QStringLiteral("±j·%1 рад/с").arg(MarginNumber(w, separator, digits));
  };
  for (const double w : m.axis_poles) {
    roots.push_back({QStringLiteral("Полюс L на мнимой оси"), at(w),
                     QStringLiteral("(|L| = ∞, не пересечение)")});
  }
  for (const double w : m.axis_zeros) {
    roots.push_back(
        {QStringLiteral("Нуль L на мнимой оси"), at(w), QStringLiteral("(L = 0, не пересечение)")});
  }
  return roots;
}

QStringList MarginLines(const analysis::LoopMargins& m, char separator, int digits, bool all) {
  QStringList lines;
  if (!m.closed_loop_stable) {
    lines << QStringLiteral("Замкнутая система неустойчива: это не запасы устойчивости");
  }
  if (m.gain.empty()) {
    lines << QStringLiteral("Запас по амплитуде: ∞ (ЛФЧХ не пересекает -180°)");
  }
  for (std::size_t i = 0; i < m.gain.size() && (all || i == 0); ++i) {
    const analysis::GainMargin& g = m.gain[i];
    lines << QStringLiteral("Запас по амплитуде: %1 (%2 дБ) %3")
                 .arg(MarginNumber(g.factor, separator, digits),
                      MarginNumber(g.decibels, separator, digits),
                      AtFrequency(g.frequency, separator, digits));
  }
  if (m.phase.empty()) {
    lines << QStringLiteral("Запас по фазе: нет (ЛАЧХ не пересекает 0 дБ)");
  }
  for (std::size_t i = 0; i < m.phase.size() && (all || i == 0); ++i) {
    const analysis::PhaseMargin& p = m.phase[i];
    lines << QStringLiteral("Запас по фазе: %1° %2")
                 .arg(MarginNumber(p.degrees, separator, digits),
                      AtFrequency(p.frequency, separator, digits));
  }
  if (m.delay) {
    lines << QStringLiteral("Запас по запаздыванию: %1 с")
                 .arg(MarginNumber(*m.delay, separator, digits));
  }
  lines << QStringLiteral("min |1 + L(jω)| = %1 %2")
               .arg(MarginNumber(m.stability.value, separator, digits),
                    AtFrequency(m.stability.frequency, separator, digits));
  for (const AxisRoot& r : all ? AxisRoots(m, separator, digits) : std::vector<AxisRoot>{}) {
    lines << r.quantity + QStringLiteral(": ") + r.value + QLatin1Char(' ') + r.note;
  }
  return lines;
}

TBodeChart::TBodeChart() : widget_(new QGraphicsWidget) {
  Build(magnitude_, QStringLiteral("ЛАЧХ, дБ"), false);
  Build(phase_, QStringLiteral("ЛФЧХ, град"), true);
  auto* layout = new QGraphicsLinearLayout(Qt::Vertical);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addItem(magnitude_.chart);
  layout->addItem(phase_.chart);
  widget_->setLayout(layout);

  text_box_ = new QGraphicsRectItem(magnitude_.chart);
  text_box_->setBrush(QColor(255, 255, 255, 220));
  text_box_->setPen(QPen(kReferenceColor, 0));
  text_box_->setZValue(1000);
  text_box_->setVisible(false);
  text_ = new QGraphicsSimpleTextItem(text_box_);
  placement_ = QObject::connect(magnitude_.chart, &QChart::plotAreaChanged, magnitude_.chart,
                                [this](const QRectF&) { PlaceText(); });
}

TBodeChart::~TBodeChart() { QObject::disconnect(placement_); }

void TBodeChart::Build(Panel& panel, const QString& value_title, bool frequency_title) {
  panel.chart = new QChart;
  panel.chart->legend()->hide();
  panel.chart->setAnimationOptions(QChart::NoAnimation);

  panel.curve = new QLineSeries;
  QPen pen(kCurveColor);
  pen.setWidth(2);
  panel.curve->setPen(pen);
  panel.marks = new QScatterSeries;
  panel.marks->setMarkerShape(QScatterSeries::MarkerShapeCircle);
  panel.marks->setMarkerSize(8);
  panel.marks->setColor(kMarkColor);
  panel.marks->setBorderColor(kMarkColor);

  panel.frequency = new QLogValueAxis;
  panel.frequency->setBase(10);
  // "%g" alone gives empty labels once the chart localizes its numbers; a precision does not.
  panel.frequency->setLabelFormat(QStringLiteral("%.4g"));
  panel.frequency->setMinorTickCount(8);
  if (frequency_title) {
    panel.frequency->setTitleText(QStringLiteral("ω, рад/с"));
  }
  panel.value = new QValueAxis;
  panel.value->setTitleText(value_title);

  panel.chart->addAxis(panel.frequency, Qt::AlignBottom);
  panel.chart->addAxis(panel.value, Qt::AlignLeft);
  for (QXYSeries* series :
       {static_cast<QXYSeries*>(panel.curve), static_cast<QXYSeries*>(panel.marks)}) {
    panel.chart->addSeries(series);
    series->attachAxis(panel.frequency);
    series->attachAxis(panel.value);
  }
}

void TBodeChart::ClearExtras(Panel& panel) {
  for (QLineSeries* series : panel.extras) {
    panel.chart->removeSeries(series);
    delete series;
  }
  panel.extras.clear();
}

QLineSeries* TBodeChart::AddExtra(Panel& panel, const QList<QPointF>& points, bool dashed) {
  auto* series = new QLineSeries;
  QPen pen(dashed ? kReferenceColor : kMarkColor);
  pen.setWidth(dashed ? 1 : 2);
  pen.setStyle(dashed ? Qt::DashLine : Qt::SolidLine);
  series->setPen(pen);
  series->replace(points);
  panel.chart->addSeries(series);
  series->attachAxis(panel.frequency);
  series->attachAxis(panel.value);
  panel.extras.push_back(series);
  return series;
}

void TBodeChart::SetDecimalSeparator(char separator) {
  separator_ = separator;
  QLocale locale = separator == ',' ? QLocale(QLocale::Russian) : QLocale::c();
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  for (QChart* chart : {magnitude_.chart, phase_.chart}) {
    chart->setLocale(locale);
    chart->setLocalizeNumbers(true);
  }
  if (has_data_) {
    text_->setText(MarginsText());
    AlignPlotAreas();
    PlaceText();
  }
}

void TBodeChart::SetData(const analysis::BodeData& data) {
  ClearExtras(magnitude_);
  ClearExtras(phase_);
  margins_ = data.margins;
  has_data_ = true;
  const double low = data.range.low;
  const double high = data.range.high;
  const double shift = data.phase_shift_degrees;

  const QList<QPointF> magnitude = FinitePoints(data.frequency, data.magnitude_db);
  const QList<QPointF> phase = FinitePoints(data.frequency, data.phase_degrees);
  magnitude_.curve->replace(magnitude);
  phase_.curve->replace(phase);

  // Marks: each gain crossover at 0 dB with its phase margin drawn down (or up) to the nearest
  // −180° level; each phase crossing on its level with its gain margin drawn to 0 dB.
  QList<QPointF> magnitude_marks;
  QList<QPointF> phase_marks;
  std::vector<double> phase_ends;
  for (const analysis::PhaseMargin& p : data.margins.phase) {
    const double at = p.phase_degrees + shift;
    magnitude_marks.append({p.frequency, 0});
    phase_marks.append({p.frequency, at});
    phase_ends.push_back(at - p.degrees);
    AddExtra(phase_, {{p.frequency, at}, {p.frequency, at - p.degrees}}, false);
  }
  std::vector<double> magnitude_ends;
  for (const analysis::GainMargin& g : data.margins.gain) {
    if (!(g.frequency > 0)) {
      continue;  // a crossing at zero frequency lies off the logarithmic axis
    }
    magnitude_marks.append({g.frequency, -g.decibels});
    phase_marks.append({g.frequency, g.phase_degrees + shift});
    magnitude_ends.push_back(-g.decibels);
    AddExtra(magnitude_, {{g.frequency, -g.decibels}, {g.frequency, 0}}, false);
  }
  magnitude_.marks->replace(magnitude_marks);
  phase_.marks->replace(phase_marks);

  const auto [m_low, m_high] = Span(magnitude, {0.0}, magnitude_ends);
  FitAxis(magnitude_.value, m_low, m_high, NiceTicks(m_low, m_high).interval);
  // The −180° level nearest the middle of the curve is always in view.
  auto [p_low, p_high] = Span(phase, {}, phase_ends);
  const double middle_level = 360 * std::round(((p_low + p_high) / 2 + 180) / 360) - 180;
  p_low = std::min(p_low, middle_level);
  p_high = std::max(p_high, middle_level);
  FitAxis(phase_.value, p_low, p_high, PhaseInterval(p_high - p_low));

  for (Panel* panel : {&magnitude_, &phase_}) {
    // A hair wider than the decades: the axis drops an end tick whose logarithm rounds inward.
    panel->frequency->setRange(low * (1 - 1e-9), high * (1 + 1e-9));
  }
  AddExtra(magnitude_, {{low, 0}, {high, 0}}, true);
  for (double level = 360 * std::ceil((phase_.value->min() + 180) / 360) - 180;
       level <= phase_.value->max(); level += 360) {
    AddExtra(phase_, {{low, level}, {high, level}}, true);
  }

  text_->setText(MarginsText());
  text_box_->setVisible(true);
  AlignPlotAreas();
  PlaceText();
}

namespace {

// Lays a graphics layout out now rather than at the next event.
void LayOut(QGraphicsLayout* layout) {
  layout->invalidate();
  layout->activate();
}

}  // namespace

void TBodeChart::AlignPlotAreas() {
  if (widget_->size().isEmpty()) {
    return;
  }
  // Lay both charts out on their own first, then narrow both plot areas to the part they share.
  for (QChart* chart : {magnitude_.chart, phase_.chart}) {
    chart->setPlotArea(QRectF());
  }
  LayOut(widget_->layout());
  for (QChart* chart : {magnitude_.chart, phase_.chart}) {
    LayOut(chart->layout());
  }
  const QRectF top = magnitude_.chart->plotArea();
  const QRectF bottom = phase_.chart->plotArea();
  const double left = std::max(top.left(), bottom.left());
  const double right = std::min(top.right(), bottom.right());
  if (top.isEmpty() || bottom.isEmpty() || !(right > left)) {
    return;
  }
  magnitude_.chart->setPlotArea(QRectF(left, top.top(), right - left, top.height()));
  phase_.chart->setPlotArea(QRectF(left, bottom.top(), right - left, bottom.height()));
  for (QChart* chart : {magnitude_.chart, phase_.chart}) {
    LayOut(chart->layout());
  }
}

QString TBodeChart::MarginsText() const {
  return has_data_ ? MarginLines(margins_, separator_, 4, false).join(QLatin1Char('\n'))
                   : QString();
}

void TBodeChart::PlaceText() {
  const QRectF plot = magnitude_.chart->plotArea();
  const QRectF text = text_->boundingRect();
  constexpr double kPad = 4;
  text_box_->setRect(0, 0, text.width() + 2 * kPad, text.height() + 2 * kPad);
  text_->setPos(kPad, kPad);
  text_box_->setPos(plot.right() - text.width() - 2 * kPad - 6, plot.top() + 6);
}

}  // namespace pitch
