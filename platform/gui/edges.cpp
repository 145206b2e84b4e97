#include "platform/gui/edges.h"

#include "platform/gui/colors.h"

namespace gui {
namespace {

// One line round rect in the two colours; rect shrinks by the sides drawn.
void Line(QPainter& p, TRect& r, TColor top_left, TColor bottom_right, unsigned flags) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  const QColor tl = ToQColor(top_left), br = ToQColor(bottom_right);
  if (flags & BF_TOP) p.fillRect(QRect(r.left, r.top, r.right - r.left - 1, 1), tl);
  if (flags & BF_LEFT) p.fillRect(QRect(r.left, r.top, 1, r.bottom - r.top - 1), tl);
  if (flags & BF_BOTTOM) p.fillRect(QRect(r.left, r.bottom - 1, r.right - r.left, 1), br);
  if (flags & BF_RIGHT) p.fillRect(QRect(r.right - 1, r.top, 1, r.bottom - r.top), br);
  if (flags & BF_LEFT) ++r.left;
  if (flags & BF_TOP) ++r.top;
  if (flags & BF_RIGHT) --r.right;
  if (flags & BF_BOTTOM) --r.bottom;
}

}  // namespace

TRect DrawEdge(QPainter& painter, TRect rect, unsigned edge, unsigned flags) {
  const bool soft = (flags & BF_SOFT) != 0;
  if (edge & BDR_RAISEDOUTER)
    Line(painter, rect, soft ? clBtnHighlight : cl3DLight, cl3DDkShadow, flags);
  else if (edge & BDR_SUNKENOUTER)
    Line(painter, rect, clBtnShadow, clBtnHighlight, flags);
  if (edge & BDR_RAISEDINNER)
    Line(painter, rect, soft ? cl3DLight : clBtnHighlight, clBtnShadow, flags);
  else if (edge & BDR_SUNKENINNER)
    Line(painter, rect, cl3DDkShadow, cl3DLight, flags);
  if ((flags & BF_MIDDLE) && rect.right > rect.left && rect.bottom > rect.top)
    painter.fillRect(QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top), ToQColor(clBtnFace));
  return rect;
}

}  // namespace gui
