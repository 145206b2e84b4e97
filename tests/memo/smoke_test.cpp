#include <gtest/gtest.h>

#include "memo_test_util.h"

using namespace memo;
using namespace memo_test;

TEST(MemoSmoke, NewMemoHasOneEmptyParagraph) {
  TVellMemo m;
  EXPECT_EQ(m.GetParCount(), 1);
  EXPECT_EQ(m.GetTextLen(), 0);
  EXPECT_EQ(m.LineCount(), 1);
  m.CheckIntegrity();
}

TEST(MemoSmoke, InsertAndUndo) {
  TVellMemo m;
  m.SetSelTextBuf("a\r\nb");
  EXPECT_EQ(m.GetText(), "a\r\nb");
  EXPECT_EQ(m.GetParCount(), 2);
  m.CheckIntegrity();
  m.Undo();
  EXPECT_EQ(m.GetText(), "");
  m.CheckIntegrity();
  m.Redo();
  EXPECT_EQ(m.GetText(), "a\r\nb");
  m.CheckIntegrity();
}
