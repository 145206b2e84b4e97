// The extended highlighter: its lists and stored forms, keyword and
// start/stop runs with their priority and scope gates, vetoes, chaining to
// a sub-highlighter, and highlighting after edits equal to a fresh apply.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <random>

#include "memo/ext_highlighter.h"
#include "memo_test_util.h"

using namespace memo;
using namespace memo_test;

namespace {

void Apply(TVellMemo& m) {
  m.ReApplyKeywords();
  m.FormatNow(0, m.GetParCount() - 1, false);
}
// The text, then the keywords applied to it.
void Apply(TVellMemo& m, const std::string& text) {
  m.SetText(text);
  Apply(m);
}

const DynInfoRec& At(TVellMemo& m, int par, int offset) { return par::StateOfChar(*m.Pars().At(par), offset); }

// The key entry at the run's level, or INT_MIN outside keyword and
// start/stop runs.
int KeyAt(TVellMemo& m, int par, int offset) {
  const DynInfoRec& r = At(m, par, offset);
  return IsNestedRun(r) ? r.keys[r.level] : INT_MIN;
}

// Per character of a paragraph: 'k' keyword run, 's' start/stop run, '.'.
std::string Kinds(TVellMemo& m, int par) {
  std::string out;
  for (int i = 0; i < m.Pars().At(par)->length; ++i) {
    const DynInfoRec& r = At(m, par, i);
    out += IsKeywordRun(r) ? 'k' : IsStartStopRun(r) ? 's' : '.';
  }
  return out;
}

int PairKey(int number) { return number - 32768; }

// A memo with an extended highlighter set on it.
class ExtHighlighterOnAMemo : public ::testing::Test {
protected:
  ExtHighlighterOnAMemo() { m.SetHighlighter(&h); }
  TVellMemo m;
  TExtHighlighter h;
};

}  // namespace

// ---- lists ----

TEST(ExtKeywordList, ScopeAndPriorityKeptCopiedAndStored) {
  TExtKeywordList list;
  list.AddExtKeyWord("smith", kWholeWordsOnly, fsBold, 4, 3, 9, 2, clWhite, clRed);
  list.Add("plain");
  EXPECT_EQ(list.Key(0), "SMITH");
  TExtKeywordInfo e = list.GetKeyInfo(0);
  EXPECT_EQ(e.scope, 3);
  EXPECT_EQ(e.priority, 9);
  EXPECT_EQ(e.context, 4);
  EXPECT_EQ(list.GetKeyInfo(1), TExtKeywordInfo());

  TExtKeywordList copy;
  copy.Assign(&list);
  EXPECT_EQ(copy.GetKeyInfo(0), e);
  TKeywordList plain;
  plain.AddKeyWord("jones", 0, 0, 1, 0, clWhite, clRed);
  copy.Assign(&plain);
  ASSERT_EQ(copy.Count(), 1);
  EXPECT_EQ(copy.GetKeyInfo(0).scope, 0);
  EXPECT_EQ(copy.GetKeyInfo(0).context, 1);

  auto data = list.WriteExtData();
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[0], (TStoredExtKeyword{"smith", kWholeWordsOnly, fsBold, 4, 2, clWhite, clRed, 3, 9}));
  TExtKeywordList back;
  back.ReadExtData(data);
  EXPECT_EQ(back.WriteExtData(), data);
  back.Delete(0);
  EXPECT_EQ(back.Count(), 1);
  EXPECT_EQ(back.KeyCount(), 1);
}

TEST(ExtStartStopList, ScopePriorityAndStoredForm) {
  TExtStartStopList list;
  list.AddExStartStopKey("<b", ">", 0, fsItalic, 2, 0, 5, 0, clWhite, clBlue, false);
  int second = list.AddExStartStopKey("<B", "/>", 0, 0, 2, 0, 5, 0, clWhite, clBlue, true);
  EXPECT_EQ(list.Pair(second).sameStart, 0);
  EXPECT_EQ(list.getExtStartStopInfo(0).priority, 5);
  TExtStartStopInfo info = list.getExtStartStopInfo(1);
  info.scope = 7;
  list.setExtStartStopInfo(1, info);
  EXPECT_EQ(list.Pair(1).scope, 7);
  auto data = list.WriteExtData();
  EXPECT_EQ(data[0].startKey, "<B");  // folded copy
  EXPECT_EQ(data[1].scope, 7);
  EXPECT_TRUE(data[1].finalFlag);
  TExtStartStopList back;
  back.ReadExtData(data);
  EXPECT_EQ(back.WriteExtData(), data);
}

TEST(HighlightInfo, SettersFireOnChangeOnlyOnChangeAndAssignCopies) {
  THighlightInfo a, b;
  int changes = 0;
  a.OnChange = [&](rtl::TObject*) { ++changes; };
  a.SetStyle(fsBold);
  a.SetStyle(fsBold);
  a.SetForeground(clRed);
  EXPECT_EQ(changes, 2);
  b.SetAltFont(true);
  b.SetBackground(clYellow);
  a.Assign(&b);
  EXPECT_TRUE(a.AltFont());
  EXPECT_EQ(a.Background(), clYellow);
  EXPECT_EQ(a.Style(), 0);
  TKeywordList other;
  EXPECT_THROW(a.Assign(&other), rtl::EConvertError);
}

TEST(ExtHighlighter, SeparatorsAlwaysHoldTheControlCharacters) {
  TExtHighlighter h;
  EXPECT_EQ(h.Separators(), " ,.;");
  for (int c = 0; c <= 26; ++c) EXPECT_TRUE(h.SeparatorSet().test(c));
  h.SetSeparators("");
  EXPECT_EQ(h.Separators(), "");
  EXPECT_TRUE(h.SeparatorSet().test(9));
  EXPECT_FALSE(h.SeparatorSet().test(' '));
  h.SetSeparators("-+");
  EXPECT_EQ(h.Separators(), "+-");
}

// ---- keywords ----

TEST(ExtHighlighter, KeywordRunsAreNumberedAfterTheMemosOwnKeywords) {
  TVellMemo m;
  m.Keywords().AddKeyWord("anna", 0, 0, 1, 0, clWhite, clRed);
  m.Keywords().AddKeyWord("bert", 0, 0, 1, 0, clWhite, clRed);
  TExtHighlighter h;
  h.Keywords().AddExtKeyWord("x", 0, 0, 1, 0, 0, 0, clWhite, clRed);
  h.Keywords().AddExtKeyWord("smith", 0, fsBold, 6, 0, 4, 9, clYellow, clGreen);
  m.SetHighlighter(&h);
  Apply(m, "anna smith bert");
  EXPECT_EQ(KeyAt(m, 0, 0), 0);
  EXPECT_EQ(KeyAt(m, 0, 5), 2 + 1);
  EXPECT_EQ(KeyAt(m, 0, 11), 1);
  const DynInfoRec& r = At(m, 0, 7);
  EXPECT_EQ(r.flags, 0xC0 | fsBold);
  EXPECT_EQ(r.context, 6);
  EXPECT_EQ(r.cursor, 9);
  EXPECT_EQ(r.background, clYellow);
  EXPECT_EQ(r.foreground, clGreen);
  EXPECT_EQ(r.openLength, 5);
  EXPECT_EQ(h.GetPriority(r, {2, 0}), 4);
  EXPECT_EQ(h.GetPriority(At(m, 0, 0), {2, 0}), kTopPriority);
  EXPECT_EQ(h.GetPriority(At(m, 0, 4), {2, 0}), 0);
  m.CheckIntegrity();
}

TEST_F(ExtHighlighterOnAMemo, KeywordsOverlapOnlyWhenTheyNest) {
  h.Keywords().AddExtKeyWord("abcd", 0, 0, 1, 0, 0, 0, clWhite, clRed);
  h.Keywords().AddExtKeyWord("bc", 0, 0, 1, 0, 1, 0, clWhite, clBlue);
  h.Keywords().AddExtKeyWord("cdef", 0, 0, 1, 0, 1, 0, clWhite, clGreen);
  h.Keywords().AddExtKeyWord("b", 0, 0, 1, 0, 0, 0, clWhite, clGreen);
  Apply(m, "abcdef");
  // "bc" (higher priority) nests inside "abcd" one level deeper; "cdef"
  // crosses its end; "b" has no higher priority than the runs it meets.
  EXPECT_EQ(At(m, 0, 1).level, 1);
  EXPECT_EQ(KeyAt(m, 0, 1), 1);
  EXPECT_EQ(At(m, 0, 3).level, 0);
  EXPECT_EQ(KeyAt(m, 0, 3), 0);
  EXPECT_EQ(Kinds(m, 0), "kkkk..");
}

TEST_F(ExtHighlighterOnAMemo, WholeWordsUseTheHighlightersSeparatorsAndContextZeroIsSkipped) {
  h.Keywords().AddExtKeyWord("ab", kWholeWordsOnly, 0, 1, 0, 0, 0, clWhite, clRed);
  h.Keywords().AddExtKeyWord("zz", 0, 0, 0, 0, 0, 0, clWhite, clRed);
  Apply(m, "ab-x ab zz x/ab");
  EXPECT_EQ(Kinds(m, 0), ".....kk........");
  h.SetSeparators("-/ ");
  Apply(m);
  EXPECT_EQ(Kinds(m, 0), "kk...kk......kk");
}

TEST(ExtHighlighter, InactiveAppliesNothingButPassesOnToItsSub) {
  TVellMemo m;
  m.Keywords().AddKeyWord("own", 0, 0, 1, 0, clWhite, clRed);
  TExtHighlighter h, sub;
  h.Keywords().AddExtKeyWord("top", 0, 0, 1, 0, 0, 0, clWhite, clRed);
  h.StartStopKeys().AddExStartStopKey("[", "]", 0, 0, 2, 0, 0, 0, clWhite, clRed, false);
  sub.Keywords().AddExtKeyWord("low", 0, 0, 1, 0, 0, 0, clWhite, clRed);
  sub.StartStopKeys().AddExStartStopKey("<", ">", 0, 0, 3, 0, 0, 0, clWhite, clRed, false);
  h.SetSubHighlighter(&sub);
  m.SetHighlighter(&h);
  Apply(m, "own top low <a> [b]");
  EXPECT_EQ(KeyAt(m, 0, 4), 1);                 // h: base 1
  EXPECT_EQ(KeyAt(m, 0, 8), 2);                 // sub: after h's one keyword
  EXPECT_EQ(KeyAt(m, 0, 13), PairKey(0 + 1));   // sub's pair after h's one pair
  EXPECT_EQ(KeyAt(m, 0, 17), PairKey(0));
  EXPECT_EQ(Kinds(m, 0), "kkk.kkk.kkk.sss.sss");
  h.SetActive(false);
  Apply(m);
  EXPECT_EQ(Kinds(m, 0), "kkk.....kkk.sss....");
  EXPECT_EQ(KeyAt(m, 0, 8), 2);
  EXPECT_EQ(KeyAt(m, 0, 13), PairKey(1));
}

TEST_F(ExtHighlighterOnAMemo, PriorityAndScopeGatesForKeywords) {
  // A pair with context 3 and priority 5.
  h.StartStopKeys().AddExStartStopKey("[", "]", 0, 0, 3, 0, 5, 0, clWhite, clRed, false);
  h.Keywords().AddExtKeyWord("lo", 0, 0, 1, 0, 2, 0, clWhite, clRed);     // scope 0, below 5
  h.Keywords().AddExtKeyWord("hi", 0, 0, 1, 0, 9, 0, clWhite, clRed);     // scope 0, above 5
  h.Keywords().AddExtKeyWord("in", 0, 0, 1, 3, 0, 0, clWhite, clRed);     // scope 3
  h.Keywords().AddExtKeyWord("all", 0, 0, 1, 7, kTopPriority, 0, clWhite, clRed);
  Apply(m, "lo hi in all [lo hi in all]");
  // Outside the pair: scope 0 applies at any priority; scope 3 does not.
  EXPECT_TRUE(IsKeywordRun(At(m, 0, 0)));
  EXPECT_TRUE(IsKeywordRun(At(m, 0, 3)));
  EXPECT_FALSE(IsKeywordRun(At(m, 0, 6)));
  EXPECT_TRUE(IsKeywordRun(At(m, 0, 9)));
  // Inside: only the higher priority, the matching scope and 32767.
  EXPECT_FALSE(IsKeywordRun(At(m, 0, 14)));
  EXPECT_TRUE(IsStartStopRun(At(m, 0, 14)));
  EXPECT_TRUE(IsKeywordRun(At(m, 0, 17)));
  EXPECT_EQ(At(m, 0, 17).level, 1);
  EXPECT_TRUE(IsKeywordRun(At(m, 0, 20)));
  EXPECT_TRUE(IsKeywordRun(At(m, 0, 23)));
  EXPECT_TRUE(IsStartStopRun(At(m, 0, 26)));
}

TEST(ExtHighlighter, ScopeMatchesTheMemosOwnStartStopContext) {
  TVellMemo m;
  m.StartStopKeys().AddStartStopKey("{", "}", 0, 0, 5, 0, clWhite, clRed, false);
  TExtHighlighter h;
  m.SetHighlighter(&h);
  h.Keywords().AddExtKeyWord("w", 0, 0, 1, 5, 0, 0, clWhite, clRed);
  Apply(m, "w {w} w");
  EXPECT_FALSE(IsKeywordRun(At(m, 0, 0)));
  EXPECT_TRUE(IsKeywordRun(At(m, 0, 3)));
  EXPECT_EQ(KeyAt(m, 0, 3), 0);
  EXPECT_FALSE(IsKeywordRun(At(m, 0, 6)));
}

TEST_F(ExtHighlighterOnAMemo, VetoesOfKeywordsStartsAndStops) {
  h.Keywords().AddExtKeyWord("ab", 0, 0, 1, 0, 0, 0, clWhite, clRed);
  h.StartStopKeys().AddExStartStopKey("(", ")", 0, 0, 2, 0, 0, 0, clWhite, clRed, false);
  m.SetText("ab ab (x) y) (z)");
  int keywordCalls = 0;
  h.OnKeyword = [&](rtl::TObject* sender, TVellNavigator* a, TVellNavigator* b, int index, bool& accept) {
    EXPECT_EQ(sender, &h);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(b->Pos() - a->Pos(), 2);
    accept = a->Pos() != 3;  // veto the second
    ++keywordCalls;
  };
  std::vector<int> starts;
  h.OnStart = [&](rtl::TObject*, TVellNavigator* a, TVellNavigator* b, int index, bool& accept) {
    EXPECT_EQ(b, nullptr);
    starts.push_back(a->Pos());
    accept = a->Pos() != 13;
  };
  h.OnStop = [&](rtl::TObject*, TVellNavigator* a, TVellNavigator*, int, bool& accept) {
    accept = a->Pos() != 8;  // the first ")" does not close
  };
  Apply(m);
  EXPECT_EQ(keywordCalls, 2);
  EXPECT_EQ(Kinds(m, 0), "kk....ssssss....");
  EXPECT_EQ(starts, (std::vector<int>{6, 13}));
}

TEST_F(ExtHighlighterOnAMemo, PairToTheNextSeparator) {
  h.StartStopKeys().AddExStartStopKey("@", "", 0, fsBold, 1, kScopeToSeparator, kTopPriority, 0, clWhite, clRed,
                                      false);
  Apply(m, "to @someone, and @me");
  EXPECT_EQ(Kinds(m, 0), "...ssssssss......sss");
  EXPECT_EQ(At(m, 0, 3).flags, 0xC0 | fsBold);
}

TEST_F(ExtHighlighterOnAMemo, PairsCrossParagraphsAndTheFinalFlagClosesAtTheEnd) {
  h.StartStopKeys().AddExStartStopKey("/*", "*/", 0, fsItalic, 2, 0, 0, 0, clWhite, clRed, false);
  h.StartStopKeys().AddExStartStopKey("'", "'", 0, 0, 3, 0, 0, 0, clWhite, clRed, true);
  Apply(m, "a /* b\r\nc 'q\r\nd */ 'e' f\r\n'g\r\nh");
  EXPECT_EQ(Kinds(m, 0), "..ssss");
  EXPECT_EQ(Kinds(m, 1), "ssss");  // the quote lies inside the comment
  EXPECT_EQ(Kinds(m, 2), "ssss.sss..");
  EXPECT_EQ(KeyAt(m, 2, 6), PairKey(1));
  EXPECT_EQ(Kinds(m, 3), "ss");    // closed by the paragraph end
  EXPECT_EQ(Kinds(m, 4), ".");
  m.CheckIntegrity();
}

TEST_F(ExtHighlighterOnAMemo, StopKeyContinuesWithAPairOfTheSameStart) {
  h.StartStopKeys().AddExStartStopKey("#", "#", 0, 0, 1, 0, 0, 0, clWhite, clRed, false);
  h.StartStopKeys().AddExStartStopKey("#", "!", 0, 0, 2, 0, 0, 0, clWhite, clBlue, false);
  Apply(m, "x #a# b! c");
  EXPECT_EQ(Kinds(m, 0), "..ssssss..");
  EXPECT_EQ(KeyAt(m, 0, 3), PairKey(0));
  EXPECT_EQ(KeyAt(m, 0, 6), PairKey(1));
  EXPECT_EQ(At(m, 0, 6).context, 2);
  EXPECT_EQ(At(m, 0, 6).level, 0);
}

TEST_F(ExtHighlighterOnAMemo, PriorityGateOfStartKeysAndNesting) {
  h.StartStopKeys().AddExStartStopKey("(", ")", 0, 0, 0, 0, 5, 0, clWhite, clRed, false);   // priority 5
  h.StartStopKeys().AddExStartStopKey("<", ">", 0, 0, 0, 0, 3, 0, clWhite, clRed, false);   // lower
  h.StartStopKeys().AddExStartStopKey("[", "]", 0, 0, 0, 0, 8, 0, clWhite, clRed, false);   // higher
  Apply(m, "(a<b>[c]d)");
  // "<" is not a start inside "(" (priority 3 <= 5); "[" is, one level deeper.
  EXPECT_EQ(At(m, 0, 2).level, 0);
  EXPECT_EQ(At(m, 0, 6).level, 1);
  EXPECT_EQ(KeyAt(m, 0, 6), PairKey(2));
  EXPECT_EQ(At(m, 0, 8).level, 0);
  EXPECT_EQ(KeyAt(m, 0, 8), PairKey(0));
  EXPECT_EQ(Kinds(m, 0), "ssssssssss");
  EXPECT_EQ(h.GetPriority(At(m, 0, 6), {0, 0}), 8);
  EXPECT_EQ(h.GetPriority(At(m, 0, 6), {0, 3}), 0);  // numbered from a different base: not ours
}

TEST_F(ExtHighlighterOnAMemo, ScopedPairOpensOnlyInsideItsContext) {
  h.StartStopKeys().AddExStartStopKey("[", "]", 0, 0, 3, 0, 1, 0, clWhite, clRed, false);
  h.StartStopKeys().AddExStartStopKey("<", ">", 0, 0, 4, 3, 0, 0, clWhite, clBlue, false);
  Apply(m, "<a> [<b>c]");
  EXPECT_EQ(Kinds(m, 0), "....ssssss");
  EXPECT_EQ(At(m, 0, 6).level, 1);
  EXPECT_EQ(At(m, 0, 6).context, 4);
  EXPECT_EQ(At(m, 0, 8).level, 0);
  EXPECT_EQ(At(m, 0, 8).context, 3);
}

TEST(ExtHighlighter, SubHighlighterRemovalAndCycles) {
  TVellMemo m;
  TExtHighlighter h;
  auto sub = std::make_unique<TExtHighlighter>();
  h.SetSubHighlighter(sub.get());
  EXPECT_THROW(sub->SetSubHighlighter(&h), rtl::EComponentError);
  EXPECT_THROW(h.SetSubHighlighter(&h), rtl::EComponentError);
  sub.reset();
  EXPECT_EQ(h.SubHighlighter(), nullptr);
  m.SetHighlighter(&h);
  {
    TExtHighlighter temporary;
    m.SetHighlighter(&temporary);
    EXPECT_EQ(h.Memos().size(), 0u);
  }
  EXPECT_EQ(m.Highlighter(), nullptr);
  Apply(m, "still works");
}

TEST(ExtHighlighter, HighlightingAfterRandomEditsEqualsAFreshApply) {
  std::mt19937 rng(5);
  auto setUp = [](TVellMemo& m, TExtHighlighter& h) {
    m.Keywords().AddKeyWord("ab", 0, 0, 1, 0, clWhite, clRed);
    m.StartStopKeys().AddStartStopKey("{", "}", 0, 0, 4, 0, clWhite, clRed, false);
    h.Keywords().AddExtKeyWord("ba", 0, 0, 1, 0, 0, 0, clWhite, clRed);
    h.Keywords().AddExtKeyWord("b", 0, 0, 1, 4, 0, 0, clWhite, clRed);
    h.StartStopKeys().AddExStartStopKey("x", ".", 0, 0, 2, 0, 1, 0, clWhite, clRed, false);
    h.StartStopKeys().AddExStartStopKey("'", "'", 0, 0, 3, 0, 1, 0, clWhite, clRed, true);
    m.SetHighlighter(&h);
  };
  static const char kAlphabet[] = "ab x.'{} ";
  auto randomText = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += kAlphabet[rng() % 9];
    return s;
  };
  for (int round = 0; round < 15; ++round) {
    TVellMemo m;
    TExtHighlighter h;
    setUp(m, h);
    std::string text;
    for (int i = 0; i < 5; ++i) text += randomText(10) + "\r\n";
    m.SetText(text);
    m.FormatNow(0, m.GetParCount() - 1, false);
    for (int step = 0; step < 30; ++step) {
      int len = m.GetTextLen();
      int a = static_cast<int>(rng() % (len + 1)), b = static_cast<int>(rng() % (len + 1));
      if (a > b) std::swap(a, b);
      std::string insert = randomText(1 + rng() % 3);
      if (rng() % 5 == 0) insert += "\r\n";
      Replace(m, a, b, insert);
      if (rng() % 3 == 0) m.FormatNow(0, m.GetParCount() - 1, false);
    }
    m.FormatNow(0, m.GetParCount() - 1, false);
    const std::string incremental = AllStates(m);
    TVellMemo fresh;
    TExtHighlighter freshH;
    setUp(fresh, freshH);
    fresh.SetText(m.GetText());
    fresh.FormatNow(0, fresh.GetParCount() - 1, false);
    ASSERT_EQ(incremental, AllStates(fresh)) << "round " << round << "\n" << m.GetText();
    m.CheckIntegrity();
  }
}
