// TUpDown: a pair of arrow buttons, up and down, with a position. A click
// reports which arrow was pressed (btNext for up, btPrev for down); the
// position is the program's to set, the arrows never move it themselves.
#pragma once

#include <QWidget>
#include <functional>

class QToolButton;

namespace gui {

enum TUDBtnType : int { btNext, btPrev };

class TUpDown : public QWidget {
public:
  explicit TUpDown(QWidget* parent = nullptr);

  int Position() const { return position_; }
  void SetPosition(int position) { position_ = position; }
  // The arrow of the click being handled (the last one pressed).
  TUDBtnType LastButton() const { return last_; }
  // Presses an arrow as a click of the user would.
  void Click(TUDBtnType button);
  std::function<void(TUDBtnType)> OnClick;

  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }

private:
  QToolButton* up_;
  QToolButton* down_;
  int position_ = 0;
  TUDBtnType last_ = btNext;
};

}  // namespace gui
