#include "ui/file_drop.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include "ui/error_sink.h"

namespace pitch {

TFileDrop::TFileDrop(QWidget& window, IErrorSink& errors, Open open)
    : QObject(&window), errors_(errors), open_(std::move(open)) {
  window.setAcceptDrops(true);
  window.installEventFilter(this);
  for (QWidget* child : window.findChildren<QWidget*>()) {
    child->setAcceptDrops(true);
    child->installEventFilter(this);
  }
}

QString TFileDrop::DroppedFile(const QMimeData* mime) {
  if (mime == nullptr) {
    return {};
  }
  const QList<QUrl> urls = mime->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) {
    return {};
  }
  return urls.front().toLocalFile();
}

bool TFileDrop::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (DroppedFile(drag->mimeData()).isEmpty()) {
        break;
      }
      drag->setDropAction(Qt::CopyAction);
      drag->accept();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QString path = DroppedFile(drop->mimeData());
      if (path.isEmpty()) {
        break;
      }
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      RunGuarded(errors_, [&] { open_(path); });
      return true;
    }
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace pitch
