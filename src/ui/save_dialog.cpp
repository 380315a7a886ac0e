#include "ui/save_dialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace pitch {

const QStringList& TSaveDialog::Filters() {
  static const QStringList filters = {QStringLiteral("Текстовые файлы (*.txt)"),
                                      QStringLiteral("Все файлы (*.*)")};
  return filters;
}

bool TSaveDialog::Execute() {
  QFileDialog dialog(owner_);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.setNameFilters(Filters());
  dialog.selectNameFilter(Filters().at(filter_index_));
  dialog.selectFile(file_name_);
  // An existing file is replaced without a question.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return false;
  }
  file_name_ = dialog.selectedFiles().constFirst();
  filter_index_ = std::max(0, static_cast<int>(Filters().indexOf(dialog.selectedNameFilter())));
  return true;
}

QString TExportChooser::Choose(QWidget* owner, const QString& caption, const QStringList& filters) {
  QString selected = filters.value(0);
  QString path = QFileDialog::getSaveFileName(owner, caption, QString(),
                                              filters.join(QStringLiteral(";;")), &selected);
  if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty()) {
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
