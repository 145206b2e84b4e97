#include "platform/gui/caret.h"

#include <QApplication>
#include <QPainter>
#include <QWidget>

namespace gui {

TCaret::TCaret(QWidget* host) : QObject(host), host_(host) {
  connect(&timer_, &QTimer::timeout, this, [this] { Blink(); });
  int flash = QApplication::cursorFlashTime();
  SetBlinkInterval(flash > 0 ? flash / 2 : 0);
}

void TCaret::SetBlinkInterval(int ms) {
  timer_.stop();
  if (ms > 0) timer_.setInterval(ms);
  phase_on_ = true;
  if (ms > 0 && exists_ && shown_) timer_.start();
  Refresh(Rect());
}

void TCaret::Create(int width, int height) {
  if (exists_) Destroy();
  exists_ = true;
  shown_ = false;
  width_ = std::max(width, 1);
  height_ = std::max(height, 1);
}

void TCaret::Destroy() {
  if (!exists_) return;
  QRect old = Rect();
  exists_ = shown_ = false;
  timer_.stop();
  Refresh(old);
}

void TCaret::Show() {
  if (!exists_ || shown_) return;
  shown_ = true;
  phase_on_ = true;
  if (timer_.interval() > 0) timer_.start();
  Refresh(Rect());
}

void TCaret::Hide() {
  if (!shown_) return;
  shown_ = false;
  timer_.stop();
  Refresh(Rect());
}

void TCaret::SetPos(int x, int y) {
  QRect old = Rect();
  x_ = x;
  y_ = y;
  phase_on_ = true;
  if (exists_ && shown_ && timer_.interval() > 0) timer_.start();  // restarts the blink
  if (old != Rect()) Refresh(old);
  Refresh(Rect());
}

void TCaret::Paint(QPainter& painter) const {
  if (!Visible()) return;
  QPainter::CompositionMode old = painter.compositionMode();
  painter.setCompositionMode(QPainter::CompositionMode_Difference);
  painter.fillRect(Rect(), Qt::white);
  painter.setCompositionMode(old);
}

void TCaret::Blink() {
  phase_on_ = !phase_on_;
  Refresh(Rect());
}

void TCaret::Refresh(const QRect& rect) {
  if (host_ && rect.isValid()) host_->update(rect);
}

}  // namespace gui
