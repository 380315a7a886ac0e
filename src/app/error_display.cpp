#include "app/error_display.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include "core/errors.h"

namespace pitch {

namespace {

// The text with a zero-width space after every kRun characters of a run without blanks: the
// label can break the line there, and the text reads the same.
QString WithBreakOpportunities(const QString& text) {
  constexpr int kRun = 40;
  QString out;
  out.reserve(text.size() + text.size() / kRun);
  int run = 0;
  for (const QChar c : text) {
    out.append(c);
    run = c.isSpace() ? 0 : run + 1;
    if (run == kRun) {
      out.append(QChar(0x200B));
      run = 0;
    }
  }
  return out;
}

}  // namespace

std::unique_ptr<QMessageBox> QtMessageBox::Build(QWidget* owner, const QString& caption,
                                                 const QString& text) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, caption, QString(),
                                           QMessageBox::Ok, owner);
  box->setTextFormat(Qt::PlainText);
  box->setText(WithBreakOpportunities(text));
  return box;
}

void QtMessageBox::ShowCritical(QWidget* owner, const QString& caption, const QString& text) {
  Build(owner, caption, text)->exec();
}

void TErrorDisplay::Report(const std::exception& error) {
  if (QWidget* grabber = QWidget::mouseGrabber()) {
    grabber->releaseMouse();
  }
  const QString text = QString::fromStdString(WithFullStop(error.what()));
  box_.ShowCritical(QApplication::activeWindow(), title_, text);
}

}  // namespace pitch
