// A page filled from lines it takes over (read line by line, each line let
// go once read) against the same lines joined into one text first: the
// same paragraphs, text length, styles and page, whatever the lines hold and
// however the memo is set; and the same lines given as head lines then rows
// into a list of hits read in place, their texts copied ahead or not.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/core/arrange.h"
#include "app/core/work_crew.h"
#include "app/page_text.h"
#include "memo/vell_memo.h"
#include "platform/runtime/streams.h"

namespace {

using Lines = std::vector<std::string>;

Lines Paragraphs(memo::TVellMemo& m) {
  Lines out;
  for (int i = 0; i < m.GetParCount(); ++i) out.push_back(m.getParagraphs(i));
  return out;
}

// The page with its styles, as rich text.
std::string Rich(memo::TVellMemo& m) {
  rtl::TStringStream out;
  m.SaveToRTFStream(out, true);
  return out.DataString();
}

// Memo settings that change how a text is cut into paragraphs.
void Set(memo::TVellMemo& m, int setting) {
  if (setting == 1) m.SetParLengthLimit(150);  // longer lines are cut
  if (setting == 2) m.SetOptions(m.Options().With(memo::vmoDiscardTrailingSpaces));
  if (setting == 3) m.SetStaticFormat(false);  // style codes are text
}

TEST(PageText, LinesTakenOverFillThePageAsTheirJoinedText) {
  appcore::WorkCrew kept_crew;
  std::mt19937 random(7);
  auto text = [&](size_t length) {
    std::string s(length, ' ');
    for (char& c : s) c = static_cast<char>('a' + random() % 26);
    return s;
  };
  std::vector<Lines> cases = {
      {},
      {""},
      {"", ""},
      {"a"},
      {"a", ""},
      {"", "b"},
      {"one", "two", "three"},
      {"before", std::string("in\0side", 7), "after"},  // the text ends at its NUL
      {std::string("\0", 1), "x"},
      {"a\r\nb", "c\rd", "e\nf"},  // breaks inside lines make paragraphs too
      {"trailing  ", " lead"},
      {"\x02" "bold", "still bold\x02 plain", "\x15" "under\x01" "both", "\x03\x04"},  // styles across lines
      {"tab\there", "bell\x07", "\x14\x15\x16"},
      {std::string(149, 'x'), "149"},  // lines around the length limit of setting 1
      {std::string(150, 'y'), "150"},
      {std::string(151, 'z'), "151"},
      {text(40000), "short"},  // a line longer than the memo reads at a time
  };
  for (int round = 0; round < 4; ++round) {  // lines across many of the memo's blocks
    Lines lines;
    for (int i = 0; i < 3000; ++i) lines.push_back(text(random() % (round == 3 ? 3000 : 200)));
    cases.push_back(lines);
  }
  // Enough lines to be looked at and filled in parts on several threads:
  // style codes within a part and across parts; a break in the last part
  // only.
  Lines many;
  for (int i = 0; i < 40000; ++i) many.push_back(text(random() % 12));
  many[10000] = "\x01" "italic from here";
  many[20000] = "\x02" "bold from here";
  many[30000] = "to here\x01";
  many[35000] = "to here\x02";
  cases.push_back(many);
  many[39000] = "a\rb";
  cases.push_back(many);
  for (int setting = 0; setting < 4; ++setting)
  for (const std::string& before : {std::string(), std::string("old page\r\nof two lines")}) {
    for (const Lines& lines : cases) {
      SCOPED_TRACE(std::to_string(lines.size()) + " lines over \"" + before + "\", setting " +
                   std::to_string(setting));
      memo::TVellMemo joined, taken, parted;
      Set(joined, setting);
      Set(taken, setting);
      Set(parted, setting);
      joined.SetText(before);
      taken.SetText(before);
      parted.SetText(before);
      app::SetPageLines(joined, lines);
      Lines copy = lines;
      app::SetPageLines(taken, std::move(copy));
      EXPECT_EQ(taken.GetTextLen(), joined.GetTextLen());
      EXPECT_EQ(Paragraphs(taken), Paragraphs(joined));
      EXPECT_EQ(taken.Modified, joined.Modified);
      EXPECT_EQ(Rich(taken), Rich(joined));
      EXPECT_NO_THROW(taken.CheckIntegrity());

      // The first half as head lines; the rest as rows into hits held in
      // reverse order, empty lines as group breaks.
      app::PageParts parts;
      const size_t half = lines.size() / 2;
      parts.head.assign(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(half));
      Lines hits(lines.rbegin(), lines.rend() - static_cast<std::ptrdiff_t>(half));
      for (size_t i = half; i < lines.size(); ++i)
        parts.rows.push_back(lines[i].empty() ? appcore::kGroupBreak : static_cast<uint32_t>(lines.size() - 1 - i));
      const Lines hits_before = hits;
      parts.hits = &hits;
      app::SetPageParts(parted, std::move(parts));
      EXPECT_EQ(parted.GetTextLen(), joined.GetTextLen());
      EXPECT_EQ(Paragraphs(parted), Paragraphs(joined));
      EXPECT_EQ(Rich(parted), Rich(joined));
      EXPECT_NO_THROW(parted.CheckIntegrity());
      EXPECT_EQ(hits, hits_before);  // read in place, never taken

      // The same parts with their texts copied ahead, the head's copied
      // lines freed meanwhile; and only the head (arranging cancelled);
      // copied and made on threads started for them or on a crew; the head
      // in one list or two; the copy cancelled part way (nothing lost).
      for (int variant = 0; variant < 6; ++variant) {
        const bool with_rows = variant % 3 != 2;
        appcore::WorkCrew* const crew = variant % 2 == 0 ? nullptr : &kept_crew;
        const bool two_lists = variant >= 3, cancelled = variant >= 4;
        memo::TVellMemo ahead, head_only;
        Set(ahead, setting);
        Set(head_only, setting);
        ahead.SetText(before);
        head_only.SetText(before);
        app::PageParts copied;
        const size_t first = two_lists ? half / 3 : half;
        copied.head.assign(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(first));
        copied.head_rest.assign(lines.begin() + static_cast<std::ptrdiff_t>(first),
                                lines.begin() + static_cast<std::ptrdiff_t>(half));
        if (with_rows) {
          for (size_t i = half; i < lines.size(); ++i)
            copied.rows.push_back(lines[i].empty() ? appcore::kGroupBreak : static_cast<uint32_t>(lines.size() - 1 - i));
          copied.hits = &hits;
        }
        const Lines head(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(half));
        const bool worth = (with_rows ? lines.size() : half) >= memo::TPreparedTexts::kWorthFrom;
        copied.crew = crew;
        // A pacer whose first look at the clock cancels.
        appcore::Pacer cancelling([] { return false; });
        if (cancelled && worth) std::this_thread::sleep_for(std::chrono::milliseconds(appcore::kProgressIntervalMs + 2));
        EXPECT_EQ(app::PrepareTexts(copied, with_rows ? hits : Lines(), cancelled ? &cancelling : nullptr, crew),
                  worth && !cancelled);
        EXPECT_EQ(copied.prepared != nullptr, worth);
        // The copied head lines are freed, the others kept.
        for (size_t i = 0; i < head.size(); ++i) {
          const std::string& kept = i < first ? copied.head[i] : copied.head_rest[i - first];
          const bool prepared = copied.prepared && copied.prepared->Find(i);
          if (!cancelled) {
            ASSERT_EQ(prepared, worth && !head[i].empty()) << i;
          }
          ASSERT_EQ(kept, prepared ? std::string() : head[i]) << i;
        }
        app::SetPageParts(ahead, std::move(copied));
        memo::TVellMemo& expected = with_rows ? joined : head_only;
        if (!with_rows) app::SetPageLines(head_only, head);
        EXPECT_EQ(ahead.GetTextLen(), expected.GetTextLen()) << with_rows;
        EXPECT_EQ(Paragraphs(ahead), Paragraphs(expected)) << with_rows;
        EXPECT_EQ(Rich(ahead), Rich(expected)) << with_rows;
        EXPECT_NO_THROW(ahead.CheckIntegrity());
        EXPECT_EQ(hits, hits_before);
      }
    }
  }
}

}  // namespace
