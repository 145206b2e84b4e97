// The memo driven by synthetic key presses: each test checks the text and
// the selection afterwards.
#include "memo_widget_test_util.h"

#include <cstdlib>
#include <random>

#include "platform/gui/clipboard.h"
#include "platform/gui/exceptions.h"

using namespace memo_widget_test;
using memo::TVellMemo;

namespace {

class KeyboardTest : public MemoWidgetTest {
protected:
  using MemoWidgetTest::SetText;
  void SetText(const std::string& text, std::int32_t caret) {
    SetText(text);
    memo().setSelStart(caret);
  }
  void ExpectSelection(std::int32_t start, std::int32_t length) {
    EXPECT_EQ(memo().getSelStart(), start);
    EXPECT_EQ(memo().getSelLength(), length);
  }
};

TEST_F(KeyboardTest, TypingInsertsAtTheCaretAndEnterSplitsParagraphs) {
  Type("abc");
  Key(Qt::Key_Return);
  Type("de");
  EXPECT_EQ(memo().GetText(), "abc\r\nde");
  EXPECT_EQ(memo().GetParCount(), 2);
  ExpectSelection(7, 0);
  // Typing over a selection replaces it.
  Key(Qt::Key_Left, Qt::ShiftModifier);
  Key(Qt::Key_Left, Qt::ShiftModifier);
  Type("X");
  EXPECT_EQ(memo().GetText(), "abc\r\nX");
  ExpectSelection(6, 0);
}

TEST_F(KeyboardTest, BackspaceAndDeleteJoinParagraphs) {
  SetText("one\r\ntwo", 5);  // start of "two"
  Key(Qt::Key_Backspace);
  EXPECT_EQ(memo().GetText(), "onetwo");
  ExpectSelection(3, 0);
  Key(Qt::Key_Return);
  EXPECT_EQ(memo().GetText(), "one\r\ntwo");
  memo().setSelStart(3);  // end of "one"
  Key(Qt::Key_Delete);
  EXPECT_EQ(memo().GetText(), "onetwo");
  ExpectSelection(3, 0);
  Key(Qt::Key_Delete);
  EXPECT_EQ(memo().GetText(), "onewo");
  Key(Qt::Key_Backspace);
  EXPECT_EQ(memo().GetText(), "onwo");
  ExpectSelection(2, 0);
  // At the very start Backspace, at the very end Delete, change nothing.
  memo().setSelStart(0);
  Key(Qt::Key_Backspace);
  memo().setSelStart(memo().GetTextLen());
  Key(Qt::Key_Delete);
  EXPECT_EQ(memo().GetText(), "onwo");
}

TEST_F(KeyboardTest, BackspaceAndDeleteTakeStyleCodesWithTheCharacter) {
  SetText(std::string("a\x02") + "b\x02" + "c");  // a, bold b, c
  memo().setSelStart(3);                            // after b, before the closing code
  Key(Qt::Key_Backspace);
  EXPECT_EQ(memo().GetText().find('b'), std::string::npos);
  EXPECT_EQ(memo().GetText().front(), 'a');
  EXPECT_EQ(memo().GetText().back(), 'c');
  memo().CheckIntegrity();
}

TEST_F(KeyboardTest, CtrlBackspaceDeletesTheWordBeforeTheCaret) {
  SetText("alpha beta\r\ngamma", 10);
  Key(Qt::Key_Backspace, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "alpha \r\ngamma");
  // At the start of a paragraph it deletes nothing.
  memo().setSelStart(8);
  Key(Qt::Key_Backspace, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "alpha \r\ngamma");
}

TEST_F(KeyboardTest, ShiftArrowsSelectFromTheAnchor) {
  SetText("abcdef\r\nghijkl", 2);
  Key(Qt::Key_Right, Qt::ShiftModifier);
  Key(Qt::Key_Right, Qt::ShiftModifier);
  ExpectSelection(4, -2);
  EXPECT_EQ(memo().getSelText(), "cd");
  Key(Qt::Key_Left, Qt::ShiftModifier);
  Key(Qt::Key_Left, Qt::ShiftModifier);
  Key(Qt::Key_Left, Qt::ShiftModifier);
  ExpectSelection(1, 1);
  EXPECT_EQ(memo().getSelText(), "b");
  Key(Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(memo().getSelText(), "cdef\r\ng");
  // An arrow without Shift drops the selection.
  Key(Qt::Key_Right);
  EXPECT_EQ(memo().getSelLength(), 0);
  // Ctrl+Shift+End selects to the end of the text.
  memo().setSelStart(3);
  Key(Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(memo().getSelText(), "def\r\nghijkl");
}

TEST_F(KeyboardTest, WordMovesStopAtWordStarts) {
  SetText("one two, three\r\nfour", 0);
  Key(Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(memo().getSelStart(), 4);
  Key(Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(memo().getSelStart(), 9);
  Key(Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(memo().getSelStart(), 14);  // end of the paragraph
  Key(Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(memo().getSelStart(), 16);  // over the break
  // Ctrl+Left at a paragraph start goes to the end of the one before.
  Key(Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(memo().getSelStart(), 14);
  Key(Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(memo().getSelStart(), 9);
}

TEST_F(KeyboardTest, UpAndDownKeepTheRememberedColumn) {
  SetText("abcdefgh\r\nab\r\nabcdefgh", 6);
  Key(Qt::Key_Down);
  EXPECT_EQ(memo().getSelStart(), 10 + 2);  // end of "ab"
  Key(Qt::Key_Down);
  EXPECT_EQ(memo().getSelStart(), 14 + 6);  // back to column 6
  // Up on the first line moves nothing and reports the key again.
  memo().setSelStart(1);
  int seen = 0;
  control->OnKeyDown = [&](memo::TVellMemoControl*, std::uint16_t& key, memo::TShiftState) {
    if (key == gui::VK_UP) ++seen;
  };
  Key(Qt::Key_Up);
  EXPECT_EQ(seen, 2);
  EXPECT_EQ(memo().getSelStart(), 1);
}

// Up and Down from the blank area past a line's end keep the caret's
// column: into a longer line as a real column, into shorter ones as
// virtual columns again.
TEST_F(KeyboardTest, UpAndDownFromVirtualColumnsKeepTheColumn) {
  memo().SetOptions(memo().Options().With(memo::vmoKeepColumnPos).Without(memo::vmoWrapCaret));
  SetText("first line\r\nthe second line\r\nthird\r\nab\r\nfourth line", 0);
  memo().setSelStart(memo().getParsOffset(2) + 5);  // end of "third"
  for (int i = 0; i < 3; ++i) Key(Qt::Key_Right);
  ASSERT_EQ(memo().getSelCol(), 8);
  ASSERT_EQ(memo().VirtualCols(), 3);
  struct Step {
    Qt::Key key;
    int par, offset, virtualCols;
  };
  const Step steps[] = {{Qt::Key_Up, 1, 8, 0},   {Qt::Key_Down, 2, 5, 3}, {Qt::Key_Down, 3, 2, 6},
                        {Qt::Key_Down, 4, 8, 0}, {Qt::Key_Up, 3, 2, 6},   {Qt::Key_Up, 2, 5, 3}};
  for (const Step& step : steps) {
    Key(step.key);
    EXPECT_EQ(memo().getSelStart(), memo().getParsOffset(step.par) + step.offset) << "paragraph " << step.par;
    EXPECT_EQ(memo().VirtualCols(), step.virtualCols) << "paragraph " << step.par;
    EXPECT_EQ(memo().getSelCol(), 8) << "paragraph " << step.par;
    EXPECT_EQ(control->CaretX(), memo().LeftMargin() + 8 * CharWidth());
  }
}

TEST_F(KeyboardTest, HomeAndEndGoToTheLineAndTheText) {
  SetText("first line\r\nsecond line", 15);
  Key(Qt::Key_Home);
  ExpectSelection(12, 0);
  Key(Qt::Key_End);
  ExpectSelection(23, 0);
  Key(Qt::Key_Home, Qt::ControlModifier);
  ExpectSelection(0, 0);
  Key(Qt::Key_End, Qt::ShiftModifier);
  ExpectSelection(10, -10);
  Key(Qt::Key_End, Qt::ControlModifier);
  ExpectSelection(23, 0);
}

TEST_F(KeyboardTest, EndOfAWrappedLineStaysOnThatLine) {
  control->resize(8 * 2 + 10 * CharWidth() + control->verticalScrollBar()->sizeHint().width() + 10, 200);
  SetText("aaaa bbbb cccc dddd eeee");
  ASSERT_GT(memo().LineCount(), 1);
  memo().setSelStart(1);
  Key(Qt::Key_End);
  EXPECT_EQ(memo().getSelLine(), 0);
  EXPECT_EQ(memo().getChar(memo().getSelStart()), ' ');
}

TEST_F(KeyboardTest, PageDownAndPageUpMoveByAPage) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "line " + std::to_string(i) + "\r\n";
  SetText(text, 0);
  const int visible = memo().VisibleLines();
  Key(Qt::Key_PageDown);
  EXPECT_EQ(memo().getSelLine(), visible - 1);
  EXPECT_GT(memo().TopOrigin(), 0);  // the caret line came into view, pixel-exact
  EXPECT_LE(memo().LinePos(memo().getSelLine() - memo().getTopLine()) + LineHeight(), control->ClientHeight());
  Key(Qt::Key_PageDown);
  EXPECT_EQ(memo().getSelLine(), 2 * (visible - 1));
  Key(Qt::Key_PageUp);
  EXPECT_EQ(memo().getSelLine(), visible - 1);
  Key(Qt::Key_PageDown, Qt::ShiftModifier);
  EXPECT_EQ(memo().getSelLength(), -(memo().getSelStart() - memo().getParsOffset(visible - 1)));
  // Page Down on a short text puts the caret on the last line.
  SetText("a\r\nb", 0);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(memo().getSelLine(), 1);
}

TEST_F(KeyboardTest, DisplayOnlyKeysScrollTheViewInstead) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += std::string(60, 'x') + "\r\n";
  control->SetScrollBars(memo::ssBoth);
  memo().SetWordWrap(false);
  SetText(text);
  control->SetDisplayOnly(true);
  EXPECT_FALSE(control->Caret().Exists());
  memo().setSelStart(0);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(memo().getTopLine(), 1);  // one line, not a page
  EXPECT_EQ(memo().getSelStart(), 0);
  Key(Qt::Key_PageDown, Qt::ControlModifier);
  const int lastTop = memo().LineCount() - memo().VisibleLines() + 1;
  EXPECT_EQ(memo().getTopLine(), lastTop);
  Key(Qt::Key_Down);
  EXPECT_EQ(memo().getTopLine(), lastTop);
  Key(Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(memo().getTopLine(), 0);
  Key(Qt::Key_End);
  EXPECT_EQ(memo().DisplayLeft(), memo().WidestLine() + memo().RightMargin() - control->ClientWidth());
  Key(Qt::Key_Home);
  EXPECT_EQ(memo().DisplayLeft(), 0);
  Type("zz");
  EXPECT_EQ(memo().GetText(), text);  // nothing typed
  EXPECT_EQ(memo().getSelStart(), 0);
  control->SetDisplayOnly(false);
  EXPECT_TRUE(control->Caret().Exists());
  Key(Qt::Key_End);
  EXPECT_EQ(memo().getSelStart(), 60);
}

TEST_F(KeyboardTest, HotKeysSetStaticStyles) {
  SetText("abc", 0);
  memo().setSelLength(3);
  Key(Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "\x02" "abc\x02");
  EXPECT_EQ(memo().getSelLength(), 5);
  Key(Qt::Key_I, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "\x01\x02" "abc\x02\x01");
  SetText("x", 1);
  Key(Qt::Key_U, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "x\x15\x15");
  EXPECT_EQ(memo().getSelStart(), 2);  // between the codes
  Type("y");
  EXPECT_EQ(memo().GetText(), "x\x15y\x15");
  SetText("x", 1);
  Key(Qt::Key_H, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "x\x03\x03");
  SetText("x", 1);
  Key(Qt::Key_F, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "x\x04\x04");
  SetText("ab", 1);
  Key(Qt::Key_T, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "a\tb");
  Key(Qt::Key_P, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "a\t\r\n\x10\r\nb");
  EXPECT_EQ(memo().GetParCount(), 3);
  // Hot keys do nothing on a read-only memo; EnableHotKeys off switches them off.
  SetText("abc");
  memo().SetReadOnly(true);
  memo().SelectAll();
  Key(Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "abc");
  memo().SetReadOnly(false);
  memo().SetEnableHotKeys(false);
  Key(Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "abc");
}

TEST_F(KeyboardTest, UndoAndRedoKeys) {
  Type("abc");
  Key(Qt::Key_Space);
  Type("def");
  EXPECT_EQ(memo().GetText(), "abc def");
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "");  // one typing run is one step
  EXPECT_EQ(memo().getSelLength(), 0);
  Key(Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "abc def");
  Key(Qt::Key_Z, Qt::ControlModifier);
  Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(memo().GetText(), "abc def");
  // A caret move between two typed characters makes two steps.
  Key(Qt::Key_Left);
  Type("X");
  Key(Qt::Key_End);
  Type("Y");
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "abc deXf");
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "abc def");
}

TEST_F(KeyboardTest, ClipboardKeysCopyCutAndPaste) {
  SetText("hello world", 6);
  memo().setSelLength(5);
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(gui::Clipboard().GetText(), "world");
  EXPECT_EQ(QApplication::clipboard()->text(), "world");
  memo().setSelStart(0);
  Key(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "worldhello world");
  EXPECT_EQ(memo().getSelStart(), 5);
  memo().setSelStart(0);
  memo().setSelLength(5);
  Key(Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "hello world");
  EXPECT_EQ(gui::Clipboard().GetText(), "world");
  // Ctrl+Insert copies, Shift+Insert pastes, Shift+Delete cuts.
  memo().setSelStart(0);
  memo().setSelLength(5);
  Key(Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(gui::Clipboard().GetText(), "hello");
  memo().setSelStart(memo().GetTextLen());
  Key(Qt::Key_Insert, Qt::ShiftModifier);
  EXPECT_EQ(memo().GetText(), "hello worldhello");
  memo().setSelStart(0);
  memo().setSelLength(6);
  Key(Qt::Key_Delete, Qt::ShiftModifier);
  EXPECT_EQ(memo().GetText(), "worldhello");
  EXPECT_EQ(gui::Clipboard().GetText(), "hello ");
  // Text from another program: lone LFs become paragraph breaks, and
  // characters of the code page arrive as its bytes.
  QApplication::clipboard()->setText(QString::fromUtf8("a\nb\xc3\xa9"));
  memo().Clear();
  Key(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "a\r\nb\xe9");
  // Pasting when the clipboard holds no text does nothing.
  QApplication::clipboard()->clear();
  Key(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "a\r\nb\xe9");
}

TEST_F(KeyboardTest, ColumnBlocksCopyAndPasteAsBlocks) {
  memo().SetWordWrap(false);
  SetText("abcdef\r\nghijkl\r\nmnopqr", 1);
  // Shift+Alt+arrows start a column block.
  Key(Qt::Key_Down, Qt::ShiftModifier | Qt::AltModifier);
  Key(Qt::Key_Down, Qt::ShiftModifier | Qt::AltModifier);
  Key(Qt::Key_Right, Qt::ShiftModifier | Qt::AltModifier);
  Key(Qt::Key_Right, Qt::ShiftModifier | Qt::AltModifier);
  ASSERT_TRUE(memo().HasColumnBlock());
  EXPECT_EQ(memo().getSelText(), "bc\r\nhi\r\nno\r\n");
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(gui::Clipboard().GetText(), "bc\r\nhi\r\nno\r\n");
  EXPECT_TRUE(gui::Clipboard().HasFormat(memo::TVellMemoControl::BlockClipboardFormat()));
  // Pasted into another memo at column 2 it lands as a block.
  memo::TVellMemoControl other;
  other.Memo().SetFont(FixedFont());
  other.Memo().SetWordWrap(false);
  other.resize(300, 200);
  other.show();
  other.Memo().SetText("1234\r\n5");
  other.Memo().setSelStart(2);
  other.setFocus();
  QTest::keyClick(&other, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(other.Memo().GetText(), "12bc34\r\n5 hi\r\n  no");
  // Plain text with breaks pastes as paragraphs.
  gui::Clipboard().SetText("x\r\ny");
  other.Memo().Clear();
  QTest::keyClick(&other, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(other.Memo().GetText(), "x\r\ny");
}

TEST_F(KeyboardTest, ReadOnlyMovesAndCopiesButNeverEdits) {
  SetText("abc\r\ndef");
  memo().SetReadOnly(true);
  memo().setSelStart(0);
  Key(Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(memo().getSelText(), "a");
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(gui::Clipboard().GetText(), "a");
  Type("zz");
  Key(Qt::Key_Delete);
  Key(Qt::Key_Backspace);
  Key(Qt::Key_Return);
  Key(Qt::Key_Tab);
  Key(Qt::Key_V, Qt::ControlModifier);
  Key(Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(memo().GetText(), "abc\r\ndef");
  Key(Qt::Key_Insert);
  EXPECT_TRUE(memo().Overwrite());
}

TEST_F(KeyboardTest, OverwriteReplacesCharactersAndEnterMovesDown) {
  SetText("abcd\r\nefgh", 1);
  Key(Qt::Key_Insert);
  ASSERT_TRUE(memo().Overwrite());
  EXPECT_GT(control->Caret().Rect().width(), 1);  // the wide overwrite caret
  Type("XY");
  EXPECT_EQ(memo().GetText(), "aXYd\r\nefgh");
  Key(Qt::Key_Return);
  EXPECT_EQ(memo().GetText(), "aXYd\r\nefgh");
  EXPECT_EQ(memo().getSelLine(), 1);
  Key(Qt::Key_Insert);
  EXPECT_FALSE(memo().Overwrite());
}

TEST_F(KeyboardTest, TabInsertsATabOrMovesTheFocus) {
  QWidget other;
  SetText("ab", 1);
  Key(Qt::Key_Tab);
  EXPECT_EQ(memo().GetText(), "a\tb");
  memo().SetWantTabs(false);
  EXPECT_EQ(control->Perform(gui::WM_GETDLGCODE) & gui::DLGC_WANTTAB, 0);
  memo().SetWantTabs(true);
  EXPECT_EQ(control->Perform(gui::WM_GETDLGCODE), 133 + 2);
}

TEST_F(KeyboardTest, AutoIndentRepeatsTheLeadingBlanks) {
  memo().SetOptions(memo().Options().With(memo::vmoAutoIndent));
  SetText("  \tindented");
  memo().setSelStart(memo().GetTextLen());
  Key(Qt::Key_Return);
  EXPECT_EQ(memo().GetText(), "  \tindented\r\n  \t");
  Type("x");
  EXPECT_EQ(memo().getParagraphs(1), "  \tx");
}

TEST_F(KeyboardTest, AKeyDownHandlerThatClearsTheKeySuppressesTheBinding) {
  SetText("abc", 0);
  control->OnKeyDown = [](memo::TVellMemoControl*, std::uint16_t& key, memo::TShiftState) {
    if (key == gui::VK_RIGHT || key == gui::VK_DELETE) key = 0;
  };
  Key(Qt::Key_Right);
  Key(Qt::Key_Delete);
  EXPECT_EQ(memo().getSelStart(), 0);
  EXPECT_EQ(memo().GetText(), "abc");
}

TEST_F(KeyboardTest, CtrlEChecksTheModel) {
  SetText("abc\r\ndef");
  Key(Qt::Key_E, Qt::ControlModifier);  // a sound model raises nothing
  EXPECT_EQ(memo().GetText(), "abc\r\ndef");
}

}  // namespace

namespace {

TEST_F(KeyboardTest, AnEditThatFailsIsReportedAndChangesNothing) {
  std::vector<std::string> shown;
  gui::SetExceptionHandler([&](const std::string& message) { shown.push_back(message); });
  SetText("abcd");
  memo().SetParLengthLimit(4);
  memo().setSelStart(4);
  Type("e");  // the paragraph would pass its limit
  gui::SetExceptionHandler(nullptr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Text too long");
  EXPECT_EQ(memo().GetText(), "abcd");
  memo().CheckIntegrity();
  // The control goes on working.
  memo().SetParLengthLimit(memo::TVellMemo::kMaxParLength);
  Type("e");
  EXPECT_EQ(memo().GetText(), "abcde");
}

}  // namespace

namespace {

TEST_F(KeyboardTest, MenuShortcutsWinOverTheMemosKeys) {
  QWidget window;
  auto* memoControl = new memo::TVellMemoControl(&window);
  memoControl->resize(200, 100);
  QAction bold(&window);
  bold.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
  window.addAction(&bold);
  int triggered = 0;
  QObject::connect(&bold, &QAction::triggered, [&] { ++triggered; });
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.activateWindow();
  memoControl->setFocus();
  QApplication::processEvents();
  memoControl->Memo().SetText("abc");
  memoControl->Memo().SelectAll();
  QTest::keyClick(memoControl, Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(triggered, 1);
  EXPECT_EQ(memoControl->Memo().GetText(), "abc");  // not made bold
  QTest::keyClick(memoControl, Qt::Key_I, Qt::ControlModifier);
  EXPECT_EQ(memoControl->Memo().GetText(), "\x01" "abc\x01");  // no shortcut: the memo's key
}

}  // namespace

// ---- the caret and the view ----

namespace {

class CaretViewTest : public KeyboardTest {
protected:
  // Characters of the memo's font that fit on a wrapped line.
  int LineChars() { return (control->ClientWidth() - memo().LeftMargin() - memo().RightMargin()) / CharWidth(); }
  // The first difference between the caret, the top line, the origin and
  // the thumb; empty when they agree.
  std::string ViewFault() {
    const int lh = LineHeight();
    const int top = memo().getTopLine();
    if (memo().TopOrigin() / lh != top)
      return "origin " + std::to_string(memo().TopOrigin()) + " for top line " + std::to_string(top);
    const int row = memo().getSelLine() - top;
    if (control->CaretY() != row * lh - memo().TopOrigin() % lh)
      return "caret y " + std::to_string(control->CaretY()) + " on row " + std::to_string(row);
    if (control->CaretY() < 0 || control->CaretY() + lh > control->ClientHeight())
      return "caret y " + std::to_string(control->CaretY()) + " outside the view";
    QScrollBar* bar = control->verticalScrollBar();
    if (bar->value() != std::min(memo().TopOrigin() / control->VScrollUnit(), bar->maximum()))
      return "thumb " + std::to_string(bar->value()) + " for origin " + std::to_string(memo().TopOrigin());
    return std::string();
  }
};

// Return over five characters of the top visible line lets the word before
// them move up a line: the top line, its origin and the caret agree after
// it and after Page Down.
TEST_F(CaretViewTest, AnEditThatShortensTheTopParagraphKeepsTheCaretOnItsLine) {
  const int n = LineChars();
  std::string text;
  for (int i = 0; i < 40; ++i) text += "line " + std::to_string(i) + "\r\n";
  // Line 0 of the paragraph leaves five columns free: "wxyzabcde" does not
  // fit there, "wxyz" does.
  text += std::string(n - 6, 'p') + " wxyzabcde";
  for (int i = 0; i < 2 * n; ++i) text += " word";
  text += "\r\n";
  for (int i = 0; i < 40; ++i) text += "tail " + std::to_string(i) + "\r\n";
  SetText(text, 0);
  const int first = memo().ParFirstLine(40);
  ASSERT_GT(memo().Pars().At(40)->lineCount, 3);
  memo().setTopLine(first + 1);
  const std::int32_t a = memo().getParsOffset(40) + static_cast<std::int32_t>(n - 6 + 1 + 4);
  memo().setSelStart(a);
  memo().setSelLength(5);
  ASSERT_EQ(memo().getSelLine(), first + 1);
  Key(Qt::Key_Return);
  EXPECT_EQ(memo().getParagraphs(40), std::string(n - 6, 'p') + " wxyz");
  EXPECT_EQ(memo().Pars().At(40)->lineCount, 1);
  EXPECT_EQ(ViewFault(), "");
  Key(Qt::Key_PageDown);
  EXPECT_EQ(ViewFault(), "");
  Key(Qt::Key_PageDown);
  EXPECT_EQ(ViewFault(), "");
}

// A seeded walk of keys over a wrapped page (QV_MEMO_KEY_WALK sets how many
// keys): after every key the caret stands inside the view on its line and
// the thumb shows the top line.
TEST_F(CaretViewTest, ARandomWalkOfKeysKeepsTheCaretInTheView) {
  std::mt19937 rng(86);
  static const char* kWords[] = {"jan", "smit", "anna", "bos", "pieter", "de", "vries", "hendrikushendrikus"};
  std::string text;
  for (int p = 0; p < 300; ++p) {
    for (int w = static_cast<int>(rng() % 40); w > 0; --w) text += std::string(kWords[rng() % 8]) + " ";
    text += "\r\n";
  }
  SetText(text, 0);
  const char* walk = std::getenv("QV_MEMO_KEY_WALK");
  const int keys = walk && *walk ? std::atoi(walk) : 3000;
  struct Press {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
  };
  const Press presses[] = {{Qt::Key_Up, {}},          {Qt::Key_Down, {}},     {Qt::Key_Left, {}},
                           {Qt::Key_Right, {}},       {Qt::Key_PageUp, {}},   {Qt::Key_PageDown, {}},
                           {Qt::Key_Home, {}},        {Qt::Key_End, {}},      {Qt::Key_Home, Qt::ControlModifier},
                           {Qt::Key_End, Qt::ControlModifier}, {Qt::Key_Right, Qt::ControlModifier},
                           {Qt::Key_Down, Qt::ShiftModifier},  {Qt::Key_Return, {}}, {Qt::Key_Backspace, {}},
                           {Qt::Key_Delete, {}},      {Qt::Key_Up, Qt::ShiftModifier}};
  for (int k = 0; k < keys; ++k) {
    const int pick = static_cast<int>(rng() % 20);
    std::string pressed;
    if (pick < 16) {
      Key(presses[pick].key, presses[pick].mods);
      pressed = "key " + std::to_string(pick);
    } else {
      Type(pick == 19 ? " " : "x");
      pressed = "typing";
    }
    if (rng() % 50 == 0) {
      // Options that change how vertical moves keep the column.
      memo().SetOptions(memo().Options().With(memo::vmoKeepColumnPos).Without(memo::vmoWrapCaret));
    }
    const std::string fault = ViewFault();
    ASSERT_EQ(fault, "") << "after " << pressed << " (key " << k << ")";
  }
  memo().CheckIntegrity();
}

}  // namespace
