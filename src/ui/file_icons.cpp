#include "ui/file_icons.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLocale>
#include <cmath>

namespace pitch {

namespace {

const char kContext[] = "pitch::FileInfo";

QString Translate(const char* context, const char* text, const char* disambiguation = nullptr,
                  int n = -1) {
  return QCoreApplication::translate(context, text, disambiguation, n);
}

}  // namespace

TNameOnlyIconProvider::TNameOnlyIconProvider() {
  // Qt's provider may ask the desktop for a folder's own icon, which reads a file in it.
  setOptions(DontUseCustomDirectoryIcons);
}

QIcon TNameOnlyIconProvider::icon(const QFileInfo& info) const {
  // isRoot, isDir and isFile come from the listing's stat, which opens nothing.
  if (info.isRoot()) {
    return icon(Drive);
  }
  if (info.isDir()) {
    return icon(Folder);
  }
  return icon(File);
}

QString TNameOnlyIconProvider::type(const QFileInfo& info) const {
  if (info.isRoot()) {
    return Translate("QAbstractFileIconProvider", "Drive");
  }
  if (info.isDir()) {
    return Translate("QAbstractFileIconProvider", "Folder", "All other platforms");
  }
  if (info.isSymLink() && !info.exists()) {
    return Translate("QAbstractFileIconProvider", "Shortcut", "All other platforms");
  }
  const QString suffix = info.suffix();
  if (!suffix.isEmpty()) {
    return Translate(kContext, "%1 File").arg(suffix.toUpper());
  }
  return Translate(kContext, "File");
}

QString FileSizeText(qint64 bytes) {
  if (bytes < 1024) {
    return Translate(kContext, "%n byte(s)", nullptr, static_cast<int>(bytes));
  }
  static const char* const kUnits[] = {"%1 KiB", "%1 MiB", "%1 GiB", "%1 TiB", "%1 PiB", "%1 EiB"};
  double value = static_cast<double>(bytes);
  int unit = -1;
  while (value >= 1024 && unit + 1 < 6) {
    value /= 1024;
    ++unit;
  }
  // Numbers in the language of the texts: a comma in Russian.
  const QLocale language(Translate(kContext, "en_US", "the locale of the numbers"));
  return Translate(kContext, kUnits[unit]).arg(language.toString(value, 'f', 2));
}

QVariant TFileSizeProxy::data(const QModelIndex& index, int role) const {
  const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
  if (files != nullptr && index.column() == 1 && role == Qt::DisplayRole) {
    const QModelIndex source = mapToSource(index);
    if (files->isDir(source)) {
      return QString();
    }
    return FileSizeText(files->size(source));
  }
  return QIdentityProxyModel::data(index, role);
}

void UseNameOnlyFileInfo(QFileDialog& dialog) {
  // One provider for the program's dialogs; it lives as long as the process.
  static TNameOnlyIconProvider* const provider = new TNameOnlyIconProvider;
  dialog.setIconProvider(provider);
  dialog.setProxyModel(new TFileSizeProxy(&dialog));
}

}  // namespace pitch
