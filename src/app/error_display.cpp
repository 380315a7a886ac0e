#include "app/error_display.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include "core/errors.h"

namespace pitch {

void QtMessageBox::ShowCritical(QWidget* owner, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, owner);
  box.exec();
}

void TErrorDisplay::Report(const std::exception& error) {
  if (QWidget* grabber = QWidget::mouseGrabber()) {
    grabber->releaseMouse();
  }
  const QString text = QString::fromStdString(WithFullStop(error.what()));
  box_.ShowCritical(QApplication::activeWindow(), title_, text);
}

}  // namespace pitch
