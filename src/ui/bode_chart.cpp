#include "ui/bode_chart.h"

#include <QBrush>
#include <QCategoryAxis>
#include <QChart>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGraphicsLinearLayout>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsWidget>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "ui/response_chart.h"

namespace pitch {

namespace {

const QColor kCurveColor(255, 0, 0);
const QColor kMarkColor(0, 90, 200);
const QColor kReferenceColor(128, 128, 128);

// Qt Charts gives an axis label the axis's length divided by the number of ticks, less a padding
// on each side, and cuts a label that does not fit in it to "...". These are the room a label
// takes along its axis, with that padding and a little slack, in the axis's label font.
constexpr double kLabelPadding = 5;
double LabelHeight(const QAbstractAxis* axis) {
  return QFontMetricsF(axis->labelsFont()).height() + 2 * kLabelPadding + 4;
}
double LabelWidth(const QAbstractAxis* axis, const QString& text) {
  return QFontMetricsF(axis->labelsFont()).horizontalAdvance(text) + 2 * kLabelPadding + 4;
}

// The number of ticks that whole multiples of interval put on [min, max] rounded outward.
double TickCount(double min, double max, double interval) {
  return std::ceil(max / interval) - std::floor(min / interval) + 1;
}

// The tick interval of the dB axis: a 1-2-5 step for about five ticks, fewer where the axis has
// room for fewer labels (room counts the labels that fit, including the one Qt puts at the start).
double DecibelInterval(double min, double max, int room) {
  double interval = NiceTicks(min, max).interval;
  for (int target = 4; target >= 1 && TickCount(min, max, interval) + 1 > room; --target) {
    interval = NiceTicks(min, max, target).interval;
  }
  return interval;
}

// Phase ticks at a whole number of degrees that divides a turn: at most eight, and no more than
// the axis has room for.
double PhaseInterval(double min, double max, int room) {
  for (const double interval : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 45.0, 90.0, 180.0, 360.0}) {
    const double count = TickCount(min, max, interval);
    if (count <= 9 && count + 1 <= room) {
      return interval;
    }
  }
  return 360 * std::ceil((max - min) / 360 / std::max(1, room - 2));
}

void ClearCategories(QCategoryAxis* axis) {
  for (const QString& label : axis->categoriesLabels()) {
    axis->remove(label);
  }
}

// The range rounded outward to whole intervals, a tick labelled with the program's number text
// at each, the lowest included (a category axis labels the ends of its categories, so the first
// one starts a hair below it).
void FitAxis(QCategoryAxis* axis, double min, double max, double interval, char separator) {
  double low = std::floor(min / interval) * interval;
  double high = std::ceil(max / interval) * interval;
  if (!(high > low)) {
    low -= interval;
    high += interval;
  }
  ClearCategories(axis);
  axis->setStartValue(low - interval * 1e-6);
  const double first = std::round(low / interval);
  const double last = std::round(high / interval);
  for (double k = first; k <= last; ++k) {
    axis->append(TickLabel(k * interval, separator), k * interval);
  }
  axis->setRange(low, high);
}

// The decades from low to high labelled on the frequency's label axis, which spans their
// logarithms: every decade, or every second, third… where the axis is too short for all labels
// side by side.
void FitDecades(QCategoryAxis* axis, double low, double high, char separator, double length) {
  const double from = std::log10(low);
  const double to = std::log10(high);
  const double first = std::ceil(from - 1e-9);
  const double last = std::floor(to + 1e-9);
  const auto labels = [&](double step) {
    std::vector<std::pair<QString, double>> out;
    for (double k = std::ceil(first / step) * step; k <= last; k += step) {
      out.emplace_back(RoundedNumber(std::pow(10.0, k), 4, separator), k);
    }
    return out;
  };
  std::vector<std::pair<QString, double>> chosen;
  for (double step = 1;; ++step) {
    chosen = labels(step);
    double widest = 0;
    for (const auto& label : chosen) {
      widest = std::max(widest, LabelWidth(axis, label.first));
    }
    if (chosen.size() <= 2 || widest * static_cast<double>(chosen.size() + 1) <= length) {
      break;
    }
  }
  ClearCategories(axis);
  axis->setStartValue(from);
  for (const auto& [text, k] : chosen) {
    axis->append(text, k);
  }
  axis->setRange(from, to);
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

QString AtFrequency(double omega, char separator, int digits) {
  if (std::isinf(omega)) {
    return QStringLiteral("при ω → ∞");
  }
  return QStringLiteral("при ω = %1 рад/с").arg(RoundedNumber(omega, digits, separator));
}

std::vector<AxisRoot> AxisRoots(const analysis::LoopMargins& m, char separator, int digits) {
  std::vector<AxisRoot> roots;
  const auto at = [&](double w) {
    return QStringLiteral("±j·%1 рад/с").arg(RoundedNumber(w, digits, separator));
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

NotComputableWords NotComputable(const std::string& reason) {
  NotComputableWords words;
  words.why = QStringLiteral("в диапазоне чисел double: ") + QString::fromStdString(reason);
  return words;
}

QString MarginRow::Line() const {
  return quantity + joiner + value + (where.isEmpty() ? QString() : QLatin1Char(' ') + where);
}

std::vector<MarginRow> MarginRows(const analysis::LoopMargins& m, char separator, int digits,
                                  bool all) {
  std::vector<MarginRow> rows;
  const QString gain = QStringLiteral("Запас по амплитуде");
  const QString phase = QStringLiteral("Запас по фазе");
  if (m.not_computable) {
    const NotComputableWords words = NotComputable(*m.not_computable);
    rows.push_back({words.quantity, words.value, words.why});
    return rows;
  }
  if (m.gain.empty()) {
    rows.push_back({gain, QStringLiteral("∞"), QStringLiteral("(ЛФЧХ не пересекает -180°)")});
  }
  for (std::size_t i = 0; i < m.gain.size() && (all || i == 0); ++i) {
    const analysis::GainMargin& g = m.gain[i];
    rows.push_back({gain,
                    QStringLiteral("%1 (%2 дБ)")
                        .arg(RoundedNumber(g.factor, digits, separator),
                             RoundedNumber(g.decibels, digits, separator)),
                    AtFrequency(g.frequency, separator, digits)});
  }
  if (m.phase.empty()) {
    rows.push_back({phase, QStringLiteral("нет"), QStringLiteral("(ЛАЧХ не пересекает 0 дБ)")});
  }
  for (std::size_t i = 0; i < m.phase.size() && (all || i == 0); ++i) {
    const analysis::PhaseMargin& p = m.phase[i];
    rows.push_back({phase, RoundedNumber(p.degrees, digits, separator) + QStringLiteral("°"),
                    AtFrequency(p.frequency, separator, digits)});
  }
  if (m.delay) {
    rows.push_back({QStringLiteral("Запас по запаздыванию"),
                    RoundedNumber(*m.delay, digits, separator) + QStringLiteral(" с"), QString()});
  }
  rows.push_back({QStringLiteral("min |1 + L(jω)|"),
                  RoundedNumber(m.stability.value, digits, separator),
                  AtFrequency(m.stability.frequency, separator, digits), QStringLiteral(" = ")});
  // Poles and zeros of L on the imaginary axis: |L| is infinite or 0 there, which is no crossing.
  for (const AxisRoot& r : all ? AxisRoots(m, separator, digits) : std::vector<AxisRoot>{}) {
    rows.push_back({r.quantity, r.value, r.note});
  }
  return rows;
}

QStringList MarginLines(const analysis::LoopMargins& m, char separator, int digits, bool all) {
  QStringList lines;
  if (!m.closed_loop_stable) {
    lines << QStringLiteral("Замкнутая система неустойчива: это не запасы устойчивости");
  }
  for (const MarginRow& row : MarginRows(m, separator, digits, all)) {
    lines << row.Line();
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

  // The curves lie on the logarithmic axis, which draws the grid; its labels, written by a printf
  // format, cannot be the program's number text, so a second axis over the decades' logarithms
  // carries them (and the title) beneath.
  panel.frequency = new QLogValueAxis;
  panel.frequency->setBase(10);
  panel.frequency->setMinorTickCount(8);
  panel.frequency->setLabelsVisible(false);
  panel.frequency->setLineVisible(false);
  panel.decades = new QCategoryAxis;
  panel.decades->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  panel.decades->setGridLineVisible(false);
  if (frequency_title) {
    panel.decades->setTitleText(QStringLiteral("ω, рад/с"));
  }
  panel.value = new QCategoryAxis;
  panel.value->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  panel.value->setTitleText(value_title);

  panel.chart->addAxis(panel.frequency, Qt::AlignBottom);
  panel.chart->addAxis(panel.decades, Qt::AlignBottom);
  panel.chart->addAxis(panel.value, Qt::AlignLeft);
  for (QXYSeries* series :
       {static_cast<QXYSeries*>(panel.curve), static_cast<QXYSeries*>(panel.marks)}) {
    panel.chart->addSeries(series);
    series->attachAxis(panel.frequency);
    series->attachAxis(panel.value);
  }
}

void TBodeChart::Remove(Panel& panel, std::vector<QLineSeries*>& series) {
  for (QLineSeries* line : series) {
    panel.chart->removeSeries(line);
    delete line;
  }
  series.clear();
}

void TBodeChart::ClearExtras(Panel& panel) {
  Remove(panel, panel.extras);
  Remove(panel, panel.levels);
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
  (dashed ? panel.levels : panel.extras).push_back(series);
  return series;
}

void TBodeChart::SetDecimalSeparator(char separator) {
  separator_ = separator;
  if (has_data_) {
    const analysis::BodeData data = data_;
    SetData(data);
  }
}

void TBodeChart::SetData(const analysis::BodeData& data) {
  ClearExtras(magnitude_);
  ClearExtras(phase_);
  data_ = data;
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

  magnitude_span_ = Span(magnitude, {0.0}, magnitude_ends);
  // The −180° level nearest the middle of the curve is always in view.
  auto [p_low, p_high] = Span(phase, {}, phase_ends);
  const double middle_level = 360 * std::round(((p_low + p_high) / 2 + 180) / 360) - 180;
  phase_span_ = {std::min(p_low, middle_level), std::max(p_high, middle_level)};

  for (Panel* panel : {&magnitude_, &phase_}) {
    // A hair wider than the decades: the axis drops an end tick whose logarithm rounds inward.
    panel->frequency->setRange(low * (1 - 1e-9), high * (1 + 1e-9));
  }
  FitTicks();

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
  if (has_data_) {
    // As many ticks as the laid-out axes have room for, then the layout for those labels.
    FitTicks();
    for (QChart* chart : {magnitude_.chart, phase_.chart}) {
      LayOut(chart->layout());
    }
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

void TBodeChart::FitTicks() {
  // Before the first layout the charts have no plot area: room for the usual ticks.
  const auto room = [](const Panel& panel) {
    const QRectF plot = panel.chart->plotArea();
    return plot.isEmpty() ? 10
                          : std::max(3, static_cast<int>(plot.height() / LabelHeight(panel.value)));
  };
  const auto [m_low, m_high] = magnitude_span_;
  FitAxis(magnitude_.value, m_low, m_high, DecibelInterval(m_low, m_high, room(magnitude_)),
          separator_);
  const auto [p_low, p_high] = phase_span_;
  FitAxis(phase_.value, p_low, p_high, PhaseInterval(p_low, p_high, room(phase_)), separator_);
  for (Panel* panel : {&magnitude_, &phase_}) {
    const QRectF plot = panel->chart->plotArea();
    FitDecades(panel->decades, panel->frequency->min(), panel->frequency->max(), separator_,
               plot.isEmpty() ? 1e9 : plot.width());
  }
  DrawLevels();
}

void TBodeChart::DrawLevels() {
  if (!has_data_) {
    return;
  }
  const double low = data_.range.low;
  const double high = data_.range.high;
  Remove(magnitude_, magnitude_.levels);
  Remove(phase_, phase_.levels);
  AddExtra(magnitude_, {{low, 0}, {high, 0}}, true);
  for (double level = 360 * std::ceil((phase_.value->min() + 180) / 360) - 180;
       level <= phase_.value->max(); level += 360) {
    AddExtra(phase_, {{low, level}, {high, level}}, true);
  }
}

QString TBodeChart::MarginsText() const {
  return has_data_ ? MarginLines(data_.margins, separator_, 4, false).join(QLatin1Char('\n'))
                   : QString();
}

void TBodeChart::PlaceText() {
  const QRectF plot = magnitude_.chart->plotArea();
  const QRectF text = text_->boundingRect();
  constexpr double kPad = 4;
  text_box_->setRect(0, 0, text.width() + 2 * kPad, text.height() + 2 * kPad);
  text_->setPos(kPad, kPad);
  // The inner corner of the plot area whose box covers the fewest points of the curve, a mark
  // or a margin's segment counting most; the top right one among equals.
  const QSizeF size = text_box_->rect().size();
  const QRectF inner = plot.adjusted(6, 6, -6, -6);
  const std::array<QPointF, 4> corners = {
      QPointF(inner.right() - size.width(), inner.top()), inner.topLeft(),
      QPointF(inner.left(), inner.bottom() - size.height()),
      QPointF(inner.right() - size.width(), inner.bottom() - size.height())};
  const auto covered = [&](const QRectF& box) {
    const auto count = [&](QXYSeries* series) {
      qsizetype n = 0;
      for (const QPointF& p : series->points()) {
        n += box.contains(magnitude_.chart->mapToPosition(p, series)) ? 1 : 0;
      }
      return n;
    };
    qsizetype n = count(magnitude_.curve) + 1000000 * count(magnitude_.marks);
    for (QLineSeries* segment : magnitude_.extras) {
      n += 1000000 * count(segment);
    }
    return n;
  };
  QPointF best = corners[0];
  qsizetype fewest = -1;
  for (const QPointF& corner : corners) {
    const qsizetype n = has_data_ ? covered(QRectF(corner, size).adjusted(-2, -2, 2, 2)) : 0;
    if (fewest < 0 || n < fewest) {
      fewest = n;
      best = corner;
    }
  }
  text_box_->setPos(best);
}

}  // namespace pitch
