// Colours (platform/gui/base/colors.h) to and from QColor.
#pragma once

#include <QColor>

#include "platform/gui/base/colors.h"

namespace gui {

// -1 gives an invalid QColor.
QColor ToQColor(TColor color);
TColor FromQColor(const QColor& color);

}  // namespace gui
