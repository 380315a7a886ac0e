#include "ui/response_chart.h"

#include <QCategoryAxis>
#include <QChart>
#include <QLineSeries>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <limits>

#include "number_text/number_text.h"
#include "ui/plot_overlay.h"

namespace pitch {

namespace {

// The 1-2-5 step at or above a value.
double NiceStepAtLeast(double value) {
  const double magnitude = std::pow(10.0, std::floor(std::log10(value)));
  const double normalized = value / magnitude;
  return (normalized <= 1 ? 1 : normalized <= 2 ? 2 : normalized <= 5 ? 5 : 10) * magnitude;
}

}  // namespace

QString TickLabel(double value, char separator) {
  return QString::fromStdString(FormatNumber(value, separator));
}

AxisTicks NiceTicks(double min, double max, int target_count) {
  // Half the span, which stays finite for any finite ends where max − min can overflow.
  const double half_span = max / 2 - min / 2;
  if (!(half_span > 0) || !std::isfinite(half_span) || target_count < 1) {
    return {};
  }
  const double raw = half_span / target_count * 2;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double normalized = raw / magnitude;
  const double step = normalized < 1.5 ? 1 : normalized < 3.5 ? 2 : normalized < 7.5 ? 5 : 10;
  double interval = step * magnitude;
  // Ticks closer than two units in the last place of the ends would fall together (and an
  // axis that steps from tick to tick would never get past one): take a step that separates them.
  const double largest_end = std::max(std::fabs(min), std::fabs(max));
  const double ulp = largest_end - std::nextafter(largest_end, 0.0);
  if (interval < 2 * ulp) {
    interval = NiceStepAtLeast(2 * ulp);
  }
  const double first = std::ceil(min / interval);
  const double last = std::floor(max / interval);
  AxisTicks ticks;
  ticks.interval = interval;
  ticks.anchor = first * interval;
  ticks.first = first;
  // At most about 1.5 × target_count by the rule above; the bound keeps it so whatever comes.
  ticks.count =
      last >= first ? static_cast<int>(std::min(last - first + 1, 4.0 * target_count)) : 0;
  return ticks;
}

namespace {

// Ticks as categories of the axis, each labelled at its own value with the program's number
// text. (A value axis writes its labels with a printf format, which cannot give that text.)
void FitAxis(QCategoryAxis* axis, double min, double max, char separator) {
  if (!(max > min)) {
    // A flat line has no range of its own; give it a unit around the value, or a small part of
    // the value where a unit is below its last place.
    const double reach = std::max(0.5, std::fabs(min) * 1e-9);
    min = std::max(min - reach, -std::numeric_limits<double>::max());
    max = std::min(max + reach, std::numeric_limits<double>::max());
  }
  for (const QString& label : axis->categoriesLabels()) {
    axis->remove(label);
  }
  axis->setStartValue(min);
  const AxisTicks ticks = NiceTicks(min, max);
  for (int k = 0; k < ticks.count; ++k) {
    axis->append(TickLabel(ticks.Value(k), separator), ticks.Value(k));
  }
  axis->setRange(min, max);
}

}  // namespace

TResponseChart::TResponseChart()
    : owned_(std::make_unique<QChart>()),
      chart_(owned_.get()),
      series_(new QLineSeries),
      axis_x_(new QCategoryAxis),
      axis_y_(new QCategoryAxis),
      overlay_(new TPlotOverlay(chart_, series_, chart_->titleBrush().color())) {
  // The title keeps its place in Qt's layout, but the overlay draws it, centred on the plot area.
  chart_->setTitle(QStringLiteral("Переходной процесс"));
  chart_->setTitleBrush(Qt::transparent);
  chart_->legend()->hide();

  // The series holds the points; the overlay draws them as the red line (see plot_overlay.h).
  QPen pen(QColor(255, 0, 0));
  pen.setWidth(1);
  series_->setPen(pen);
  series_->setPointsVisible(false);
  series_->setPointLabelsVisible(false);
  series_->setVisible(false);
  chart_->addSeries(series_);

  axis_x_->setTitleText(QStringLiteral("t, c"));
  axis_y_->setTitleText(QStringLiteral("h(t)"));
  for (QCategoryAxis* axis : {axis_x_, axis_y_}) {
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  }
  chart_->addAxis(axis_x_, Qt::AlignBottom);
  chart_->addAxis(axis_y_, Qt::AlignLeft);
  series_->attachAxis(axis_x_);
  series_->attachAxis(axis_y_);
  // Before the first curve the axes have no tick labels, but Qt lays an axis out (its title
  // included) only when it has a range and a category: without them both titles stay at the
  // chart's top-left corner. One blank category over the simulation's time span and a unit step
  // gives the empty chart its usual look.
  axis_x_->setStartValue(0);
  axis_x_->append(QStringLiteral(" "), 9.99);
  axis_x_->setRange(0, 9.99);
  axis_y_->setStartValue(0);
  axis_y_->append(QStringLiteral(" "), 1);
  axis_y_->setRange(0, 1);
  // The overlay is the chart's child: it goes with the chart, whoever owns it then.
  TPlotOverlay* overlay = overlay_;
  QObject::connect(chart_, &QChart::plotAreaChanged, chart_, [overlay] { overlay->Relayout(); });
  QObject::connect(chart_, &QGraphicsWidget::geometryChanged, chart_,
                   [overlay] { overlay->Relayout(); });
}

TResponseChart::~TResponseChart() = default;

std::unique_ptr<QChart> TResponseChart::TakeChart() { return std::move(owned_); }

void TResponseChart::SetPoints(const QList<QPointF>& points) {
  series_->replace(points);
  overlay_->update();
  if (points.isEmpty()) {
    return;
  }
  double x_min = points.front().x();
  double x_max = x_min;
  double y_min = points.front().y();
  double y_max = y_min;
  for (const QPointF& p : points) {
    x_min = std::min(x_min, p.x());
    x_max = std::max(x_max, p.x());
    y_min = std::min(y_min, p.y());
    y_max = std::max(y_max, p.y());
  }
  FitAxis(axis_x_, x_min, x_max, separator_);
  FitAxis(axis_y_, y_min, y_max, separator_);
}

void TResponseChart::SetDecimalSeparator(char separator) { separator_ = separator; }

QString RoundedNumber(double value, int digits, char separator) {
  return QString::fromStdString(FormatSignificant(value, digits, separator));
}

void TResponseChart::ShowCharacteristics(const std::optional<analysis::StepCharacteristics>& marks,
                                         bool diverging_iteration) {
  characteristics_.clear();
  if (!marks) {
    overlay_->SetMarks({}, {});
    return;
  }
  const analysis::StepCharacteristics& s = *marks;
  QList<QPointF> points = {{s.peak_time, s.peak}};
  if (s.t10) {
    points.append({*s.t10, 0.1});
  }
  if (s.t90) {
    points.append({*s.t90, 0.9});
  }
  if (diverging_iteration) {
    characteristics_.append(QStringLiteral("итерация Эйлера расходится"));
  }
  const QString c = QStringLiteral(" c");
  characteristics_.append(QStringLiteral("пик %1 при t = %2")
                              .arg(RoundedNumber(s.peak, 4, separator_),
                                   RoundedNumber(s.peak_time, 4, separator_) + c));
  characteristics_.append(QStringLiteral("перерегулирование %1 %")
                              .arg(RoundedNumber(s.overshoot_percent, 4, separator_)));
  if (s.rise_time) {
    characteristics_.append(
        QStringLiteral("нарастание %1").arg(RoundedNumber(*s.rise_time, 4, separator_) + c));
  }
  if (s.settling_time) {
    const double edge = s.final_deviation >= 0 ? 1.02 : 0.98;
    points.append({*s.settling_time, edge});
    characteristics_.append(QStringLiteral("установление (2 %) %1")
                                .arg(RoundedNumber(*s.settling_time, 4, separator_) + c));
  } else {
    characteristics_.append(
        QStringLiteral("не установился за %1").arg(RoundedNumber(s.final_time, 4, separator_) + c));
  }
  overlay_->SetMarks(points, characteristics_);
}

bool TResponseChart::CharacteristicsShown() const { return !characteristics_.isEmpty(); }

QString TResponseChart::CharacteristicsText() const {
  return characteristics_.join(QStringLiteral("; "));
}

QList<QPointF> TResponseChart::CharacteristicsMarks() const { return overlay_->Marks(); }

}  // namespace pitch
