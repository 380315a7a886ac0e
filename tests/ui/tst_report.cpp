// Reopening a results file in the window (argument, drop) and the one-page PDF report: its text
// layer read back by pdftotext and its page rendered by pdftoppm.
#include <QAction>
#include <QChartView>
#include <QLineEdit>
#include <QLineSeries>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/error_display.h"
#include "core/controller.h"
#include "number_text/number_settings.h"
#include "number_text/number_text.h"
#include "program_window.h"
#include "storage/results_reader.h"
#include "storage/storage.h"
#include "ui/bode_chart.h"
#include "ui/fonts.h"
#include "ui/form_base.h"
#include "ui/report_pdf.h"
#include "ui/wiring.h"

using namespace pitch;
namespace fs = std::filesystem;

namespace {

// Runs a poppler tool with a fixed environment; returns its standard output.
QByteArray RunTool(const QString& tool, const QStringList& arguments) {
  const QString program = QStandardPaths::findExecutable(tool);
  if (program.isEmpty()) {
    qFatal("%s is missing: scripts/install-deps installs poppler-utils", qPrintable(tool));
  }
  QProcess process;
  QProcessEnvironment environment;
  environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
  environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  process.setProcessEnvironment(environment);
  process.start(program, arguments);
  if (!process.waitForFinished(60000) || process.exitCode() != 0) {
    qFatal("%s failed: %s", qPrintable(tool), process.readAllStandardError().constData());
  }
  return process.readAllStandardOutput();
}

// The page's text as pdftotext reads it, with its line breaks and runs of blanks as one space.
QString PdfText(const QString& pdf) {
  return QString::fromUtf8(RunTool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}))
      .simplified();
}

// The page at 96 dpi, the report's own unit, so that its layout rectangles are pixels.
QImage PdfPage(const QString& pdf) {
  QImage page;
  page.loadFromData(RunTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("96"),
                                                         QStringLiteral("-singlefile"), pdf}),
                    "PPM");
  return page;
}

// The columns of an area that hold a pixel of the curve. The chart draws it in pure red; where
// it blends with the white, red stays near 255 while green and blue rise together (the dark red
// of an error text reaches that red only when green is near it too).
int RedColumns(const QImage& page, const QRect& area) {
  int columns = 0;
  for (int x = std::max(0, area.left()); x <= std::min(page.width() - 1, area.right()); ++x) {
    for (int y = std::max(0, area.top()); y <= std::min(page.height() - 1, area.bottom()); ++y) {
      const QColor c = page.pixelColor(x, y);
      if (c.red() > 230 && c.green() < 130 && std::abs(c.green() - c.blue()) < 12) {
        ++columns;
        break;
      }
    }
  }
  return columns;
}

// A results file as "Save and Exit" writes it, in a code page with a separator.
void SaveResults(const std::string& path, const NumberSettings& settings,
                 const std::array<Real, 5>& c) {
  struct Inputs : TBorder {
  } inputs;
  inputs.c1 = c[0];
  inputs.c2 = c[1];
  inputs.c3 = c[2];
  inputs.c4 = c[3];
  inputs.c5 = c[4];
  inputs.FileName = path;
  TController controller;
  TStorage storage(settings);
  controller.ConnectBorder(&inputs);
  controller.ConnectStorage(&storage);
  controller.TakeCoefficients();
  controller.ComputeGearRatios();
  controller.PassInputsToStorage();
  controller.PassRatiosToStorage();
  storage.WriteResults();
}

}  // namespace

class TestReport : public QObject, testing::ProgramWindow {
  Q_OBJECT

 private:
  QStringList Inputs() {
    return {w().Edit1->text(), w().Edit2->text(), w().Edit3->text(), w().Edit4->text(),
            w().Edit5->text()};
  }
  QStringList Results() {
    return {w().Edit6->text(), w().Edit7->text(), w().Edit8->text(), w().Edit9->text()};
  }
  // Saves the report of the last calculation through the chart's menu.
  QString SaveReport(const char* name) {
    chooser_->answer = Path(name);
    w().SaveReportAction->trigger();
    return chooser_->answer;
  }

 private slots:
  void initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    EnsureTahoma();
    NameFolder("pitch-report-");
  }

  void init() { QVERIFY(OpenWindow(NumberSettings{',', "UTF-8"}, QStringLiteral("Tst_report"))); }

  void cleanup() { CloseWindow(); }

  // A file written under any code page and separator opens with the window's separator and is
  // calculated at once: the boxes hold the file's texts, the results its ratios. The window's
  // locale has the file's code page.
  void openResultsFile_data() {
    QTest::addColumn<QString>("code_page");
    QTest::addColumn<char>("file_separator");
    QTest::addColumn<char>("window_separator");
    QTest::newRow("UTF-8, comma") << "UTF-8" << ',' << ',';
    QTest::newRow("CP1251, comma, window full stop") << "CP1251" << ',' << '.';
    QTest::newRow("ASCII, full stop, window comma") << "ASCII" << '.' << ',';
    QTest::newRow("KOI8-R, full stop") << "KOI8-R" << '.' << '.';
    QTest::newRow("EUC-JP, full stop, window comma") << "EUC-JP" << '.' << ',';
    QTest::newRow("GB18030, full stop") << "GB18030" << '.' << '.';
  }
  void openResultsFile() {
    QFETCH(QString, code_page);
    QFETCH(char, file_separator);
    QFETCH(char, window_separator);
    const std::array<Real, 5> c = {0.9, 0.45, 6.5, 1.1, 0.3};
    const QString file = Path("Result_1");
    SaveResults(file.toStdString(), {file_separator, code_page.toStdString()}, c);
    const ResultsFileContent content = ReadResultsFile(file.toStdString(), code_page.toStdString());
    settings_ = NumberSettings{window_separator, code_page.toStdString()};

    w().OpenResultsFile(file);
    QCOMPARE(box_->Texts(), QStringList());
    QStringList inputs;
    for (Real v : c) {
      inputs << QString::fromStdString(FormatNumber(v, window_separator));
    }
    QCOMPARE(Inputs(), inputs);
    QStringList ratios;
    for (const ResultsNumber& r : content.ratios) {
      ratios << QString::fromStdString(TextWithSeparator(r, window_separator));
    }
    QCOMPARE(Results(), ratios);
    QVERIFY(w().Edit6->isVisible());
    QCOMPARE(w().Series1->count(), 1000);
  }

  // A file that is not a results file: the error names the line, the window is unchanged. The
  // number's text is shown whole, a NUL byte in it escaped.
  void badFileLeavesTheWindowAsItWas_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("message");
    QTest::newRow("a word") << QByteArray("c2 = zero")
                            << QStringLiteral(
                                   ", line 3: 'zero' is not a valid floating point value.");
    QTest::newRow("a NUL byte")
        << QByteArray("c2 = 0,45\0", 10)
        << QStringLiteral(", line 3: '0,45\\x00' is not a valid floating point value.");
  }
  void badFileLeavesTheWindowAsItWas() {
    QFETCH(QByteArray, line);
    QFETCH(QString, message);
    QTest::mouseClick(w().CalcPlot, Qt::LeftButton);
    const QStringList inputs = Inputs();
    const QStringList results = Results();
    const QString file = Path("notes.txt");
    std::ofstream(file.toStdString(), std::ios::binary)
        << "Коэффициенты линейной модели ЛА:\r\nc1 = 0,9\r\n"
        << line.toStdString() << "\r\n";
    const QList<QUrl> urls = {QUrl::fromLocalFile(file)};
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(400, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(400, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w(), &drop);
    QCOMPARE(box_->Texts().size(), 1);
    QCOMPARE(box_->Texts()[0], file + message);
    QCOMPARE(Inputs(), inputs);
    QCOMPARE(Results(), results);
  }

  // A dropped results file opens like an argument wherever it lands, always as a copy (a source
  // that honoured a move would delete the file); two arguments are refused. (issue 28: a drop on
  // the chart was refused, one on a box wrote the path into it, a move was accepted.)
  void dropAnywhereAsACopy_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("proposed");
    QTest::newRow("window background") << "window" << int(Qt::CopyAction);
    QTest::newRow("input box c2") << "c2" << int(Qt::CopyAction);
    QTest::newRow("chart") << "chart" << int(Qt::CopyAction);
    QTest::newRow("move proposed on a box") << "c2" << int(Qt::MoveAction);
    QTest::newRow("move proposed on the window") << "window" << int(Qt::MoveAction);
  }
  void dropAnywhereAsACopy() {
    QFETCH(QString, target);
    QFETCH(int, proposed);
    QWidget* on = target == "c2"      ? static_cast<QWidget*>(w().Edit2)
                  : target == "chart" ? w().Chart1->viewport()
                                      : static_cast<QWidget*>(&w());
    const QString file = Path("Result_2");
    SaveResults(file.toStdString(), {'.', "CP1251"}, {0.9, 0.45, 6.5, 1.1, 0.3});
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(file)});
    const QPointF middle = QRectF(on->rect()).center();
    const auto action = static_cast<Qt::DropAction>(proposed);
    QDragEnterEvent enter(middle.toPoint(), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                          Qt::NoModifier);
    enter.setDropAction(action);
    QApplication::sendEvent(on, &enter);
    QVERIFY(enter.isAccepted());
    QCOMPARE(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(middle, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    drop.setDropAction(action);
    QApplication::sendEvent(on, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(drop.dropAction(), Qt::CopyAction);
    QCOMPARE(box_->Texts(), QStringList());
    QCOMPARE(Inputs(), QStringList({"0,9", "0,45", "6,5", "1,1", "0,3"}));
    QCOMPARE(w().Series1->count(), 1000);
  }

  // Dragged text still goes into a box; only a file is the window's.
  void dragOfTextIsLeftToTheBox() {
    QMimeData mime;
    mime.setText(QStringLiteral("0,5"));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w().Edit2, &enter);
    QVERIFY(enter.isAccepted());  // by the box itself
    QDragEnterEvent on_window(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    on_window.ignore();
    QApplication::sendEvent(&w(), &on_window);
    QVERIFY(!on_window.isAccepted());
  }

  void twoArgumentsAreRefused() {
    const QString file = Path("Result_2");
    SaveResults(file.toStdString(), {'.', "CP1251"}, {0.9, 0.45, 6.5, 1.1, 0.3});
    QVERIFY_THROWS_EXCEPTION(EResultsFileError, w().OpenArguments({file, file}));
    QCOMPARE(w().Edit3->text(), QStringLiteral("7,028"));
    w().OpenArguments({});
    QCOMPARE(w().Edit3->text(), QStringLiteral("7,028"));
    w().OpenArguments({file});
    QCOMPARE(w().Edit3->text(), QStringLiteral("6,5"));
  }

  // The report's text layer holds every number as the window shows it, the page the curve where
  // the chart is.
  void reportOfACalculation_data() {
    QTest::addColumn<char>("separator");
    QTest::newRow("comma") << ',';
    QTest::newRow("full stop") << '.';
  }
  void reportOfACalculation() {
    QFETCH(char, separator);
    settings_.decimal_separator = separator;
    for (QLineEdit* edit : {w().Edit1, w().Edit2, w().Edit3, w().Edit4, w().Edit5}) {
      edit->setText(edit->text().replace(QLatin1Char(','), QLatin1Char(separator)));
    }
    QVERIFY(!w().SaveReportAction->isEnabled());
    QTest::mouseClick(w().CalcPlot, Qt::LeftButton);
    QVERIFY(w().SaveReportAction->isEnabled());
    const QString pdf = SaveReport("report.pdf");
    QCOMPARE(box_->Texts(), QStringList());
    QCOMPARE(chooser_->last_filters, QStringList{QStringLiteral("Отчёт PDF (*.pdf)")});

    const QString text = PdfText(pdf);
    QStringList expected = {QStringLiteral("Отчёт: система ЛА-АП тангажа ЖОС"),
                            QStringLiteral("pitch-autopilot 1.0")};
    for (int k = 0; k < 5; ++k) {
      expected << QStringLiteral("с%1 = %2").arg(k + 1).arg(Inputs()[k]);
    }
    const QStringList names = {"mu", "iv", "nu", "Tnu"};
    for (int k = 0; k < 4; ++k) {
      expected << names[k] + QStringLiteral(" = ") + Results()[k];
    }
    const std::optional<ReportData> report = w().LastCalculationReport();
    QVERIFY(report && report->bode);
    expected << MarginLines(report->bode->margins, separator, 6, true);
    // Every line but the date's, whose minute may have turned since the page was made.
    QStringList lines = ReportTextLines(*report);
    lines.removeAt(1);
    expected << lines;
    // The characteristics as the window's chart writes them when asked to mark them.
    w().ShowCharacteristicsAction->setChecked(true);
    expected << w().ResponseChart().CharacteristicsText().split(QStringLiteral("; "));
    for (const QString& line : expected) {
      QVERIFY2(text.contains(line.simplified()), qPrintable(line));
    }
    QVERIFY(text.contains(QStringLiteral("непрерывная система: устойчива")));
    // Every tick label of the Bode diagram whole (issue 28: "..." on every dB tick of the page).
    QVERIFY2(!text.contains(QStringLiteral("...")) && !text.contains(QChar(0x2026)),
             qPrintable(text));
    for (const QString& label :
         {QStringLiteral("ЛАЧХ, дБ"), QStringLiteral("-180"),
          QStringLiteral("0%101").arg(QLatin1Char(separator)), QStringLiteral("100")}) {
      QVERIFY2(text.contains(label), qPrintable(label));
    }

    const QImage page = PdfPage(pdf);
    QCOMPARE(page.size(), QSize(794, 1123));
    const QRect chart = ReportResponseChartRect().toAlignedRect();
    // The curve runs across the plot area, which takes most of the chart's width.
    QVERIFY2(RedColumns(page, chart) > chart.width() * 3 / 4,
             qPrintable(QString::number(RedColumns(page, chart))));
    // Nothing of the curve above the chart or in the texts below it (the Bode diagram at the
    // foot draws its curves in red too).
    QCOMPARE(RedColumns(page, QRect(0, 0, page.width(), chart.top() - 1)), 0);
    QCOMPARE(RedColumns(page, QRect(0, chart.bottom() + 2, page.width(), 150)), 0);

    // Fonts embedded.
    const QString fonts = QString::fromUtf8(RunTool(QStringLiteral("pdffonts"), {pdf}));
    const QStringList rows = fonts.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
    QVERIFY(!rows.isEmpty());
    for (const QString& row : rows) {
      QVERIFY2(row.contains(QStringLiteral(" yes ")), qPrintable(row));
    }
  }

  // A page an engineer hands in (issue 28): a long value wrapped with a visible continuation,
  // not cut at the column's edge; the chart's title once in the text; the chart box headed as
  // the window heads it for a diverging iteration.
  void reportWrapsAndHeadsLikeTheWindow() {
    const QString c1 = QStringLiteral("0,88") + QString(88, QLatin1Char('0')) + QStringLiteral("1");
    w().Edit1->setText(c1);
    QTest::mouseClick(w().CalcPlot, Qt::LeftButton);
    QCOMPARE(box_->Texts(), QStringList());
    QString text = PdfText(SaveReport("long.pdf"));
    QVERIFY2(text.contains(QStringLiteral("→")), qPrintable(text));
    QVERIFY2(QString(text).remove(QStringLiteral(" → ")).contains(QStringLiteral("с1 = ") + c1),
             qPrintable(text));
    QCOMPARE(text.count(QStringLiteral("Переходной")) -
                 text.count(QStringLiteral("Переходной процесс (")),
             1);
    QVERIFY2(text.contains(QStringLiteral("Переходной процесс")), qPrintable(text));

    // c1 = 150: a stable loop whose Euler iteration diverges (see euler_stability_test).
    w().Edit1->setText(QStringLiteral("150"));
    QTest::mouseClick(w().CalcPlot, Qt::LeftButton);
    QCOMPARE(box_->Texts(), QStringList());
    w().ShowCharacteristicsAction->setChecked(true);
    QVERIFY(w().ResponseChart().CharacteristicsText().startsWith(
        QStringLiteral("итерация Эйлера расходится;")));
    text = PdfText(SaveReport("diverging.pdf"));
    // Once in the chart's box, once heading the characteristics below it.
    QCOMPARE(text.count(QStringLiteral("итерация Эйлера расходится")), 2);
  }

  // A simulation that overflows: the ratios it reached, the error in words, no curve.
  void reportOfAFailedCalculation() {
    w().Edit1->setText(QStringLiteral("400"));
    QTest::mouseClick(w().CalcPlot, Qt::LeftButton);
    QCOMPARE(box_->Texts(), QStringList{QStringLiteral("Floating point overflow.")});
    const QString pdf = SaveReport("failed.pdf");
    QCOMPARE(box_->Texts().size(), 1);
    const QString text = PdfText(pdf);
    QVERIFY(text.contains(QStringLiteral("mu = ") + w().Edit6->text()));
    QVERIFY(text.contains(QStringLiteral("Расчёт прерван с ошибкой: Floating point overflow.")));
    QVERIFY(text.contains(QStringLiteral("Переходной процесс не построен")));
    QCOMPARE(RedColumns(PdfPage(pdf), ReportResponseChartRect().toAlignedRect()), 0);

    // An input error: the texts and the error, nothing computed.
    w().Edit1->setText(QStringLiteral("abc"));
    QTest::mouseClick(w().CalcPlot, Qt::LeftButton);
    const QString text2 = PdfText(SaveReport("input.pdf"));
    QVERIFY(text2.contains(QStringLiteral("с1 = abc")));
    QVERIFY(text2.contains(QStringLiteral("'abc' is not a valid floating point value.")));
    QVERIFY(text2.contains(QStringLiteral("не вычислены")));
  }

  // A report that cannot be written: the message, and the window as it was.
  void reportWriteFailure() {
    QTest::mouseClick(w().CalcPlot, Qt::LeftButton);
    chooser_->answer = Path("missing/report.pdf");
    w().SaveReportAction->trigger();
    QCOMPARE(box_->Texts().size(), 1);
    QVERIFY2(box_->Texts()[0].startsWith(QStringLiteral("Invalid file name")),
             qPrintable(box_->Texts()[0]));
    QVERIFY(!QFileInfo::exists(Path("missing")));
    QVERIFY(w().isVisible());
  }
};

QTEST_MAIN(TestReport)
#include "tst_report.moc"
