// The memo driven by synthetic mouse events: clicks, Shift+clicks,
// dragging, double and triple clicks, the left margin, drag and drop of
// text, column blocks, the wheel and context clicks on keywords.
#include "memo_widget_test_util.h"

#include <QMenu>

#include "platform/gui/clipboard.h"

using namespace memo_widget_test;

namespace {

class MouseTest : public MemoWidgetTest {
protected:
  void Press(QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::mousePress(view(), Qt::LeftButton, mods, p);
  }
  void Release(QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::mouseRelease(view(), Qt::LeftButton, mods, p);
  }
  // A move with the left button held (QTest moves carry no buttons).
  void DragTo(QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QMouseEvent move(QEvent::MouseMove, p, view()->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, mods);
    QApplication::sendEvent(view(), &move);
  }
  void DoubleClick(QPoint p) {
    QTest::mouseClick(view(), Qt::LeftButton, Qt::NoModifier, p);
    QTest::mouseDClick(view(), Qt::LeftButton, Qt::NoModifier, p);
  }
};

TEST_F(MouseTest, AClickPlacesTheCaretAtTheNearestColumn) {
  SetText("abcdef\r\nghijkl");
  Click(At(1, 2));
  EXPECT_EQ(memo().getSelStart(), 8 + 2);
  EXPECT_EQ(memo().getSelLength(), 0);
  // The right half of a character gives the column after it, the left half the one before.
  QPoint p = At(0, 3);
  Click(QPoint(p.x() + CharWidth() / 2 + 1, p.y()));
  EXPECT_EQ(memo().getSelStart(), 4);
  Click(QPoint(p.x() + CharWidth() / 2 - 2, p.y()));
  EXPECT_EQ(memo().getSelStart(), 3);
  // Below the last line: the end of the text.
  Click(QPoint(20, 10 * LineHeight()));
  EXPECT_EQ(memo().getSelStart(), memo().GetTextLen());
  EXPECT_TRUE(control->hasFocus());
}

TEST_F(MouseTest, ShiftClickExtendsFromTheAnchor) {
  SetText("abcdef\r\nghijkl");
  Click(At(0, 1));
  Click(At(1, 3), Qt::ShiftModifier);
  EXPECT_EQ(memo().getSelText(), "bcdef\r\nghi");
  EXPECT_EQ(memo().getSelStart(), 11);
  EXPECT_EQ(memo().getSelLength(), -10);
}

TEST_F(MouseTest, DraggingSelectsInBothDirections) {
  SetText("abcdef\r\nghijkl\r\nmnopqr");
  Press(At(1, 2));
  DragTo(At(2, 4));
  EXPECT_EQ(memo().getSelText(), "ijkl\r\nmnop");
  EXPECT_EQ(memo().getSelLength(), -10);
  DragTo(At(0, 1));
  EXPECT_EQ(memo().getSelText(), "bcdef\r\ngh");
  EXPECT_EQ(memo().getSelLength(), 9);
  Release(At(0, 1));
  EXPECT_EQ(memo().getSelText(), "bcdef\r\ngh");
  // Dragging below the text selects to the pointer's column on the last line.
  Press(At(0, 0));
  DragTo(QPoint(At(2, 2).x(), 20 * LineHeight()));
  EXPECT_EQ(memo().getSelText(), "abcdef\r\nghijkl\r\nmn");
  Release(QPoint(At(2, 2).x(), 20 * LineHeight()));
}

TEST_F(MouseTest, DoubleClickSelectsAWordAndDraggingExtendsByWords) {
  SetText("alpha beta gamma delta");
  DoubleClick(At(0, 7));
  EXPECT_EQ(memo().getSelText(), "beta");
  EXPECT_EQ(memo().getSelStart(), 6);
  DragTo(At(0, 13));
  EXPECT_EQ(memo().getSelText(), "beta gamma");
  Release(At(0, 13));
  // With vmoLargeWordSelect the blanks after the word come too.
  memo().SetOptions(memo().Options().With(memo::vmoLargeWordSelect));
  QTest::qWait(QApplication::doubleClickInterval() + 50);
  DoubleClick(At(0, 2));
  EXPECT_EQ(memo().getSelText(), "alpha ");
}

TEST_F(MouseTest, TripleClickSelectsTheLine) {
  SetText("first line\r\nsecond line\r\nthird");
  const QPoint p = At(1, 3);
  QTest::mouseClick(view(), Qt::LeftButton, Qt::NoModifier, p);
  QTest::mouseDClick(view(), Qt::LeftButton, Qt::NoModifier, p);
  EXPECT_EQ(memo().getSelText(), "second");
  QTest::mouseClick(view(), Qt::LeftButton, Qt::NoModifier, p);
  EXPECT_EQ(memo().getSelText(), "second line\r\n");
  EXPECT_EQ(memo().getSelStart(), 12);
}

TEST_F(MouseTest, TheLeftMarginSelectsWholeLines) {
  SetText("one\r\ntwo\r\nthree\r\nfour");
  const QPoint margin(2, At(1, 0).y());
  QTest::mouseMove(view(), margin);
  EXPECT_EQ(control->MarginLine(), 1);
  Press(margin);
  EXPECT_EQ(memo().getSelText(), "two\r\n");
  DragTo(QPoint(2, At(2, 0).y()));
  EXPECT_EQ(memo().getSelText(), "two\r\nthree\r\n");
  Release(QPoint(2, At(2, 0).y()));
  // With vmoNoLineSelection the margin behaves like text.
  memo().SetOptions(memo().Options().With(memo::vmoNoLineSelection));
  QTest::mouseMove(view(), QPoint(2, At(3, 0).y()));
  EXPECT_EQ(control->MarginLine(), -1);
  Click(QPoint(2, At(3, 0).y()));
  EXPECT_EQ(memo().getSelLength(), 0);
  EXPECT_EQ(memo().getSelStart(), memo().getParsOffset(3));
}

TEST_F(MouseTest, DragAndDropMovesOrCopiesTheSelection) {
  SetText("hello brave world");
  memo().setSelStart(6);
  memo().setSelLength(6);  // "brave "
  const QPoint inside = At(0, 8);
  QTest::mouseMove(view(), inside);  // hover: the arrow over the selection
  Press(inside);
  EXPECT_TRUE(control->TextDragging());
  DragTo(At(0, 17));
  Release(At(0, 17));
  EXPECT_EQ(memo().GetText(), "hello worldbrave ");
  EXPECT_EQ(memo().getSelText(), "brave ");
  // One Undo takes back the whole move.
  memo().Undo();
  EXPECT_EQ(memo().GetText(), "hello brave world");
  // Ctrl at the drop copies.
  memo().setSelStart(0);
  memo().setSelLength(5);
  QTest::mouseMove(view(), At(0, 2));
  Press(At(0, 2));
  DragTo(At(0, 17), Qt::ControlModifier);
  Release(At(0, 17), Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "hello brave worldhello");
  // A drop onto the selection itself changes no text.
  memo().setSelStart(0);
  memo().setSelLength(5);
  QTest::mouseMove(view(), At(0, 2));
  Press(At(0, 2));
  Release(At(0, 3));
  EXPECT_EQ(memo().GetText(), "hello brave worldhello");
  EXPECT_EQ(memo().getSelStart(), 3);
  EXPECT_EQ(memo().getSelLength(), 0);
}

TEST_F(MouseTest, NoDragnDropNeverDragsTheSelection) {
  SetText("hello brave world");
  memo().SetOptions(memo().Options().With(memo::vmoNoDragnDrop));
  memo().setSelStart(6);
  memo().setSelLength(6);
  QTest::mouseMove(view(), At(0, 8));
  Press(At(0, 8));
  EXPECT_FALSE(control->TextDragging());
  Release(At(0, 8));
  EXPECT_EQ(memo().getSelLength(), 0);
  EXPECT_EQ(memo().GetText(), "hello brave world");
}

TEST_F(MouseTest, AltDragSelectsAColumnBlock) {
  memo().SetWordWrap(false);
  SetText("abcdef\r\nghijkl\r\nmnopqr");
  Press(At(0, 1), Qt::AltModifier);
  DragTo(At(2, 4), Qt::AltModifier);
  Release(At(2, 4), Qt::AltModifier);
  ASSERT_TRUE(memo().HasColumnBlock());
  EXPECT_EQ(memo().getSelText(), "bcd\r\nhij\r\nnop\r\n");
  // With word wrap no block starts.
  memo().SetWordWrap(true);
  Settle();
  Press(At(0, 1), Qt::AltModifier);
  DragTo(At(2, 4), Qt::AltModifier);
  Release(At(2, 4), Qt::AltModifier);
  EXPECT_FALSE(memo().HasColumnBlock());
}

TEST_F(MouseTest, KeepColumnPosPutsTheCaretInVirtualColumns) {
  memo().SetOptions(memo().Options().With(memo::vmoKeepColumnPos).With(memo::vmoPutExtraSpaces));
  SetText("ab\r\nc");
  Click(At(0, 6));
  EXPECT_EQ(memo().getSelStart(), 2);
  EXPECT_EQ(memo().VirtualCols(), 4);
  EXPECT_EQ(memo().getSelCol(), 6);
  Type("x");
  EXPECT_EQ(memo().getParagraphs(0), "ab    x");
}

TEST_F(MouseTest, TheWheelScrollsByTheFactor) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "line\r\n";
  SetText(text);
  QWheelEvent down(QPointF(50, 50), view()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(view(), &down);
  EXPECT_EQ(memo().getTopLine(), 3);
  // Half notches add up.
  QWheelEvent half(QPointF(50, 50), view()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, 20), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(view(), &half);
  EXPECT_EQ(memo().getTopLine(), 3);
  EXPECT_EQ(control->WheelRemainder(), 60);
  QApplication::sendEvent(view(), &half);
  EXPECT_EQ(memo().getTopLine(), 2);
  memo().SetMouseWheelFactor(0);
  QApplication::sendEvent(view(), &down);
  EXPECT_EQ(memo().getTopLine(), 2);
  memo().SetMouseWheelFactor(-1);
  QApplication::sendEvent(view(), &down);
  EXPECT_EQ(memo().getTopLine(), 1);
}

TEST_F(MouseTest, DraggingBelowTheWindowScrollsAutomatically) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "line " + std::to_string(i) + "\r\n";
  SetText(text);
  Press(At(0, 0));
  const QPoint below(30, control->ClientHeight() + 30);  // level 10: the fastest steps
  DragTo(below);
  EXPECT_EQ(control->ScrollState(), memo::msDown);
  // The steps come from a timer: wait for a few of them however slowly the
  // machine runs, rather than a fixed time.
  EXPECT_TRUE(QTest::qWaitFor([&] { return memo().getTopLine() > 2; }, 10000));
  EXPECT_LT(memo().getSelLength(), 0);  // the caret follows the scrolled text, the anchor stays
  EXPECT_GT(memo().getSelLine(), memo().VisibleLines());
  Release(below);
  EXPECT_EQ(control->ScrollState(), memo::msNoScroll);
  const int top = memo().getTopLine();
  QTest::qWait(60);
  EXPECT_EQ(memo().getTopLine(), top);
}

// A click on a keyword reports its context; a right click on it also opens
// the control's own popup menu (the default menu stands in only off
// keywords).
TEST_F(MouseTest, ContextClickOnAKeywordReportsItsContextAndRightClickOpensThePopup) {
  SetText("find the Smith family");
  memo().Keywords().AddKeyWord("Smith", 0, 0, 7, 0, memo::clWhite, memo::clRed);
  memo().ReApplyKeywords();
  Settle();
  QMenu own;
  own.addAction("page command");
  const struct {
    Qt::MouseButton button;
    int column;
    bool assigned;
    int context;           // -1: none reported
    const char* shown;     // "own", "default" or ""
  } cases[] = {
      {Qt::LeftButton, 11, true, 7, ""},       {Qt::RightButton, 11, true, 7, "own"},
      {Qt::RightButton, 11, false, 7, ""},     {Qt::RightButton, 2, true, -1, "own"},
      {Qt::RightButton, 2, false, -1, "default"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.column);
    int context = -1;
    std::int32_t from = -1, to = -1;
    memo().OnContext = [&](memo::TVellMemo*, std::int32_t n, std::int32_t a, std::int32_t b) {
      context = n;
      from = a;
      to = b;
    };
    control->SetPopupMenu(c.assigned ? &own : nullptr);
    QTest::mouseClick(view(), c.button, Qt::NoModifier, At(0, c.column));
    EXPECT_EQ(context, c.context);
    if (c.context >= 0) {
      EXPECT_EQ(from, 9);
      EXPECT_EQ(to, 14);
    }
    QMenu* fallback = control->DefaultPopupMenu();
    EXPECT_EQ(own.isVisible(), std::string(c.shown) == "own");
    EXPECT_EQ(fallback != nullptr && fallback->isVisible(), std::string(c.shown) == "default");
    own.hide();
    if (fallback) fallback->hide();
  }
  control->SetPopupMenu(nullptr);
}

TEST_F(MouseTest, RightClickShowsTheDefaultMenuWithItsItemsEnabled) {
  SetText("abc");
  memo().setSelStart(0);
  memo().setSelLength(1);
  QTest::mouseClick(view(), Qt::RightButton, Qt::NoModifier, At(0, 5));
  QMenu* menu = control->DefaultPopupMenu();
  ASSERT_NE(menu, nullptr);
  const QList<QAction*> actions = menu->actions();
  ASSERT_EQ(actions.size(), 8);
  EXPECT_EQ(actions[0]->text(), "&Undo");
  EXPECT_EQ(actions[7]->text(), "&Select all");
  EXPECT_FALSE(actions[0]->isEnabled());  // nothing to undo
  menu->hide();
  actions[7]->trigger();
  EXPECT_EQ(memo().getSelText(), "abc");
  actions[4]->trigger();
  EXPECT_EQ(gui::Clipboard().GetText(), "abc");
}

TEST_F(MouseTest, DisplayOnlyClicksMoveNothing) {
  SetText("abcdef");
  memo().setSelStart(1);
  control->SetDisplayOnly(true);
  Click(At(0, 4));
  EXPECT_EQ(memo().getSelStart(), 1);
  QTest::mouseDClick(view(), Qt::LeftButton, Qt::NoModifier, At(0, 4));
  EXPECT_EQ(memo().getSelLength(), 0);
}

}  // namespace
