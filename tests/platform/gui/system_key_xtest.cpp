// Keys typed through the operating-system layer's X Test path reach a line
// edit that has the focus on a real X server, with the system key held
// around them. A program of its own: Qt runs on the X server here (xcb),
// not offscreen as in the other GUI tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <vector>

#include "platform/runtime/os_display.h"
// The X headers define words such as None and Bool: after every other.
#include "support/x_server.h"
#undef KeyPress

namespace {

TEST(SystemKeyTyping, ReachesTheFocusedLineEditOfTheTest) {
  static qvtest::XServer server;  // before Qt connects
  if (!server.Available()) GTEST_SKIP() << "no X server could be opened or started (is Xvfb installed?)";
  qputenv("QT_QPA_PLATFORM", "xcb");
  static int argc = 1;
  static char arg0[] = "gui_x11_tests";
  static char* argv[] = {arg0, nullptr};
  QApplication app(argc, argv);

  QLineEdit edit;
  edit.setWindowTitle("typing target");
  edit.show();
  edit.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&edit));
  edit.setFocus();

  // What the line edit is told, in order.
  struct Recorder : QObject {
    std::vector<std::pair<int, Qt::KeyboardModifiers>> presses;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        presses.emplace_back(k->key(), k->modifiers());
      }
      return false;
    }
  } recorder;
  edit.installEventFilter(&recorder);

  for (int vk : {'R', '7'}) ASSERT_TRUE(rtl::os::PressWithSystemKey(vk)) << vk;
  EXPECT_TRUE(QTest::qWaitFor([&] { return edit.text() == "r7"; }, 5000)) << edit.text().toStdString();
  int typed_with_system_key = 0;
  for (const auto& [key, modifiers] : recorder.presses)
    if ((key == Qt::Key_R || key == Qt::Key_7) && (modifiers & Qt::MetaModifier)) ++typed_with_system_key;
  EXPECT_EQ(typed_with_system_key, 2);
}

}  // namespace
