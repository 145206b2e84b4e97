// Keyword lists, keyword application against a brute-force reference, and
// start/stop runs with propagation across paragraphs.
#include <gtest/gtest.h>

#include <random>

#include "memo_test_util.h"

using namespace memo;
using namespace memo_test;

namespace {

struct Kw {
  std::string word;
  TWordOptions options;
  int context;
};

bool IsDelimiter(char c) { return std::string("\t $%&,./:;<=>").find(c) != std::string::npos; }

std::string AsciiUpper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

// Per character: the index of the keyword that covers it, or -1.
std::vector<int> Reference(const std::string& text, const std::vector<Kw>& kws) {
  std::string exact = text, upper = AsciiUpper(text);
  std::vector<int> cover(text.size(), -1);
  const int len = static_cast<int>(text.size());
  for (int k = 0; k < static_cast<int>(kws.size()); ++k) {
    if (kws[k].context == 0 || kws[k].word.empty()) continue;
    bool match = kws[k].options & kMatchCase;
    std::string key = match ? kws[k].word : AsciiUpper(kws[k].word);
    const int kl = static_cast<int>(key.size());
    for (int i = 0; i + kl <= len; ++i) {
      const std::string& hay = match ? exact : upper;
      if (hay.compare(i, kl, key) != 0) continue;
      if (kws[k].options & kWholeWordsOnly) {
        if (i > 0 && !IsDelimiter(hay[i - 1])) continue;
        if (i + kl < len && !IsDelimiter(hay[i + kl])) continue;
      }
      for (int j = i; j < i + kl; ++j) {
        cover[j] = k;
        exact[j] = upper[j] = 5;
      }
      i += kl - 1;
    }
  }
  return cover;
}

std::vector<int> Observed(TVellMemo& m, int par) {
  const ParInfo& p = *m.Pars().At(par);
  std::vector<int> cover;
  for (int i = 0; i < p.length; ++i) {
    const DynInfoRec& r = par::StateOfChar(p, i);
    cover.push_back(IsKeywordRun(r) ? r.keys[r.level] : -1);
  }
  return cover;
}

void AddAll(TVellMemo& m, const std::vector<Kw>& kws) {
  for (const Kw& k : kws) m.Keywords().AddKeyWord(k.word, k.options, 0, k.context, 0, clWhite, clRed);
}

std::string RandomWordText(std::mt19937& rng, int n) {
  static const char kAlphabet[] = "aAbB ,.x";
  std::string s;
  for (int i = 0; i < n; ++i) s += kAlphabet[rng() % 8];
  return s;
}

}  // namespace

TEST(KeywordList, FoldsCaseBlindKeysOnly) {
  TKeywordList list;
  list.AddKeyWord("smith", 0, 0, 1, 0, clWhite, clRed);
  EXPECT_EQ(list.Key(0), "SMITH");
  EXPECT_EQ(list.Strings(0), "smith");
  EXPECT_TRUE(list.HasCaseBlind());
  TKeywordList exact;
  exact.AddKeyWord("Smith", kMatchCase, 0, 1, 0, clWhite, clRed);
  EXPECT_EQ(exact.Key(0), "Smith");
  EXPECT_FALSE(exact.HasCaseBlind());
  exact.Add("plain");
  EXPECT_EQ(exact.getKeyInfo(1), TKeywordInfo());
  EXPECT_EQ(exact.MaxLength(), 5);
}

TEST(KeywordList, UpperCaseTypeRefoldsAndStoredFormRoundTrips) {
  TKeywordList list;
  list.AddKeyWord("\xe9t\xe9", 0, fsBold, 3, 0, clWhite, clRed);
  EXPECT_EQ(list.Key(0), "\xe9T\xe9");
  list.setUpperCaseType(vmuAnsi);
  EXPECT_EQ(list.Key(0), "\xc9T\xc9");
  auto data = list.WriteData();
  TKeywordList back;
  back.ReadData(data);
  EXPECT_EQ(back.WriteData(), data);
  EXPECT_EQ(back.getKeyInfo(0).context, 3);
  list.Delete(0);
  EXPECT_EQ(list.KeyCount(), 0);
}

TEST(StartStopList, SameStartAndFolding) {
  TStartStopKeyList list;
  list.AddStartStopKey("<a", ">", 0, 0, 1, 0, clWhite, clRed, false);
  int second = list.AddStartStopKey("<A", "/>", 0, 0, 1, 0, clWhite, clRed, true);
  EXPECT_EQ(list.Pair(second).sameStart, 0);
  EXPECT_EQ(list.Pair(0).startKey, "<A");
  EXPECT_EQ(list.MaxStopLength(), 2);
  auto data = list.WriteData();
  EXPECT_EQ(data[0].startKey, "<A");
  TStartStopKeyList back;
  back.ReadData(data);
  EXPECT_EQ(back.Pair(0).startText, "<A");
  EXPECT_EQ(back.Count(), 2);
}

TEST(KeywordApply, MatchesBruteForceOnRandomTexts) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<Kw> kws;
    static const char* kWords[] = {"ab", "ba", "a", "bab", "AB", "x.a", "b b"};
    for (int n = 1 + rng() % 4; n > 0; --n)
      kws.push_back({kWords[rng() % 7], static_cast<TWordOptions>(rng() % 4), static_cast<int>(rng() % 3)});
    std::string text = RandomWordText(rng, 40);
    TVellMemo m;
    AddAll(m, kws);
    m.SetText(text);
    m.FormatNow(0, m.GetParCount() - 1, false);
    ASSERT_EQ(Observed(m, 0), Reference(text, kws)) << "round " << round << " text '" << text << "'";
  }
}

TEST(KeywordApply, KeywordRunCarriesInfoAndContextZeroIsNeverApplied) {
  TVellMemo m;
  m.Keywords().AddKeyWord("smith", 0, fsBold, 1, 7, clWhite, clRed);
  m.Keywords().AddKeyWord("john", 0, 0, 0, 0, clWhite, clRed);
  m.SetText("John Smith");
  m.FormatNow(0, 0, false);
  const DynInfoRec& r = par::StateOfChar(*m.Pars().At(0), 6);
  EXPECT_EQ(r.flags, 0xC0 | fsBold);
  EXPECT_EQ(r.level, 0);
  EXPECT_EQ(r.foreground, clRed);
  EXPECT_EQ(r.background, clWhite);
  EXPECT_EQ(r.cursor, 7);
  EXPECT_EQ(r.openLength, 5);
  EXPECT_EQ(r.closeLength, 5);
  EXPECT_EQ(par::StateOfChar(*m.Pars().At(0), 0).flags, 0);
  EXPECT_EQ(par::StateOfChar(*m.Pars().At(0), 4).flags, 0);
}

TEST(KeywordApply, IncrementalAfterRandomEditsEqualsReApply) {
  std::mt19937 rng(99);
  const std::vector<Kw> kws = {{"ab", 0, 1}, {"ba", kWholeWordsOnly, 2}, {"bab", kMatchCase, 1}, {"a", kWholeWordsOnly, 1}};
  for (int round = 0; round < 20; ++round) {
    TVellMemo m;
    AddAll(m, kws);
    m.StartStopKeys().AddStartStopKey("x", ".", 0, fsItalic, 0, 0, clBlue, clGreen, false);
    std::string text;
    for (int i = 0; i < 6; ++i) text += RandomWordText(rng, 12) + "\r\n";
    m.SetText(text);
    m.FormatNow(0, m.GetParCount() - 1, false);
    for (int step = 0; step < 40; ++step) {
      int len = m.GetTextLen();
      int a = static_cast<int>(rng() % (len + 1)), b = static_cast<int>(rng() % (len + 1));
      if (a > b) std::swap(a, b);
      std::string insert = RandomWordText(rng, 1 + rng() % 4);
      if (rng() % 5 == 0) insert += "\r\n";
      Replace(m, a, b, insert);
      if (rng() % 3 == 0) m.FormatNow(0, m.GetParCount() - 1, false);
    }
    m.FormatNow(0, m.GetParCount() - 1, false);
    std::string incremental = AllStates(m);
    TVellMemo fresh;
    AddAll(fresh, kws);
    fresh.StartStopKeys().AddStartStopKey("x", ".", 0, fsItalic, 0, 0, clBlue, clGreen, false);
    fresh.SetText(m.GetText());
    fresh.FormatNow(0, fresh.GetParCount() - 1, false);
    ASSERT_EQ(incremental, AllStates(fresh)) << "round " << round << "\n" << m.GetText();
    m.ReApplyKeywords();
    m.FormatNow(0, m.GetParCount() - 1, false);
    ASSERT_EQ(incremental, AllStates(m));
  }
}

TEST(KeywordApply, NotAppliedInsideContextRuns) {
  TVellMemo m;
  m.Keywords().AddKeyWord("name", 0, 0, 1, 0, clWhite, clRed);
  m.StartStopKeys().AddStartStopKey("[", "]", 0, 0, 4, 0, clWhite, clBlue, false);
  m.SetText("name [name] name");
  m.FormatNow(0, 0, false);
  std::vector<int> cover = Observed(m, 0);
  EXPECT_EQ(cover[0], 0);
  EXPECT_EQ(cover[6], -1);
  EXPECT_EQ(par::StateOfChar(*m.Pars().At(0), 6).context, 4);
  EXPECT_EQ(cover[12], 0);
}

TEST(StartStop, RunsCrossParagraphsAndPropagateAfterEdits) {
  TVellMemo m;
  m.StartStopKeys().AddStartStopKey("/*", "*/", 0, fsItalic, 2, 0, clYellow, clGreen, false);
  m.SetText("a /* b\r\nc\r\nd */ e\r\nf");
  m.FormatNow(0, m.GetParCount() - 1, false);
  auto inRun = [&](int par, int offset) { return IsStartStopRun(par::StateOfChar(*m.Pars().At(par), offset)); };
  EXPECT_FALSE(inRun(0, 0));
  EXPECT_TRUE(inRun(0, 2));
  EXPECT_TRUE(inRun(1, 0));
  EXPECT_TRUE(inRun(2, 3));
  EXPECT_FALSE(inRun(2, 5));
  EXPECT_FALSE(inRun(3, 0));
  EXPECT_EQ(par::StateOfChar(*m.Pars().At(1), 0).context, 2);
  // Removing the start key ends the run everywhere after formatting.
  Replace(m, 2, 4, "");
  m.FormatNow(0, m.GetParCount() - 1, false);
  EXPECT_FALSE(inRun(1, 0));
  EXPECT_FALSE(inRun(2, 0));
  // Putting it back colours the following paragraphs again.
  Replace(m, 2, 2, "/*");
  m.FormatNow(0, m.GetParCount() - 1, false);
  EXPECT_TRUE(inRun(1, 0));
  EXPECT_FALSE(inRun(3, 0));
  m.CheckIntegrity();
}

TEST(StartStop, FinalFlagClosesAtParagraphEnd) {
  TVellMemo m;
  m.StartStopKeys().AddStartStopKey("'", "'", 0, 0, 0, 0, clWhite, clRed, true);
  m.SetText("a 'b\r\nc");
  m.FormatNow(0, 1, false);
  EXPECT_TRUE(IsStartStopRun(par::StateOfChar(*m.Pars().At(0), 3)));
  EXPECT_FALSE(IsStartStopRun(par::StateOfChar(*m.Pars().At(1), 0)));
}

TEST(StartStop, WholeWordStartKeys) {
  TVellMemo m;
  m.StartStopKeys().AddStartStopKey("rem", ";", kWholeWordsOnly, 0, 0, 0, clWhite, clRed, false);
  m.SetText("lorem x; rem y; z");
  m.FormatNow(0, 0, false);
  const ParInfo& p = *m.Pars().At(0);
  EXPECT_FALSE(IsStartStopRun(par::StateOfChar(p, 3)));
  EXPECT_TRUE(IsStartStopRun(par::StateOfChar(p, 9)));
  EXPECT_TRUE(IsStartStopRun(par::StateOfChar(p, 14)));
  EXPECT_FALSE(IsStartStopRun(par::StateOfChar(p, 16)));
}
