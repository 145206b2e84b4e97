#include "family/show_children.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/core/record_line.h"
#include "memo/vell_memo.h"
#include "support/temp_dir.h"
#include "tools/register_generator.h"

namespace family {
namespace {

using Lines = std::vector<std::string>;

ChildLine Read(const std::string& line) {
  ChildLine out;
  EXPECT_TRUE(ReadChildLine(line, out)) << line;
  return out;
}

TEST(CoveredLinesTest, ForwardBackwardAndNone) {
  auto covered = [](TextPoint low, TextPoint high) {
    const LineRange r = CoveredLines(low, high);
    return std::pair{r.first, r.last};
  };
  EXPECT_EQ(covered({2, 5}, {2, 5}), std::pair(2, 2));  // caret only
  EXPECT_EQ(covered({2, 1}, {2, 4}), std::pair(2, 2));  // inside one line: that line
  EXPECT_EQ(covered({1, 0}, {4, 0}), std::pair(1, 3));  // whole lines: up to the line start
  EXPECT_EQ(covered({1, 3}, {4, 2}), std::pair(1, 4));  // ends inside a line: it is covered
  EXPECT_EQ(covered({1, 9}, {2, 0}), std::pair(1, 1));
  EXPECT_EQ(covered({3, 0}, {3, 0}), std::pair(3, 3));
}

TEST(CoveredLinesTest, MemoSelectionEitherWay) {
  memo::TVellMemo m;
  m.SetText("line 0\r\nline 1\r\nline 2\r\nline 3");
  ASSERT_EQ(m.GetParCount(), 4);
  auto selected = [&](std::int32_t caret, std::int32_t length) {
    m.setSelStart(caret);
    m.setSelLength(length);
    const LineRange r = SelectedLines(m);
    return std::pair{r.first, r.last};
  };
  const std::int32_t p1 = m.ParStart(1), p3 = m.ParStart(3);
  EXPECT_EQ(selected(p1 + 1, p3 - p1 - 1), std::pair(1, 2));      // forward, ends at line 3's start
  EXPECT_EQ(selected(p3, -(p3 - p1)), std::pair(1, 2));           // backward from line 3's start
  EXPECT_EQ(selected(p3 + 2, -(p3 + 2 - p1)), std::pair(1, 3));   // backward from inside line 3
  EXPECT_EQ(selected(p1 + 2, 0), std::pair(1, 1));                // no selection
  EXPECT_EQ(selected(p1 + 1, 3), std::pair(1, 1));                // inside one line
  EXPECT_EQ(selected(0, 1000), std::pair(0, 3));                  // to the end of the text
}

struct ChildCase {
  const char* what;
  const char* line;
  ChildLine expected;
};

const ChildCase kChildCases[] = {
    {"date in its own field", "1750 Mar 12; John Smith, Mary Jones; Anne; Will Turner, Joan Hall",
     {"1750", "Mar 12", "John Smith", "Mary Jones", "Anne", "Will Turner, Joan Hall"}},
    {"no comma: the names are the husband's", "1750 Mar 12; John Smith; Anne",
     {"1750", "Mar 12", "John Smith", "", "Anne", ""}},
    {"a comma first: no husband", "1750 Mar 12; , Mary Jones; Anne", {"1750", "Mar 12", "", "Mary Jones", "Anne", ""}},
    {"no comma in front of her name", "1750 Mar 12;,Mary Jones; Anne", {"1750", "Mar 12", "", "Mary Jones", "Anne", ""}},
    {"cut at the first comma", "1750 Mar 12; John Smith, Mary Jones, spinster; Anne",
     {"1750", "Mar 12", "John Smith", "Mary Jones, spinster", "Anne", ""}},
    // No second ';': the names field is empty and the rest is the child's.
    {"no second ';'", "1750 Mar 12; John Smith, Mary", {"1750", "Mar 12", "", "", "John", ""}},
};

TEST(ReadChildLineTest, EveryFieldOfEachCase) {
  for (const ChildCase& k : kChildCases) {
    SCOPED_TRACE(k.what);
    const ChildLine c = Read(k.line);
    EXPECT_EQ(c.year, k.expected.year);
    EXPECT_EQ(c.date, k.expected.date);
    EXPECT_EQ(c.husband, k.expected.husband);
    EXPECT_EQ(c.wife, k.expected.wife);
    EXPECT_EQ(c.child, k.expected.child);
    EXPECT_EQ(c.witnesses, k.expected.witnesses);
  }
}

TEST(ReadChildLineTest, DayFirstAndYearOnlyDatesAreRead) {
  EXPECT_EQ(Read("1750 12 Mar; John Smith, Mary Jones; Anne; W").date, "12 Mar");
  const ChildLine year_only = Read("1750; John Smith, Mary Jones; Anne; W");
  EXPECT_EQ(year_only.year, "1750");
  EXPECT_EQ(year_only.date, "");
  EXPECT_EQ(year_only.child, "Anne");
  EXPECT_EQ(Read("17; A, B; C").year, "17");
  EXPECT_EQ(Read("1750     ; A, B; C").date, "");
  EXPECT_EQ(Read("?75? ?? ???; A, B; C").date, "?? ???");
  EXPECT_EQ(Read("1701 Mar 5; A, B; C").date, "Mar 5");
}

TEST(ReadChildLineTest, NamesInTheDateFieldAsTheRegistersHaveThem) {
  ChildLine c = Read("1687 12 Mar John Smyth, Mary Jonson; Anne; Will[iam] Turner, Joan Hall [3] ");
  EXPECT_EQ(c.year, "1687");
  EXPECT_EQ(c.date, "12 Mar");
  EXPECT_EQ(c.husband, "John Smyth");
  EXPECT_EQ(c.wife, "Mary Jonson");
  EXPECT_EQ(c.child, "Anne");
  EXPECT_EQ(c.witnesses, "Will[iam] Turner, Joan Hall");  // the source tag is not a witness
  c = Read("1687 Mar 12 John Smyth, Mary Jonson; Anne [1] ");
  EXPECT_EQ(c.child, "Anne");
  EXPECT_EQ(c.witnesses, "");
  // A given name that looks like a month is a name after two date words.
  c = Read("1687 12 Mar May Cole, Ann Fry; Tom; W");
  EXPECT_EQ(c.husband, "May Cole");
  c = Read("1687 John Smyth, Mary Jonson; Anne; W");  // year alone
  EXPECT_EQ(c.date, "");
  EXPECT_EQ(c.husband, "John Smyth");
}

TEST(ReadChildLineTest, ChildFieldOfSeveralWords) {
  ChildLine c = Read("1750 Mar 12; John Smith, Mary Jones; Anne Marie; Will Turner");
  EXPECT_EQ(c.child, "Anne");
  EXPECT_EQ(c.witnesses, "Will Turner");  // not "arie; Will Turner"
  c = Read("1750 Mar 12; John Smith, Mary Jones; Anne Marie");
  EXPECT_EQ(c.witnesses, "");
  c = Read("1750 Mar 12; John Smith, Mary Jones;  Anne;  W");
  EXPECT_EQ(c.child, "Anne");
  EXPECT_EQ(c.witnesses, "W");
  c = Read("1750 Mar 12; John Smith, Mary Jones; \"Anne Marie\"; W");
  EXPECT_EQ(c.child, "\"Anne Marie\"");
  EXPECT_EQ(c.witnesses, "W");
}

TEST(ReadChildLineTest, LinesThatAreNotRead) {
  ChildLine c;
  for (const char* line : {"", "   ", "remark; with semicolon", "-1750 Mar 12; A, B; C", "1750 Mar 12 no semicolon",
                           "[1] St Mary - Baptisms", " "})
    EXPECT_FALSE(ReadChildLine(line, c)) << line;
}

const Lines kPage = {
    "[1] St Mary - Baptisms",
    " ",
    "1750 Mar 12; John Smith, Mary Jones; Anne; Will Turner, Joan Hall",
    "   a continuation line",
    "1752 12 Apr; John Smith, Mary Jones; Thomas; Peter Cole",
    "1754; Adam Fry, Joan Hall; Joan; Ann Fry",
    "remark",
};

// Lines 3 and 5 (1-based) are John Smith's and Mary Jones's; line 6 names
// another couple and is left out, and said so under the block.
TEST(ShowChildrenTest, WithoutWitnesses) {
  const ChildrenSummary s = ShowChildren(kPage, {2, 5}, false);
  EXPECT_EQ(s.husband_text, "John Smith");
  EXPECT_EQ(s.wife_text, "Mary Jones");
  EXPECT_EQ(s.list_entries, (Lines{"Anne bp. Mar 12 1750", "Thomas bp. 12 Apr 1752"}));
  EXPECT_EQ(s.page_lines, (Lines{"John Smith m. Mary Jones", "   Anne bp. Mar 12 1750", "   Thomas bp. 12 Apr 1752",
                                 "line 6 names another couple: left out", " "}));
  EXPECT_EQ(s.insert_at, 6);
}

TEST(ShowChildrenTest, WithWitnesses) {
  const ChildrenSummary s = ShowChildren(kPage, {0, 6}, true);
  EXPECT_EQ(s.page_lines, (Lines{"John Smith m. Mary Jones", "   Anne bp. Mar 12 1750; Will Turner, Joan Hall",
                                 "   Thomas bp. 12 Apr 1752; Peter Cole", "line 6 names another couple: left out",
                                 " "}));
  // The family box never shows witnesses or the leading blanks.
  EXPECT_EQ(s.list_entries, (Lines{"Anne bp. Mar 12 1750", "Thomas bp. 12 Apr 1752"}));
  EXPECT_EQ(s.insert_at, 7);  // after the last line of the page
}

// The couple is the first the lines name; a line naming another husband or
// another wife is another couple's child and never goes under them. A line
// naming one of the two alone, or only the one still unknown, is theirs.
TEST(ShowChildrenTest, TheFirstCoupleNamedTakesOnlyItsOwnChildren) {
  const struct {
    const char* what;
    Lines page;
    Lines block;
  } cases[] = {
      {"the two couples of a mixed selection",
       {"1775 12 Mar Jan Dupr\xe9, Anna Maria Delafontaine; Jan; W", "1783 21 Nov \xc9tienne Sch\xe4" "fer, Th\xe9r\xe8se Dupr\xe9; Pieter; W",
        "1775 14 Mar Jan Dupr\xe9; Maria; W"},
       {"Jan Dupr\xe9 m. Anna Maria Delafontaine", "   Jan bp. 12 Mar 1775", "   Maria bp. 14 Mar 1775",
        "line 2 names another couple: left out", " "}},
      {"the husband first, the wife from a later line",
       {"1750 Mar 12; John Smith; Anne", "1751 Mar 12; John Smith, Mary Jones; Tom", "1752 Mar 12; , Mary Jones; Joan"},
       {"John Smith m. Mary Jones", "   Anne bp. Mar 12 1750", "   Tom bp. Mar 12 1751", "   Joan bp. Mar 12 1752", " "}},
      {"another husband, then another wife",
       {"1750 Mar 12; John Smith, Mary Jones; Anne", "1751 Mar 12; Adam Fry, Mary Jones; Tom",
        "1752 Mar 12; John Smith, Joan Hall; Joan"},
       {"John Smith m. Mary Jones", "   Anne bp. Mar 12 1750", "line 2 names another couple: left out",
        "line 3 names another couple: left out", " "}},
      {"a mother alone, with 'singlewoman' read as the father's field",
       {"1760 Jan 3; Mary Smith singlewoman; Anne", "1761 Feb 4; Mary Smith singlewoman; Tom"},
       {"Mary Smith singlewoman m. ??? ????", "   Anne bp. Jan 3 1760", "   Tom bp. Feb 4 1761", " "}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ChildrenSummary s = ShowChildren(c.page, {0, static_cast<int>(c.page.size()) - 1}, false);
    EXPECT_EQ(s.page_lines, c.block);
    // The box lists the children the page lists.
    Lines listed;
    for (const std::string& line : c.block)
      if (line.rfind("   ", 0) == 0) listed.push_back(line.substr(3));
    EXPECT_EQ(s.list_entries, listed);
  }
}

TEST(ShowChildrenTest, FirstLineThatNamesThemWins) {
  const Lines page = {"1750 Mar 12; John Smith; Anne", "1751 Mar 12; Adam Fry, Mary Jones; Tom",
                      "1752 Mar 12; Peter Cole, Joan Hall; Joan"};
  // One line without a wife.
  const ChildrenSummary one = ShowChildren(page, {0, 0}, false);
  EXPECT_EQ(one.husband_text, "John Smith");
  EXPECT_EQ(one.wife_text, "??? ????");
  EXPECT_EQ(one.page_lines, (Lines{"John Smith m. ??? ????", "   Anne bp. Mar 12 1750", " "}));
}

TEST(ShowChildrenTest, NoRecordLines) {
  ChildrenSummary s = ShowChildren(kPage, {6, 6}, true);
  EXPECT_EQ(s.husband_text, "");
  EXPECT_EQ(s.wife_text, "");
  EXPECT_TRUE(s.list_entries.empty());
  EXPECT_EQ(s.page_lines, (Lines{"??? ???? m. ??? ????", " "}));
  EXPECT_EQ(s.insert_at, 7);
  s = ShowChildren({}, {0, 0}, false);
  EXPECT_EQ(s.insert_at, 0);
  EXPECT_EQ(s.page_lines.size(), 2u);
  s = ShowChildren(kPage, {40, 50}, false);  // beyond the page
  EXPECT_EQ(s.insert_at, 7);
  EXPECT_TRUE(s.list_entries.empty());
}

// Every record of a generated baptism register, against the record-line
// fields the search reads.
TEST(ShowChildrenTest, GeneratedRegisterLines) {
  qvtest::TempDir scratch;
  ASSERT_FALSE(scratch.Path().empty());
  const std::filesystem::path dir = scratch.path();
  regtools::GeneratorOptions options;
  options.seed = 5;
  options.out_dir = dir;
  options.files = 1;
  options.record_lines = 2000;
  const regtools::GeneratorResult result = regtools::GenerateRegisters(options);
  std::ifstream in(result.files.at(0).path, std::ios::binary);
  int read = 0;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string_view trimmed = appcore::TrimLine(line);
    if (!appcore::IsRecordLine(trimmed) || line.find('"') != std::string::npos) continue;
    const std::string_view rest = appcore::RestOf(trimmed);
    const size_t p1 = rest.find(';');
    if (p1 == std::string_view::npos || std::count(rest.begin(), rest.begin() + p1, ',') != 1) continue;
    const appcore::BaptismSpans spans = appcore::SplitBaptismSpans(rest);
    for (const std::string& page_line : {std::string(trimmed), std::string(trimmed) + " [1] "}) {
      ChildLine c;
      ASSERT_TRUE(ReadChildLine(page_line, c)) << page_line;
      EXPECT_EQ(c.year, appcore::YearOf(trimmed));
      EXPECT_EQ(c.date, appcore::TrimLine(appcore::DatePrefixOf(trimmed).substr(5))) << page_line;
      EXPECT_EQ(c.husband, appcore::TrimLine(spans.father.Of(rest))) << page_line;
      EXPECT_EQ(c.wife, appcore::TrimLine(spans.mother.Of(rest))) << page_line;
      const std::string_view children = appcore::TrimLine(spans.children.Of(rest));
      EXPECT_EQ(c.child, children.substr(0, children.find_first_of("; "))) << page_line;
      if (children.find(' ') == std::string_view::npos) {
        EXPECT_EQ(c.witnesses, appcore::TrimLine(spans.witness.Of(rest))) << page_line;
      }
    }
    ++read;
  }
  EXPECT_GT(read, 1000);
}

}  // namespace
}  // namespace family
