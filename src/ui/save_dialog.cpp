#include "ui/save_dialog.h"

#include <QFileDialog>

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

}  // namespace pitch
