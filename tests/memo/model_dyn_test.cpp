// Containers, the column rule, navigators and dynamic (user) styles.
#include <gtest/gtest.h>

#include <random>

#include "memo_test_util.h"

using namespace memo;
using namespace memo_test;

TEST(Containers, PagedArrayKeepsOnePageAndChecksBounds) {
  TDynArray2<int> a;
  a.SetCapacity(0);
  EXPECT_EQ(a.PageCount(), 1);
  for (int i = 0; i < 20000; ++i) a.Add(i);
  int* kept = a.GetPointer(5);
  for (int i = 0; i < 20000; ++i) a.Add(i);
  EXPECT_EQ(kept, a.GetPointer(5));  // records never move while it grows
  EXPECT_THROW(a.GetPointer(40000), rtl::ERangeError);
  EXPECT_THROW(a.GetPointer(-1), rtl::ERangeError);
  TParagraphsList pars;
  EXPECT_EQ(pars.ItemsPerPage(), 341);
  TDynArray<int> d;
  d.SetCount(3);
  EXPECT_EQ(d.Capacity(), 3);
  d.SetCount(-2);
  EXPECT_EQ(d.Count(), 0);
  EXPECT_THROW(d.getPointer(0), rtl::ERangeError);
}

// Pages added many at a time come as one block, freed with its first page:
// random growth and shrinking against a plain vector, under the sanitizers
// a page freed twice or never shows.
TEST(Containers, PagedArrayGrowsAndShrinksInBlocksAndSinglePages) {
  TDynArray2<int, 4> a;
  std::vector<int> model;
  std::mt19937 random(7);
  for (int step = 0; step < 400; ++step) {
    const int kind = static_cast<int>(random() % 4);
    const int n = kind == 0 ? static_cast<int>(random() % 200)       // many pages at once, or back
                  : kind == 1 ? model.size() + random() % 6          // a page or two more
                  : kind == 2 ? static_cast<int>(random() % (model.size() + 1))
                              : static_cast<int>(model.size() + 64 + random() % 100);
    if (kind == 0) a.SetCapacity(n);
    const int count = kind == 0 ? a.Count() : n;
    a.SetCount(count);
    model.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
      if (random() % 3 == 0) *a.At(i) = model[static_cast<size_t>(i)] = static_cast<int>(random());
    ASSERT_GE(a.Capacity(), a.Count());
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(*a.At(i), model[static_cast<size_t>(i)]) << step << " " << i;
    }
  }
  int* kept = a.Count() > 0 ? a.At(0) : nullptr;
  a.SetCapacity(a.Capacity() + 400);
  if (kept) {
    EXPECT_EQ(kept, a.At(0));
  }
}

TEST(Containers, ParagraphStartsStayExactThroughShifts) {
  TVellMemo m;
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + "\r\n";
  m.SetText(text);
  for (int i : {1500, 10, 1999, 700}) {
    m.setSelStart(m.getParsOffset(i) + 2);
    m.SetSelTextBuf(i % 2 ? "xx" : "y\r\nz");
    m.CheckIntegrity();
  }
  EXPECT_EQ(m.GetText().substr(m.getParsOffset(1501), 4), m.getParagraphs(1501).substr(0, 4));
}

TEST(ColumnRule, TabsAndCodes) {
  const char* text = "abc\tx\x02y";
  EXPECT_EQ(ColumnOfOffset(text, 0, 4, 8, true), 8);
  EXPECT_EQ(ColumnOfOffset("12345678\t", 0, 9, 8, true), 16);
  EXPECT_EQ(ColumnOfOffset(text, 0, 7, 8, true), 10);
  EXPECT_EQ(ColumnOfOffset(text, 0, 7, 8, false), 11);
  int beyond = 0;
  EXPECT_EQ(OffsetOfColumn(text, 0, 7, 5, 8, true, &beyond), 4);
  EXPECT_EQ(beyond, 0);
  EXPECT_EQ(OffsetOfColumn(text, 0, 7, 14, 8, true, &beyond), 7);
  EXPECT_EQ(beyond, 4);
  EXPECT_EQ(ApplyStyleCodes(0, "\x01\x01", 2), 0);
}

TEST(Navigator, ReadsAndMoves) {
  TVellMemo m;
  m.SetText("abc\r\ndefg\r\nh");
  TVellNavigator nav(&m);
  nav.SetPos(m.GetTextLen());
  EXPECT_EQ(nav.GetParNb(), 2);
  EXPECT_EQ(nav.GetOffset(), 1);
  nav.SetPos(4);
  EXPECT_EQ(nav.GetText(), 10);
  EXPECT_EQ(nav.GetParNb(), 0);
  nav.SetLineNb(1);
  EXPECT_EQ(nav.Pos(), 5);
  nav.SetColNb(99);
  EXPECT_EQ(nav.Pos(), 9);
  char buffer[16];
  nav.SetPos(2);
  EXPECT_EQ(nav.GetTextBuf(buffer, 5), 5);
  EXPECT_STREQ(buffer, "c\r\nde");
  nav.SetDisplayPos(TPoint{0, 1000});
  EXPECT_EQ(nav.Pos(), m.GetTextLen());
}

TEST(Navigator, WrongOwnerAndDynWalks) {
  rtl::TComponent notAMemo(nullptr);
  EXPECT_THROW(TVellNavigator bad(&notAMemo), rtl::Exception);
  TVellMemo m;
  m.SetText("ab\r\ncd\r\nef");
  m.SetDynStyle(1, 2, fsBold, false, 5, 0, clRed, clBlue);
  TVellNavigator nav(&m);
  nav.SetPos(9);
  EXPECT_TRUE(nav.BackToDyn(0));
  EXPECT_EQ(nav.Pos(), 2);
  EXPECT_TRUE(nav.BackToDyn(0));
  EXPECT_EQ(nav.Pos(), 1);
  EXPECT_FALSE(nav.BackToDyn(0));
  nav.SetPos(9);
  EXPECT_FALSE(nav.BackToDyn(5));
  EXPECT_EQ(nav.Pos(), 9);
  nav.SetPos(0);
  EXPECT_TRUE(nav.ForwardToDyn(100));
  EXPECT_EQ(nav.Pos(), 1);
  nav.RightOfDyn();
  EXPECT_EQ(nav.GetContext(), 5);
  EXPECT_THROW(
      {
        TVellNavigator n2(&m);
        n2.SetPos(8);
        n2.RemoveDyn();
      },
      rtl::Exception);
}

TEST(DynStyles, SetClearAndSnapshot) {
  TVellMemo m;
  m.SetText("Baptism of John\r\nSmith, son of");
  m.SetDynStyle(11, 22, fsItalic, false, 3, 0, clYellow, clBlue);
  const ParInfo& p0 = *m.Pars().At(0);
  EXPECT_TRUE(IsUserRun(par::StateOfChar(p0, 11)));
  EXPECT_EQ(par::StateOfChar(p0, 11).context, 3);
  EXPECT_FALSE(IsUserRun(par::StateOfChar(p0, 10)));
  EXPECT_TRUE(IsUserRun(par::StateOfChar(*m.Pars().At(1), 4)));
  EXPECT_FALSE(IsUserRun(par::StateOfChar(*m.Pars().At(1), 5)));
  m.setSelStart(12);
  EXPECT_EQ(m.GetSelContext(), 3);
  std::string snap = m.DynText(11, 22);
  EXPECT_EQ(snap.substr(snap.size() - 11), "John\r\nSmith");
  TVellMemo copy;
  copy.SetText("x");
  copy.setSelStart(1);
  copy.SetDynText(1, 1, snap);
  EXPECT_EQ(copy.GetText(), "xJohn\r\nSmith");
  EXPECT_TRUE(IsUserRun(par::StateOfChar(*copy.Pars().At(0), 2)));
  EXPECT_TRUE(IsUserRun(par::StateOfChar(*copy.Pars().At(1), 0)));
  EXPECT_FALSE(IsUserRun(par::StateOfChar(*copy.Pars().At(0), 0)));
  EXPECT_THROW(copy.SetDynText(0, 0, std::string("\x05\0\0\0", 4)), rtl::EStreamError);
  m.ClearStyle(13);
  EXPECT_FALSE(IsUserRun(par::StateOfChar(p0, 11)));
  EXPECT_FALSE(IsUserRun(par::StateOfChar(*m.Pars().At(1), 0)));
  m.CheckIntegrity();
  EXPECT_EQ(m.DynText(3, 3), "");
}

TEST(DynStyles, UserRunsSurviveStartStopParsingAndEndAtInsertedBreaks) {
  TVellMemo m;
  m.StartStopKeys().AddStartStopKey("<", ">", 0, 0, 0, 0, clWhite, clRed, false);
  m.SetText("ab <cd> ef gh");
  m.FormatNow(0, 0, false);
  m.SetDynStyle(8, 10, fsBold, false, 0, 0, clGreen, clBlack);
  Replace(m, 3, 3, "x");  // re-parses the paragraph
  m.FormatNow(0, 0, false);
  EXPECT_TRUE(IsUserRun(par::StateOfChar(*m.Pars().At(0), 9)));
  EXPECT_TRUE(IsStartStopRun(par::StateOfChar(*m.Pars().At(0), 5)));
  // Typing inside the user run continues it.
  Replace(m, 10, 10, "Q");
  EXPECT_TRUE(IsUserRun(par::StateOfChar(*m.Pars().At(0), 10)));
}

// Every pair of user-style ranges over "ab" CR LF "cd" (empty ones and
// edges between CR and LF included), against a model where each character
// takes the context of the last range holding it; the memo read back from
// its native image has the same styles at every character.
TEST(DynStyles, EveryPairOfRangesAgreesWithAModelAndReadsBackTheSame) {
  const std::string text = "ab\r\ncd";
  const int n = static_cast<int>(text.size());
  std::vector<std::pair<int, int>> ranges;
  for (int a = 0; a <= n; ++a)
    for (int b = a; b <= n; ++b) ranges.emplace_back(a, b);
  ASSERT_EQ(ranges.size(), 28u);
  int cases = 0;
  for (const auto& first : ranges)
    for (const auto& second : ranges) {
      SCOPED_TRACE(testing::Message() << "ranges " << first.first << ".." << first.second << " then " << second.first
                                      << ".." << second.second);
      TVellMemo m;
      m.SetText(text);
      m.SetDynStyle(first.first, first.second, fsBold, false, 1, 0, clYellow, clBlue);
      m.SetDynStyle(second.first, second.second, fsItalic, false, 2, 0, clLime, clRed);
      m.CheckIntegrity();
      for (int pos : {0, 1, 4, 5}) {
        int context = 0;
        for (const auto& [r, c] : {std::pair{first, 1}, std::pair{second, 2}})
          if (r.first <= pos && pos < r.second) context = c;
        const int par = pos < 4 ? 0 : 1;
        const DynInfoRec& state = par::StateOfChar(*m.Pars().At(par), pos - m.getParsOffset(par));
        ASSERT_EQ(IsUserRun(state) ? state.context : 0, context) << "at " << pos;
      }
      rtl::TStringStream image;
      m.SaveToNativeStream(image);
      TVellMemo back;
      rtl::TStringStream in(image.DataString());
      back.LoadFromNativeStream(in, false);
      ASSERT_EQ(AllStates(back), AllStates(m));
      ++cases;
    }
  EXPECT_EQ(cases, 784);
}
