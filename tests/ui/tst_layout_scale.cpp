// Resolution scaling of the window: the window font's pixel height follows the resolution, and
// when "0" in it is no longer 13 pixels high, every edge, the client size and the labels' fonts
// follow the new height of "0", from Tahoma's own metrics.
#include <QChartView>
#include <QFileDialog>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QtTest>
#include <cmath>

#include "app/error_display.h"
#include "number_text/number_settings.h"
#include "ui/fonts.h"
#include "ui/form_base.h"
#include "ui/layout_scale.h"
#include "ui/save_dialog.h"

using namespace pitch;

namespace {

class SilentBox : public IMessageBox {
 public:
  void ShowCritical(QWidget*, const QString&, const QString&) override {}
};

// A layout edge scaled by the rule: v · zero / 13, rounded.
int Edge(int v, int zero) { return static_cast<int>(std::lround(v * double(zero) / 13)); }
QRect Place(int left, int top, int width, int height, int zero) {
  const QPoint from(Edge(left, zero), Edge(top, zero));
  return QRect(from, QPoint(Edge(left + width, zero) - 1, Edge(top + height, zero) - 1));
}

}  // namespace

class TestLayoutScale : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { EnsureTahoma(); }

  // The height of "0" in Tahoma at 11 · dpi / 96 pixels, and what the rule makes of it.
  void scaleFromTheFontMetrics_data() {
    QTest::addColumn<int>("dpi");
    QTest::addColumn<int>("font_pixels");
    QTest::addColumn<int>("zero");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<int>("label_pixels");
    QTest::newRow("96 dpi") << 96 << 11 << 13 << QSize(794, 572) << 16;
    QTest::newRow("120 dpi") << 120 << 14 << 17 << QSize(1038, 748) << 22;
    QTest::newRow("144 dpi") << 144 << 17 << 21 << QSize(1283, 924) << 26;
  }
  void scaleFromTheFontMetrics() {
    QFETCH(int, dpi);
    QFETCH(int, font_pixels);
    QFETCH(int, zero);
    QFETCH(QSize, client);
    QFETCH(int, label_pixels);
    QCOMPARE(QFontInfo(Tahoma(11)).family(), QStringLiteral("Tahoma"));
    const LayoutScale scale = LayoutScale::ForDpi(dpi);
    QCOMPARE(scale.FontPixels(), font_pixels);
    // Windows' text height of the font: its ascent and descent from the OS/2 table.
    QCOMPARE(WindowsMetrics(Tahoma(font_pixels)).height, zero);
    QCOMPARE(scale.ZeroHeight(), zero);
    QCOMPARE(scale.Apply(QSize(794, 572)), client);
    QCOMPARE(scale.LabelFontPixels(), label_pixels);

    SilentBox box;
    TErrorDisplay errors(box, QStringLiteral("Tst"));
    NumberSettings settings{',', "CP1251"};
    TFormBase window(errors, settings, nullptr, dpi);
    QCOMPARE(window.size(), client);
    QCOMPARE(window.minimumSize(), client);
    QCOMPARE(window.maximumSize(), client);
    QCOMPARE(window.font().pixelSize(), font_pixels);
    const QList<std::pair<QWidget*, QRect>> places = {
        {window.Edit1, Place(136, 40, 121, 21, zero)},
        {window.Edit4, Place(137, 121, 121, 21, zero)},
        {window.Edit9, Place(472, 121, 121, 21, zero)},
        {window.Chart1, Place(8, 175, 768, 379, zero)},
        {window.CalcPlot, Place(663, 32, 105, 25, zero)},
        {window.SaveExit, Place(663, 96, 105, 25, zero)},
    };
    for (const auto& [control, place] : places) {
      QCOMPARE(control->geometry(), place);
      QCOMPARE(control->font().pixelSize(), font_pixels);
    }
    // Labels: their place scaled, their font from the scaled point size, their size their own.
    const QList<std::pair<QLabel*, QPoint>> labels = {
        {window.Label1, {8, 8}}, {window.Label2, {97, 38}}, {window.Label10, {394, 90}}};
    for (const auto& [label, at] : labels) {
      QCOMPARE(label->pos(), QPoint(Edge(at.x(), zero), Edge(at.y(), zero)));
      QCOMPARE(label->font().pixelSize(), label_pixels);
      QCOMPARE(label->size(), label->sizeHint());
    }
    // The longest caption still fits between its place and the result boxes.
    QVERIFY(window.Label1->geometry().right() < window.Label7->geometry().left());
  }

  // The window takes the logical resolution of its screen (run once at 96 dpi and once with
  // QT_FONT_DPI=120 and Qt's own scaling off, as the program runs).
  void windowFollowsItsScreen() {
    SilentBox box;
    TErrorDisplay errors(box, QStringLiteral("Tst"));
    NumberSettings settings{',', "CP1251"};
    TFormBase window(errors, settings);
    const int dpi = static_cast<int>(std::lround(window.screen()->logicalDotsPerInchY()));
    QCOMPARE(window.Scale().dpi(), dpi);
    const int expected_dpi = qEnvironmentVariableIntValue("QT_FONT_DPI");
    if (expected_dpi > 0) {
      QCOMPARE(dpi, expected_dpi);
    }
    QCOMPARE(window.size(), LayoutScale::ForDpi(dpi).Apply(QSize(794, 572)));
    // The save dialog by the same rule, within the screen (issue 28: 780x460 at 144 dpi).
    const std::unique_ptr<QFileDialog> dialog =
        MakeSaveFileDialog(&window, QString(), TSaveDialog::Filters());
    const QSize room = window.screen()->availableGeometry().size() - QSize(16, 48);
    QCOMPARE(dialog->size(), LayoutScale::ForDpi(dpi).Apply(QSize(780, 460)).boundedTo(room));
    // Every place on the left whole (issue 28: "Компьютер" was cut).
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    auto* sidebar = dialog->findChild<QListView*>(QStringLiteral("sidebar"));
    QVERIFY(sidebar != nullptr);
    QVERIFY(sidebar->model()->rowCount() > 0);
    for (int row = 0; row < sidebar->model()->rowCount(); ++row) {
      const QModelIndex index = sidebar->model()->index(row, 0);
      QVERIFY2(sidebar->sizeHintForIndex(index).width() <= sidebar->viewport()->width(),
               qPrintable(index.data().toString()));
    }
  }
};

QTEST_MAIN(TestLayoutScale)
#include "tst_layout_scale.moc"
