// The frame's error display: every error that leaves a click handler ends up here.
#pragma once

#include <QString>
#include <exception>
#include <memory>

#include "ui/error_sink.h"

class QMessageBox;
class QWidget;

namespace pitch {

// The modal box itself, replaceable in tests.
class IMessageBox {
 public:
  virtual ~IMessageBox() = default;
  // A modal box with the text, the caption, one OK button and the critical icon.
  virtual void ShowCritical(QWidget* owner, const QString& caption, const QString& text) = 0;
};

class QtMessageBox final : public IMessageBox {
 public:
  void ShowCritical(QWidget* owner, const QString& caption, const QString& text) override;

  // The box that ShowCritical runs: the text as plain text (typed input is never read as
  // HTML), wrapping also inside a long unbroken word, the caption, the critical icon and one OK
  // button. The box keeps within the screen's available height: a text too long for it is shown
  // up to a "…", and whole in the box's details.
  static std::unique_ptr<QMessageBox> Build(QWidget* owner, const QString& caption,
                                            const QString& text);
};

class TErrorDisplay final : public IErrorSink {
 public:
  TErrorDisplay(IMessageBox& box, QString title) : box_(box), title_(std::move(title)) {}

  // Releases any mouse grab, then shows the message (with the full stop rule) captioned with the
  // application title, owned by the active window.
  void Report(const std::exception& error) override;

 private:
  IMessageBox& box_;
  QString title_;
};

}  // namespace pitch
