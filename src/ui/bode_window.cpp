#include "ui/bode_window.h"

#include <QAction>
#include <QGraphicsScene>
#include <QGraphicsWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QResizeEvent>

#include "storage/exports.h"
#include "ui/bode_export.h"
#include "ui/plot_export.h"

namespace pitch {

TBodeView::TBodeView(QGraphicsScene* scene, TBodeChart& chart, QWidget* parent)
    : QGraphicsView(scene, parent), chart_(chart) {
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameShape(QFrame::NoFrame);
  setRenderHint(QPainter::Antialiasing, true);
}

void TBodeView::resizeEvent(QResizeEvent* event) {
  const QRectF area(QPointF(0, 0), viewport()->size());
  chart_.widget()->setGeometry(area);
  scene()->setSceneRect(area);
  chart_.AlignPlotAreas();
  QGraphicsView::resizeEvent(event);
}

TBodeWindow::TBodeWindow(IErrorSink& errors, QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Частотные характеристики"));
  resize(1040, 640);

  scene_ = new QGraphicsScene(this);
  scene_->addItem(chart_.widget());  // the scene owns the charts from here on
  View = new TBodeView(scene_, chart_, this);
  Margins = new QLabel(this);
  Margins->setWordWrap(true);
  Margins->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Margins->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Margins->setFixedWidth(260);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(View, 1);
  layout->addWidget(Margins, 0);

  ExportChooser = std::make_unique<TExportChooser>();
  SavePictureAction = new QAction(QStringLiteral("Сохранить рисунок…"), View);
  SavePictureAction->setEnabled(false);  // nothing to save before the first diagram
  View->addAction(SavePictureAction);
  View->setContextMenuPolicy(Qt::ActionsContextMenu);
  ConnectGuarded(SavePictureAction, &QAction::triggered, errors,
                 [this](QObject* sender) { SavePictureClick(sender); });
}

TBodeWindow::~TBodeWindow() = default;

void TBodeWindow::ShowBode(const analysis::BodeData& data, char separator) {
  data_ = data;
  separator_ = separator;
  chart_.SetDecimalSeparator(separator);
  chart_.SetData(data);
  Margins->setText(MarginLines(data.margins, separator, 6, true).join(QLatin1Char('\n')));
  SavePictureAction->setEnabled(true);
}

QString TBodeWindow::MarginsText() const { return Margins->text(); }

void TBodeWindow::SavePictureClick(QObject* /*Sender*/) {
  if (!data_) {
    return;
  }
  const QString path = ExportChooser->Choose(
      this, QStringLiteral("Сохранить рисунок"),
      {QStringLiteral("Рисунок PNG (*.png)"), QStringLiteral("Рисунок SVG (*.svg)")});
  if (path.isEmpty()) {
    return;
  }
  WriteFileBytes(path.toStdString(), RenderBodePlot(*data_, View->viewport()->size(), separator_,
                                                    PlotFormatForPath(path)));
}

}  // namespace pitch
