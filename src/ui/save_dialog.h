// SaveDialog1: the save-file dialog that asks for the results file's path. It remembers the
// last confirmed path and file type for its next run within the program.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QFileDialog;
class QWidget;

namespace pitch {

// The filter of every file, those without a dot in their name included ("*.*" would hide them).
QString AllFilesFilter();

// A save-file dialog with these filters, in the detail view, large enough that its columns
// (name, size, type, date) are not cut; an existing file is replaced without a question.
std::unique_ptr<QFileDialog> MakeSaveFileDialog(QWidget* owner, const QString& caption,
                                                const QStringList& filters);

class ISaveDialog {
 public:
  virtual ~ISaveDialog() = default;
  // Runs the dialog modally; true when the user confirmed a file name, which then becomes the
  // dialog's file name. False on cancel, and nothing changes.
  virtual bool Execute() = 0;
  // "Result_1" until the first confirmation, then the full path last chosen.
  virtual QString FileName() const = 0;
};

class TSaveDialog final : public ISaveDialog {
 public:
  explicit TSaveDialog(QWidget* owner) : owner_(owner) {}
  bool Execute() override;
  QString FileName() const override { return file_name_; }

  static const QStringList& Filters();

 private:
  QWidget* owner_;
  QString file_name_ = QStringLiteral("Result_1");
  int filter_index_ = 0;
};

// Asks where to export a picture or the data; an empty path means the user cancelled.
class IExportChooser {
 public:
  virtual ~IExportChooser() = default;
  virtual QString Choose(QWidget* owner, const QString& caption, const QStringList& filters) = 0;
};

// The system's save dialog; a name typed without an extension gets the one of the chosen filter.
class TExportChooser final : public IExportChooser {
 public:
  QString Choose(QWidget* owner, const QString& caption, const QStringList& filters) override;
};

}  // namespace pitch
