// Laying out an edited paragraph again from the lines the edit can reach:
// random edits in long wrapped paragraphs (blanks, tabs, style codes,
// keywords that make and break bold runs, several edits in one update),
// each layout compared with a whole layout of the same text, and the work
// of typing at the end of a long paragraph against a short one. A seeded
// random run of edits, typing, style commands, dynamic styles and undo and
// redo bursts checks after every step that each paragraph's lines are what
// the line breaker gives for it whole, and that the memo read back from its
// native image has the same styles at every character
// (QV_MEMO_RANDOM_SEEDS sets how many seeds, QV_MEMO_RANDOM_FIRST the
// first).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <tuple>

#include "memo/line_breaker.h"
#include "memo_test_util.h"

using namespace memo;
using namespace memo_test;

namespace {

class Window : public TMemoWindow {
public:
  explicit Window(int width = 240) : width_(width) {}
  TTextMeasurer& Measurer() override { return measurer; }
  int ClientWidth() const override { return width_; }
  int ClientHeight() const override { return 100; }
  TFixedWidthMeasurer measurer{8, 3, 1};  // bold characters are wider

private:
  int width_;
};

using Line = std::tuple<int, int, int, int, int, int, int, int>;

Line Fields(const LineInfo& i) {
  return Line(i.start, i.end, i.width, i.fullWidth, i.innerBlanks, i.justifyStart, i.startStyle & 0xFF, i.startRun);
}

std::vector<std::vector<Line>> Lines(TVellMemo& m) {
  std::vector<std::vector<Line>> all;
  for (int p = 0; p < m.GetParCount(); ++p) {
    const ParInfo& par = *m.Pars().At(p);
    all.emplace_back();
    for (int l = 0; l < par.lineCount; ++l) all.back().push_back(Fields(par::Line(par, l)));
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

// Edits after which a line starts where an old one did, with the same
// style and runs, but one of the two begins a word and the other goes on
// with a word broken at the line's end (measured a character at a time).
TEST(Relayout, ALineBeginningAWordIsNotAWordBrokenThere) {
  struct Case {
    std::string text;
    int a, b;
    const char* insert;
  };
  const std::string as(28, 'a');
  const Case cases[] = {
      {as + "\x03" "a\x03" "bbbb", 28, 28, " "},       // the broken word splits at the break
      {as + " \x03" "a\x03" "bbbb", 28, 29, ""},        // and joins again
      {as + "\x02" "a\x02" "bbbb cc", 28, 28, " "},     // bold in the middle
      {"xx " + as + "a\x03" "bbbb", 30, 30, "\x03 "},
  };
  for (const Case& c : cases) {
    Memo memo(c.text);
    Replace(memo.m, c.a, c.b, c.insert);
    memo.ExpectWholeLayout("edit at " + std::to_string(c.a) + " of " + c.text);
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

// ---- seeded random runs ----

namespace {

// Four memos: keywords in a wide window; keywords and a start/stop pair in a
// narrow one (words broken inside); no static styles; a start/stop pair
// over paragraphs with tabs.
struct RandomMemo {
  TVellMemo m;
  Window window;
  explicit RandomMemo(int setup) : window(setup == 1 ? 120 : setup == 3 ? 160 : 240) {
    m.SetUpdateMode(umImmediate);
    m.Keywords().AddKeyWord("smit", 0, fsBold, 1, crDefault, clWhite, clRed);
    m.Keywords().AddKeyWord("vries", 0, fsBold, 1, crDefault, clWhite, clRed);
    if (setup == 1) m.StartStopKeys().AddStartStopKey("<", ">", 0, fsBold, 2, 0, clWhite, clBlue, false);
    if (setup == 3) m.StartStopKeys().AddStartStopKey("/*", "*/", 0, fsItalic | fsBold, 3, 0, clWhite, clGreen, false);
    if (setup == 2) m.SetStaticFormat(false);
    m.AttachWindow(&window);
  }

  // The first difference from a whole layout or from the memo read back
  // from its image; empty when there is none.
  std::string Difference() {
    try {
      m.CheckIntegrity();
    } catch (const rtl::Exception& e) {
      return e.Message();
    }
    LayoutValues values;
    values.availableWidth = std::max(window.ClientWidth() - m.LeftMargin() - m.RightMargin(), 1);
    values.tabStops = m.TabStops();
    values.staticFormat = m.StaticFormat();
    values.fontStyle = m.Font().Style;
    values.chunkLimit = 16384 / window.measurer.MaxCharWidth();
    std::uint8_t style = 0;
    for (int p = 0; p < m.GetParCount(); ++p) {
      const ParInfo& par = *m.Pars().At(p);
      const std::string where = "paragraph " + std::to_string(p);
      if (!par.formatted) return where + " not laid out";
      if (static_cast<std::uint8_t>(par.line0.startStyle) != style) return where + ": start style";
      if (m.StaticFormat()) style = ApplyStyleCodes(style, par.text, par.length);
      const auto whole = BreakLines(par, window.measurer, values).lines;
      if (static_cast<int>(whole.size()) != par.lineCount)
        return where + ": " + std::to_string(par.lineCount) + " lines, whole " + std::to_string(whole.size());
      for (int l = 0; l < par.lineCount; ++l)
        if (Fields(par::Line(par, l)) != Fields(whole[static_cast<std::size_t>(l)]))
          return where + " line " + std::to_string(l) + ": width " + std::to_string(par::Line(par, l).width) +
                 ", whole " + std::to_string(whole[static_cast<std::size_t>(l)].width);
    }
    rtl::TStringStream image;
    m.SaveToNativeStream(image);
    TVellMemo back;
    rtl::TStringStream in(image.DataString());
    back.LoadFromNativeStream(in, false);
    if (back.GetText() != m.GetText()) return "text read back";
    for (int p = 0; p < m.GetParCount(); ++p)
      if (ParStates(back, p) != ParStates(m, p)) return "styles read back, paragraph " + std::to_string(p);
    return std::string();
  }
};

std::string RandomPieces(std::mt19937& rng, int most) {
  static const char* kPieces[] = {"a",  "jan ", "smit", "vries ", " ",   "  ", "\t", "\r\n", "\x02", "\x01",
                                  "\x03", "\x15", "\x04", "hendrikushendrikus", "bb", "<", ">", "/*", "*/", "x"};
  std::string t;
  for (int n = static_cast<int>(rng() % (most + 1)); n > 0; --n) t += kPieces[rng() % 20];
  return t;
}

// A position, often at a paragraph's end or between its CR and LF.
std::int32_t RandomPos(std::mt19937& rng, TVellMemo& m) {
  if (rng() % 4 == 0) {
    const int p = static_cast<int>(rng() % m.GetParCount());
    const std::int32_t end = m.getParsOffset(p) + static_cast<std::int32_t>(m.ParagraphView(p).size());
    return std::min(end + static_cast<std::int32_t>(rng() % 2), m.GetTextLen());
  }
  return static_cast<std::int32_t>(rng() % (m.GetTextLen() + 1));
}

// One seed: the description of its first difference, or empty.
std::string RandomRun(unsigned seed, int steps) {
  std::mt19937 rng(seed);
  RandomMemo r(static_cast<int>(seed % 4));
  TVellMemo& m = r.m;
  m.SetText(Words(rng, 150) + "\r\n" + Words(rng, 400) + "\r\n\r\n" + Words(rng, 60));
  m.ClearUndo();
  const auto at = [&](int step, const char* what) {
    const std::string d = r.Difference();
    return d.empty() ? d : "seed " + std::to_string(seed) + " step " + std::to_string(step) + " " + what + ": " + d;
  };
  for (int step = 0; step < steps; ++step) {
    const int kind = static_cast<int>(rng() % 20);
    std::int32_t a = RandomPos(rng, m), b = RandomPos(rng, m);
    if (a > b) std::swap(a, b);
    const char* what = "edit";
    if (kind < 7) {
      std::string text = RandomPieces(rng, 3);
      if (a == b && text.empty()) text = "q";
      Replace(m, a, b, text);
    } else if (kind < 9) {
      what = "typing";
      m.setSelStart(a);
      for (int n = 1 + static_cast<int>(rng() % 6); n > 0; --n) m.SetSelTextBuf(rng() % 4 ? "e" : " ");
    } else if (kind < 12) {
      what = "style command";
      const bool backwards = rng() % 2;
      m.setSelStart(backwards ? b : a);
      m.setSelLength(backwards ? a - b : b - a);
      static const unsigned char kCodes[] = {2, 1, 21, 3, 4};
      m.SetSelAttrib(kCodes[rng() % 5]);
    } else if (kind < 15) {
      what = "dynamic style";
      if (rng() % 3 == 0) b = a;
      m.SetDynStyle(a, b, static_cast<TFontStyles>(rng() % 4), rng() % 2, static_cast<int>(rng() % 3), 0,
                    rng() % 2 ? clYellow : clLime, clBlack);
    } else if (kind < 16) {
      what = "clear style";
      if (rng() % 2) m.ClearStyleRange(a, b);
      else m.ClearStyle(a);
    } else if (kind < 19) {
      what = "undo";
      for (int n = 1 + static_cast<int>(rng() % 8); n > 0 && m.getCanUndo(); --n) {
        m.Undo();
        if (std::string d = at(step, what); !d.empty()) return d;
      }
      what = "redo";
      for (int n = static_cast<int>(rng() % 4); n > 0 && m.getCanRedo(); --n) {
        m.Redo();
        if (std::string d = at(step, what); !d.empty()) return d;
      }
    } else {
      what = "update";
      m.BeginUpdate();
      for (int n = 2 + static_cast<int>(rng() % 2); n > 0; --n) {
        const std::int32_t c = RandomPos(rng, m);
        const std::int32_t d = std::min(c + static_cast<std::int32_t>(rng() % 5), m.GetTextLen());
        const std::string t = RandomPieces(rng, 2) + "z";
        Replace(m, c, d, t);
      }
      m.EndUpdate();
    }
    if (std::string d = at(step, what); !d.empty()) return d;
  }
  return std::string();
}

int EnvNumber(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

}  // namespace

TEST(Relayout, RandomEditsStylesAndUndoAgreeWithAWholeLayoutAndTheNativeImage) {
  const int first = EnvNumber("QV_MEMO_RANDOM_FIRST", 1);
  const int seeds = EnvNumber("QV_MEMO_RANDOM_SEEDS", 100);
  int differences = 0;
  for (int seed = first; seed < first + seeds; ++seed) {
    const std::string d = RandomRun(static_cast<unsigned>(seed), 150);
    if (d.empty()) continue;
    if (++differences <= 20) ADD_FAILURE() << d;
  }
  EXPECT_EQ(differences, 0) << "of " << seeds << " seeds";
}
