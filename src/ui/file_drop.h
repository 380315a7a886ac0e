// A drop of one local file anywhere on a window, its boxes and its chart included, opens the
// file. The drop is always taken as a copy: a source that honoured a proposed move would delete
// the user's file. A drag of anything else goes on to the widget under the pointer as before (an
// input box still takes dragged text).
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QMimeData;
class QWidget;

namespace pitch {

class IErrorSink;

class TFileDrop final : public QObject {
 public:
  using Open = std::function<void(const QString& path)>;
  // Watches window and every widget in it now; open's errors go to errors, which outlives this.
  TFileDrop(QWidget& window, IErrorSink& errors, Open open);

  // The path of the one local file that mime holds; empty for anything else.
  static QString DroppedFile(const QMimeData* mime);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  IErrorSink& errors_;
  Open open_;
};

}  // namespace pitch
