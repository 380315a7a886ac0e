#include "ui/bode_follower.h"

#include "ui/bode_window.h"

namespace pitch {

void TBodeFollower::TakeLoop(const analysis::BodeData& data, char separator) {
  bode_ = data;
  stale_reason_.clear();
  Refresh(separator);
}

void TBodeFollower::LoseLoop(const QString& what_failed, char separator) {
  stale_reason_ = what_failed;
  Refresh(separator);
}

void TBodeFollower::Refresh(char separator) {
  if (window_ == nullptr || !window_->isVisible()) {
    return;
  }
  if (bode_) {
    window_->ShowBode(*bode_, separator);
  }
  window_->SetStale(stale_reason_);
}

void TBodeFollower::Show(char separator) {
  if (!bode_ && stale_reason_.isEmpty()) {
    return;
  }
  if (window_ == nullptr) {
    window_ = new TBodeWindow(errors_, &owner_);
  }
  if (bode_) {
    window_->ShowBode(*bode_, separator);
  }
  window_->SetStale(stale_reason_);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

}  // namespace pitch
