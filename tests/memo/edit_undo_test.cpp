// The editing core and undo: splitting, style balancing, empty pairs,
// merged typing, linked steps, limits and failures.
#include <gtest/gtest.h>

#include "memo_test_util.h"

using namespace memo;
using namespace memo_test;

TEST(Editing, BreaksSplitOnCarriageReturnOnly) {
  TVellMemo m;
  m.SetSelTextBuf("a\r\nb");
  EXPECT_EQ(m.GetParCount(), 2);
  TVellMemo n;
  n.SetSelTextBuf("a\nb");
  EXPECT_EQ(n.GetParCount(), 1);
  EXPECT_EQ(n.getParagraphs(0).size(), 3u);
  EXPECT_EQ(n.getChar(1), '\n');
}

TEST(Editing, PositionsCountBreaksAsTwo) {
  TVellMemo m;
  m.SetText("abc\r\nde");
  EXPECT_EQ(m.GetTextLen(), 7);
  EXPECT_EQ(m.getChar(3), 13);
  EXPECT_EQ(m.getChar(4), 10);
  EXPECT_EQ(m.getParsOffset(1), 5);
  TVellNavigator nav(&m);
  nav.SetPos(4);
  EXPECT_EQ(nav.GetParNb(), 0);
  EXPECT_EQ(nav.GetOffset(), 4);
  nav.SetPos(7);
  EXPECT_EQ(nav.GetParNb(), 1);
  EXPECT_EQ(nav.GetOffset(), 2);
}

TEST(Editing, DeletingALeadingCodeKeepsTheStyleAfterIt) {
  TVellMemo m;
  m.SetText("x\x02" "bold\x02 y");
  Replace(m, 1, 2, "");  // only the opening bold code
  EXPECT_EQ(m.getParagraphs(0), "x\x02" "bold\x02 y");
}

TEST(Editing, EmptyStylePairsAreRemovedWithTheirContent) {
  TVellMemo m;
  m.SetText("a\x02" "bc\x02" "d");
  Replace(m, 2, 4, "");
  EXPECT_EQ(m.getParagraphs(0), "ad");
  EXPECT_EQ(m.getSelStart(), 1);
  m.Undo();
  EXPECT_EQ(m.getParagraphs(0), "a\x02" "bc\x02" "d");
}

TEST(Editing, SetBoldWithoutSelectionLeavesCaretBetweenCodes) {
  TVellMemo m;
  m.SetText("ab");
  m.setSelStart(1);
  m.SetBold();
  EXPECT_EQ(m.getParagraphs(0), "a\x02\x02" "b");
  EXPECT_EQ(m.getSelStart(), 2);
  m.SetSelTextBuf("X");
  EXPECT_EQ(m.getParagraphs(0), "a\x02X\x02" "b");
  // The plain-text writer leaves an empty pair out.
  TVellMemo e;
  e.SetText("ab");
  e.setSelStart(1);
  e.SetBold();
  EXPECT_EQ(Saved(e), "ab");
}

TEST(Editing, SetBoldOnSelectionSelectsCodesToo) {
  TVellMemo m;
  m.SetText("xabcx");
  m.setSelStart(1);
  m.setSelLength(3);
  m.SetBold();
  EXPECT_EQ(m.getParagraphs(0), "x\x02" "abc\x02x");
  EXPECT_EQ(m.getSelStart(), 1);
  EXPECT_EQ(m.getSelLength(), 5);
}

// A selection edge between the CR and the LF of a break takes the whole
// break: the codes go around whole characters and both paragraphs stay.
TEST(Editing, StyleCommandsKeepTheBreakAnEdgeFallsInto) {
  struct Case {
    std::int32_t caret, length;
    const char* text;
    std::int32_t selStart, selLength;
  };
  const Case cases[] = {
      {3, 2, "ab\x02\r\nc\x02" "d", 2, 5},      // from between CR and LF
      {5, -2, "ab\x02\r\nc\x02" "d", 7, -5},    // the same backwards
      {3, 0, "ab\x02\x02\r\ncd", 3, 0},          // no selection: between the codes
      {0, 3, "\x02" "ab\r\n\x02" "cd", 0, 6},    // up to between CR and LF
      {2, 2, "ab\x02\r\n\x02" "cd", 2, 4},       // the break alone
      {3, 1, "ab\x02\r\n\x02" "cd", 2, 4},       // its LF alone
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "caret " << c.caret << " length " << c.length);
    TVellMemo m;
    m.SetText("ab\r\ncd");
    m.setSelStart(c.caret);
    m.setSelLength(c.length);
    m.SetBold();
    EXPECT_EQ(m.GetText(), c.text);
    EXPECT_EQ(m.GetParCount(), 2);
    EXPECT_EQ(m.getSelStart(), c.selStart);
    EXPECT_EQ(m.getSelLength(), c.selLength);
    m.CheckIntegrity();
    m.Undo();
    EXPECT_EQ(m.GetText(), "ab\r\ncd");
  }
}

TEST(Editing, SelLengthIsClampedAndSigned) {
  TVellMemo m;
  m.SetText("abcdef");
  m.setSelStart(3);
  m.setSelLength(-5);
  EXPECT_EQ(m.getSelStart(), 3);
  EXPECT_EQ(m.getSelLength(), -3);
  EXPECT_EQ(m.getSelText(), "abc");
  m.setSelLength(100);
  EXPECT_EQ(m.getSelLength(), 3);
  TVellMemo empty;
  empty.SelectAll();
  EXPECT_EQ(empty.getSelLength(), 0);
}

TEST(Editing, DiscardTrailingSpaces) {
  TVellMemo m;
  m.SetOptions(m.Options().With(vmoDiscardTrailingSpaces));
  m.SetSelTextBuf("x  \r\ny");
  EXPECT_EQ(m.GetText(), "x\r\ny");
}

TEST(Editing, BeforeChangeMayReplaceText) {
  TVellMemo m;
  m.SetText("abc");
  m.OnBeforeChange = [](TVellMemo*, const char*& text) { text = ""; };
  m.setSelStart(1);
  m.SetSelTextBuf("zzz");
  EXPECT_EQ(m.GetText(), "abc");
  m.setSelLength(1);
  m.SetSelTextBuf("zzz");
  EXPECT_EQ(m.GetText(), "ac");
}

TEST(Editing, TextTooLongChangesNothing) {
  TVellMemo m;
  m.SetText("abcd\r\nef");
  m.Modified = false;
  m.SetParLengthLimit(6);
  m.setSelStart(2);
  int undoCount = m.getUndoCount();
  EXPECT_THROW(m.SetSelTextBuf("xyz"), rtl::Exception);
  EXPECT_EQ(m.GetText(), "abcd\r\nef");
  EXPECT_FALSE(m.Modified);
  EXPECT_EQ(m.getUndoCount(), undoCount);
  m.CheckIntegrity();
  m.SetSelTextBuf("xy");  // exactly at the limit
  EXPECT_EQ(m.getParagraphs(0), "abxycd");
  // A later edit is not merged into a step the failed edit never made.
  EXPECT_EQ(m.getUndoCount(), undoCount + 1);
}

TEST(Undo, TypingMergesUntilTheCaretMoves) {
  TVellMemo m;
  for (const char* c : {"a", "b", "c"}) m.SetSelTextBuf(c);
  EXPECT_EQ(m.getUndoCount(), 1);
  m.Undo();
  EXPECT_EQ(m.GetText(), "");
  m.Redo();
  EXPECT_EQ(m.GetText(), "abc");
  m.setSelStart(1);
  m.SetSelTextBuf("x");
  m.SetSelTextBuf("y");
  m.setSelStart(0);
  m.SetSelTextBuf("z");
  EXPECT_EQ(m.GetText(), "zaxybc");
  m.Undo();
  EXPECT_EQ(m.GetText(), "axybc");
  m.Undo();
  EXPECT_EQ(m.GetText(), "abc");
}

TEST(Undo, RedoRestoresTextAndRange) {
  TVellMemo m;
  m.SetText("hello world");
  Replace(m, 6, 11, "there\r\nfriend");
  m.Undo();
  EXPECT_EQ(m.GetText(), "hello world");
  m.Redo();
  EXPECT_EQ(m.GetText(), "hello there\r\nfriend");
  EXPECT_FALSE(m.getCanRedo());
  EXPECT_TRUE(m.getCanUndo());
}

TEST(Undo, EditWithEmptyPairRemovalIsOneStep) {
  TVellMemo m;
  m.SetText("a\x01" "b\x01" "c");
  m.ClearUndo();
  Replace(m, 2, 3, "");
  EXPECT_EQ(m.GetText(), "ac");
  EXPECT_GT(m.getUndoCount(), 1);
  m.Undo();
  EXPECT_EQ(m.GetText(), "a\x01" "b\x01" "c");
  EXPECT_FALSE(m.getCanUndo());
  m.Redo();
  EXPECT_EQ(m.GetText(), "ac");
  EXPECT_FALSE(m.getCanRedo());
}

TEST(Undo, ColumnBlockDeletionIsOneStep) {
  TVellMemo m;
  m.SetWordWrap(false);
  m.SetText("abcdef\r\nghijkl\r\nmnopqr");
  m.ClearUndo();
  m.SelectBlock(1, 0, 2, 3);
  EXPECT_EQ(m.SelectedBlockText(), "bc\r\nhi\r\nno\r\n");
  m.SetSelTextBuf("");
  EXPECT_EQ(m.GetText(), "adef\r\ngjkl\r\nmpqr");
  m.Undo();
  EXPECT_EQ(m.GetText(), "abcdef\r\nghijkl\r\nmnopqr");
  m.Redo();
  EXPECT_EQ(m.GetText(), "adef\r\ngjkl\r\nmpqr");
}

TEST(Undo, SetParagraphBeyondTheEndIsOneStep) {
  TVellMemo m;
  m.SetText("a");
  m.ClearUndo();
  m.setParagraphs(3, "d");
  EXPECT_EQ(m.GetText(), "a\r\n\r\n\r\nd");
  m.Undo();
  EXPECT_EQ(m.GetText(), "a");
}

TEST(Undo, LimitsTrimTheList) {
  TVellMemo m;
  m.SetText("abc");
  for (int i = 0; i < 5; ++i) {
    m.setSelStart(0);
    m.SetSelTextBuf("x");
  }
  EXPECT_EQ(m.getUndoCount(), 5);
  m.setUndoMaxLevel(2);
  EXPECT_EQ(m.getUndoCount(), 2);
  EXPECT_THROW(m.setUndoMaxLevel(134217728), EListError);
  EXPECT_EQ(m.UndoMaxLevel(), 2);
  m.setUndoMaxSpace(0);
  EXPECT_EQ(m.getUndoCount(), 0);
  m.setSelStart(0);
  m.SetSelTextBuf("y");
  EXPECT_EQ(m.getUndoCount(), 0);
  EXPECT_FALSE(m.getCanUndo());
}

TEST(Undo, RemoveUndoAdjustsTheIndex) {
  TVellMemo m;
  for (int i = 0; i < 3; ++i) {
    m.setSelStart(0);
    m.SetSelTextBuf("x");
  }
  m.Undo();
  m.RemoveUndo(0);
  EXPECT_EQ(m.getUndoCount(), 2);
  EXPECT_TRUE(m.getCanUndo());
  EXPECT_TRUE(m.getCanRedo());
}

TEST(Paragraphs, ViewAddsIntoEmptyLastParagraph) {
  TVellMemo m;
  m.SetText("abc\r\n");
  EXPECT_EQ(m.GetParCount(), 2);
  EXPECT_EQ(m.Paragraphs()->Count(), 1);
  EXPECT_EQ(m.Lines()->Count(), 1);
  m.Paragraphs()->Add("def");
  EXPECT_EQ(m.GetText(), "abc\r\ndef\r\n");
  m.Paragraphs()->Insert(0, "zero");
  EXPECT_EQ(m.GetText(), "zero\r\nabc\r\ndef\r\n");
  m.Paragraphs()->Delete(1);
  EXPECT_EQ(m.GetText(), "zero\r\ndef\r\n");
  m.Lines()->SetStrings(0, "one");
  EXPECT_EQ(m.GetText(), "one\r\ndef\r\n");
  m.Lines()->Delete(0);
  EXPECT_EQ(m.GetText(), "def\r\n");
  EXPECT_EQ(m.Lines()->Strings(0), "def");
}

TEST(Paragraphs, AssignFromStringListReplacesText) {
  TVellMemo m;
  m.SetText("old");
  rtl::TStringList list;
  list.Add("one");
  list.Add("two");
  m.SetLines(list);
  EXPECT_EQ(m.GetText(), "one\r\ntwo\r\n");
  EXPECT_EQ(m.Lines()->Text(), "one\r\ntwo\r\n");
}

TEST(Paragraphs, GetTextPartAndCurrentWord) {
  TVellMemo m;
  m.SetText("John Smith, baptised");
  EXPECT_EQ(m.GetTextPart(5, 3), "");
  EXPECT_EQ(m.GetTextPartBuf(5, 3), nullptr);
  EXPECT_STREQ(m.GetTextPartBuf(0, 4).get(), "John");
  m.setSelStart(7);
  EXPECT_EQ(m.getCurrentWord(), "Smith");
  EXPECT_THROW(m.getParagraphs(5), rtl::ERangeError);
  EXPECT_EQ(m.getLines(5), "");
}
