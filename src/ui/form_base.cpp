#include "ui/form_base.h"

#include <QAction>
#include <QChartView>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QToolTip>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "analysis/euler_stability.h"
#include "analysis/session.h"
#include "core/controller.h"
#include "core/errors.h"
#include "core/model.h"
#include "number_text/number_text.h"
#include "storage/exports.h"
#include "ui/file_drop.h"
#include "ui/layout_scale.h"
#include "ui/plot_export.h"
#include "ui/report_pdf.h"

namespace pitch {

namespace {

// A label in the label font that sizes itself to its caption, with its text on the baseline
// and in the height that the window's layout gives it (its top plus the Windows ascent), so
// that it lines up with the text of the box beside it.
QLabel* MakeLabel(QWidget* parent, const LayoutScale& scale, const QString& caption, int left,
                  int top, bool visible) {
  auto* label = new QLabel(caption, parent);
  label->setFont(Tahoma(scale.LabelFontPixels()));
  const QFontMetrics qt_metrics(label->font());
  const WindowsLineMetrics windows = WindowsMetrics(label->font());
  const int above = std::max(0, windows.ascent - qt_metrics.ascent());
  const int below = std::max(0, windows.height - qt_metrics.height() - above);
  label->setContentsMargins(0, above, 0, below);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->move(scale.Apply(left), scale.Apply(top));
  label->adjustSize();
  label->setVisible(visible);
  return label;
}

QLineEdit* MakeEdit(QWidget* parent, const LayoutScale& scale, const QString& text, int left,
                    int top, bool enabled) {
  auto* edit = new QLineEdit(text, parent);
  edit->setGeometry(scale.Apply(QRect(left, top, 121, 21)));
  // A pasted text stays whole (Qt's default cuts it at 32,767 characters without a word): a
  // number that long is an error, and the error quotes what was typed.
  edit->setMaxLength(std::numeric_limits<int>::max());
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

QPushButton* MakeButton(QWidget* parent, const LayoutScale& scale, const QString& caption, int left,
                        int top) {
  auto* button = new TPushButton(caption, parent);
  button->setGeometry(scale.Apply(QRect(left, top, 105, 25)));
  // Neither button is a default button: Enter in a box triggers nothing.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

// Shows a result from its first character: a text longer than the box keeps its sign and
// first digits in view (the disabled box cannot be scrolled); its tooltip has the whole text, so
// that a cut "-4,98160967388829E-1…" is not read as another number.
void ShowResult(QLineEdit* edit, const QString& text) {
  edit->setText(text);
  edit->setCursorPosition(0);
  edit->setToolTip(text);
}

// The stored Real, widened exactly, as decimal text.
QString Text(Real value, char separator) {
  return QString::fromStdString(FormatNumber(value, separator));
}

}  // namespace

TFormBase::TFormBase(IErrorSink& errors, NumberSettings& settings, QWidget* parent, int dpi)
    : QWidget(parent),
      errors_(errors),
      settings_(settings),
      scale_(LayoutScale::ForDpi(dpi > 0 ? dpi : ScreenDpi(this))) {
  setWindowTitle(QStringLiteral("Моделирование системы ЛА-АП тангажа ЖОС"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(scale_.Apply(QSize(794, 572)));
  setFont(Tahoma(scale_.FontPixels()));
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  setAutoFillBackground(true);

  Edit1 = MakeEdit(this, scale_, QString::fromLatin1(kDefaultCoefficientTexts[0]), 136, 40, true);
  Edit2 = MakeEdit(this, scale_, QString::fromLatin1(kDefaultCoefficientTexts[1]), 136, 67, true);
  Edit3 = MakeEdit(this, scale_, QString::fromLatin1(kDefaultCoefficientTexts[2]), 136, 94, true);
  Edit4 = MakeEdit(this, scale_, QString::fromLatin1(kDefaultCoefficientTexts[3]), 137, 121, true);
  Edit5 = MakeEdit(this, scale_, QString::fromLatin1(kDefaultCoefficientTexts[4]), 137, 148, true);

  Label1 = MakeLabel(this, scale_, QStringLiteral("Параметры линейной модели ЛА:"), 8, 8, true);
  // The captions begin with the Cyrillic es (U+0441), not the Latin c.
  Label2 = MakeLabel(this, scale_, QStringLiteral("с1 ="), 97, 38, true);
  MakeLabel(this, scale_, QStringLiteral("с2 ="), 97, 65, true);
  MakeLabel(this, scale_, QStringLiteral("с3 ="), 97, 92, true);
  MakeLabel(this, scale_, QStringLiteral("с4 ="), 97, 119, true);
  MakeLabel(this, scale_, QStringLiteral("с5 ="), 97, 146, true);

  Chart1 = new QChartView(chart_.TakeChart().release(), this);  // the view owns the chart
  Chart1->setGeometry(scale_.Apply(QRect(8, 175, 768, 379)));
  Chart1->setFocusPolicy(Qt::NoFocus);
  Series1 = chart_.series();
  chart_.SetDecimalSeparator(settings_.decimal_separator);

  SaveDialog1 = std::make_unique<TSaveDialog>(this);
  CalcPlot = MakeButton(this, scale_, QStringLiteral("Calculate and Plot"), 663, 32);
  SaveExit = MakeButton(this, scale_, QStringLiteral("Save and Exit"), 663, 96);

  Edit6 = MakeEdit(this, scale_, QString(), 472, 40, false);
  Edit7 = MakeEdit(this, scale_, QString(), 472, 67, false);
  Edit8 = MakeEdit(this, scale_, QString(), 472, 94, false);
  Edit9 = MakeEdit(this, scale_, QString(), 472, 121, false);

  Label7 = MakeLabel(this, scale_, QStringLiteral("Передаточные числа автопилота:"), 352, 8, false);
  Label8 = MakeLabel(this, scale_, QStringLiteral("mu  ="), 392, 38, false);
  Label9 = MakeLabel(this, scale_, QStringLiteral("iv    = "), 392, 65, false);
  Label10 = MakeLabel(this, scale_, QStringLiteral("nu   ="), 394, 90, false);
  Label11 = MakeLabel(this, scale_, QStringLiteral("Tnu  ="), 392, 115, false);

  const std::array<QWidget*, 11> tab_order = {Edit1,    Edit2, Edit3, Edit4, Edit5, CalcPlot,
                                              SaveExit, Edit6, Edit7, Edit8, Edit9};
  for (std::size_t k = 1; k < tab_order.size(); ++k) {
    setTabOrder(tab_order[k - 1], tab_order[k]);
  }
  Edit1->setFocus();

  ConnectGuarded(CalcPlot, &QPushButton::clicked, report_.Errors(),
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
  opening_ = std::make_unique<TResultsOpening>(
      std::array<QLineEdit*, 5>{Edit1, Edit2, Edit3, Edit4, Edit5}, *CalcPlot, settings_);
  // Last: the drop watches every widget made above.
  new TFileDrop(*this, errors_, [this](const QString& path) { OpenResultsFile(path); });
  Chart1->setMouseTracking(true);
  Chart1->viewport()->setMouseTracking(true);
  Chart1->viewport()->installEventFilter(this);
}

TFormBase::~TFormBase() = default;

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
  report_.Begin(
      {Edit1->text().toStdString(), Edit2->text().toStdString(), Edit3->text().toStdString(),
       Edit4->text().toStdString(), Edit5->text().toStdString()},
      settings_.decimal_separator);
  SaveReportAction->setEnabled(true);
  // The controller's window is this one: there is exactly one.
  try {
    ReadInputs();
    _Controller->TakeCoefficients();
    _Controller->ComputeGearRatios();
  } catch (const std::exception& e) {
    LoseLoop(QStringLiteral("передаточные числа не получены (") +
             QString::fromStdString(WithFullStop(e.what())) + QLatin1Char(')'));
    throw;
  }
  report_.Synthesised(*_Controller);
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
  // The loop is known with the ratios, whether or not the simulation completes.
  TakeLoop();
  _Controller->SimulateResponse();
  report_.Synthesised(*_Controller);
  PlotResponse();
  report_.Simulated();
}

void TFormBase::TakeLoop() {
  // The ratios are known; the simulation is still to come.
  auto session = std::make_shared<const analysis::TSession>(analysis::TSession::Reached(
      *_Controller, analysis::StageFailure{{}, analysis::Stage::kResponse}));
  const analysis::FrequencyResult& frequency = session->Frequency();
  report_.SetSession(std::move(session));
  if (!frequency.data) {
    // The ratios are known but their loop cannot be evaluated: the calculation goes on, and the
    // Bode window says why it shows an older loop, in the session's words.
    LoseLoop(QStringLiteral("частотные характеристики не вычислены: ") +
             QString::fromStdString(frequency.reason ? frequency.reason->message : std::string()));
  } else {
    bode_.TakeLoop(*frequency.data, settings_.decimal_separator);
  }
  // Without an earlier loop, the window shows only why there is none.
  ShowBodeAction->setEnabled(true);
}

void TFormBase::LoseLoop(const QString& what_failed) {
  bode_.LoseLoop(what_failed, settings_.decimal_separator);
}

void TFormBase::PlotResponse() {
  const auto& teta = _Controller->teta.values();
  plotted_t_ = SampleTimes();
  plotted_h_.assign(teta.begin(), teta.end());
  plotted_diverging_ = !report_.Session()->Iteration().stable;
  chart_.SetDecimalSeparator(settings_.decimal_separator);
  chart_.SetPoints(PlottedPoints());
  SavePlotAction->setEnabled(true);
  SaveDataAction->setEnabled(true);
  RefreshCharacteristics();
}

void TFormBase::ShowBodeClick(QObject* /*Sender*/) { bode_.Show(settings_.decimal_separator); }

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

void TFormBase::RefreshCharacteristics() {
  chart_.ShowCharacteristics(ShownCharacteristics(), plotted_diverging_);
}

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
  const QString path =
      ExportChooser->Choose(this, QStringLiteral("Сохранить данные"),
                            {QStringLiteral("Данные CSV (*.csv)"), AllFilesFilter()});
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
  // The tooltip follows the pointer (the viewport tracks the mouse, so no button need be held).
  // When the pointer rests, Qt sends a tooltip event, which the chart's scene would answer by
  // hiding every tooltip (it has none of its own): the sample's is shown again instead.
  if (watched != Chart1->viewport()) {
    return QWidget::eventFilter(watched, event);
  }
  QPoint position;
  if (event->type() == QEvent::MouseMove) {
    position = static_cast<QMouseEvent*>(event)->position().toPoint();
  } else if (event->type() == QEvent::ToolTip) {
    position = static_cast<QHelpEvent*>(event)->pos();
  } else {
    return QWidget::eventFilter(watched, event);
  }
  RunGuarded(errors_, [&] {
    if (const int i = SampleNear(position); i > 0) {
      QToolTip::showText(Chart1->viewport()->mapToGlobal(position), PointToolTipText(i),
                         Chart1->viewport());
    } else {
      QToolTip::hideText();
    }
  });
  return event->type() == QEvent::ToolTip || QWidget::eventFilter(watched, event);
}

std::optional<ReportData> TFormBase::LastCalculationReport() const { return report_.Report(); }

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

void TFormBase::OpenResultsFile(const QString& path) { opening_->Open(path); }

void TFormBase::OpenArguments(const QStringList& arguments) { opening_->OpenArguments(arguments); }

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
