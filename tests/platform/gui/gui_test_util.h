// One offscreen QApplication for the GUI layer's tests.
#pragma once

#include <QApplication>

namespace gui_test {

inline QApplication& App() {
  static int argc = 1;
  static char arg0[] = "gui_tests";
  static char* argv[] = {arg0, nullptr};
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never destroyed: at exit Qt's own registries are gone before a static
  // application object would be.
  static QApplication* app = new QApplication(argc, argv);
  QApplication::setCursorFlashTime(0);  // a steady caret: pictures do not depend on the blink
  return *app;
}

}  // namespace gui_test
