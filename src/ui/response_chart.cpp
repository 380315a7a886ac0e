#include "ui/response_chart.h"

#include <QChart>
#include <QLineSeries>
#include <QLocale>
#include <QPen>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace pitch {

AxisTicks NiceTicks(double min, double max, int target_count) {
  const double span = max - min;
  if (!(span > 0) || !std::isfinite(span)) {
    return {1.0, std::floor(min), 0};
  }
  const double raw = span / target_count;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double normalized = raw / magnitude;
  const double step = normalized < 1.5 ? 1 : normalized < 3.5 ? 2 : normalized < 7.5 ? 5 : 10;
  const double interval = step * magnitude;
  const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(interval) + 1e-9)));
  return {interval, std::ceil(min / interval) * interval, decimals};
}

namespace {

void FitAxis(QValueAxis* axis, double min, double max) {
  if (!(max > min)) {
    // A flat line has no range of its own; give it a unit around the value.
    min -= 0.5;
    max += 0.5;
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
    : chart_(new QChart),
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
  QLocale locale = separator == ',' ? QLocale(QLocale::Russian) : QLocale::c();
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  chart_->setLocale(locale);
  chart_->setLocalizeNumbers(true);
}

}  // namespace pitch
