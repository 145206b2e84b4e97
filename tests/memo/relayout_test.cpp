// Laying out an edited paragraph again from the lines the edit can reach:
// random edits in long wrapped paragraphs (blanks, tabs, style codes,
// keywords that make and break bold runs, several edits in one update),
// each layout compared with a whole layout of the same text, and the work
// of typing at the end of a long paragraph against a short one.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "memo_test_util.h"

using namespace memo;
using namespace memo_test;

namespace {

class Window : public TMemoWindow {
public:
  TTextMeasurer& Measurer() override { return measurer; }
  int ClientWidth() const override { return 240; }
  int ClientHeight() const override { return 100; }
  TFixedWidthMeasurer measurer{8, 3, 1};  // bold characters are wider
};

using Line = std::tuple<int, int, int, int, int, int, int, int>;

std::vector<std::vector<Line>> Lines(TVellMemo& m) {
  std::vector<std::vector<Line>> all;
  for (int p = 0; p < m.GetParCount(); ++p) {
    const ParInfo& par = *m.Pars().At(p);
    all.emplace_back();
    for (int l = 0; l < par.lineCount; ++l) {
      const LineInfo& i = par::Line(par, l);
      all.back().emplace_back(i.start, i.end, i.width, i.fullWidth, i.innerBlanks, i.justifyStart, i.startStyle & 0xFF,
                              i.startRun);
    }
  }
  return all;
}

std::string Words(std::mt19937& rng, int chars) {
  static const char* kWords[] = {"jan", "smit", "anna", "bos", "pieter", "de", "vries", "kok", "x", "hendrikus"};
  std::string t;
  while (static_cast<int>(t.size()) < chars) t += std::string(kWords[rng() % 10]) + (rng() % 9 ? " " : "  ");
  return t;
}

struct Memo {
  TVellMemo m;
  Window window;
  explicit Memo(const std::string& text) {
    m.SetUpdateMode(umImmediate);
    m.SetWordWrap(true);
    m.Keywords().AddKeyWord("smit", 0, fsBold, 1, crDefault, clWhite, clRed);
    m.Keywords().AddKeyWord("vries", 0, fsBold, 1, crDefault, clWhite, clRed);
    m.SetApplyKeywords(true);
    m.AttachWindow(&window);
    SetTextOf(m, text);
    m.ReApplyKeywords();
    m.FormatNow(0, m.GetParCount() - 1, true);
  }
  // The lines as the edits left them equal a whole layout.
  void ExpectWholeLayout(const std::string& where) {
    const auto lines = Lines(m);
    const int count = m.LineCount();
    m.FormatNow(0, m.GetParCount() - 1, true);
    const auto whole = Lines(m);
    for (std::size_t p = 0; p < lines.size() && p < whole.size(); ++p)
      for (std::size_t l = 0; l < lines[p].size() && l < whole[p].size(); ++l)
        ASSERT_EQ(lines[p][l], whole[p][l]) << where << ", paragraph " << p << " line " << l;
    ASSERT_EQ(lines, whole) << where;
    ASSERT_EQ(count, m.LineCount()) << where;
    ASSERT_NO_THROW(m.CheckIntegrity()) << where;
  }
};

TEST(Relayout, EditedParagraphsEqualAWholeLayout) {
  static const char* kPieces[] = {"a", "smit", " ", "  ", "\t", "\x02", "vries ", "hendrikushendrikushendrikus",
                                  "x", "", "s", "mit"};
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 rng(seed);
    Memo memo(Words(rng, 200) + "\r\n" + Words(rng, 3000) + "\r\n" + Words(rng, 100));
    ASSERT_GT(memo.m.Pars().At(1)->runCount, 20) << "keywords make runs";
    for (int step = 0; step < 150; ++step) {
      const int edits = rng() % 5 == 0 ? 3 : 1;
      if (edits > 1) memo.m.BeginUpdate();
      for (int e = 0; e < edits; ++e) {
        // Mostly inside the long paragraph, near its end or anywhere.
        const int start = memo.m.Pars().Start(1), length = memo.m.Pars().At(1)->length;
        int a = start + (rng() % 3 ? length - static_cast<int>(rng() % std::min(length + 1, 40)) : rng() % (length + 1));
        int b = std::min(a + static_cast<int>(rng() % 4 == 0 ? rng() % 12 : 0), start + length);
        std::string text = kPieces[rng() % 12];
        if (a == b && text.empty()) text = "q";
        Replace(memo.m, a, b, text);
      }
      if (edits > 1) memo.m.EndUpdate();
      memo.ExpectWholeLayout("seed " + std::to_string(seed) + " step " + std::to_string(step));
    }
  }
}

// Typing at the end of a paragraph measures the last lines only: a long
// paragraph costs what a short one does.
TEST(Relayout, TypingAtTheEndMeasuresTheLastLinesOnly) {
  std::mt19937 rng(7);
  Memo small(Words(rng, 700)), large(Words(rng, 70000));
  auto measured = [](Memo& memo) {
    const int before = memo.window.measurer.measures();
    for (const char* c : {"a", "b", " ", "c"}) Replace(memo.m, memo.m.GetTextLen(), memo.m.GetTextLen(), c);
    return memo.window.measurer.measures() - before;
  };
  const int inSmall = measured(small), inLarge = measured(large);
  EXPECT_LE(inLarge, inSmall + 20);
  EXPECT_LT(inLarge, 200);
  small.ExpectWholeLayout("small");
  large.ExpectWholeLayout("large");
  // In the middle the layout stops where the lines meet the old ones.
  const int before = large.window.measurer.measures();
  Replace(large.m, 35000, 35000, "xy");
  EXPECT_LT(large.window.measurer.measures() - before, 200);
  large.ExpectWholeLayout("middle");
}

}  // namespace
