#include "ui/save_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QListView>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTreeView>
#include <algorithm>

#include "ui/file_icons.h"
#include "ui/layout_scale.h"

namespace pitch {

std::unique_ptr<QFileDialog> MakeSaveFileDialog(QWidget* owner, const QString& caption,
                                                const QStringList& filters) {
  auto dialog = std::make_unique<QFileDialog>(owner, caption);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setNameFilters(filters);
  dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
  // Qt's own dialog: icons, types and sizes without reading a file's content, in Russian.
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  UseNameOnlyFileInfo(*dialog);
  dialog->setViewMode(QFileDialog::Detail);
  // 780 × 460 at 96 dpi, scaled as the window's controls are, within the screen.
  const QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
  QSize size = LayoutScale::ForWidget(owner).Apply(QSize(780, 460));
  if (screen != nullptr) {
    size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 48));
  }
  dialog->resize(size);
  // The places on the left as wide as their longest name ("Компьютер"), which Qt's default
  // width cuts at every resolution; the file list keeps the rest.
  auto* splitter = dialog->findChild<QSplitter*>(QStringLiteral("splitter"));
  auto* sidebar = dialog->findChild<QListView*>(QStringLiteral("sidebar"));
  if (splitter != nullptr && sidebar != nullptr && splitter->count() == 2) {
    const int wanted = sidebar->sizeHintForColumn(0) + 2 * sidebar->frameWidth() +
                       sidebar->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const QList<int> sizes = splitter->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    if (total > 0 && sizes.value(0) < wanted) {
      splitter->setSizes({wanted, std::max(0, total - wanted)});
    }
  }
  // Qt's own dialog (where the desktop offers none) gives size, type and date the width of
  // their contents and the name the rest.
  if (auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"))) {
    view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  }
  return dialog;
}

QString AllFilesFilter() { return QStringLiteral("Все файлы (*)"); }

const QStringList& TSaveDialog::Filters() {
  static const QStringList filters = {QStringLiteral("Текстовые файлы (*.txt)"), AllFilesFilter()};
  return filters;
}

bool TSaveDialog::Execute() {
  // No title of its own: the dialog shows its default one.
  const std::unique_ptr<QFileDialog> dialog = MakeSaveFileDialog(owner_, QString(), Filters());
  dialog->setDefaultSuffix(QStringLiteral("txt"));
  dialog->selectNameFilter(Filters().at(filter_index_));
  dialog->selectFile(file_name_);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
    return false;
  }
  file_name_ = dialog->selectedFiles().constFirst();
  filter_index_ = std::max(0, static_cast<int>(Filters().indexOf(dialog->selectedNameFilter())));
  return true;
}

QString TExportChooser::Choose(QWidget* owner, const QString& caption, const QStringList& filters) {
  const std::unique_ptr<QFileDialog> dialog = MakeSaveFileDialog(owner, caption, filters);
  // The export asks before it replaces a file.
  dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
    return {};
  }
  QString path = dialog->selectedFiles().constFirst();
  const QString selected = dialog->selectedNameFilter();
  if (!QFileInfo(path).suffix().isEmpty()) {
    return path;
  }
  // "Name (*.ext)": the extension of the chosen filter.
  const qsizetype star = selected.indexOf(QLatin1String("*."));
  const qsizetype close = selected.indexOf(QLatin1Char(')'), star);
  if (star >= 0 && close > star + 2 && selected.mid(star + 2, close - star - 2) != "*") {
    path += QLatin1Char('.') + selected.mid(star + 2, close - star - 2);
  }
  return path;
}

}  // namespace pitch
