#include "ui/form_base.h"

#include <QAction>
#include <QChartView>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRawFont>
#include <QToolTip>
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/controller.h"
#include "number_text/number_text.h"
#include "storage/exports.h"
#include "storage/results_reader.h"
#include "ui/bode_window.h"
#include "ui/plot_export.h"
#include "ui/report_pdf.h"

namespace pitch {

namespace {

QFont Tahoma(int pixels) {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(pixels);
  font.setStyleStrategy(QFont::PreferDefault);
  return font;
}

// The ascent and the line height that Windows gives a font at this pixel size: from the
// usWinAscent and usWinDescent of its OS/2 table, where Qt takes the typographic values. For
// Tahoma at 16 pixels that is 16 and 19 against Qt's 13 and 16.
struct WindowsLineMetrics {
  int ascent;
  int height;
};
WindowsLineMetrics WindowsMetrics(const QFont& font) {
  const QFontMetrics qt_metrics(font);
  WindowsLineMetrics metrics{qt_metrics.ascent(), qt_metrics.height()};
  const QRawFont raw = QRawFont::fromFont(font);
  const QByteArray os2 = raw.fontTable("OS/2");
  if (os2.size() >= 78 && raw.unitsPerEm() > 0) {
    const auto at = [&](int offset) {
      return (static_cast<unsigned char>(os2[offset]) << 8) |
             static_cast<unsigned char>(os2[offset + 1]);
    };
    const double scale = raw.pixelSize() / raw.unitsPerEm();
    metrics.ascent = static_cast<int>(std::lround(at(74) * scale));
    metrics.height = static_cast<int>(std::lround((at(74) + at(76)) * scale));
  }
  return metrics;
}

// A label in the label font that sizes itself to its caption, with its text on the baseline
// and in the height that the window's layout gives it (its top plus the Windows ascent), so
// that it lines up with the text of the box beside it.
QLabel* MakeLabel(QWidget* parent, const QString& caption, int left, int top, bool visible) {
  auto* label = new QLabel(caption, parent);
  label->setFont(Tahoma(16));
  const QFontMetrics qt_metrics(label->font());
  const WindowsLineMetrics windows = WindowsMetrics(label->font());
  const int above = std::max(0, windows.ascent - qt_metrics.ascent());
  const int below = std::max(0, windows.height - qt_metrics.height() - above);
  label->setContentsMargins(0, above, 0, below);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->move(left, top);
  label->adjustSize();
  label->setVisible(visible);
  return label;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& text, int left, int top, bool enabled) {
  auto* edit = new QLineEdit(text, parent);
  edit->setGeometry(left, top, 121, 21);
  edit->setFrame(true);
  edit->setEnabled(enabled);
  edit->setVisible(enabled);
  return edit;
}

// A push button that, like a Windows button, is clicked by Enter (and keypad Enter) while it
// has the focus, besides Space. It is never a default button.
class TPushButton final : public QPushButton {
 public:
  TPushButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !event->isAutoRepeat()) {
      click();
      return;
    }
    QPushButton::keyPressEvent(event);
  }
};

QPushButton* MakeButton(QWidget* parent, const QString& caption, int left, int top) {
  auto* button = new TPushButton(caption, parent);
  button->setGeometry(left, top, 105, 25);
  // Neither button is a default button: Enter in a box triggers nothing.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

// Shows a result from its first character: a text longer than the box keeps its sign and
// first digits in view (the disabled box cannot be scrolled).
void ShowResult(QLineEdit* edit, const QString& text) {
  edit->setText(text);
  edit->setCursorPosition(0);
}

// The stored Real, widened exactly, as decimal text.
QString Text(Real value, char separator) {
  return QString::fromStdString(FormatNumber(value, separator));
}

}  // namespace

TFormBase::TFormBase(IErrorSink& errors, NumberSettings& settings, QWidget* parent)
    : QWidget(parent), errors_(errors), settings_(settings) {
  setWindowTitle(QStringLiteral("Моделирование системы ЛА-АП тангажа ЖОС"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(794, 572);
  setFont(Tahoma(11));
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  setAutoFillBackground(true);

  Edit1 = MakeEdit(this, QString::fromLatin1(kDefaultCoefficientTexts[0]), 136, 40, true);
  Edit2 = MakeEdit(this, QString::fromLatin1(kDefaultCoefficientTexts[1]), 136, 67, true);
  Edit3 = MakeEdit(this, QString::fromLatin1(kDefaultCoefficientTexts[2]), 136, 94, true);
  Edit4 = MakeEdit(this, QString::fromLatin1(kDefaultCoefficientTexts[3]), 137, 121, true);
  Edit5 = MakeEdit(this, QString::fromLatin1(kDefaultCoefficientTexts[4]), 137, 148, true);

  Label1 = MakeLabel(this, QStringLiteral("Параметры линейной модели ЛА:"), 8, 8, true);
  // The captions begin with the Cyrillic es (U+0441), not the Latin c.
  Label2 = MakeLabel(this, QStringLiteral("с1 ="), 97, 38, true);
  MakeLabel(this, QStringLiteral("с2 ="), 97, 65, true);
  MakeLabel(this, QStringLiteral("с3 ="), 97, 92, true);
  MakeLabel(this, QStringLiteral("с4 ="), 97, 119, true);
  MakeLabel(this, QStringLiteral("с5 ="), 97, 146, true);

  Chart1 = new QChartView(chart_.TakeChart().release(), this);  // the view owns the chart
  Chart1->setGeometry(8, 175, 768, 379);
  Chart1->setFocusPolicy(Qt::NoFocus);
  Series1 = chart_.series();
  chart_.SetDecimalSeparator(settings_.decimal_separator);

  SaveDialog1 = std::make_unique<TSaveDialog>(this);
  CalcPlot = MakeButton(this, QStringLiteral("Calculate and Plot"), 663, 32);
  SaveExit = MakeButton(this, QStringLiteral("Save and Exit"), 663, 96);

  Edit6 = MakeEdit(this, QString(), 472, 40, false);
  Edit7 = MakeEdit(this, QString(), 472, 67, false);
  Edit8 = MakeEdit(this, QString(), 472, 94, false);
  Edit9 = MakeEdit(this, QString(), 472, 121, false);

  Label7 = MakeLabel(this, QStringLiteral("Передаточные числа автопилота:"), 352, 8, false);
  Label8 = MakeLabel(this, QStringLiteral("mu  ="), 392, 38, false);
  Label9 = MakeLabel(this, QStringLiteral("iv    = "), 392, 65, false);
  Label10 = MakeLabel(this, QStringLiteral("nu   ="), 394, 90, false);
  Label11 = MakeLabel(this, QStringLiteral("Tnu  ="), 392, 115, false);

  const std::array<QWidget*, 11> tab_order = {Edit1,    Edit2, Edit3, Edit4, Edit5, CalcPlot,
                                              SaveExit, Edit6, Edit7, Edit8, Edit9};
  for (std::size_t k = 1; k < tab_order.size(); ++k) {
    setTabOrder(tab_order[k - 1], tab_order[k]);
  }
  Edit1->setFocus();

  ConnectGuarded(CalcPlot, &QPushButton::clicked, calculation_errors_,
                 [this](QObject* sender) { CalcPlotClick(sender); });
  ConnectGuarded(SaveExit, &QPushButton::clicked, errors,
                 [this](QObject* sender) { SaveExitClick(sender); });

  // The chart's context menu and tooltip; nothing of them shows until asked for.
  ExportChooser = std::make_unique<TExportChooser>();
  SavePlotAction = new QAction(QStringLiteral("Сохранить график…"), Chart1);
  SaveDataAction = new QAction(QStringLiteral("Сохранить данные (CSV)…"), Chart1);
  ShowCharacteristicsAction = new QAction(QStringLiteral("Показать характеристики"), Chart1);
  ShowCharacteristicsAction->setCheckable(true);
  ShowBodeAction = new QAction(QStringLiteral("Показать частотные характеристики"), Chart1);
  SavePlotAction->setEnabled(false);  // nothing to export before the first calculation
  SaveDataAction->setEnabled(false);
  ShowBodeAction->setEnabled(false);
  SaveReportAction = new QAction(QStringLiteral("Сохранить отчёт (PDF)…"), Chart1);
  SaveReportAction->setEnabled(false);  // until the first calculation
  Chart1->addActions({SavePlotAction, SaveDataAction, ShowCharacteristicsAction, ShowBodeAction,
                      SaveReportAction});
  Chart1->setContextMenuPolicy(Qt::ActionsContextMenu);
  ConnectGuarded(SavePlotAction, &QAction::triggered, errors,
                 [this](QObject* sender) { SavePlotClick(sender); });
  ConnectGuarded(SaveDataAction, &QAction::triggered, errors,
                 [this](QObject* sender) { SaveDataClick(sender); });
  ConnectGuarded(ShowCharacteristicsAction, &QAction::toggled, errors,
                 [this](QObject*) { RefreshCharacteristics(); });
  ConnectGuarded(ShowBodeAction, &QAction::triggered, errors,
                 [this](QObject* sender) { ShowBodeClick(sender); });
  ConnectGuarded(SaveReportAction, &QAction::triggered, errors,
                 [this](QObject* sender) { SaveReportClick(sender); });
  setAcceptDrops(true);
  Chart1->setMouseTracking(true);
  Chart1->viewport()->setMouseTracking(true);
  Chart1->viewport()->installEventFilter(this);
}

TFormBase::~TFormBase() = default;

void TFormBase::changeEvent(QEvent* event) {
  // A change of the user's settings: the separator takes effect at the next conversion.
  if (event->type() == QEvent::LocaleChange) {
    RunGuarded(errors_,
               [this] { settings_.decimal_separator = ReadNumberSettings().decimal_separator; });
  }
  QWidget::changeEvent(event);
}

void TFormBase::ReadInputs() {
  // Each coefficient is stored as soon as its box is converted: a failing box leaves the
  // fields before it updated, its own and the later ones and FileName as they were.
  const char separator = settings_.decimal_separator;
  c1 = fp::Store(ParseNumber(Edit1->text().toStdString(), separator));
  c2 = fp::Store(ParseNumber(Edit2->text().toStdString(), separator));
  c3 = fp::Store(ParseNumber(Edit3->text().toStdString(), separator));
  c4 = fp::Store(ParseNumber(Edit4->text().toStdString(), separator));
  c5 = fp::Store(ParseNumber(Edit5->text().toStdString(), separator));
  FileName = SaveDialog1->FileName().toStdString();
}

void TFormBase::CalcPlotClick(QObject* /*Sender*/) {
  last_ = LastCalculation{{Edit1->text().toStdString(), Edit2->text().toStdString(),
                           Edit3->text().toStdString(), Edit4->text().toStdString(),
                           Edit5->text().toStdString()},
                          settings_.decimal_separator, std::nullopt, false, std::string()};
  SaveReportAction->setEnabled(true);
  // The controller's window is this one: there is exactly one.
  ReadInputs();
  _Controller->TakeCoefficients();
  _Controller->ComputeGearRatios();
  last_->synthesised = *_Controller;
  for (QLabel* label : {Label7, Label8, Label9, Label10, Label11}) {
    label->setVisible(true);
  }
  ShowResult(Edit6, Text(_Controller->muv, settings_.decimal_separator));
  ShowResult(Edit7, Text(_Controller->iv, settings_.decimal_separator));
  ShowResult(Edit8, Text(_Controller->nuv, settings_.decimal_separator));
  ShowResult(Edit9, Text(_Controller->Tnu, settings_.decimal_separator));
  for (QLineEdit* edit : {Edit6, Edit7, Edit8, Edit9}) {
    edit->setVisible(true);
  }
  _Controller->SimulateResponse();
  last_->synthesised = *_Controller;
  PlotResponse();
  last_->simulated = true;
}

void TFormBase::PlotResponse() {
  const auto& teta = _Controller->teta.values();
  plotted_t_ = SampleTimes();
  plotted_h_.assign(teta.begin(), teta.end());
  chart_.SetDecimalSeparator(settings_.decimal_separator);
  chart_.SetPoints(PlottedPoints());
  SavePlotAction->setEnabled(true);
  SaveDataAction->setEnabled(true);
  RefreshCharacteristics();
  plotted_bode_ = analysis::Bode(*_Controller);
  ShowBodeAction->setEnabled(true);
  if (bode_window_ != nullptr && bode_window_->isVisible()) {
    bode_window_->ShowBode(*plotted_bode_, settings_.decimal_separator);
  }
}

void TFormBase::ShowBodeClick(QObject* /*Sender*/) {
  if (!plotted_bode_) {
    return;
  }
  if (bode_window_ == nullptr) {
    bode_window_ = new TBodeWindow(errors_, this);
  }
  bode_window_->ShowBode(*plotted_bode_, settings_.decimal_separator);
  bode_window_->show();
  bode_window_->raise();
  bode_window_->activateWindow();
}

QList<QPointF> TFormBase::PlottedPoints() const {
  QList<QPointF> points;
  points.reserve(static_cast<qsizetype>(plotted_h_.size()));
  for (std::size_t k = 0; k < plotted_h_.size(); ++k) {
    points.append(QPointF(plotted_t_[k], plotted_h_[k]));
  }
  return points;
}

std::optional<analysis::StepCharacteristics> TFormBase::ShownCharacteristics() const {
  if (!ShowCharacteristicsAction->isChecked() || plotted_h_.empty()) {
    return std::nullopt;
  }
  return analysis::Characteristics(plotted_t_, plotted_h_);
}

void TFormBase::RefreshCharacteristics() { chart_.ShowCharacteristics(ShownCharacteristics()); }

void TFormBase::SavePlotClick(QObject* /*Sender*/) {
  const QString path = ExportChooser->Choose(
      this, QStringLiteral("Сохранить график"),
      {QStringLiteral("Рисунок PNG (*.png)"), QStringLiteral("Рисунок SVG (*.svg)")});
  if (path.isEmpty()) {
    return;
  }
  WriteFileBytes(path.toStdString(),
                 RenderResponsePlot(PlottedPoints(), Chart1->size(), settings_.decimal_separator,
                                    PlotFormatForPath(path), ShownCharacteristics()));
}

void TFormBase::SaveDataClick(QObject* /*Sender*/) {
  const QString path = ExportChooser->Choose(
      this, QStringLiteral("Сохранить данные"),
      {QStringLiteral("Данные CSV (*.csv)"), QStringLiteral("Все файлы (*.*)")});
  if (path.isEmpty()) {
    return;
  }
  WriteFileBytes(path.toStdString(), ResponseCsv(plotted_t_, plotted_h_));
}

QString TFormBase::PointToolTipText(int i) const {
  const auto k = static_cast<std::size_t>(i - 1);
  return QStringLiteral("t = %1 c\nh = %2")
      .arg(Text(plotted_t_.at(k), settings_.decimal_separator),
           Text(plotted_h_.at(k), settings_.decimal_separator));
}

int TFormBase::SampleNear(const QPoint& viewport_position) const {
  const auto count = static_cast<qsizetype>(plotted_h_.size());
  if (count == 0) {
    return 0;
  }
  // Samples are less than a pixel apart: take the one nearest in time, and show it when the
  // curve passes within a few pixels of the pointer there.
  QChart* chart = Chart1->chart();
  const QPointF in_chart = chart->mapFromScene(Chart1->mapToScene(viewport_position));
  const QPointF value = chart->mapToValue(in_chart, Series1);
  const qsizetype nearest =
      std::clamp<qsizetype>(std::llround(value.x() / kTimeStep), 0, count - 1);
  constexpr double kReach = 6;  // pixels
  for (qsizetype k = std::max<qsizetype>(0, nearest - 8); k <= std::min(count - 1, nearest + 8);
       ++k) {
    const auto j = static_cast<std::size_t>(k);
    const QPointF at = chart->mapToPosition(QPointF(plotted_t_[j], plotted_h_[j]), Series1);
    if (std::hypot(at.x() - in_chart.x(), at.y() - in_chart.y()) <= kReach) {
      return static_cast<int>(nearest + 1);
    }
  }
  return 0;
}

bool TFormBase::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Chart1->viewport() && event->type() == QEvent::MouseMove) {
    const QPoint position = static_cast<QMouseEvent*>(event)->position().toPoint();
    RunGuarded(errors_, [&] {
      if (const int i = SampleNear(position); i > 0) {
        QToolTip::showText(Chart1->viewport()->mapToGlobal(position), PointToolTipText(i),
                           Chart1->viewport());
      } else {
        QToolTip::hideText();
      }
    });
  }
  return QWidget::eventFilter(watched, event);
}

void TFormBase::TCalculationErrors::Report(const std::exception& error) {
  if (last_) {
    last_->error = WithFullStop(error.what());
  }
  display_.Report(error);
}

std::optional<ReportData> TFormBase::LastCalculationReport() const {
  if (!last_) {
    return std::nullopt;
  }
  return MakeReportData(ReportSource{last_->texts, last_->separator,
                                     last_->synthesised ? &*last_->synthesised : nullptr,
                                     last_->simulated, last_->error,
                                     "pitch-autopilot " PITCH_VERSION});
}

void TFormBase::SaveReportClick(QObject* /*Sender*/) {
  const std::optional<ReportData> report = LastCalculationReport();
  if (!report) {
    return;
  }
  const QString path = ExportChooser->Choose(this, QStringLiteral("Сохранить отчёт"),
                                             {QStringLiteral("Отчёт PDF (*.pdf)")});
  if (path.isEmpty()) {
    return;
  }
  const QByteArray pdf = RenderReportPdf(*report);
  WriteFileBytes(path.toStdString(), std::string_view(pdf.constData(), pdf.size()));
}

void TFormBase::OpenResultsFile(const QString& path) {
  const ResultsFileContent content = ReadResultsFile(path.toStdString());
  const std::array<QLineEdit*, 5> edits = {Edit1, Edit2, Edit3, Edit4, Edit5};
  for (std::size_t k = 0; k < edits.size(); ++k) {
    edits[k]->setText(QString::fromStdString(
        TextWithSeparator(content.coefficients[k], settings_.decimal_separator)));
  }
  CalcPlot->click();
}

void TFormBase::OpenArguments(const QStringList& arguments) {
  if (arguments.size() > 1) {
    throw EResultsFileError("Only one results file can be opened; " +
                                std::to_string(arguments.size()) + " were given",
                            0);
  }
  if (arguments.size() == 1) {
    OpenResultsFile(arguments.front());
  }
}

// One local file may be dropped; the drop is taken by the window, wherever on it.
void TFormBase::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.size() == 1 && urls.front().isLocalFile()) {
    event->acceptProposedAction();
  }
}

void TFormBase::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) {
    return;
  }
  event->acceptProposedAction();
  RunGuarded(errors_, [&] { OpenResultsFile(urls.front().toLocalFile()); });
}

void TFormBase::SaveExitClick(QObject* /*Sender*/) {
  if (!SaveDialog1->Execute()) {
    return;
  }
  ReadInputs();
  _Controller->PassInputsToStorage();
  _Controller->PassRatiosToStorage();
  _Controller->_Storage->WriteResults();
  close();
}

}  // namespace pitch
