// One offscreen QApplication for the GUI layer's tests.
#pragma once

#include <QApplication>

namespace gui_test {

inline QApplication& App() {
  static int argc = 1;
  static char arg0[] = "gui_tests";
  static char* argv[] = {arg0, nullptr};
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = new QApplication(argc, argv);  // never destroyed
  return *app;
}

}  // namespace gui_test
