// What the file dialogs show of a file besides its name: icon, type and size. Decided by the
// name and the file's attributes alone, never by reading its content: guessing a type from the
// first bytes opens the file, and opening /proc/kmsg, a FIFO without a writer or a device can
// block the window for good.
#pragma once

#include <QFileIconProvider>
#include <QIdentityProxyModel>
#include <QString>

class QFileDialog;

namespace pitch {

class TNameOnlyIconProvider final : public QFileIconProvider {
 public:
  TNameOnlyIconProvider();
  // A folder's, a file's or a drive's icon, by the attributes the directory listing gives.
  QIcon icon(const QFileInfo& info) const override;
  // "Folder", "<SUFFIX> File", "File", … in the program's language.
  QString type(const QFileInfo& info) const override;
  using QFileIconProvider::icon;
};

// A size as the dialogs write it: "%n byte(s)" below a kibibyte, else "%1 KiB" … "%1 TiB" with
// two decimals, all translated (in Russian "3 байта", "1,50 КБ").
QString FileSizeText(qint64 bytes);

// The dialog's model seen through this: the size column in FileSizeText, not in the locale's
// data-size text (which has no Russian units).
class TFileSizeProxy final : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;
  QVariant data(const QModelIndex& index, int role) const override;
};

// Puts both into a dialog of Qt's own (the proxy is the dialog's child).
void UseNameOnlyFileInfo(QFileDialog& dialog);

}  // namespace pitch
