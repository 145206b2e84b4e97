// The text caret: one per host widget, created with a size and shown while
// the host has the focus, blinking on a timer. The host paints it last in
// its paint handler (Paint inverts the caret's rectangle while it is in
// its visible phase); every change repaints the rectangles involved.
#pragma once

#include <QObject>
#include <QRect>
#include <QTimer>

class QPainter;
class QWidget;

namespace gui {

class TCaret : public QObject {
public:
  // host: the widget whose client area holds the caret.
  explicit TCaret(QWidget* host);

  // CreateCaret: a hidden caret of the given size (replaces one that exists).
  void Create(int width, int height);
  // DestroyCaret.
  void Destroy();
  bool Exists() const { return exists_; }
  void Show();
  void Hide();
  // SetCaretPos: restarts the blink in the visible phase.
  void SetPos(int x, int y);
  QRect Rect() const { return QRect(x_, y_, width_, height_); }
  // Created, shown and in the visible phase of its blink.
  bool Visible() const { return exists_ && shown_ && phase_on_; }
  void Paint(QPainter& painter) const;
  // The blink interval in milliseconds; 0 keeps the caret steady.
  void SetBlinkInterval(int ms);

private:
  void Blink();
  void Refresh(const QRect& rect);

  QWidget* host_;
  QTimer timer_;
  bool exists_ = false;
  bool shown_ = false;
  bool phase_on_ = true;
  int x_ = 0, y_ = 0, width_ = 1, height_ = 1;
};

}  // namespace gui
