#include "app/error_display.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QScreen>
#include <QTextEdit>
#include <QWidget>
#include <algorithm>
#include <limits>

#include "core/errors.h"
#include "ui/long_text.h"

namespace pitch {

namespace {

// The height that the box's text takes at the width the box gives it: the box wraps a long text
// at half the screen's width, 500 pixels at most, less the icon and the margins. The label breaks
// lines only between words and at the zero-width spaces, and so does the estimate (one that
// broke anywhere would count a third of the lines a run without blanks takes).
int TextHeight(const QMessageBox& box, const QString& text, int screen_width) {
  const int width = std::min(screen_width / 2, 500) - 100;
  const QFontMetrics metrics(box.font());
  return metrics
      .boundingRect(QRect(0, 0, std::max(width, 100), std::numeric_limits<int>::max() / 2),
                    Qt::TextWordWrap, text)
      .height();
}

// The details' text area when they are shown: a few lines, which scroll.
constexpr int kDetailsHeight = 160;

}  // namespace

std::unique_ptr<QMessageBox> QtMessageBox::Build(QWidget* owner, const QString& caption,
                                                 const QString& text) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, caption, QString(),
                                           QMessageBox::Ok, owner);
  box->setTextFormat(Qt::PlainText);
  const QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    box->setText(WithBreakOpportunities(text));
    return box;
  }
  // The box stays within the screen's available height: beyond what fits there (the icon, the
  // button, the details' button and the frame take the rest), the text is shown up to a cut
  // marked "…", and the whole of it is in the details below, which scroll: the cut leaves room
  // for them, so that the box stays within the screen with its details open too.
  const QRect available = screen->availableGeometry();
  QString shown = WithBreakOpportunities(text);
  if (TextHeight(*box, shown, available.width()) > available.height() - 260) {
    const int room = std::max(available.height() - 260 - kDetailsHeight - 40, 40);
    // The longest start of the text that fits, found by halving.
    // No more characters can fit than lines of the narrowest ones.
    const QFontMetrics metrics(box->font());
    const qsizetype most =
        qsizetype{room / std::max(1, metrics.lineSpacing()) + 1} *
        (available.width() / std::max(1, metrics.horizontalAdvance(QLatin1Char('.'))) + 1);
    qsizetype low = 0;
    qsizetype high = std::min(text.size(), most);
    while (high - low > 1) {
      const qsizetype middle = low + (high - low) / 2;
      const QString candidate = WithBreakOpportunities(text.left(middle)) + QChar(0x2026);
      (TextHeight(*box, candidate, available.width()) <= room ? low : high) = middle;
    }
    shown = WithBreakOpportunities(text.left(low)) + QChar(0x2026);
    box->setDetailedText(text);
    for (QTextEdit* details : box->findChildren<QTextEdit*>()) {
      details->setFixedHeight(kDetailsHeight);
      details->setLineWrapMode(QTextEdit::WidgetWidth);
      details->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    }
  }
  box->setText(shown);
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
