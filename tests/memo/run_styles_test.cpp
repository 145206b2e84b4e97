// Compact storage of the text model: runs as offset + handle into the
// shared run style table, loaded texts in the list's arena, and the memory
// a highlighted document takes.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <random>

#include "memo_test_util.h"
#include "tools/register_generator.h"

using namespace memo;
using namespace memo_test;

namespace {

DynInfoRec Keyword(int key, TColor fore) {
  DynInfoRec r;
  r.flags = 0xC0;
  r.level = 0;
  r.keys[0] = static_cast<std::int16_t>(key);
  r.foreground = fore;
  r.openLength = r.closeLength = 5;
  return r;
}

// Lines shaped like register records, many with "Smith" or "Mary".
std::string Records(int lines, unsigned seed) {
  static const char* kNames[] = {"Smith", "Mary", "Baker", "John", "Cole", "Anne", "Turner", "Joan"};
  std::mt19937 rng(seed);
  std::string text;
  for (int i = 0; i < lines; ++i) {
    text += "1687 12 Mar ";
    for (int w = 0; w < 9; ++w) text += std::string(kNames[rng() % 8]) + (w % 3 == 2 ? "; " : " ");
    text += "\r\n";
  }
  return text;
}

// Record lines from the register generator, as the application shows them.
std::string GeneratedRecords(int lines) {
  regtools::GeneratorOptions options;
  options.files = 2;
  options.record_lines = lines;
  std::string text;
  for (const regtools::RegisterFilePlan& plan : regtools::PlanRegisters(options))
    regtools::ComposeRegisterFile(plan, [&](regtools::LineKind, std::string_view line) {
      text.append(line);
      text += "\r\n";
    });
  return text;
}

std::int64_t HeapInUse() {
  struct mallinfo2 info = mallinfo2();
  return static_cast<std::int64_t>(info.uordblks + info.hblkhd);
}

}  // namespace

TEST(RunStyles, EqualContentsShareOneCountedHandle) {
  const std::size_t base = runstyle::LiveCount();
  DynInfoRec a = Keyword(1, clRed);
  a.offset = 7;
  DynInfoRec b = Keyword(1, clRed);
  b.offset = 99;  // the offset word does not count
  const runstyle::Handle ha = runstyle::Acquire(a);
  const runstyle::Handle hb = runstyle::Acquire(b);
  EXPECT_EQ(ha, hb);
  EXPECT_NE(ha, 0u);
  EXPECT_EQ(runstyle::Get(ha).offset, 0);
  EXPECT_TRUE(SameRunContents(runstyle::Get(ha), a));
  DynInfoRec c = a;
  c.closeLength = 0;  // any byte past the offset makes another record
  const runstyle::Handle hc = runstyle::Acquire(c);
  EXPECT_NE(hc, ha);
  EXPECT_EQ(runstyle::LiveCount(), base + 2);
  runstyle::Release(ha);
  EXPECT_TRUE(runstyle::Held(ha));
  runstyle::Release(hb);
  EXPECT_FALSE(runstyle::Held(ha));
  runstyle::Release(hb);  // one release too many changes nothing
  runstyle::Release(hc);
  EXPECT_EQ(runstyle::LiveCount(), base);
  // The all-zero record is handle 0, held for ever.
  EXPECT_EQ(runstyle::Acquire(DynInfoRec()), 0u);
  runstyle::Release(0);
  EXPECT_TRUE(runstyle::Held(0));
}

TEST(RunStyles, RunsConvertToTheWholeRecord) {
  ParInfo p = par::MakeEmpty();
  par::SetText(p, "John Smith", 10);
  DynInfoRec k = Keyword(3, clBlue);
  k.offset = 5;
  par::InsertRun(p, 0, k);
  DynInfoRec back;
  back.offset = 10;
  par::InsertRun(p, 1, back);
  const DynInfoRec whole = p.runs[0];
  EXPECT_EQ(std::memcmp(&whole, &k, sizeof(DynInfoRec)), 0);
  EXPECT_EQ(par::StateOfChar(p, 6).foreground, clBlue);
  EXPECT_EQ(par::StateOfChar(p, 6).offset, 0);  // shared: the offset stays with the run
  EXPECT_EQ(par::RecordBefore(p, 1).offset, 5);
  EXPECT_TRUE(IsKeywordRun(p.runs[0]));
  EXPECT_FALSE(IsKeywordRun(p.runs[1]));
  par::SetCloseLength(p, 0, 0);
  EXPECT_EQ(par::StateBefore(p, 1).closeLength, 0);
  EXPECT_EQ(par::StateBefore(p, 1).openLength, 5);
  par::Free(p);
}

TEST(RunStyles, EveryReferenceGoesBackWithTheMemo) {
  const std::size_t base = runstyle::LiveCount();
  {
    TVellMemo m;
    m.Keywords().AddKeyWord("smith", 0, 0, 1, 0, clWhite, clRed);
    m.Keywords().AddKeyWord("mary", 0, 0, 1, 0, clWhite, clBlue);
    m.StartStopKeys().AddStartStopKey("(", ")", 0, 0, 0, 0, clSilver, clGreen, false);
    m.SetText(Records(50, 1) + "(open\r\nclosed) Smith");
    m.FormatNow(0, m.GetParCount() - 1, false);
    EXPECT_GT(runstyle::LiveCount(), base);
    std::mt19937 rng(5);
    for (int i = 0; i < 300; ++i) {
      const int a = static_cast<int>(rng() % (m.GetTextLen() + 1));
      const int b = std::min(m.GetTextLen(), a + static_cast<int>(rng() % 40));
      static const char* kPieces[] = {"", "Smith", "Ma", "ry\r\n", "(", ")", "x"};
      Replace(m, a, b, kPieces[rng() % 7]);
      if (i % 37 == 0) m.SetDynStyle(a, b, fsBold, false, i, 0, clNone, clBlue);
      if (i % 53 == 0) m.ClearStyle(a);
      m.FormatNow(0, m.GetParCount() - 1, false);
    }
    ASSERT_NO_THROW(m.CheckIntegrity());
    for (int i = 0; i < 120 && m.getCanUndo(); ++i) m.Undo();
    TVellMemo copy;
    rtl::TStringStream image;
    m.SaveToNativeStream(image);
    image.SetPosition(0);
    copy.LoadFromNativeStream(image, false);
    ASSERT_NO_THROW(copy.CheckIntegrity());
    std::string text = Saved(m);
    m.ReApplyKeywords();
    m.FormatNow(0, m.GetParCount() - 1, false);
    EXPECT_EQ(Saved(m), text);
  }
  EXPECT_EQ(runstyle::LiveCount(), base);
}

TEST(RunStyles, RejectedImageGivesItsReferencesBack) {
  TVellMemo m;
  m.SetText("Mary Smith");
  m.SetDynStyle(0, 4, fsItalic, false, 12345, 0, clNone, clBlue);
  rtl::TStringStream image;
  m.SaveToNativeStream(image);
  std::string bytes = image.DataString();
  const std::size_t base = runstyle::LiveCount();
  bytes.resize(bytes.size() - 3);  // the text is cut short: read after the runs
  rtl::TStringStream cut(bytes);
  TVellMemo other;
  EXPECT_THROW(other.LoadFromNativeStream(cut, false), rtl::EStreamError);
  EXPECT_EQ(runstyle::LiveCount(), base);
}

TEST(RunStyles, NavigatorGivesTheRunWithItsOffset) {
  TVellMemo m;
  m.Keywords().AddKeyWord("smith", 0, 0, 7, 0, clWhite, clRed);
  m.SetText("John Smith");
  m.FormatNow(0, 0, false);
  TVellNavigator nav(&m);
  nav.SetPos(7);
  const DynInfoRec* run = nav.GetpDynInfo();
  EXPECT_EQ(run->offset, 5);
  EXPECT_EQ(run->context, 7);
  EXPECT_EQ(nav.GetContext(), 7);
  EXPECT_EQ(nav.GetDynInfo().foreground, clRed);
}

TEST(TextArena, LoadedTextsShareBlocksAndEditsMoveOut) {
  TVellMemo m;
  m.SetText("first line\r\nsecond\r\nthird");
  ASSERT_EQ(m.Pars().Arena().BlockCount(), 1u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(m.Pars().At(i)->arenaText);
  // A small insert fits the slack of the buffer; a long one moves the text.
  Replace(m, 12, 12, "x");
  EXPECT_EQ(m.getParagraphs(1), "xsecond");
  Replace(m, 0, 0, std::string(300, 'a'));
  EXPECT_FALSE(m.Pars().At(0)->arenaText);
  EXPECT_EQ(m.getParagraphs(0), std::string(300, 'a') + "first line");
  EXPECT_NO_THROW(m.CheckIntegrity());
  m.Undo();
  m.Undo();
  EXPECT_EQ(Saved(m), "first line\r\nsecond\r\nthird");
  // Taking everything away lets the blocks go.
  Replace(m, 0, m.GetTextLen(), "");
  EXPECT_EQ(m.Pars().Arena().BlockCount(), 0u);
  EXPECT_NO_THROW(m.CheckIntegrity());
  m.Undo();
  EXPECT_EQ(Saved(m), "first line\r\nsecond\r\nthird");
}

TEST(TextArena, LongParagraphsGetTheirOwnBuffer) {
  TVellMemo m;
  const std::string longLine(TTextArena::kLargest + 10, 'z');
  m.SetText("a\r\n" + longLine + "\r\nb");
  EXPECT_TRUE(m.Pars().At(0)->arenaText);
  EXPECT_FALSE(m.Pars().At(1)->arenaText);
  EXPECT_TRUE(m.Pars().At(2)->arenaText);
  EXPECT_EQ(m.getParagraphs(1), longLine);
}

// Blocks taken ahead for the expected bytes serve the allocations that
// follow, whatever their sizes (a prepared block too small for one is left
// for later ones); every piece handed out is its own; blocks never used go
// when another arena takes the blocks over.
TEST(TextArena, PreparedBlocksServeAllocationsAndUnusedOnesGo) {
  for (const size_t expected : {size_t{1}, size_t{4096}, size_t{5000}, size_t{1} << 20, (size_t{3} << 20) + 7})
    for (const size_t step : {size_t{1}, size_t{100}, size_t{5000}, TTextArena::kLargest}) {
      SCOPED_TRACE(std::to_string(expected) + " expected, pieces of " + std::to_string(step));
      TTextArena arena;
      arena.Expect(expected);
      arena.Prepare();
      std::vector<std::pair<char*, size_t>> pieces;
      for (size_t asked = 0; asked < expected + step; asked += step) {  // a little more than expected
        char* piece = arena.Allocate(step);
        ASSERT_NE(piece, nullptr);
        std::memset(piece, static_cast<int>(pieces.size() & 0xFF), step);
        pieces.emplace_back(piece, step);
      }
      EXPECT_EQ(arena.Allocate(TTextArena::kLargest + 1), nullptr);
      for (size_t k = 0; k < pieces.size(); ++k)
        for (size_t i = 0; i < pieces[k].second; ++i)
          ASSERT_EQ(static_cast<unsigned char>(pieces[k].first[i]), k & 0xFF) << "piece " << k;
      TTextArena owner;
      owner.Absorb(arena);
      EXPECT_EQ(arena.BlockCount(), 0u);
      EXPECT_GE(owner.BlockCount(), 1u);
      EXPECT_EQ(arena.Allocate(10) != nullptr, true);  // the emptied arena works on
    }
  TTextArena unused;
  unused.Expect(3 << 20);
  unused.Prepare();
  EXPECT_EQ(unused.BlockCount(), 0u);  // prepared blocks are not in use until asked for
}

TEST(TextArena, NativeImageTextsGoToTheArena) {
  TVellMemo m;
  m.SetText("one\r\ntwo");
  rtl::TStringStream image;
  m.SaveToNativeStream(image);
  image.SetPosition(0);
  TVellMemo copy;
  copy.LoadFromNativeStream(image, false);
  EXPECT_TRUE(copy.Pars().At(0)->arenaText);
  EXPECT_EQ(Saved(copy), "one\r\ntwo");
  Replace(copy, 1, 2, "WW");
  EXPECT_EQ(Saved(copy), "oWWe\r\ntwo");
  EXPECT_NO_THROW(copy.CheckIntegrity());
}

// Loaded and highlighted with two keywords, 20,000 generated record lines
// take at most three times their text's size (the heap counted with its
// chunk headers; without mallinfo2's figures, as under a sanitizer, the
// bound is not checked).
TEST(MemoMemory, HighlightedRecordsStayWithinThreeTimesTheText) {
  const std::string text = GeneratedRecords(20000);
  const std::int64_t before = HeapInUse();
  TVellMemo m;
  m.Keywords().AddKeyWord("son", 0, 0, 1, 0, clWhite, clRed);
  m.Keywords().AddKeyWord("john", 0, 0, 1, 0, clWhite, clRed);
  {
    rtl::TStringStream stream(text);
    m.LoadFromStream(stream);
  }
  m.FormatNow(0, m.GetParCount() - 1, false);
  std::int64_t runs = 0;
  for (int i = 0; i < m.GetParCount(); ++i) runs += m.Pars().At(i)->runCount;
  EXPECT_GT(runs, m.GetParCount());
  const std::int64_t used = HeapInUse() - before;
  if (before > 0) {
    EXPECT_LE(used, 3 * static_cast<std::int64_t>(text.size())) << used << " bytes";
  }
}
