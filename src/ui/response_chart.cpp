#include "ui/response_chart.h"

#include <QChart>
#include <QGraphicsSimpleTextItem>
#include <QLineSeries>
#include <QLocale>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

namespace pitch {

namespace {

// The 1-2-5 step at or above a value.
double NiceStepAtLeast(double value) {
  const double magnitude = std::pow(10.0, std::floor(std::log10(value)));
  const double normalized = value / magnitude;
  return (normalized <= 1 ? 1 : normalized <= 2 ? 2 : normalized <= 5 ? 5 : 10) * magnitude;
}

}  // namespace

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
  ticks.decimals = std::max(0, static_cast<int>(-std::floor(std::log10(interval) + 1e-9)));
  // At most about 1.5 × target_count by the rule above; the bound keeps it so whatever comes.
  ticks.count =
      last >= first ? static_cast<int>(std::min(last - first + 1, 4.0 * target_count)) : 0;
  return ticks;
}

namespace {

void FitAxis(QValueAxis* axis, double min, double max) {
  if (!(max > min)) {
    // A flat line has no range of its own; give it a unit around the value, or a small part of
    // the value where a unit is below its last place.
    const double reach = std::max(0.5, std::fabs(min) * 1e-9);
    min = std::max(min - reach, -std::numeric_limits<double>::max());
    max = std::min(max + reach, std::numeric_limits<double>::max());
  }
  const AxisTicks ticks = NiceTicks(min, max);
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickInterval(ticks.interval);
  axis->setTickAnchor(ticks.anchor);
  axis->setLabelFormat(QStringLiteral("%.%1f").arg(ticks.decimals));
  axis->setRange(min, max);
}

}  // namespace

TResponseChart::TResponseChart()
    : owned_(std::make_unique<QChart>()),
      chart_(owned_.get()),
      series_(new QLineSeries),
      axis_x_(new QValueAxis),
      axis_y_(new QValueAxis) {
  chart_->setTitle(QStringLiteral("Переходной процесс"));
  chart_->legend()->hide();

  QPen pen(QColor(255, 0, 0));
  pen.setWidth(1);
  series_->setPen(pen);
  series_->setPointsVisible(false);
  series_->setPointLabelsVisible(false);
  chart_->addSeries(series_);

  axis_x_->setTitleText(QStringLiteral("t, c"));
  axis_y_->setTitleText(QStringLiteral("h(t)"));
  chart_->addAxis(axis_x_, Qt::AlignBottom);
  chart_->addAxis(axis_y_, Qt::AlignLeft);
  series_->attachAxis(axis_x_);
  series_->attachAxis(axis_y_);
}

TResponseChart::~TResponseChart() = default;

std::unique_ptr<QChart> TResponseChart::TakeChart() { return std::move(owned_); }

void TResponseChart::SetPoints(const QList<QPointF>& points) {
  series_->replace(points);
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
  FitAxis(axis_x_, x_min, x_max);
  FitAxis(axis_y_, y_min, y_max);
}

void TResponseChart::SetDecimalSeparator(char separator) {
  separator_ = separator;
  QLocale locale = separator == ',' ? QLocale(QLocale::Russian) : QLocale::c();
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  chart_->setLocale(locale);
  chart_->setLocalizeNumbers(true);
}

QString ShortNumber(double value, char separator) {
  QString text = QString::number(value, 'g', 4);
  if (separator != '.') {
    text.replace(QLatin1Char('.'), QLatin1Char(separator));
  }
  return text;
}

void TResponseChart::ShowCharacteristics(
    const std::optional<analysis::StepCharacteristics>& marks) {
  if (!marks) {
    if (marks_ != nullptr) {
      chart_->removeSeries(marks_);
      delete marks_;
      marks_ = nullptr;
    }
    delete marks_text_;
    marks_text_ = nullptr;
    return;
  }
  if (marks_ == nullptr) {
    marks_ = new QScatterSeries;
    marks_->setMarkerShape(QScatterSeries::MarkerShapeCircle);
    marks_->setMarkerSize(7);
    marks_->setColor(QColor(0, 90, 200));
    marks_->setBorderColor(QColor(0, 90, 200));
    chart_->addSeries(marks_);
    marks_->attachAxis(axis_x_);
    marks_->attachAxis(axis_y_);
    marks_text_ = new QGraphicsSimpleTextItem(chart_);
  }
  const analysis::StepCharacteristics& s = *marks;
  QList<QPointF> points = {{s.peak_time, s.peak}};
  if (s.t10) {
    points.append({*s.t10, 0.1});
  }
  if (s.t90) {
    points.append({*s.t90, 0.9});
  }
  const QString c = QStringLiteral(" c");
  QString text =
      QStringLiteral("пик %1 при t = %2")
          .arg(ShortNumber(s.peak, separator_), ShortNumber(s.peak_time, separator_) + c);
  text +=
      QStringLiteral("; перерегулирование %1 %").arg(ShortNumber(s.overshoot_percent, separator_));
  if (s.rise_time) {
    text += QStringLiteral("; нарастание %1").arg(ShortNumber(*s.rise_time, separator_) + c);
  }
  if (s.settling_time) {
    const double edge = s.final_deviation >= 0 ? 1.02 : 0.98;
    points.append({*s.settling_time, edge});
    text += QStringLiteral("; установление (2 %) %1")
                .arg(ShortNumber(*s.settling_time, separator_) + c);
  } else {
    text += QStringLiteral("; не установился за %1").arg(ShortNumber(s.final_time, separator_) + c);
  }
  marks_->replace(points);
  marks_text_->setText(text);
  const QRectF plot = chart_->plotArea();
  marks_text_->setPos(plot.left() + 6, plot.bottom() - 22);
}

bool TResponseChart::CharacteristicsShown() const { return marks_ != nullptr; }

QString TResponseChart::CharacteristicsText() const {
  return marks_text_ != nullptr ? marks_text_->text() : QString();
}

}  // namespace pitch
