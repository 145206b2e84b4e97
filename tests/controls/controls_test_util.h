// One offscreen QApplication for the control set's tests, and pixel access.
#pragma once

#include <QApplication>
#include <QImage>
#include <cstdint>

namespace controls_test {

inline QApplication& App() {
  static int argc = 1;
  static char arg0[] = "controls_tests";
  static char* argv[] = {arg0, nullptr};
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = new QApplication(argc, argv);  // never destroyed
  return *app;
}

// A pixel as 0x00BBGGRR, the colour value of the control set.
inline std::int32_t PixelColor(const QImage& image, int x, int y) {
  const QRgb p = image.pixel(x, y);
  return static_cast<std::int32_t>(qRed(p) | (qGreen(p) << 8) | (qBlue(p) << 16));
}

}  // namespace controls_test
