// Win32 scroll-bar parameters on a Qt scroll bar. A Win32 bar has a range
// nMin .. nMax (inclusive) and a page nPage, and its position runs from
// nMin to nMax - nPage + 1; a Qt bar's maximum is that last position. The
// Win32 values are kept on the bar, so that GetScrollInfo returns what was
// set. The bar's user actions become the SB_* scroll commands.
#pragma once

#include <QAbstractSlider>

class QScrollBar;

namespace gui {

struct TScrollInfo {
  int nMin = 0;
  int nMax = 0;
  int nPage = 0;
  int nPos = 0;
  friend bool operator==(const TScrollInfo&, const TScrollInfo&) = default;
};

// The Qt maximum of a Win32 range: max(nMax - nPage + 1, nMin) (nMax with
// a page of 0).
int QtMaximum(const TScrollInfo& info);
// Sets range, page and position; the position is clamped as Win32 clamps it.
// The bar reports the change (valueChanged, rangeChanged, so that a scroll
// area shows or hides it) but never as a user action (actionTriggered).
void SetScrollInfo(QScrollBar* bar, const TScrollInfo& info);
TScrollInfo GetScrollInfo(const QScrollBar* bar);
void SetScrollPos(QScrollBar* bar, int pos);
// A bar is shown while its range exceeds its page (Qt maximum above nMin).
bool ScrollBarNeeded(const TScrollInfo& info);

// The SB_* command of a bar action; -1 for actions without one.
int ScrollCommand(QAbstractSlider::SliderAction action);

}  // namespace gui
