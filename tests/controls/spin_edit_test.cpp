// The spin edit and its gauge: stepping (bounded and unbounded), reading
// bad text, limits of its settings, refused paste and cut, track-bar drags
// and the gauge's pixels.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>

#include "controls/spin_edit.h"
#include "tests/controls/controls_test_util.h"

namespace {

using controls::TKelmSpinEdit;
using controls_test::PixelColor;

struct Window {
  Window() {
    window.resize(300, 200);
    edit = new TKelmSpinEdit(&window);
    edit->move(10, 10);
    edit->resize(150, 10);
    window.show();
    window.activateWindow();
  }
  QApplication& app = controls_test::App();
  QWidget window;
  TKelmSpinEdit* edit;
};

TEST(SpinEdit, SteppingBoundedAndUnbounded) {
  Window w;
  TKelmSpinEdit& e = *w.edit;
  struct Case { double min, max, inc, start; bool up; double want; const char* text; };
  for (const Case& c : {Case{0, 100, 1, 99, true, 100, "100.00"}, Case{0, 100, 1, 98, true, 99, "99.00"},
                        Case{0, 100, 1, 0.5, false, 0, "0.00"}, Case{0, 100, 1, 100, true, 100, "100.00"},
                        Case{10, 20, 3, 19, true, 20, "20.00"}, Case{10, 20, 3, 14, false, 11, "11.00"},
                        Case{0, 0, 1, 5, true, 6, "6.00"}, Case{0, 0, 1, -3, false, -4, "-4.00"},
                        Case{7, 7, 2.5, 1e6, true, 1000002.5, "1000002.50"}, Case{7, 7, 2.5, 7, false, 4.5, "4.50"}}) {
    SCOPED_TRACE(testing::Message() << c.min << ".." << c.max << " at " << c.start << (c.up ? " up" : " down"));
    e.SetMinValue(c.min);
    e.SetMaxValue(c.max);
    e.SetValue(c.start);
    e.Increment = c.inc;
    e.Step(c.up);
    EXPECT_EQ(e.Value(), c.want);
    EXPECT_EQ(e.text().toStdString(), c.text);
  }
  // The buttons do the same; the posted follow-up selects the text.
  e.SetMinValue(0);
  e.SetMaxValue(100);
  e.Increment = 1;
  e.SetValue(42);
  QTest::mouseClick(e.UpButton(), Qt::LeftButton);
  EXPECT_EQ(e.Value(), 43);
  QCoreApplication::processEvents();
  EXPECT_EQ(e.selectedText(), e.text());
  QTest::mouseClick(e.DownButton(), Qt::LeftButton);
  EXPECT_EQ(e.Value(), 42);
}

TEST(SpinEdit, TextLimitsAndSettings) {
  Window w;
  TKelmSpinEdit& e = *w.edit;
  e.SetMinValue(5);
  e.SetMaxValue(10);
  EXPECT_EQ(e.Value(), 5);  // raised to the new minimum
  e.setText("abc");
  EXPECT_EQ(e.Value(), 5);
  EXPECT_EQ(e.text(), "5.00");
  e.setText("");
  EXPECT_EQ(e.Value(), 0);
  EXPECT_EQ(e.text(), "0");
  for (auto [in, want] : {std::pair{8, 6}, {-1, 0}, {3, 3}}) {
    e.SetPrecision(in);
    EXPECT_EQ(e.Precision(), want);
  }
  e.SetValue(7.25);
  e.SetPrecision(1);
  EXPECT_EQ(e.text(), "7.2");  // re-formatted
  for (auto [in, want] : {std::pair{20, 50}, {400, 300}, {150, 150}}) {
    e.SetTrackBarWidth(in);
    EXPECT_EQ(e.TrackBarWidth(), want);
  }
  // Leaving the control brings a typed value within the limits; unbounded keeps it.
  auto leave = [&] {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(&e, &out);
  };
  e.setText("500");
  leave();
  EXPECT_EQ(e.text(), "10.0");
  e.SetMinValue(0);
  e.SetMaxValue(0);
  e.setText("12345.6");
  leave();
  EXPECT_EQ(e.Value(), 12345.6);
  EXPECT_GE(e.height(), e.MinimumHeight());
}

TEST(SpinEdit, PasteAndCutRefusedWhenNotEditable) {
  Window w;
  TKelmSpinEdit& e = *w.edit;
  e.SetMaxValue(0);  // unbounded, so any typed text stays
  e.setFocus();
  struct Key { Qt::Key key; Qt::KeyboardModifiers mods; };
  const Key keys[] = {{Qt::Key_V, Qt::ControlModifier}, {Qt::Key_Insert, Qt::ShiftModifier},
                      {Qt::Key_X, Qt::ControlModifier}, {Qt::Key_Delete, Qt::ShiftModifier}};
  for (int mode = 0; mode < 3; ++mode) {  // editor off, read-only, editable
    e.EditorEnabled = mode != 0;
    e.setReadOnly(mode == 1);
    for (const Key& k : keys) {
      QGuiApplication::clipboard()->setText("42");
      e.setText("1.50");
      e.selectAll();
      QTest::keyClick(&e, k.key, k.mods);
      const bool cut = k.key == Qt::Key_X || k.key == Qt::Key_Delete;
      EXPECT_EQ(e.text(), mode == 2 ? (cut ? "" : "42") : "1.50") << mode << " " << k.key;
    }
    e.setText("1.50");
    e.setCursorPosition(4);
    QTest::keyClick(&e, Qt::Key_7);
    QTest::keyClick(&e, Qt::Key_Backspace);
    QTest::keyClick(&e, Qt::Key_Backspace);
    EXPECT_EQ(e.text(), mode == 2 ? "1.5" : "1.50");
    if (QGuiApplication::clipboard()->supportsSelection()) {
      QGuiApplication::clipboard()->setText("9", QClipboard::Selection);
      e.setText("1.50");
      QTest::mouseClick(&e, Qt::MiddleButton, {}, QPoint(5, 5));
      EXPECT_EQ(e.text() == "1.50", mode != 2);
    }
  }
}

TEST(SpinEdit, TrackBarDragsMapToValues) {
  Window w;
  TKelmSpinEdit& e = *w.edit;
  e.SetMinValue(0);
  e.SetMaxValue(200);
  e.SetValue(50);
  for (Qt::Orientation orientation : {Qt::Horizontal, Qt::Vertical}) {
    SCOPED_TRACE(orientation);
    e.SetValue(50);
    e.SetTrackBarOrientation(orientation);
    QTest::mousePress(e.DropButton(), Qt::LeftButton);
    ASSERT_TRUE(e.TrackBarForm()->isVisible());
    // 50 of 0..200 is 250 of 1000; a vertical bar counts from its top.
    EXPECT_EQ(e.TrackBar()->value(), orientation == Qt::Horizontal ? 250 : 750);
    const QRect bar(e.TrackBar()->mapToGlobal(QPoint(0, 0)), e.TrackBar()->size());
    const bool h = orientation == Qt::Horizontal;
    const QPoint low = h ? QPoint(bar.left() - 20, bar.center().y()) : QPoint(bar.center().x(), bar.bottom() + 20);
    const QPoint high = h ? QPoint(bar.right() + 20, bar.center().y()) : QPoint(bar.center().x(), bar.top() - 20);
    auto drag = [&](QPoint global) {
      QMouseEvent move(QEvent::MouseMove, e.DropButton()->mapFromGlobal(global), global, Qt::NoButton, Qt::LeftButton,
                       Qt::NoModifier);
      QCoreApplication::sendEvent(e.DropButton(), &move);
      return e.Value();
    };
    EXPECT_EQ(drag(low), 0);
    EXPECT_EQ(drag(high), 200);
    const double middle = drag(bar.center());
    EXPECT_NEAR(middle, 100, 10);
    EXPECT_NEAR(e.TrackValueAt(bar.center()), middle, 0.005);  // the text keeps two digits
    // Further along the bar means a larger value in both orientations.
    const QPoint step = h ? QPoint(10, 0) : QPoint(0, -10);
    EXPECT_GT(drag(bar.center() + step), middle);
    // A track bar too short for its thumb has no channel: the minimum.
    const QSize full = e.TrackBar()->size();
    e.TrackBar()->resize(h ? QSize(6, full.height()) : QSize(full.width(), 6));
    EXPECT_EQ(drag(bar.center()), 0);
    e.TrackBar()->resize(full);
    QTest::mouseRelease(e.DropButton(), Qt::LeftButton);
    EXPECT_FALSE(e.TrackBarForm()->isVisible());
  }
}

TEST(SpinEdit, GaugePixelsAreBackgroundXorFace) {
  Window w;
  TKelmSpinEdit& e = *w.edit;
  e.SetMinValue(0);
  e.SetMaxValue(100);
  e.SetValue(50);
  controls::TAGauge* g = e.Gauge();
  const QImage shown = g->grab().toImage();
  const QImage bg = g->Background(), face = g->Face();
  ASSERT_EQ(shown.size(), g->size());
  for (int y = 0; y < shown.height(); ++y)
    for (int x = 0; x < shown.width(); ++x)
      ASSERT_EQ(PixelColor(shown, x, y), PixelColor(bg, x, y) ^ PixelColor(face, x, y)) << x << "," << y;
  // White edit, highlight bar: the bar is half of the inner width less one.
  const int inner = g->width() - 2, bar = static_cast<int>(std::lround(0.5 * (inner - 1)));
  EXPECT_EQ(PixelColor(shown, 1, 3), 0xFFFFFF ^ 0x6A240A);
  EXPECT_EQ(PixelColor(shown, bar, 3), 0xFFFFFF ^ 0x6A240A);
  EXPECT_EQ(PixelColor(shown, bar + 1, 3), 0);
  EXPECT_EQ(PixelColor(shown, 0, 0), 0xFFFFFF ^ 0xC8D0D4);
  // Press and drag positions: MinValue + (x + 1) * range / (width - 2).
  for (auto [x, want] : {std::pair{-1, 0.0}, {-5, 0.0}, {g->width() / 2, (g->width() / 2 + 1) * 100.0 / (g->width() - 2)}})
    EXPECT_DOUBLE_EQ(g->ValueAt(x), want);
  QTest::mousePress(g, Qt::LeftButton, {}, QPoint(9, 4));
  QTest::mouseRelease(g, Qt::LeftButton, {}, QPoint(9, 4));
  EXPECT_NEAR(e.Value(), 10 * 100.0 / (g->width() - 2), 0.005);
  for (int narrow : {2, 1, 0}) {
    g->resize(narrow, 8);
    EXPECT_EQ(g->ValueAt(5), 0);  // no bar to point into
  }
}

}  // namespace
