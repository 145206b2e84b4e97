// Three-dimensional edges in the manner of DrawEdge: up to two one-pixel
// lines (outer, then inner) round a rectangle, each raised or sunken.
//
// Colour roles (top-left / bottom-right):
//   raised outer   cl3DLight (clBtnHighlight with BF_SOFT) / cl3DDkShadow
//   raised inner   clBtnHighlight (cl3DLight with BF_SOFT) / clBtnShadow
//   sunken outer   clBtnShadow / clBtnHighlight
//   sunken inner   cl3DDkShadow / cl3DLight
// The top-left colour takes the top row and left column without their far
// ends; the bottom-right colour takes the whole bottom row and right column.
// BF_MIDDLE fills what is left inside with clBtnFace.
#pragma once

#include <QPainter>

#include "platform/gui/base/geometry.h"

namespace gui {

inline constexpr unsigned BDR_RAISEDOUTER = 0x1, BDR_SUNKENOUTER = 0x2, BDR_RAISEDINNER = 0x4,
                          BDR_SUNKENINNER = 0x8;
inline constexpr unsigned EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
inline constexpr unsigned EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
inline constexpr unsigned BF_LEFT = 0x1, BF_TOP = 0x2, BF_RIGHT = 0x4, BF_BOTTOM = 0x8, BF_RECT = 0xF;
inline constexpr unsigned BF_MIDDLE = 0x800, BF_SOFT = 0x1000;

// Draws the edge on the sides flags name; returns the rectangle inside it.
TRect DrawEdge(QPainter& painter, TRect rect, unsigned edge, unsigned flags);

}  // namespace gui
