// Points and rectangles in client pixels, as Win32 passes them: a
// rectangle's right and bottom lie just outside it.
#pragma once

namespace gui {

struct TPoint {
  int x = 0;
  int y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};

}  // namespace gui
