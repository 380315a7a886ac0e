// The Bode window's life beside the main window: made at its first showing, a child of the main
// window, it then follows every calculation while it is open and says when a calculation got no
// loop of its own.
#pragma once

#include <QString>
#include <optional>

#include "analysis/frequency_response.h"

class QWidget;

namespace pitch {

class IErrorSink;
class TBodeWindow;

class TBodeFollower {
 public:
  // errors takes the Bode window's own errors; owner is the main window. Both outlive this.
  TBodeFollower(IErrorSink& errors, QWidget& owner) : errors_(errors), owner_(owner) {}

  // The loop of a calculation whose ratios are known, the latest from now on.
  void TakeLoop(const analysis::BodeData& data, char separator);
  // A calculation that got no loop: the window keeps the last one and says what failed
  // (TBodeWindow::SetStale).
  void LoseLoop(const QString& what_failed, char separator);
  // A loop has been taken.
  bool HasLoop() const { return bode_.has_value(); }
  // Shows the window with the latest loop, making it the first time; without a loop, only what
  // failed (nothing before the first calculation whose ratios are known).
  void Show(char separator);
  // The window, null before its first showing.
  TBodeWindow* Window() const { return window_; }

 private:
  void Refresh(char separator);

  IErrorSink& errors_;
  QWidget& owner_;
  std::optional<analysis::BodeData> bode_;
  // Why the calculations after the loop's got none; empty while the loop is the latest.
  QString stale_reason_;
  TBodeWindow* window_ = nullptr;  // a child of owner_
};

}  // namespace pitch
