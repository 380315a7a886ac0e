// The chart builder: titles, the red line, exact axis ranges and tick labels inside them.
#include <QChart>
#include <QLineSeries>
#include <QValueAxis>
#include <QtTest>
#include <cmath>

#include "ui/plot_export.h"
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
  // tick's own value: an axis ending at 9.99 has no label 10.
  void tickLabelsStayInsideTheRange_data() {
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::newRow("time") << 0.0 << 9.99;
    QTest::newRow("response") << 0.0 << 1.1295893362172837;
    QTest::newRow("narrow") << 0.99 << 1.0049;
    QTest::newRow("negative") << -1.09852e305 << 1.57e304;
    QTest::newRow("tiny") << 1e-7 << 3.3e-7;
    QTest::newRow("just under ten") << 0.0 << 9.9999;
  }
  void tickLabelsStayInsideTheRange() {
    QFETCH(double, min);
    QFETCH(double, max);
    const pitch::AxisTicks ticks = NiceTicks(min, max);
    QVERIFY(ticks.interval > 0);
    QVERIFY(ticks.anchor >= min);
    int count = 0;
    for (double t = ticks.anchor; t <= max; t += ticks.interval) {
      const QString label = QString::number(t, 'f', ticks.decimals);
      QVERIFY2(label.toDouble() <= max + 1e-12 * std::fabs(max),
               qPrintable(label + " beyond " + QString::number(max)));
      QVERIFY(label.toDouble() >= min - 1e-12 * std::fabs(min));
      ++count;
    }
    QVERIFY2(count >= 2 && count <= 11, qPrintable(QString::number(count)));
  }

  void characteristicsMarksComeAndGo() {
    TResponseChart builder;
    QChart* chart = builder.chart();
    builder.SetDecimalSeparator(',');
    builder.SetPoints({{0, 0}, {1, 0.5}, {2, 1.2}, {3, 1.0}});
    pitch::analysis::StepCharacteristics s;
    s.peak = 1.2;
    s.peak_time = 2;
    s.overshoot_percent = 20;
    s.t10 = 0.2;
    s.t90 = 1.4;
    s.rise_time = 1.2;
    s.final_time = 3;
    builder.ShowCharacteristics(s);
    QVERIFY(builder.CharacteristicsShown());
    QCOMPARE(chart->series().size(), 2);
    QCOMPARE(builder.CharacteristicsText(),
             QStringLiteral("пик 1,2 при t = 2 c; перерегулирование 20 %; нарастание 1,2 c; "
                            "не установился за 3 c"));
    builder.ShowCharacteristics(std::nullopt);
    QVERIFY(!builder.CharacteristicsShown());
    QCOMPARE(chart->series().size(), 1);
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
    QVERIFY(svg.find("Переходной процесс") != std::string::npos);
    QCOMPARE(pitch::PlotFormatForPath("/a/b.SVG"), pitch::PlotFormat::kSvg);
    QCOMPARE(pitch::PlotFormatForPath("/a/b.png"), pitch::PlotFormat::kPng);
  }
};

QTEST_MAIN(TestResponseChart)
#include "tst_response_chart.moc"
