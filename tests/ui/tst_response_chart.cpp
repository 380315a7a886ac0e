// The chart builder: titles, the red line, exact axis ranges and tick labels inside them.
#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>
#include <QtTest>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "common/generated_locale.h"
#include "ui/plot_export.h"
#include "ui/plot_overlay.h"
#include "ui/response_chart.h"

using pitch::NiceTicks;
using pitch::TResponseChart;

class TestResponseChart : public QObject {
  Q_OBJECT

 private slots:
  void defaultLook() {
    TResponseChart builder;
    QChart* chart = builder.chart();
    QCOMPARE(chart->title(), QStringLiteral("Переходной процесс"));
    QVERIFY(!chart->legend()->isVisible());
    QCOMPARE(builder.axisX()->titleText(), QStringLiteral("t, c"));
    QCOMPARE(builder.axisY()->titleText(), QStringLiteral("h(t)"));
    QCOMPARE(builder.axisX()->alignment(), Qt::AlignBottom);
    QCOMPARE(builder.axisY()->alignment(), Qt::AlignLeft);
    QCOMPARE(builder.series()->pen().color(), QColor(255, 0, 0));
    QCOMPARE(builder.series()->pen().width(), 1);
    QVERIFY(!builder.series()->pointsVisible());
    QVERIFY(!builder.series()->pointLabelsVisible());
    QCOMPARE(builder.series()->count(), 0);
    // The chart goes to one owner, once; the builder keeps working on it.
    std::unique_ptr<QChart> taken = builder.TakeChart();
    QCOMPARE(taken.get(), chart);
    QVERIFY(!builder.TakeChart());
    builder.SetPoints({{0, 1}, {1, 2}});
    QCOMPARE(chart->series().constFirst()->type(), QAbstractSeries::SeriesTypeLine);
    QCOMPARE(builder.series()->count(), 2);
  }

  void rangesAreTheDataItself_data() {
    QTest::addColumn<QList<QPointF>>("points");
    QTest::addColumn<double>("x_min");
    QTest::addColumn<double>("x_max");
    QTest::addColumn<double>("y_min");
    QTest::addColumn<double>("y_max");
    QTest::newRow("positive") << QList<QPointF>{{0, 0.0174}, {0.01, 0}, {9.99, 1.12959}} << 0.0
                              << 9.99 << 0.0 << 1.12959;
    QTest::newRow("negative") << QList<QPointF>{{0, -3e5}, {5, -1e305}, {9.99, 2.5}} << 0.0 << 9.99
                              << -1e305 << 2.5;
  }
  void rangesAreTheDataItself() {
    QFETCH(QList<QPointF>, points);
    TResponseChart builder;
    builder.SetPoints(points);
    QCOMPARE(builder.series()->count(), points.size());
    QFETCH(double, x_min);
    QFETCH(double, x_max);
    QFETCH(double, y_min);
    QFETCH(double, y_max);
    QCOMPARE(builder.axisX()->min(), x_min);
    QCOMPARE(builder.axisX()->max(), x_max);
    QCOMPARE(builder.axisY()->min(), y_min);
    QCOMPARE(builder.axisY()->max(), y_max);
  }

  // Every tick lies inside the range, and its label, written with the axis's decimals, is the
  // tick's own value: an axis ending at 9.99 has no label 10. Ticks are few and distinct, also
  // for a span beyond the double range or of a few units in the last place.
  void tickLabelsStayInsideTheRange_data() {
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<int>("min_count");
    const double top = std::numeric_limits<double>::max();
    QTest::newRow("time") << 0.0 << 9.99 << 2;
    QTest::newRow("response") << 0.0 << 1.1295893362172837 << 2;
    QTest::newRow("narrow") << 0.99 << 1.0049 << 2;
    QTest::newRow("negative") << -1.09852e305 << 1.57e304 << 2;
    QTest::newRow("tiny") << 1e-7 << 3.3e-7 << 2;
    QTest::newRow("just under ten") << 0.0 << 9.9999 << 2;
    QTest::newRow("span beyond the double range") << -1.5e308 << 1.5e308 << 2;
    QTest::newRow("the whole double range") << -top << top << 2;
    QTest::newRow("two units in the last place") << 1e20 << std::nextafter(1e20 + 16384, 2e20) << 1;
    QTest::newRow("one unit in the last place") << 1e20 << std::nextafter(1e20, 2e20) << 0;
  }
  void tickLabelsStayInsideTheRange() {
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(int, min_count);
    const pitch::AxisTicks ticks = NiceTicks(min, max);
    const auto hex = [](double v) {
      char text[40];
      std::snprintf(text, sizeof text, "%a", v);
      return QString::fromLatin1(text);
    };
    QVERIFY2(ticks.interval > 0 && std::isfinite(ticks.interval), qPrintable(hex(ticks.interval)));
    QVERIFY2(ticks.count >= min_count && ticks.count <= 11,
             qPrintable(QString::number(ticks.count)));
    for (int k = 0; k < ticks.count; ++k) {
      const double t = ticks.Value(k);
      QVERIFY2(t >= min && t <= max,
               qPrintable(hex(t) + " outside " + hex(min) + " … " + hex(max)));
      QVERIFY2(k == 0 || t > ticks.Value(k - 1), qPrintable(hex(t) + " repeats"));
      // The label is the tick's value in at most 15 digits: no label claims a value beyond
      // the range (an axis ending at 9.99 has no label 10).
      const double label = pitch::TickLabel(t, '.').toDouble();
      QVERIFY2(label <= max + 1e-14 * std::fabs(max),
               qPrintable(hex(label) + " beyond " + hex(max)));
      QVERIFY2(label >= min - 1e-14 * std::fabs(min),
               qPrintable(hex(label) + " below " + hex(min)));
    }
    // The next tick after the last one is beyond the range: none is left out.
    QVERIFY2(ticks.count == 0 || ticks.Value(ticks.count) > max ||
                 !std::isfinite(ticks.Value(ticks.count)),
             qPrintable(hex(ticks.Value(ticks.count))));
  }

  // The window and the renderer run under the user's locale (QApplication sets the C library's to
  // it): under ps_AF.UTF-8, whose decimal point is a two-byte character, the tick labels and the
  // characteristics' numbers are the program's number text, as under the C locale.
  void labelsIgnoreTheCLibrarysLocale() {
    pitch::testing::GeneratedLocales locales;
    const std::string problem = locales.Build("ps_AF", "UTF-8", "ps_AF.UTF-8");
    if (!problem.empty()) {
      QSKIP(problem.c_str());
    }
    const QList<QPointF> points = {{0, 0}, {9.99, 0.2573}};
    const auto labels = [&points](char separator) {
      TResponseChart builder;
      builder.SetDecimalSeparator(separator);
      builder.SetPoints(points);
      return builder.axisX()->categoriesLabels() + builder.axisY()->categoriesLabels() +
             QStringList{pitch::RoundedNumber(1.02573e293, 4, separator)};
    };
    const std::string before = std::setlocale(LC_ALL, nullptr);
    const QStringList in_c_comma = labels(',');
    const QStringList in_c_stop = labels('.');
    QVERIFY(std::setlocale(LC_ALL, "ps_AF.UTF-8") != nullptr);
    const QStringList comma = labels(',');
    const QStringList stop = labels('.');
    std::setlocale(LC_ALL, before.c_str());
    QCOMPARE(comma, in_c_comma);
    QCOMPARE(stop, in_c_stop);
    QVERIFY2(stop.contains(QStringLiteral("0.05")) && stop.contains(QStringLiteral("1.026E293")),
             qPrintable(stop.join(QLatin1Char(' '))));
  }

  // Drawing a chart whose values span more than the double range finishes (it used to step
  // through the axis one unit at a time), and so does a flat line far from zero.
  void extremeRangesAreDrawn_data() {
    QTest::addColumn<QList<QPointF>>("points");
    QTest::newRow("span beyond the double range") << QList<QPointF>{{0, -1.5e308}, {9.99, 1.5e308}};
    QTest::newRow("flat far from zero") << QList<QPointF>{{0, 1e300}, {9.99, 1e300}};
    QTest::newRow("a unit in the last place apart")
        << QList<QPointF>{{0, 1e20}, {9.99, std::nextafter(1e20, 2e20)}};
  }
  void extremeRangesAreDrawn() {
    QFETCH(QList<QPointF>, points);
    const std::string png =
        pitch::RenderResponsePlot(points, QSize(768, 379), ',', pitch::PlotFormat::kPng);
    QCOMPARE(QImage::fromData(QByteArray::fromStdString(png), "PNG").size(), QSize(768, 379));
  }

  void characteristicsMarksComeAndGo_data() {
    QTest::addColumn<bool>("rises");
    QTest::addColumn<double>("settling_time");  // NaN: not settled within the samples
    QTest::addColumn<double>("final_deviation");
    QTest::addColumn<QString>("text_tail");
    QTest::addColumn<QList<QPointF>>("marks");
    const QList<QPointF> rise = {{2, 1.2}, {0.2, 0.1}, {1.4, 0.9}};
    QTest::newRow("not settled") << true << qQNaN() << 0.05
                                 << "; нарастание 1,2 c; не установился за 3 c" << rise;
    // The settling point sits on the edge of the 2 % band that the curve stays inside from then
    // on: the upper edge when it ends above 1, the lower one when it ends below.
    QTest::newRow("settled from above")
        << true << 2.5 << 0.01 << "; нарастание 1,2 c; установление (2 %) 2,5 c"
        << rise + QList<QPointF>{{2.5, 1.02}};
    QTest::newRow("settled from below")
        << true << 2.5 << -0.01 << "; нарастание 1,2 c; установление (2 %) 2,5 c"
        << rise + QList<QPointF>{{2.5, 0.98}};
    QTest::newRow("settled exactly at 1")
        << true << 0.75 << 0.0 << "; нарастание 1,2 c; установление (2 %) 0,75 c"
        << rise + QList<QPointF>{{0.75, 1.02}};
    QTest::newRow("never rises") << false << qQNaN() << -1.0 << "; не установился за 3 c"
                                 << QList<QPointF>{{2, 1.2}};
  }
  void characteristicsMarksComeAndGo() {
    QFETCH(bool, rises);
    QFETCH(double, settling_time);
    QFETCH(double, final_deviation);
    QFETCH(QString, text_tail);
    QFETCH(QList<QPointF>, marks);
    TResponseChart builder;
    QChart* chart = builder.chart();
    builder.SetDecimalSeparator(',');
    builder.SetPoints({{0, 0}, {1, 0.5}, {2, 1.2}, {3, 1.0}});
    pitch::analysis::StepCharacteristics s;
    s.peak = 1.2;
    s.peak_time = 2;
    s.overshoot_percent = 20;
    if (rises) {
      s.t10 = 0.2;
      s.t90 = 1.4;
      s.rise_time = 1.2;
    }
    if (!std::isnan(settling_time)) {
      s.settling_time = settling_time;
    }
    s.final_time = 3;
    s.final_deviation = final_deviation;
    builder.ShowCharacteristics(s);
    QVERIFY(builder.CharacteristicsShown());
    QCOMPARE(builder.CharacteristicsText(),
             QStringLiteral("пик 1,2 при t = 2 c; перерегулирование 20 %") + text_tail);
    QCOMPARE(builder.CharacteristicsMarks(), marks);
    builder.ShowCharacteristics(std::nullopt);
    QVERIFY(!builder.CharacteristicsShown());
    QVERIFY(builder.CharacteristicsMarks().isEmpty());
    QVERIFY(builder.overlay().TextBox().isEmpty());
    QCOMPARE(chart->series().size(), 1);
  }

  // Numbers in the characteristics' text are the program's number text rounded to four digits,
  // as the axes write them, and a diverging Euler iteration is said first.
  void characteristicsNumbersAndDivergence_data() {
    QTest::addColumn<double>("peak");
    QTest::addColumn<double>("overshoot");
    QTest::addColumn<bool>("diverging");
    QTest::addColumn<QString>("text");
    QTest::newRow("ordinary") << 1.12958933621728 << 12.958933621728 << false
                              << "пик 1,13 при t = 3,05 c; перерегулирование 12,96 %";
    QTest::newRow("diverging to 1e293")
        << 1.0263e293 << 1.0263e295 << true
        << "итерация Эйлера расходится; пик 1,026E293 при t = 3,05 c; "
           "перерегулирование 1,026E295 %";
    QTest::newRow("overshoot of hundreds of thousands")
        << 5862.4 << 586140.0 << true
        << "итерация Эйлера расходится; пик 5862 при t = 3,05 c; перерегулирование 5,861E5 %";
  }
  void characteristicsNumbersAndDivergence() {
    QFETCH(double, peak);
    QFETCH(double, overshoot);
    QFETCH(bool, diverging);
    QFETCH(QString, text);
    TResponseChart builder;
    builder.SetDecimalSeparator(',');
    builder.SetPoints({{0, 0}, {3.05, peak}, {9.99, 1}});
    pitch::analysis::StepCharacteristics s;
    s.peak = peak;
    s.peak_time = 3.05;
    s.overshoot_percent = overshoot;
    s.final_time = 9.99;
    builder.ShowCharacteristics(s, diverging);
    QVERIFY2(builder.CharacteristicsText().startsWith(text),
             qPrintable(builder.CharacteristicsText()));
  }

  // Before the first curve the chart shows its title and both axis titles in their places: the
  // time axis's title below the plot area, the response's to its left, apart from each other.
  void emptyChartKeepsItsTitlesInPlace() {
    TResponseChart builder;
    QGraphicsScene scene;
    QChart* chart = builder.chart();
    scene.addItem(builder.TakeChart().release());
    chart->setGeometry(QRectF(0, 0, 768, 379));
    QApplication::processEvents();
    QRectF x_title;
    QRectF y_title;
    for (QGraphicsItem* item : scene.items()) {
      if (const auto* text = dynamic_cast<QGraphicsTextItem*>(item); text && text->isVisible()) {
        const QRectF at = text->mapRectToScene(text->boundingRect());
        if (text->toPlainText() == QStringLiteral("t, c")) {
          x_title = at;
        } else if (text->toPlainText() == QStringLiteral("h(t)")) {
          y_title = at;
        }
      }
    }
    const QRectF plot = chart->plotArea();
    QVERIFY(!x_title.isEmpty() && !y_title.isEmpty());
    QVERIFY(plot.width() > 500 && plot.height() > 250);
    QVERIFY2(x_title.top() >= plot.bottom() - 1,
             qPrintable(QString::number(x_title.top()) + " " + QString::number(plot.bottom())));
    QVERIFY(std::abs(x_title.center().x() - plot.center().x()) < 5);
    QVERIFY2(y_title.right() <= plot.left() + 1,
             qPrintable(QString::number(y_title.right()) + " " + QString::number(plot.left())));
    QVERIFY(std::abs(y_title.center().y() - plot.center().y()) < 5);
    QVERIFY(!x_title.intersects(y_title));
  }

  // A mark on the plot area's top edge (the peak) is centred on the curve and drawn whole, over
  // the edge.
  void peakMarkSitsOnTheCurve() {
    TResponseChart builder;
    QGraphicsScene scene;
    QChart* chart = builder.chart();
    scene.addItem(builder.TakeChart().release());
    QList<QPointF> points;
    for (int i = 0; i < 1000; ++i) {
      const double t = i / 100.0;
      points.append(QPointF(t, 1 - std::exp(-0.9 * t) * std::cos(1.1 * t)));
    }
    builder.SetPoints(points);
    const QSize size(768, 379);
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    const auto peak = std::max_element(points.begin(), points.end(),
                                       [](auto a, auto b) { return a.y() < b.y(); });
    pitch::analysis::StepCharacteristics s;
    s.peak = peak->y();
    s.peak_time = peak->x();
    s.final_time = 9.99;
    builder.ShowCharacteristics(s);
    const QPointF on_curve = chart->mapToPosition(*peak, builder.series());
    QCOMPARE(builder.overlay().MarkPositions().constFirst(), on_curve);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      scene.render(&painter, QRectF(QPointF(0, 0), size), QRectF(QPointF(0, 0), size));
    }
    const auto blue = [&](int x, int y) {
      const QColor c = image.pixelColor(x, y);
      return c.blue() > 150 && c.red() < 100;
    };
    // The blue rows of the mark's column at the peak reach as far above the curve as below it.
    const int x = static_cast<int>(std::floor(on_curve.x()));
    const int y = static_cast<int>(std::floor(on_curve.y()));
    int first = -1;
    int last = -1;
    for (int row = y - 8; row <= y + 8; ++row) {
      if (row >= 0 && blue(x, row)) {
        first = first < 0 ? row : first;
        last = row;
      }
    }
    const double centre = (first + last + 1) / 2.0;
    QVERIFY2(first >= 0 && first < y && std::abs(centre - on_curve.y()) <= 1,
             qPrintable(QStringLiteral("rows %1 to %2, the curve at %3")
                            .arg(first)
                            .arg(last)
                            .arg(on_curve.y())));
  }

  // The curve is drawn whole at every scale: at a device pixel ratio of 1.5 every pixel column
  // between the first and the last sample holds red, also at the peak, which lies on the top
  // edge of the plot area.
  void curveIsWholeAtEveryScale_data() {
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("96 dpi") << qreal(1.0);
    QTest::newRow("120 dpi") << qreal(1.25);
    QTest::newRow("144 dpi") << qreal(1.5);
    QTest::newRow("192 dpi") << qreal(2.0);
  }
  void curveIsWholeAtEveryScale() {
    QFETCH(qreal, ratio);
    QList<QPointF> points;
    for (int i = 0; i < 1000; ++i) {  // a damped step response with its peak near 3 s
      const double t = i / 100.0;
      points.append(QPointF(t, 1 - std::exp(-0.9 * t) * std::cos(1.1 * t)));
    }
    TResponseChart builder;
    QGraphicsScene scene;
    QChart* chart = builder.chart();
    scene.addItem(builder.TakeChart().release());
    builder.SetPoints(points);
    const QSize size(768, 379);
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      scene.render(&painter, QRectF(QPointF(0, 0), size), QRectF(QPointF(0, 0), size));
    }
    const QRectF plot = chart->plotArea();
    const auto red = [&](int x, int y) {
      const QColor c = image.pixelColor(x, y);
      return c.red() > 150 && c.green() < 120 && c.blue() < 120;
    };
    QList<int> empty;
    const int left = static_cast<int>(std::ceil(plot.left() * ratio)) + 1;
    const int right = static_cast<int>(std::floor(plot.right() * ratio)) - 1;
    for (int x = left; x <= right; ++x) {
      bool found = false;
      for (int y = 0; y < image.height() && !found; ++y) {
        found = red(x, y);
      }
      if (!found) {
        empty.append(x);
      }
    }
    QVERIFY2(empty.isEmpty(), qPrintable(QStringLiteral("%1 columns without the curve, first %2")
                                             .arg(empty.size())
                                             .arg(empty.value(0))));
  }

  void pngAndSvgPictures() {
    QList<QPointF> points;
    for (int i = 0; i < 100; ++i) {
      points.append(QPointF(i / 10.0, 1 - std::exp(-i / 20.0)));
    }
    const std::string png =
        pitch::RenderResponsePlot(points, QSize(768, 379), '.', pitch::PlotFormat::kPng);
    QCOMPARE(QByteArray::fromStdString(png.substr(0, 4)), QByteArray("\x89PNG"));
    const QImage image = QImage::fromData(QByteArray::fromStdString(png), "PNG");
    QCOMPARE(image.size(), QSize(768, 379));
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        red += c.red() > 200 && c.green() < 60 && c.blue() < 60 ? 1 : 0;
      }
    }
    QVERIFY2(red > 300, qPrintable(QString::number(red)));  // the curve spans the plot

    const std::string svg =
        pitch::RenderResponsePlot(points, QSize(400, 300), '.', pitch::PlotFormat::kSvg);
    QVERIFY(svg.rfind("<?xml", 0) == 0);
    QVERIFY(svg.find("<svg") != std::string::npos);
    // The title's text once, the overlay's (Qt's transparent title item would write it again,
    // found twice by a search), and once more as the document's title.
    const QString text = QString::fromStdString(svg);
    QCOMPARE(text.count(QStringLiteral(">Переходной процесс</text>")), 1);
    QCOMPARE(text.count(QStringLiteral("Переходной процесс")), 2);
    QCOMPARE(pitch::PlotFormatForPath("/a/b.SVG"), pitch::PlotFormat::kSvg);
    QCOMPARE(pitch::PlotFormatForPath("/a/b.png"), pitch::PlotFormat::kPng);
  }
};

QTEST_MAIN(TestResponseChart)
#include "tst_response_chart.moc"
