#include "ui/bode_window.h"

#include <QAction>
#include <QGraphicsScene>
#include <QGraphicsWidget>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QResizeEvent>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "storage/exports.h"
#include "ui/bode_export.h"
#include "ui/long_text.h"
#include "ui/plot_export.h"
#include "ui/response_chart.h"

namespace pitch {

namespace {

// The size the window asks for where the screen has room, and the least at which the axis
// labels (up to nine on the magnitude axis, which Qt Charts cuts to "..." when they crowd), the
// text on the diagram and the table stay whole.
constexpr QSize kPreferredSize(1040, 800);
constexpr QSize kMinimumSize(640, 700);
// What a window manager adds around the client area (title bar and border), kept free.
constexpr QSize kFrameAllowance(16, 48);
// The most characters of the stale notice shown in the window.
constexpr qsizetype kStaleNoticeLength = 400;

}  // namespace

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

  Stale = new QLabel(this);
  Stale->setWordWrap(true);
  Stale->setStyleSheet(QStringLiteral("QLabel { color: #b00000; font-weight: bold; }"));
  Stale->setVisible(false);
  scene_ = new QGraphicsScene(this);
  scene_->addItem(chart_.widget());  // the scene owns the charts from here on
  View = new TBodeView(scene_, chart_, this);
  Unstable = new QLabel(this);
  Unstable->setVisible(false);
  Margins = new QTableWidget(0, 3, this);
  Margins->setHorizontalHeaderLabels(
      {QStringLiteral("Запас"), QStringLiteral("Значение"), QStringLiteral("Где")});
  Margins->verticalHeader()->setVisible(false);
  Margins->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Margins->setSelectionMode(QAbstractItemView::ContiguousSelection);
  Margins->setWordWrap(false);
  Margins->setTextElideMode(Qt::ElideNone);
  Margins->setFocusPolicy(Qt::NoFocus);
  Margins->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  Margins->horizontalHeader()->setStretchLastSection(true);
  Margins->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Margins->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Stale, 0);
  layout->addWidget(View, 1);
  layout->addWidget(Unstable, 0);
  layout->addWidget(Margins, 0);

  // Sized for the screen it opens on: the diagram as large as it asks where there is room,
  // never beyond the available area (a 1280 × 1024 screen at 144 dpi has less than it asks).
  const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
  const QSize room =
      screen != nullptr ? screen->availableGeometry().size() - kFrameAllowance : kPreferredSize;
  setMinimumSize(kMinimumSize.boundedTo(room));
  resize(kPreferredSize.boundedTo(room).expandedTo(minimumSize()));

  ExportChooser = std::make_unique<TExportChooser>();
  SavePictureAction = new QAction(QStringLiteral("Сохранить рисунок…"), View);
  SavePictureAction->setEnabled(false);  // nothing to save before the first diagram
  View->addAction(SavePictureAction);
  View->setContextMenuPolicy(Qt::ActionsContextMenu);
  ConnectGuarded(SavePictureAction, &QAction::triggered, errors,
                 [this](QObject* sender) { SavePictureClick(sender); });
  FillTable({});
}

TBodeWindow::~TBodeWindow() = default;

void TBodeWindow::ShowBode(const analysis::BodeData& bode, char separator) {
  data_ = bode;
  separator_ = separator;
  chart_.SetDecimalSeparator(separator);
  chart_.SetData(bode);
  Unstable->setText(QStringLiteral("Замкнутая система неустойчива: это не запасы устойчивости"));
  Unstable->setVisible(!bode.margins.closed_loop_stable);
  FillTable(MarginRows(bode.margins, separator, 6));
  SavePictureAction->setEnabled(true);
}

void TBodeWindow::FillTable(const std::vector<MarginRow>& rows) {
  rows_ = rows;
  Margins->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const MarginRow& row = rows[static_cast<std::size_t>(r)];
    const QString cells[3] = {row.quantity, row.value, row.where};
    for (int c = 0; c < 3; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      item->setToolTip(row.Line());
      Margins->setItem(r, c, item);
    }
  }
  Margins->resizeColumnsToContents();
  // Sizing the columns to their new texts takes the last one's stretch away (it would keep its
  // text's width and leave a grey strip): it stretches to the table's edge again.
  QHeaderView* header = Margins->horizontalHeader();
  header->setStretchLastSection(false);
  header->setStretchLastSection(true);
  Margins->resizeRowsToContents();
  // Every row in view, without a scroll bar: the table is exactly as high as its rows.
  int height = Margins->horizontalHeader()->sizeHint().height() + 2 * Margins->frameWidth();
  for (int r = 0; r < Margins->rowCount(); ++r) {
    height += Margins->rowHeight(r);
  }
  Margins->setFixedHeight(height);
}

void TBodeWindow::SetStale(const QString& what_failed) {
  const QString notice =
      data_ ? QStringLiteral(
                  "Это частотные характеристики предыдущего расчёта: для коэффициентов последнего ")
            : QStringLiteral("Для коэффициентов последнего расчёта ");
  stale_text_ = what_failed.isEmpty() ? QString() : notice + what_failed;
  // A few lines at most, each broken within the window's width: the reason may be an error that
  // quotes a pasted text of any length. The tooltip has more of a long one.
  Stale->setText(ShortNotice(stale_text_, kStaleNoticeLength));
  Stale->setToolTip(stale_text_.size() > kStaleNoticeLength
                        ? ShortNotice(stale_text_, 20 * kStaleNoticeLength)
                        : QString());
  Stale->setVisible(!what_failed.isEmpty());
}

bool TBodeWindow::IsStale() const { return !stale_text_.isEmpty(); }

QString TBodeWindow::StaleText() const { return stale_text_; }

QString TBodeWindow::MarginsText() const {
  QStringList lines;
  if (data_ && !data_->margins.closed_loop_stable) {
    lines << Unstable->text();
  }
  for (const MarginRow& row : rows_) {
    lines << row.Line();
  }
  return lines.join(QLatin1Char('\n'));
}

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
