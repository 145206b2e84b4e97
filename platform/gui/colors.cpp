#include "platform/gui/colors.h"

namespace gui {

QColor ToQColor(TColor color) {
  TColor rgb = ColorToRGB(color);
  if (rgb == clNone) return QColor();
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

TColor FromQColor(const QColor& color) {
  if (!color.isValid()) return clNone;
  return static_cast<TColor>(color.red() | (color.green() << 8) | (color.blue() << 16));
}

}  // namespace gui
