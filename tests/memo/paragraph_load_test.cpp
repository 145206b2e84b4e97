// Lines loaded straight into paragraphs against the same lines joined by
// CR LF and loaded as one text: pages large enough to be made in parts on
// several threads, with style codes carried from part to part, empty
// lines, and the lines a text load would cut (which the paragraph load
// refuses, leaving the page as it was).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <unordered_map>

#include "memo_test_util.h"

using namespace memo;

namespace {

class Lines : public TParagraphSource {
public:
  explicit Lines(std::vector<std::string> lines, std::size_t parts_per_thread = 1)
      : lines_(std::move(lines)), reads_(lines_.size()), parts_per_thread_(parts_per_thread) {}
  std::size_t Count() const override { return lines_.size(); }
  std::size_t PartsPerThread() const override { return parts_per_thread_; }
  // The most parts a load handed to RunParts at once.
  void RunParts(std::size_t parts, const std::function<void(std::size_t)>& body) const override {
    most_parts_ = std::max(most_parts_, parts);
    TParagraphSource::RunParts(parts, body);
  }
  std::size_t MostParts() const { return most_parts_; }
  std::string_view Line(std::size_t i) const override { return lines_[i]; }
  // Parts of a page may be read on several threads, each line by one.
  void Read(std::size_t i) override { ++reads_[i]; }
  const std::vector<int>& Reads() const { return reads_; }

private:
  std::vector<std::string> lines_;
  std::vector<int> reads_;
  std::size_t parts_per_thread_;
  mutable std::size_t most_parts_ = 0;
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
  return text;
}

// Everything a reader of the page sees, paragraph by paragraph.
void ExpectSamePage(TVellMemo& loaded, TVellMemo& joined, const char* what) {
  ASSERT_EQ(loaded.GetParCount(), joined.GetParCount()) << what;
  ASSERT_EQ(loaded.GetTextLen(), joined.GetTextLen()) << what;
  for (int i = 0; i < loaded.GetParCount(); ++i) {
    ASSERT_EQ(loaded.getParagraphs(i), joined.getParagraphs(i)) << what << " paragraph " << i;
    ASSERT_EQ(loaded.ParStart(i), joined.ParStart(i)) << what << " paragraph " << i;
  }
  EXPECT_EQ(loaded.GetText(), joined.GetText()) << what;
  EXPECT_EQ(memo_test::Saved(loaded), memo_test::Saved(joined)) << what;
  // The native image holds each paragraph's styles too.
  rtl::TStringStream a, b;
  loaded.SaveToNativeStream(a);
  joined.SaveToNativeStream(b);
  EXPECT_TRUE(a.DataString() == b.DataString()) << what;
}

std::vector<std::string> MakeLines(std::size_t count, unsigned seed, bool codes) {
  std::mt19937 random(seed);
  const char kCodes[] = {1, 2, 3, 4, 21};
  std::vector<std::string> lines(count);
  for (std::string& line : lines) {
    const int kind = static_cast<int>(random() % 16);
    if (kind == 0) continue;  // an empty line, as between groups of hits
    line = "1702;Baker, John " + std::to_string(random() % 100000) + ";Mary;Thomas Baker;";
    line.resize(line.size() + random() % 60, static_cast<char>('a' + random() % 26));
    if (codes && kind == 1) line.insert(random() % line.size(), 1, kCodes[random() % 5]);
  }
  return lines;
}

TEST(ParagraphLoad, MatchesTheJoinedTextAtEverySize) {
  struct Case {
    const char* what;
    std::size_t lines;
    bool codes, static_format;
    std::size_t parts_per_thread = 1;
  };
  const Case cases[] = {
      {"no lines", 0, false, true},
      {"one line", 1, false, true},
      {"a few lines", 37, true, true},
      {"one part", 20000, true, true},
      {"several parts, style codes", 150001, true, true},
      {"several parts, codes shown as bytes", 150001, true, false},
      {"several parts, plain", 99999, false, true},
      {"parts cut finer than the threads, style codes", 150001, true, true, 4},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> lines = MakeLines(c.lines, static_cast<unsigned>(c.lines) + 7, c.codes);
    TVellMemo loaded, joined;
    loaded.SetStaticFormat(c.static_format);
    joined.SetStaticFormat(c.static_format);
    loaded.SetText("what the page held before");
    Lines source(lines, c.parts_per_thread);
    ASSERT_TRUE(loaded.LoadParagraphs(source)) << c.what;
    if (c.parts_per_thread > 1) {
      // Cut that many times finer than a source that asks for one part a
      // thread.
      TVellMemo coarse;
      coarse.SetStaticFormat(c.static_format);
      Lines one_a_thread(lines);
      ASSERT_TRUE(coarse.LoadParagraphs(one_a_thread)) << c.what;
      EXPECT_GT(one_a_thread.MostParts(), 1u) << c.what;
      EXPECT_EQ(source.MostParts(), c.parts_per_thread * one_a_thread.MostParts()) << c.what;
    }
    joined.SetText(Joined(lines));
    ExpectSamePage(loaded, joined, c.what);
    // Every line is handed back once, after it was copied.
    EXPECT_EQ(std::count(source.Reads().begin(), source.Reads().end(), 1), static_cast<long>(lines.size())) << c.what;
  }
}

// The same lines with their texts prepared ahead in a shuffled order: most
// placed from there, some not prepared (empty or left out), equal lines
// sharing one prepared text (one of them placed, the others copied), near
// each other or in other parts of the load, whose parts this source runs
// last first; the page is the same, and its paragraphs can be edited like
// any others afterwards.
class PreparedLines : public Lines {
public:
  PreparedLines(std::vector<std::string> lines, unsigned seed, std::size_t parts_per_thread = 1)
      : Lines(lines, parts_per_thread), index_(lines.size()) {
    std::vector<std::size_t> order(lines.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    // Copied in parts on several threads.
    EXPECT_TRUE(prepared_.Copy(
        order.size(), [&](std::size_t at) -> std::string_view { return lines[order[at]]; }, 4, [] { return true; }));
    for (std::size_t at = 0; at < order.size(); ++at) index_[order[at]] = at % 97 == 0 ? TPreparedTexts::kNone : at;
    // Equal lines may share a text.
    std::unordered_map<std::string, std::size_t> first;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const auto [at, added] = first.try_emplace(lines[i], i);
      if (!added && index_[at->second] != TPreparedTexts::kNone) index_[i] = index_[at->second];
    }
  }
  TPreparedTexts* Prepared() const override { return &prepared_; }
  std::size_t PreparedIndex(std::size_t i) const override { return index_[i]; }
  void RunParts(std::size_t parts, const std::function<void(std::size_t)>& body) const override {
    for (std::size_t part = parts; part-- > 0;) body(part);
  }

private:
  mutable TPreparedTexts prepared_;
  std::vector<std::size_t> index_;
};

TEST(ParagraphLoad, TextsPreparedAheadInAnotherOrderGiveTheSamePage) {
  for (const bool static_format : {true, false})
    for (const std::size_t count : {std::size_t{1000}, std::size_t{150001}})
      for (const std::size_t parts_per_thread : {std::size_t{1}, std::size_t{4}}) {
        std::vector<std::string> lines = MakeLines(count, 11, true);
        for (std::size_t i = 500; i < lines.size(); i += 5000)
          lines[i + 1] = lines[i] = "the same line " + std::to_string(i);
        lines[lines.size() - 3] = lines[lines.size() / 2] = lines[500];  // the same text in three parts
        const std::string what = std::to_string(count) + (static_format ? " lines, styles" : " lines, codes as bytes") +
                                 ", " + std::to_string(parts_per_thread) + " parts a thread";
        TVellMemo loaded, joined;
        loaded.SetStaticFormat(static_format);
        joined.SetStaticFormat(static_format);
        loaded.SetText("what the page held before");
        PreparedLines source(lines, 5, parts_per_thread);
        ASSERT_TRUE(loaded.LoadParagraphs(source)) << what;
        joined.SetText(Joined(lines));
        ExpectSamePage(loaded, joined, what.c_str());
        EXPECT_EQ(std::count(source.Reads().begin(), source.Reads().end(), 1), static_cast<long>(lines.size())) << what;
        EXPECT_NO_THROW(loaded.CheckIntegrity()) << what;
        for (TVellMemo* m : {&loaded, &joined}) {
          m->setParagraphs(3, std::string(300, 'g'));  // grows past its buffer
          m->setParagraphs(4, "x");
          m->setSelStart(m->ParStart(5) + 1);
          m->setSelText("inserted ");
          m->setSelStart(m->ParStart(501) + 2);  // one of two lines that shared a text, shortened in place
          m->setSelLength(1);
          m->setSelText("");
        }
        ExpectSamePage(loaded, joined, (what + ", edited").c_str());
        EXPECT_NO_THROW(loaded.CheckIntegrity()) << what;
      }
  // Parts whose lines looked at for their size are far shorter than the
  // rest (every eighth line here) take more blocks as they go: each text is
  // still prepared whole, but for one too long for a buffer of the arena.
  {
    std::vector<std::string> uneven(40000);
    for (std::size_t i = 0; i < uneven.size(); ++i)
      uneven[i] = i % 8 == 0 ? "s" : std::string(1500 + i % 7, static_cast<char>('a' + i % 26));
    uneven[12345] = std::string(62000, 'L');
    uneven[23457] = std::string(TTextArena::kLargest, 'X');
    TPreparedTexts prepared;
    ASSERT_TRUE(prepared.Copy(
        uneven.size(), [&](std::size_t i) -> std::string_view { return uneven[i]; }, 4, [] { return true; }));
    for (std::size_t i = 0; i < uneven.size(); ++i) {
      const TPreparedTexts::Prepared* text = prepared.Find(i);
      if (i == 23457) {
        EXPECT_EQ(text, nullptr);
        continue;
      }
      ASSERT_NE(text, nullptr) << i;
      ASSERT_EQ(std::string_view(text->text, text->length), uneven[i]) << i;
      ASSERT_EQ(text->text[text->length], '\0') << i;
      ASSERT_GT(text->Capacity(), static_cast<std::int32_t>(text->length)) << i;
    }
  }
  // A copy stopped part way prepares nothing.
  TPreparedTexts stopped;
  int ticks = 0;
  EXPECT_FALSE(stopped.Copy(
      50000, [](std::size_t) -> std::string_view { return "line"; }, 4, [&] { return ++ticks < 1000; }));
  EXPECT_EQ(stopped.Count(), 0u);
  EXPECT_EQ(stopped.Find(0), nullptr);
  // A prepared line a text load would cut is refused as the line itself is.
  std::vector<std::string> lines = MakeLines(70000, 3, false);
  lines[65000] = "a\nb";
  TVellMemo m;
  m.SetText("kept");
  PreparedLines source(lines, 9);
  EXPECT_FALSE(m.LoadParagraphs(source));
  EXPECT_EQ(m.GetText(), "kept");
}

TEST(ParagraphLoad, LinesATextLoadWouldCutAreRefusedAndThePageKept) {
  for (const std::string& bad : {std::string("a\rb"), std::string("a\nb"), std::string("a\0b", 3)}) {
    std::vector<std::string> lines = MakeLines(70000, 3, false);
    lines[65000] = bad;
    TVellMemo m;
    m.SetText("kept");
    Lines source(lines);
    EXPECT_FALSE(m.LoadParagraphs(source));
    EXPECT_EQ(m.GetText(), "kept");
  }
}

}  // namespace

// A page made in parts is laid out as a window lays out its joined text
// (wrapped, the widest line known), loaded into a memo whose earlier page
// was laid out already.
TEST(ParagraphLoad, PartsLoadIsLaidOutAsTheJoinedText) {
  class Window : public TMemoWindow {
  public:
    TTextMeasurer& Measurer() override { return measurer; }
    int ClientWidth() const override { return 16 + 8 * 60; }
    int ClientHeight() const override { return 48; }
    TFixedWidthMeasurer measurer{8, 2};
  } window_a, window_b;
  const std::vector<std::string> lines = MakeLines(70000, 11, true);
  TVellMemo loaded, joined;
  for (TVellMemo* m : {&loaded, &joined}) m->SetUpdateMode(umImmediate);
  loaded.AttachWindow(&window_a);
  joined.AttachWindow(&window_b);
  loaded.SetText(Joined(MakeLines(40000, 3, false)));
  Lines source(lines);
  ASSERT_TRUE(loaded.LoadParagraphs(source));
  joined.SetText(Joined(lines));
  ExpectSamePage(loaded, joined, "laid out");
  EXPECT_EQ(loaded.LineCount(), joined.LineCount());
  EXPECT_GT(loaded.LineCount(), loaded.GetParCount());  // some lines wrapped
  EXPECT_EQ(loaded.WidestLine(), joined.WidestLine());
  for (int i = 0; i < loaded.GetParCount(); ++i)
    ASSERT_EQ(loaded.Pars().At(i)->lineCount, joined.Pars().At(i)->lineCount) << "paragraph " << i;
  loaded.CheckIntegrity();
  for (TVellMemo* m : {&loaded, &joined}) m->AttachWindow(nullptr);
}
