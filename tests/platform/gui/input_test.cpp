#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTest>
#include <QWidget>

#include "gui_test_util.h"
#include "platform/gui/caret.h"
#include "platform/gui/cursors.h"
#include "platform/gui/keys.h"

namespace {

using namespace gui;

QKeyEvent Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = QString(),
                quint32 scan = 0) {
  return QKeyEvent(QEvent::KeyPress, key, mods, scan, 0, 0, text);
}

TEST(KeysTest, VirtualKeysOfLettersDigitsAndNavigation) {
  EXPECT_EQ(VirtualKeyOf(Press(Qt::Key_A)), 'A');
  EXPECT_EQ(VirtualKeyOf(Press(Qt::Key_Z, Qt::ControlModifier)), 'Z');
  EXPECT_EQ(VirtualKeyOf(Press(Qt::Key_7)), '7');
  EXPECT_EQ(VirtualKeyOf(Press(Qt::Key_End)), VK_END);
  EXPECT_EQ(VirtualKeyOf(Press(Qt::Key_PageDown)), VK_NEXT);
  EXPECT_EQ(VirtualKeyOf(Press(Qt::Key_Backtab, Qt::ShiftModifier)), VK_TAB);
  EXPECT_EQ(VirtualKeyOf(Press(Qt::Key_F3)), VK_F1 + 2);
  // A layout that needs Shift for digits still gives the digit's key.
  EXPECT_EQ(VirtualKeyOf(Press(Qt::Key_Ampersand, Qt::NoModifier, "&", 10)), '1');
  EXPECT_EQ(VirtualKeyOf(Press(Qt::Key_Agrave, Qt::NoModifier, QString::fromUtf8("\xc3\xa0"), 19)), '0');
}

TEST(KeysTest, CharactersAsWindowsSendsThem) {
  EXPECT_EQ(CharCodeOf(Press(Qt::Key_A, Qt::NoModifier, "a")), 'a');
  EXPECT_EQ(CharCodeOf(Press(Qt::Key_C, Qt::ControlModifier, "c")), 3);
  EXPECT_EQ(CharCodeOf(Press(Qt::Key_V, Qt::ControlModifier)), 22);
  EXPECT_EQ(CharCodeOf(Press(Qt::Key_Return)), 13);
  EXPECT_EQ(CharCodeOf(Press(Qt::Key_Backspace)), 8);
  EXPECT_EQ(CharCodeOf(Press(Qt::Key_Backspace, Qt::ControlModifier)), 127);
  EXPECT_EQ(CharCodeOf(Press(Qt::Key_A, Qt::AltModifier, "a")), -1);
  EXPECT_EQ(CharCodeOf(Press(Qt::Key_Left)), -1);
  EXPECT_EQ(CharCodeOf(Press(Qt::Key_Eacute, Qt::NoModifier, QString::fromUtf8("\xc3\xa9"))), 0xE9);
  EXPECT_EQ(CharCodeOf(Press(0, Qt::NoModifier, QString::fromUtf8("\xe2\x82\xac"))), 0x80);
  EXPECT_EQ(CharCodeOf(Press(0, Qt::NoModifier, QString::fromUtf8("\xe4\xb8\xad"))), -1);
  EXPECT_EQ(CharCodeOf(Press(Qt::Key_Question, Qt::ShiftModifier, "?")), '?');
}

TEST(KeysTest, ShiftStatesAndMouseFlagsAgree) {
  EXPECT_EQ(ShiftStateOf(Qt::ShiftModifier | Qt::ControlModifier, Qt::LeftButton), ssShift | ssCtrl | ssLeft);
  const int flags = MouseKeyFlags(Qt::AltModifier | Qt::ShiftModifier, Qt::LeftButton | Qt::RightButton);
  EXPECT_EQ(flags, MK_ALT | MK_SHIFT | MK_LBUTTON | MK_RBUTTON);
  EXPECT_EQ(MouseKeyFlagsToShift(flags), ssAlt | ssShift | ssLeft | ssRight);
}

TEST(CaretTest, ExistsShowsMovesAndInvertsItsRectangle) {
  gui_test::App();
  QWidget host;
  host.resize(50, 30);
  TCaret caret(&host);
  caret.SetBlinkInterval(0);
  EXPECT_FALSE(caret.Visible());
  caret.Create(2, 10);
  EXPECT_TRUE(caret.Exists());
  EXPECT_FALSE(caret.Visible());  // hidden until shown
  caret.Show();
  caret.SetPos(5, 3);
  EXPECT_TRUE(caret.Visible());
  EXPECT_EQ(caret.Rect(), QRect(5, 3, 2, 10));
  QImage img(50, 30, QImage::Format_RGB32);
  img.fill(Qt::white);
  {
    QPainter p(&img);
    caret.Paint(p);
  }
  EXPECT_EQ(QColor(img.pixel(5, 3)), QColor(Qt::black));
  EXPECT_EQ(QColor(img.pixel(6, 12)), QColor(Qt::black));
  EXPECT_EQ(QColor(img.pixel(7, 3)), QColor(Qt::white));
  caret.Hide();
  EXPECT_FALSE(caret.Visible());
  caret.Show();
  caret.Destroy();
  EXPECT_FALSE(caret.Exists());
  EXPECT_FALSE(caret.Visible());
}

TEST(CaretTest, BlinksOnItsTimer) {
  gui_test::App();
  QWidget host;
  TCaret caret(&host);
  caret.SetBlinkInterval(20);
  caret.Create(1, 10);
  caret.Show();
  // However slowly the machine runs, the timer hides it sooner or later.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !caret.Visible(); }, 10000));
  caret.SetPos(1, 1);  // a move shows it again at once
  EXPECT_TRUE(caret.Visible());
}

TEST(CursorsTest, NumbersMapToShapesAndTheScreenCursorOverrides) {
  gui_test::App();
  EXPECT_EQ(CursorOf(crIBeam).shape(), Qt::IBeamCursor);
  EXPECT_EQ(CursorOf(crDrag).shape(), Qt::DragMoveCursor);
  EXPECT_EQ(CursorOf(crNoDrop).shape(), Qt::ForbiddenCursor);
  EXPECT_EQ(CursorOf(crHourGlass).shape(), Qt::WaitCursor);
  EXPECT_EQ(CursorOf(crDefault).shape(), Qt::ArrowCursor);
  RegisterCursor(5, QCursor(Qt::CrossCursor));
  EXPECT_EQ(CursorOf(5).shape(), Qt::CrossCursor);
  EXPECT_EQ(LoadCursorResource("NO SUCH CURSOR", 0, 0).shape(), Qt::ArrowCursor);
  SetScreenCursor(crHourGlass);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  SetScreenCursor(crDrag);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::DragMoveCursor);
  SetScreenCursor(crDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(ScreenCursor(), crDefault);
}

}  // namespace
