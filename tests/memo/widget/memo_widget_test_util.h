// Shared set-up of the memo control tests: one offscreen QApplication, a
// shown and focused memo in a fixed font, and helpers that drive it with
// synthetic key and mouse events and read its picture.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QImage>
#include <QTest>
#include <memory>
#include <string>

#include "memo/widget/memo_control.h"
#include "tests/platform/gui/gui_test_util.h"

namespace memo_widget_test {

inline QApplication& App() { return gui_test::App(); }

// Liberation Mono at 13 pixels: every character has the same advance.
inline memo::TMemoFont FixedFont(int height = -13) {
  memo::TMemoFont font;
  font.Name = "Courier New";
  font.Height = height;
  font.Size = 10;
  return font;
}

class MemoWidgetTest : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    control = std::make_unique<memo::TVellMemoControl>();
    memo().SetFont(FixedFont());
    control->resize(400, 300);
    control->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(control.get()));
    control->activateWindow();
    control->setFocus();
    QApplication::processEvents();
  }
  void TearDown() override {
    control.reset();
    QApplication::processEvents();
  }

  memo::TVellMemo& memo() { return control->Memo(); }
  QWidget* view() { return control->viewport(); }

  void SetText(const std::string& text) {
    memo().SetText(text);
    Settle();
  }
  // Runs queued work (background formatting, deferred scroll ranges).
  void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }

  void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(control.get(), key, mods); }
  void Type(const char* text) { QTest::keyClicks(control.get(), QString::fromLatin1(text)); }

  int CharWidth() { return control->Fonts().MainFont().CharWidth('a'); }
  int LineHeight() { return memo().LineHeight(); }
  // The client point at the left edge of column `column` of display line `line` (middle of the line).
  QPoint At(int line, int column) {
    return QPoint(memo().LeftMargin() + column * CharWidth(), line * LineHeight() - memo().TopOrigin() + LineHeight() / 2);
  }
  void Click(QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::mouseClick(view(), Qt::LeftButton, mods, p);
  }

  QImage Picture() {
    Settle();
    return view()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }

  std::unique_ptr<memo::TVellMemoControl> control;
};

inline bool IsRed(QRgb c) { return qRed(c) > 150 && qGreen(c) < 110 && qBlue(c) < 110; }
inline bool IsWhite(QRgb c) { return qRed(c) > 240 && qGreen(c) > 240 && qBlue(c) > 240; }
inline bool IsDark(QRgb c) { return qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100; }

// Counts the pixels of the rectangle that satisfy the test.
template <typename Test>
int CountPixels(const QImage& image, const QRect& rect, Test test) {
  int n = 0;
  const QRect r = rect.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (test(image.pixel(x, y))) ++n;
  return n;
}

}  // namespace memo_widget_test
