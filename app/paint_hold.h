#pragma once
// Holding a window's painting for a while without losing what changed.
//
// Disabling updates (QWidget::setUpdatesEnabled) forgets every request to
// draw made meanwhile, so enabling them again marks the whole window and
// all its controls to be drawn. A hold instead keeps back the window's
// requests to paint its dirty regions while the regions themselves stay
// marked; at its end one request paints exactly what was marked: every
// control whose content changed, nothing else.
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace app {

class TPaintHold : public QObject {
public:
  // widget: any control of the window to hold (the hold acts on its
  // top-level window, which paints for all of them).
  explicit TPaintHold(QWidget* widget);
  ~TPaintHold() override;
  TPaintHold(const TPaintHold&) = delete;
  TPaintHold& operator=(const TPaintHold&) = delete;

  // Starts holding; nothing when already held, or when the window's updates
  // are off anyway (nothing would be drawn to hold back).
  void Hold();
  // Ends the hold: what was kept back is painted at the next turn of the
  // event loop (or at once by a repaint). Nothing when not held.
  void Release();
  bool Held() const { return held_ != nullptr; }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QWidget* widget_;
  QPointer<QWidget> held_;  // the top-level window while held
  bool kept_back_ = false;  // a request to paint arrived while held
};

}  // namespace app
