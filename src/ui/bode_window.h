// The Bode window: a second, non-modal window with the open loop's Bode diagram and its margins
// in a table below it, one crossing a row. Its own context menu saves the picture.
#pragma once

#include <QGraphicsView>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/frequency_response.h"
#include "ui/bode_chart.h"
#include "ui/error_sink.h"
#include "ui/save_dialog.h"

class QAction;
class QGraphicsScene;
class QLabel;
class QTableWidget;

namespace pitch {

// A view that keeps the diagram the size of its viewport.
class TBodeView : public QGraphicsView {
 public:
  TBodeView(QGraphicsScene* scene, TBodeChart& chart, QWidget* parent);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  TBodeChart& chart_;
};

class TBodeWindow : public QWidget {
  Q_OBJECT

 public:
  // Errors of saving go to errors, which must outlive the window. With a parent the window
  // still stands on its own (a separate top-level window that the parent's closing ends). It
  // opens at a size that fits the screen's available area.
  explicit TBodeWindow(IErrorSink& errors, QWidget* parent = nullptr);
  ~TBodeWindow() override;

  // Draws this diagram, with numbers in this decimal separator.
  void ShowBode(const analysis::BodeData& bode, char separator);
  bool HasData() const { return data_.has_value(); }
  // Says above the diagram that it is not the loop of the latest calculation, and what failed
  // for the latest ("передаточные числа не получены (…)"; empty: it is the latest). Without a
  // diagram shown before, it says only what failed.
  void SetStale(const QString& what_failed);
  bool IsStale() const;
  QString StaleText() const;
  // The margins below the diagram, a line a row (the closed loop's instability first).
  QString MarginsText() const;

  // Context menu: save the picture as PNG or SVG.
  void SavePictureClick(QObject* Sender);
  // Tests put their own chooser in place of the system's save dialog.
  void ReplaceExportChooser(std::unique_ptr<IExportChooser> chooser) {
    ExportChooser = std::move(chooser);
  }

  const TBodeChart& Chart() const { return chart_; }
  QLabel* Stale;
  TBodeView* View;
  QLabel* Unstable;
  QTableWidget* Margins;
  QAction* SavePictureAction;
  std::unique_ptr<IExportChooser> ExportChooser;

 private:
  void FillTable(const std::vector<MarginRow>& rows);

  TBodeChart chart_;
  QGraphicsScene* scene_;
  std::optional<analysis::BodeData> data_;
  std::vector<MarginRow> rows_;
  QString stale_text_;  // the whole notice; the label shows its start
  char separator_ = '.';
};

}  // namespace pitch
