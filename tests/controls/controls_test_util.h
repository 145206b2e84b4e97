// The control set's tests share the GUI layer's offscreen QApplication; pixel access.
#pragma once

#include <QApplication>
#include <QImage>
#include <cstdint>

#include "tests/platform/gui/gui_test_util.h"

namespace controls_test {

using gui_test::App;

// A pixel as 0x00BBGGRR, the colour value of the control set.
inline std::int32_t PixelColor(const QImage& image, int x, int y) {
  const QRgb p = image.pixel(x, y);
  return static_cast<std::int32_t>(qRed(p) | (qGreen(p) << 8) | (qBlue(p) << 16));
}

}  // namespace controls_test
