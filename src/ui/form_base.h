// TFormBase: the program's one window. Five input boxes for the model coefficients, a result
// area for the four gear ratios (hidden until the first calculation), the response chart and the
// two action buttons.
#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/report_data.h"
#include "core/border.h"
#include "core/controller.h"
#include "number_text/number_settings.h"
#include "ui/bode_follower.h"
#include "ui/error_sink.h"
#include "ui/layout_scale.h"
#include "ui/report_snapshot.h"
#include "ui/response_chart.h"
#include "ui/results_opening.h"
#include "ui/save_dialog.h"

class QAction;
class QChartView;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPushButton;

namespace pitch {

class TBodeWindow;
class TController;

class TFormBase : public QWidget, public TBorder {
  Q_OBJECT

 public:
  // Errors of the click handlers go to errors; numbers are read and written with settings, read
  // once at start-up (a change of the desktop's locale takes effect at the next start: the
  // program's environment, where the locale is named, does not change under it). Both must
  // outlive the window. The layout is scaled for dpi pixels per inch (see layout_scale.h); 0 takes
  // the logical resolution of the screen.
  TFormBase(IErrorSink& errors, NumberSettings& settings, QWidget* parent = nullptr, int dpi = 0);
  ~TFormBase() override;

  void ConnectController(TController* aController) { _Controller = aController; }

  // "Calculate and Plot": read the inputs, synthesise and show the ratios, simulate and plot.
  void CalcPlotClick(QObject* Sender);
  // "Save and Exit": ask for a path, save coefficients and ratios, close the window.
  void SaveExitClick(QObject* Sender);

  // Tests put their own dialogs in place of the system's.
  void ReplaceSaveDialog(std::unique_ptr<ISaveDialog> dialog) { SaveDialog1 = std::move(dialog); }
  void ReplaceExportChooser(std::unique_ptr<IExportChooser> chooser) {
    ExportChooser = std::move(chooser);
  }

  // The chart's context menu: save the picture, save the data, mark the characteristics, show
  // the loop's frequency response.
  void SavePlotClick(QObject* Sender);
  void SaveDataClick(QObject* Sender);
  // Opens the Bode window with the loop of the last calculation whose ratios are known; while it
  // is open it follows every later one, and says so when a calculation got no loop (no ratios,
  // or a failed frequency response).
  void ShowBodeClick(QObject* Sender);
  // "Сохранить отчёт (PDF)…": the one-page report of the last calculation.
  void SaveReportClick(QObject* Sender);
  // What the report of the last calculation holds: the texts it read, what it reached, and
  // the error that stopped it. Empty before the first calculation.
  std::optional<ReportData> LastCalculationReport() const;

  // Puts the coefficients of a results file into Edit1 … Edit5, written with the current decimal
  // separator, and clicks "Calculate and Plot". A file that does not read raises its error
  // (naming the line) before any box changes.
  void OpenResultsFile(const QString& path);
  // The program's arguments: none, or the one results file to open.
  void OpenArguments(const QStringList& arguments);

  // The text of the tooltip for sample i (1 … 1000) of the plotted curve.
  QString PointToolTipText(int i) const;
  // The sample of the plotted curve within a few pixels of a point of the chart's viewport.
  int SampleNear(const QPoint& viewport_position) const;

  // The controls, in the window's declaration order.
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QLineEdit* Edit3;
  QLineEdit* Edit4;
  QLineEdit* Edit5;
  QLabel* Label1;
  QLabel* Label2;
  QChartView* Chart1;
  std::unique_ptr<ISaveDialog> SaveDialog1;
  QPushButton* CalcPlot;
  QPushButton* SaveExit;
  QLineSeries* Series1;
  QLabel* Label7;
  QLabel* Label8;
  QLabel* Label9;
  QLabel* Label10;
  QLabel* Label11;
  QLineEdit* Edit6;
  QLineEdit* Edit7;
  QLineEdit* Edit8;
  QLineEdit* Edit9;
  TController* _Controller = nullptr;
  // c1 … c5 and FileName come from TBorder.

  QAction* SavePlotAction;
  QAction* SaveDataAction;
  QAction* ShowCharacteristicsAction;
  QAction* ShowBodeAction;
  QAction* SaveReportAction;
  std::unique_ptr<IExportChooser> ExportChooser;
  // The Bode window, made at its first showing; null before.
  TBodeWindow* BodeWindow() const { return bode_.Window(); }
  const TResponseChart& ResponseChart() const { return chart_; }
  const LayoutScale& Scale() const { return scale_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ReadInputs();
  void PlotResponse();
  void RefreshCharacteristics();
  // The plotted curve as points for a picture of the chart.
  QList<QPointF> PlottedPoints() const;
  std::optional<analysis::StepCharacteristics> ShownCharacteristics() const;
  // The loop of the ratios just computed, for the Bode window.
  void TakeLoop();
  // A calculation that got no loop (what failed, the ratios or the frequency response, with its
  // error): the Bode window keeps the last loop and says that it is not the loop of the
  // coefficients now in the boxes.
  void LoseLoop(const QString& what_failed);

  IErrorSink& errors_;
  NumberSettings& settings_;
  TResponseChart chart_;
  // The curve now in the chart, copied from the controller's teta when it was plotted, with
  // the samples' times: the exports and the characteristics read these, never the chart's
  // series, and a later click that fails before plotting leaves them as the chart shows them.
  std::vector<double> plotted_t_;
  std::vector<double> plotted_h_;
  LayoutScale scale_;
  // The Euler iteration of the curve now plotted diverges.
  bool plotted_diverging_ = false;
  // The Bode window's life, the last click's report and reopening results files.
  TBodeFollower bode_{errors_, *this};
  TReportSnapshot report_{errors_};
  std::unique_ptr<TResultsOpening> opening_;
};

}  // namespace pitch
