#include "app/core/arrange.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "app/core/data_file.h"
#include "app/core/first_page.h"
#include "app/core/hit_dates.h"
#include "app/core/record_line.h"
#include "app/core/work_crew.h"
#include "core_test_support.h"
#include "platform/runtime/dates.h"
#include "platform/runtime/sysutils.h"
#include "textutil/compare.h"
#include "textutil/fields.h"
#include "textutil/phonetic.h"

namespace appcore {
namespace {

using Lines = std::vector<std::string>;

TEST(HitDates, WordsOfTheDateText) {
  EXPECT_EQ(DateOfLine("1702 05 Mar John; x").value, 17020305);
  EXPECT_EQ(DateOfLine("1702 Mar 05 John").value, 17020305);
  EXPECT_EQ(DateOfLine("16?7 ?? Jun John").value, 16070600);
  EXPECT_EQ(DateOfLine("1701 Xyz 05 John").value, 17010105);  // unknown month: January
  EXPECT_EQ(DateOfLine("1701 mar 05 John").value, 17010105);  // the table is exact
  EXPECT_EQ(DateOfLine("1701 Mar 5 John").value, 17010300);   // missing day: 00
  EXPECT_EQ(DateOfLine("1701").value, 17010000);
  EXPECT_EQ(DateOfLine("170 Mar 05").value, 305);              // missing year: 0000
  EXPECT_EQ(DateOfLine("17x1 05 Mar").state, HitDate::kUnreadable);
  EXPECT_EQ(DateOfLine("1701 x5 Mar").state, HitDate::kUnreadable);
  EXPECT_EQ(DateOfLine("John 1701").state, HitDate::kNotADate);
  EXPECT_EQ(DateOfLine("").state, HitDate::kNotADate);
  EXPECT_EQ(DateTextOf("1701 Mar 05 A; B; C"), "1701 Mar 05 A");
  for (int m = 1; m <= 12; ++m)
    EXPECT_EQ(MonthNumber(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").substr(3 * (m - 1), 3)), m);
}

TEST(HitDates, CompareYearMonthDayWithAMissingDayAsZero) {
  EXPECT_LT(CompareDates("1701 05 Feb", "1701 01 Mar"), 0);
  EXPECT_LT(CompareDates("1700 31 Dec", "1701 Mar 5"), 0);  // no longer before every year
  EXPECT_LT(CompareDates("1701 Mar 5", "1701 01 Mar"), 0);
  EXPECT_EQ(CompareDates("1701 01 Mar A", "1701 Mar 01 B"), 0);
  EXPECT_LT(CompareDates("1701 01 Mar", "17x1 01 Mar"), 0);  // undated lines last
  EXPECT_EQ(CompareDates("John", "17x1"), 0);
}

TEST(SortByDateTest, StableAndUndatedLast) {
  Lines lines = {"1701 01 Mar b", "17x1 01 Mar c", "1700 01 Jan d", "1701 01 Mar a", "remark", "1650 01 Jan e"};
  Lines messages;
  SortByDate(lines, [&](const std::string& m) { messages.push_back(m); });
  EXPECT_EQ(lines, (Lines{"1650 01 Jan e", "1700 01 Jan d", "1701 01 Mar b", "1701 01 Mar a", "17x1 01 Mar c",
                          "remark"}));
  EXPECT_EQ(messages, (Lines{"Date sort error:17x1 01 Mar c"}));
}

TEST(SortByDateTest, DateSortErrorIsReportedOncePerSort) {
  Lines lines;
  for (int i = 0; i < 50; ++i) lines.push_back("1?x" + std::to_string(i % 10) + " 01 Mar; x");
  int reports = 0;
  std::string first;
  SortByDate(lines, [&](const std::string& m) {
    ++reports;
    first = m;
  });
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(first, "Date sort error:10x0 01 Mar");  // '?' read as '0'
}

TEST(ArrangeKeyTest, HeadBlankPartAndTheCharacterAfterTheComma) {
  const std::string line = "1650 03 Mar John Smith, Mary; Anne Marie; Joan Hall";
  EXPECT_EQ(ArrangeKey(line, 8), textutil::MetaPhone("Anne M", 8) + " M");
  EXPECT_EQ(ArrangeKey("1650 03 Mar A, B;  Anne ; C", 8), textutil::MetaPhone("Anne", 8));
  EXPECT_EQ(ArrangeKey("1650 03 Mar A, B; Smith, John; C", 8), textutil::MetaPhone("Smith, J", 8) + " JJ");
  EXPECT_EQ(ArrangeKey("1650 03 Mar A, B", 8), "");
  EXPECT_EQ(ArrangeKey("1650 03 Mar A, B; Anne", 8), textutil::MetaPhone("Anne", 8));
  EXPECT_EQ(ArrangeKey("1650 03 Mar A, B; Anne Marie", 3), textutil::MetaPhone("Anne M", 3) + " M");
}

// The arranging as first written out: date values from the text, keys
// compared with VantaCompare, stable sorts.
std::string ReferenceKey(const std::string& line) {
  const std::string field = rtl::Trim(textutil::Fetch(line, ";", 2, false));
  const int blank = rtl::Pos(" ", field);
  const int comma = rtl::Pos(",", field);
  std::string k = textutil::MetaPhone(blank > 0 ? rtl::Copy(field, 1, blank + 1) : field, 8);
  if (blank > 0) k += rtl::Copy(field, blank, 2);
  if (comma > 0) k += rtl::Copy(field, comma + 2, 1);
  return k;
}

Lines ReferenceArrange(Lines hits) {
  auto date_key = [](const std::string& line) -> int64_t {
    std::string a = line.substr(0, line.find(';'));
    std::replace(a.begin(), a.end(), '?', '0');
    if (a.empty() || a[0] < '0' || a[0] > '9') return INT64_MAX;
    std::string year = "0000", month = "00", day = "00";
    int pos = 1;
    for (int w = 0; w < 3 && pos != 0; ++w) {
      const std::string word = textutil::ParseWord(a, " ", pos);
      if (w == 0 && word.size() == 4) year = word;
      if (w > 0 && word.size() == 2) day = word;
      if (w > 0 && word.size() == 3) {
        const size_t at = std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(word);
        const int m = at != std::string::npos && at % 3 == 0 ? static_cast<int>(at / 3) + 1 : 1;
        month = (m < 10 ? "0" : "") + std::to_string(m);
      }
    }
    int64_t value;
    const std::string digits = year + month + day;
    if (digits.find_first_not_of("0123456789") != std::string::npos || !rtl::TryStrToInt64(digits, value))
      return INT64_MAX;
    return value;
  };
  std::stable_sort(hits.begin(), hits.end(),
                   [&](const std::string& a, const std::string& b) { return date_key(a) < date_key(b); });
  std::vector<std::pair<std::string, std::string>> keyed;
  for (const std::string& h : hits) keyed.emplace_back(ReferenceKey(h), h);
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    return textutil::VantaCompare(a.first, b.first, -1, -1, 0) < 0;
  });
  Lines out;
  std::string previous;
  for (const auto& [k, h] : keyed) {
    if (textutil::VantaCompare(k, previous, -1, -1, 0) != 0) out.emplace_back();
    out.push_back(h);
    previous = k;
  }
  return out;
}

// A quote anywhere in a line (or two, or one in each of its fields) keys
// the line as the field the quote-aware cut gives.
TEST(ArrangeKeyTest, QuotesAnywhereKeyTheFieldTheQuotedCutGives) {
  for (const std::string base : {"1650 03 Mar John Smith; Anne Marie, x; Joan Hall; y", "1650 03 Mar A; Anne",
                                 "1650 03 Mar A B C", "1650 03 Mar A;; Anne; B"})
    for (size_t at = 0; at <= base.size(); ++at)
      for (size_t also = at; also <= base.size(); also += 7) {
        std::string line = base;
        line.insert(also, "\"");
        line.insert(at, "\"");
        EXPECT_EQ(ArrangeKey(line, 8), ReferenceKey(line)) << line;
        line.erase(at, 1);
        EXPECT_EQ(ArrangeKey(line, 8), ReferenceKey(line)) << line;
      }
}

TEST(ArrangeTest, KnownHitSet) {
  const Lines hits = {
      "1702 05 Mar Tho Smith, Ann; Mary; W [1] ",  "1650 03 Mar Jo Cole, Ann; John; W [2] ",
      "1701 Feb 05 Will Pry, Jo; Marie; W [1] ",   "1650 03 Mar Hugh Kemp, Ann; Anne; W [1] ",
      "1660 01 Jan Tom Pry, Jo; Jon; W [2] ",      "1701 Mar 5 Sam Lee, Ann; Mary; W [1] ",
      "1655 12 Dec Ralph Bell, Ann; Ann; W [1] ",  "1650 03 Mar Paul Cole, Ann; anne; W [2] ",
  };
  const ArrangeOutcome outcome = Arrange(hits, 8, {});
  ASSERT_FALSE(outcome.cancelled);
  // Groups in key order (AN, JHN, JN, MR), each after an empty line and in
  // date order; equal dates keep the search's order.
  EXPECT_EQ(outcome.lines, (Lines{"",
                                  "1650 03 Mar Hugh Kemp, Ann; Anne; W [1] ",
                                  "1650 03 Mar Paul Cole, Ann; anne; W [2] ",
                                  "1655 12 Dec Ralph Bell, Ann; Ann; W [1] ",
                                  "",
                                  "1650 03 Mar Jo Cole, Ann; John; W [2] ",
                                  "",
                                  "1660 01 Jan Tom Pry, Jo; Jon; W [2] ",
                                  "",
                                  "1701 Feb 05 Will Pry, Jo; Marie; W [1] ",
                                  "1701 Mar 5 Sam Lee, Ann; Mary; W [1] ",
                                  "1702 05 Mar Tho Smith, Ann; Mary; W [1] "}));
  EXPECT_EQ(outcome.lines, ReferenceArrange(hits));
}

TEST(ArrangeTest, QuestionMarkLinesAreNotGluedToOthers) {
  const Lines hits = {"1650 03 Mar A, B; Anne; W", "?651 03 Mar A, B; Mary; W", "1652 03 Mar A, B; Anne; W"};
  const ArrangeOutcome outcome = Arrange(hits, 8, {});
  EXPECT_EQ(outcome.lines, (Lines{"", "1650 03 Mar A, B; Anne; W", "1652 03 Mar A, B; Anne; W", "",
                                  "?651 03 Mar A, B; Mary; W"}));
  EXPECT_EQ(outcome.lines.size(), hits.size() + 2);  // each hit once
  // Runs of undated-year records, first, last and in between in date order,
  // stay lines of their own: each hit comes out exactly once and unchanged.
  const Lines runs = {"?650 03 Mar A, B; Anne; W", "1650 03 Mar A, B; Anne; W", "?7?? 03 Mar A, B; Anne; W",
                      "1701 03 Mar A, B; Mary; W", "???? ?? ??? A, B; Mary; W", "17?? 03 Mar A, B; Anne; W"};
  Lines out = Arrange(runs, 8, {}).lines;
  EXPECT_EQ(std::count(out.begin(), out.end(), ""), 2);  // the Anne and the Mary group
  out.erase(std::remove(out.begin(), out.end(), ""), out.end());
  Lines sorted_in = runs, sorted_out = out;
  std::sort(sorted_in.begin(), sorted_in.end());
  std::sort(sorted_out.begin(), sorted_out.end());
  EXPECT_EQ(sorted_out, sorted_in);
}

TEST(ArrangeTest, AgreesWithTheReferenceOnTheSampleRegisters) {
  Lines hits;
  int slot = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QV_SOURCE_DIR "/samples/registers")) {
    ++slot;
    if (KindFromName(entry.path().filename().string()) != FileKind::kBaptisms) continue;
    const auto file = DataFile::Load(entry.path().string());
    for (int i = 1; i < file->LineCount(); ++i)
      if (file->Flags(i) & DataFile::kRecordLine) hits.push_back(HitLine(TrimLine(file->Line(i)), slot, true));
  }
  // Odd lines: no second field, quotes, unreadable dates, upper case names.
  hits.push_back("1650 03 Mar no fields at all");
  hits.push_back("1650 03 Mar \"A; B\"; Anne; C");
  hits.push_back("1?x0 03 Mar A, B; Anne; C");
  hits.push_back("1650 03 Mar A, B; ANNE MARIE, x; C");
  hits.push_back("1650 03 Mar A, B; anne marie, y; C");
  ASSERT_GT(hits.size(), 900u);
  EXPECT_EQ(Arrange(hits, 8, {}).lines, ReferenceArrange(hits));

  // Many hits are keyed and sorted in parts on several threads and merged:
  // the same hits many times over in shuffled order (equal keys and dates
  // across parts, whose order must stay the hits' order), with unreadable
  // dates in two later parts, the first of which alone is reported.
  Lines many;
  std::mt19937 random(7);
  for (int copy = 0; copy < 40; ++copy) {
    Lines shuffled;
    for (const std::string& line : hits)
      if (DateOfLine(line).state != HitDate::kUnreadable) shuffled.push_back(line);
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    for (std::string& line : shuffled) line += std::to_string(copy % 3);
    many.insert(many.end(), shuffled.begin(), shuffled.end());
  }
  ASSERT_GT(many.size(), 32768u);
  many[many.size() * 5 / 8] = "16x0 03 Mar A, B; Anne; first";
  many[many.size() * 7 / 8] = "16y0 03 Mar A, B; Anne; second";
  Lines reports;
  ArrangeCallbacks callbacks;
  callbacks.report = [&](const std::string& m) { reports.push_back(m); };
  EXPECT_EQ(Arrange(many, 8, callbacks).lines, ReferenceArrange(many));
  EXPECT_EQ(reports, (Lines{"Date sort error:16x0 03 Mar A, B"}));
}

// Keys are worked out once per distinct head, up to a limit: hits of more
// distinct heads than that, heads seen again once the limit is passed, and
// quoted fields (cut into a scratch copy) are keyed as each line alone is.
TEST(ArrangeTest, ManyDistinctHeadsAreKeyedAsEachLineAlone) {
  static constexpr char kConsonants[] = "BFKLMNPRST";
  auto name = [](int i) {
    std::string n;
    for (int d = 0; d < 5; ++d, i /= 10) n += static_cast<char>(kConsonants[i % 10] + (d ? 'a' - 'A' : 0)), n += 'e';
    return n;
  };
  Lines hits;
  for (int i = 0; i < 70000; ++i) hits.push_back("1650 03 Mar A, B; " + name(i) + " Jo, x; C");
  for (int i = 0; i < 3000; ++i) {
    hits.push_back("1650 03 Mar A, B; " + name(i * 23) + " Ja; C");  // seen before, other blank part
    if (i % 500 == 0) hits.push_back("1650 03 Mar \"A; B\"; " + name(i) + " Jo, y; C");
  }
  std::vector<std::pair<std::string, size_t>> keyed;
  for (size_t i = 0; i < hits.size(); ++i) keyed.emplace_back(ArrangeKey(hits[i], 8), i);
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    return textutil::VantaCompare(a.first, b.first, -1, -1, 0) < 0;
  });
  Lines expected;
  for (size_t k = 0; k < keyed.size(); ++k) {
    if (k == 0 || textutil::VantaCompare(keyed[k].first, keyed[k - 1].first, -1, -1, 0) != 0) expected.emplace_back();
    expected.push_back(hits[keyed[k].second]);
  }
  EXPECT_EQ(Arrange(hits, 8, {}).lines, expected);
}

// Hits of few groups are counted into them (also where nearly every hit's
// child's field is a new one), hits of many are sorted, and parts of both
// kinds side by side are sorted and merged: each against the reference, with a line of no child's field (the empty key, whose group
// comes first without a break before it) and dates out of order.
TEST(ArrangeTest, FewAndManyGroupsInPartsAgreeWithTheReference) {
  auto name = [](int i) {
    std::string n;
    for (int d = 0; d < 5; ++d, i /= 10) n += static_cast<char>("BFKLMNPRST"[i % 10] + (d ? 'a' - 'A' : 0)), n += 'e';
    return n;
  };
  auto line = [](int year, const std::string& child, int i) {
    return std::to_string(year) + " 03 Mar A, B; " + child + "; C" + std::to_string(i);
  };
  struct Case {
    const char* what;
    int few_lines, many_lines;
    bool field_per_line = false;  // few keys, but every child's field a new one
  };
  for (const Case& c : {Case{"few groups, one part", 3000, 0}, Case{"few groups, many parts", 60000, 0},
                        Case{"few then many", 30000, 30000}, Case{"many then few", -30000, 30000},
                        Case{"few groups, a field per line", 80000, 0, true}}) {
    static WorkCrew kept;
    std::mt19937 random(11);
    Lines few, many;
    for (int i = 0; i < std::abs(c.few_lines); ++i)
      few.push_back(line(1600 + static_cast<int>(random() % 150),
                         name(static_cast<int>(random() % 40)) + (c.field_per_line ? " Jo" + std::to_string(i) : " Jo, x"), i));
    for (int i = 0; i < c.many_lines; ++i) many.push_back(line(1650 - i % 7, name(i) + " Ja", i));
    Lines hits = c.few_lines < 0 ? many : few;
    const Lines& second = c.few_lines < 0 ? few : many;
    hits.insert(hits.end(), second.begin(), second.end());
    hits.insert(hits.begin() + static_cast<ptrdiff_t>(hits.size() / 2), "1650 03 Mar no fields at all");
    const Lines expected = ReferenceArrange(hits);
    EXPECT_EQ(Arrange(hits, 8, {}).lines, expected) << c.what;
    // On a crew kept from case to case, as the window keeps one.
    ArrangeCallbacks on_kept;
    on_kept.crew = &kept;
    EXPECT_EQ(Arrange(hits, 8, on_kept).lines, expected) << c.what << ", kept crew";
  }
}

// Groups of every size around the one where counting by date takes over
// from comparing, with dates a day, years or centuries apart, equal dates,
// dates with '?' and undated lines, each group's lines coming file by file
// (several runs in date order): each against the reference.
TEST(ArrangeTest, GroupsOfAnySizeFollowTheirDatesAsTheReference) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct Case {
    const char* what;
    int first_year, years;  // dates drawn from these years
    int undated_every;      // every n-th line undated or with a '?' (0: none)
    bool in_runs;           // each "file" of lines in date order
  };
  const std::vector<int> group_sizes = {1, 2, 255, 256, 257, 3000, 40000};
  // One child's field per group, the last one none (the empty key).
  static const char* const kChildren[] = {"Bart Jo", "Carp Al", "Dun Jo", "Ell Ma", "Fair Jo, x", "Good Ann", ""};
  for (const Case& c : {Case{"days of one year", 1700, 1, 0, false}, Case{"a century", 1600, 100, 0, true},
                        Case{"centuries", 1100, 800, 0, false}, Case{"undated and '?' lines", 1650, 40, 7, false},
                        Case{"equal dates", 1650, 0, 0, false}}) {
    std::mt19937 random(23);
    Lines hits;
    for (size_t g = 0; g < group_sizes.size(); ++g)
      for (int i = 0; i < group_sizes[g]; ++i) {
        const int year = c.first_year + (c.years > 0 ? static_cast<int>(random() % static_cast<unsigned>(c.years)) : 0);
        std::string date = std::to_string(year);
        if (c.years > 0) {
          const unsigned day = random() % 29 + 1;
          date += std::string(day < 10 ? " 0" : " ") + std::to_string(day) + " " + kMonths[random() % 12];
        }
        if (c.undated_every > 0 && i % c.undated_every == 3) date = i % 2 ? "16?? 1" + std::to_string(i % 9) + " Jun" : "?";
        hits.push_back(date + " A, B; " + kChildren[g] + "; C" + std::to_string(i));
      }
    std::shuffle(hits.begin(), hits.end(), random);
    if (c.in_runs)  // files of 5,000 lines, each in date order
      for (size_t at = 0; at < hits.size(); at += 5000) {
        const auto end = hits.begin() + static_cast<ptrdiff_t>(std::min(hits.size(), at + 5000));
        Lines run(hits.begin() + static_cast<ptrdiff_t>(at), end);
        run = ReferenceArrange(run);
        run.erase(std::remove(run.begin(), run.end(), std::string()), run.end());
        std::copy(run.begin(), run.end(), hits.begin() + static_cast<ptrdiff_t>(at));
      }
    EXPECT_EQ(Arrange(hits, 8, {}).lines, ReferenceArrange(hits)) << c.what;
  }
}

TEST(ArrangeTest, CancelLeavesNoLines) {
  Lines hits;
  for (int i = 0; i < 5000; ++i) hits.push_back("1650 03 Mar A, B; Anne" + std::to_string(i % 7) + "; C");
  appcore_test::SteppingClock clock(10);
  rtl::ClockScope scope(clock);
  int calls = 0;
  ArrangeCallbacks callbacks;
  callbacks.progress = [&](int64_t done) {
    EXPECT_GT(done, 0);
    return ++calls < 2;
  };
  const ArrangeOutcome outcome = Arrange(hits, 8, callbacks);
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_TRUE(outcome.lines.empty());
  EXPECT_EQ(calls, 2);
}

// A Cancel at any step of many hits keyed, counted and dated in parts on
// several threads: nothing is arranged, every thread stops, and a Cancel
// that comes too late leaves the arrangement whole.
TEST(ArrangeTest, CancelAtAnyStepOfManyPartsLeavesNoLines) {
  Lines few, many;
  std::mt19937 random(3);
  for (int i = 0; i < 70000; ++i) {
    const std::string date = std::to_string(1600 + random() % 150) + " 03 Mar A, B; ";
    few.push_back(date + "Anne" + std::to_string(random() % 30) + " Jo; C" + std::to_string(i));
    many.push_back(date + "Anne" + std::to_string(i) + " Jo; C");
  }
  // Each Cancel on a crew of the call's own and on one crew kept through
  // them all: a cancelled round leaves the kept crew fit for the next.
  WorkCrew kept;
  for (const Lines* hits : {&few, &many}) {
    const Lines expected = ReferenceArrange(*hits);
    for (const int stop_at : {1, 2, 30, 60, 90, 120, 160, 250, 400, 1000000})
      for (WorkCrew* crew : {static_cast<WorkCrew*>(nullptr), &kept}) {
        SCOPED_TRACE(crew ? "kept crew" : "own crew");
        appcore_test::SteppingClock clock(20);
        rtl::ClockScope scope(clock);
        int calls = 0;
        ArrangeCallbacks callbacks;
        callbacks.crew = crew;
        callbacks.progress = [&](int64_t) { return ++calls < stop_at; };
        const ArrangeOutcome outcome = Arrange(*hits, 8, callbacks);
        if (outcome.cancelled) {
          EXPECT_TRUE(outcome.lines.empty()) << stop_at;
          EXPECT_EQ(calls, stop_at);
        } else {
          EXPECT_LT(calls, stop_at);
          EXPECT_EQ(outcome.lines, expected) << stop_at;
        }
      }
  }
}

TEST(FirstPageTest, LegendBlankMarriageHitsThenArrangedHits) {
  SearchResult r;
  r.legend = {" [1] Baptisms", " [2] Marriages"};
  r.marriage_hits = {"1650 10 Jun A, x; B [2] "};
  ArrangeOutcome arranged;
  arranged.lines = {"", "1650 03 Mar A, B; Anne; W [1] "};
  EXPECT_EQ(FirstPageLines(r, arranged, true), (Lines{" [1] Baptisms", " [2] Marriages", " ",
                                                      "1650 10 Jun A, x; B [2] ", "",
                                                      "1650 03 Mar A, B; Anne; W [1] "}));
  EXPECT_EQ(LegendLineCount(r, true), 2);
  EXPECT_EQ(FirstPageLines(r, arranged, false), (Lines{" ", "1650 10 Jun A, x; B [2] ", "",
                                                       "1650 03 Mar A, B; Anne; W [1] "}));
  EXPECT_EQ(LegendLineCount(r, false), 0);
  arranged.cancelled = true;
  EXPECT_EQ(FirstPageLines(r, arranged, true),
            (Lines{" [1] Baptisms", " [2] Marriages", " ", "1650 10 Jun A, x; B [2] "}));
  // A search with no file ticked leaves the page holding one blank line.
  EXPECT_EQ(FirstPageLines(SearchResult{}, ArrangeOutcome{}, true), (Lines{" "}));
}

}  // namespace
}  // namespace appcore
