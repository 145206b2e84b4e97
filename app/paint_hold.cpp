#include "app/paint_hold.h"

#include <QCoreApplication>
#include <QEvent>

namespace app {

TPaintHold::TPaintHold(QWidget* widget) : widget_(widget) {}

TPaintHold::~TPaintHold() { Release(); }

void TPaintHold::Hold() {
  if (held_ != nullptr) return;
  QWidget* window = widget_->window();
  if (!window->updatesEnabled()) return;
  held_ = window;
  kept_back_ = false;
  window->installEventFilter(this);
}

void TPaintHold::Release() {
  if (held_ == nullptr) return;
  QWidget* window = held_;
  held_ = nullptr;
  window->removeEventFilter(this);
  // The window's painter sends one request for everything marked until it
  // has painted: the request kept back must be made again, or the window
  // would never be painted again.
  if (kept_back_) QCoreApplication::postEvent(window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
  kept_back_ = false;
}

bool TPaintHold::eventFilter(QObject* watched, QEvent* event) {
  if (watched == held_ && event->type() == QEvent::UpdateRequest) {
    kept_back_ = true;
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace app
