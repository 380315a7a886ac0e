// The chart builder: titles, the red line, exact axis ranges and tick labels inside them.
#include <QChart>
#include <QLineSeries>
#include <QValueAxis>
#include <QtTest>
#include <cmath>

#include "ui/response_chart.h"

using pitch::NiceTicks;
using pitch::TResponseChart;

class TestResponseChart : public QObject {
  Q_OBJECT

 private slots:
  void defaultLook() {
    TResponseChart builder;
    QScopedPointer<QChart> chart(builder.chart());
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
  }

  void rangesAreTheDataItself_data() {
    QTest::addColumn<QList<QPointF>>("points");
    QTest::addColumn<double>("x_min");
    QTest::addColumn<double>("x_max");
    QTest::addColumn<double>("y_min");
    QTest::addColumn<double>("y_max");
    QTest::newRow("positive") << QList<QPointF>{{0, 0.0174}, {0.01, 0}, {9.99, 1.12959}} << 0.0
                              << 9.99 << 0.0 << 1.12959;
    QTest::newRow("negative") << QList<QPointF>{{0, -3e5}, {5, -1e305}, {9.99, 2.5}} << 0.0
                              << 9.99 << -1e305 << 2.5;
  }
  void rangesAreTheDataItself() {
    QFETCH(QList<QPointF>, points);
    TResponseChart builder;
    QScopedPointer<QChart> chart(builder.chart());
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
};

QTEST_MAIN(TestResponseChart)
#include "tst_response_chart.moc"
