// Where a memo is looked at from: the pixel origins of the view, the client
// size last taken from the window (what a windowless memo keeps), the x
// that vertical caret moves keep, and the wheel factor. The memo owns one
// and scrolls it; the window layer reads it through the memo. It holds no
// text and knows no window.
#pragma once

#include <climits>

namespace memo {

class TMemoViewState {
public:
  // No remembered x: the next vertical move takes the caret's own.
  static constexpr int kNoCaretX = INT_MIN;

  // The x that vertical moves keep; kNoCaretX when none.
  int remembered_caret_x = kNoCaretX;
  // Wheel lines per notch.
  int mouse_wheel_factor = 3;
  // Pixel offset of the view into the laid-out text: the top of display
  // line 0 is top_origin pixels above the client top; display_left pixels
  // of every line are scrolled out on the left.
  int top_origin = 0;
  int display_left = 0;
  int client_width = 100;
  int client_height = 60;

  void ForgetCaretX() { remembered_caret_x = kNoCaretX; }
  void ResetOrigins() { top_origin = display_left = 0; }

  // The client y of the row-th visible line (row 0 the first visible one,
  // partly scrolled out when top_origin is not a multiple of lineHeight).
  int RowTop(int row, int lineHeight) const {
    return lineHeight < 1 ? 0 : row * lineHeight - top_origin % lineHeight;
  }
  // The visible row that holds client y; the inverse of RowTop.
  int RowAt(int y, int lineHeight) const { return lineHeight < 1 ? 0 : (top_origin % lineHeight + y) / lineHeight; }
  // The top origin that shows topLine first with the same part of a line
  // scrolled out (kept across a change of the line count above the view).
  int OriginForTopLine(int topLine, int lineHeight) const {
    return lineHeight < 1 ? 0 : topLine * lineHeight + top_origin % lineHeight;
  }
};

}  // namespace memo
