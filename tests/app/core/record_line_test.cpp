#include "app/core/record_line.h"

#include <gtest/gtest.h>

#include <climits>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core_test_support.h"
#include "tools/record_line_rules.h"

namespace appcore {
namespace {

TEST(FileKinds, ComeFromTheEndingOfTheName) {
  EXPECT_EQ(KindFromName("stmary_bap.txt"), FileKind::kBaptisms);
  EXPECT_EQ(KindFromName("STMARY_BAP.TXT"), FileKind::kBaptisms);
  for (const char* name : {"a_marr.txt", "a_memb.txt", "a_will.txt", "a_pass.txt", "A_Pass.Txt"})
    EXPECT_EQ(KindFromName(name), FileKind::kOther) << name;
  EXPECT_EQ(KindFromName("notes.txt"), FileKind::kNone);
  EXPECT_EQ(KindFromName("a_bap.txt.bak"), FileKind::kNone);
  EXPECT_EQ(KindFromName("bap.txt"), FileKind::kNone);
  EXPECT_EQ(KindFromName("a_marr.txt_bap.txt"), FileKind::kBaptisms);
  EXPECT_EQ(KindFromName("a_bap.txt_marr.txt"), FileKind::kOther);
}

TEST(RecordLines, TrimDropsControlCharactersAndBlanksAtBothEnds) {
  EXPECT_EQ(TrimLine(std::string("\t 1650 x\x01\r", 10)), "1650 x");
  EXPECT_EQ(TrimLine(std::string("\0a b\0", 5)), "a b");
  EXPECT_EQ(TrimLine("   "), "");
}

TEST(RecordLines, BeginWithADigitOrQuestionMark) {
  EXPECT_TRUE(IsRecordLine("1650 03 Mar John"));
  EXPECT_TRUE(IsRecordLine("?650 03 Mar John"));
  EXPECT_TRUE(IsRecordLine("0"));
  EXPECT_FALSE(IsRecordLine(""));
  EXPECT_FALSE(IsRecordLine("-1650 03 Mar"));
  EXPECT_FALSE(IsRecordLine("Anno Domini 1650"));
  EXPECT_FALSE(IsRecordLine("[1] St Mary"));
  EXPECT_FALSE(IsRecordLine("-----"));
  EXPECT_FALSE(IsRecordLine("  see above"));
}

TEST(RecordLines, YearDatePrefixAndRest) {
  const std::string line = "1687 12 Mar John Smyth, Mary Jonson; Anne; Joan Hall";
  EXPECT_EQ(YearOf(line), "1687");
  EXPECT_EQ(DatePrefixOf(line), "1687 12 Mar ");
  EXPECT_EQ(RestOf(line), "John Smyth, Mary Jonson; Anne; Joan Hall");
  EXPECT_EQ(RestOf("1687 12 Mar "), "");
  EXPECT_EQ(YearOf("17"), "17");
}

TEST(RecordLines, PeriodsCompareTheYearAsText) {
  EXPECT_EQ(PeriodOf("1699 01 Jan"), kBefore1700);
  EXPECT_EQ(PeriodOf("1700 01 Jan"), kFrom1700);
  EXPECT_EQ(PeriodOf("1701"), kFrom1700);
  EXPECT_EQ(PeriodOf("?689 01 Jan"), kFrom1700);  // '?' sorts after every digit
  EXPECT_EQ(PeriodOf("16?5 01 Jan"), kBefore1700 | kFrom1700);
  EXPECT_EQ(PeriodOf("17"), kBefore1700 | kFrom1700);
  EXPECT_EQ(PeriodOf("169"), kBefore1700);
  // Every year of up to four bytes drawn from characters around the bounds
  // (a zero byte and a high one among them) against the text comparison.
  const std::string chars("016789?\0\xFF ", 10);
  std::string year;
  for (int n = 0; n <= 4; ++n) {
    int total = 1;
    for (int k = 0; k < n; ++k) total *= static_cast<int>(chars.size());
    for (int code = 0; code < total; ++code) {
      year.clear();
      for (int k = 0, c = code; k < n; ++k, c /= static_cast<int>(chars.size()))
        year.push_back(chars[static_cast<size_t>(c) % chars.size()]);
      const std::string_view y(year);
      const uint8_t expected = static_cast<uint8_t>((y < std::string_view("1700") ? kBefore1700 : 0) |
                                                    (y > std::string_view("1699") ? kFrom1700 : 0));
      ASSERT_EQ(PeriodOf(year), expected) << testing::PrintToString(year);
      if (n == 4) {
        ASSERT_EQ(PeriodOf(year + " 01 Jan"), expected) << testing::PrintToString(year);
      }
    }
  }
  // A year in both periods is kept only while both boxes are ticked.
  EXPECT_TRUE(PassesPeriod(kBefore1700 | kFrom1700, true, true));
  EXPECT_FALSE(PassesPeriod(kBefore1700 | kFrom1700, true, false));
  EXPECT_FALSE(PassesPeriod(kBefore1700 | kFrom1700, false, true));
  EXPECT_TRUE(PassesPeriod(kFrom1700, false, true));
  EXPECT_FALSE(PassesPeriod(kBefore1700, false, true));
}

struct BaptismCase {
  const char* what;
  const char* rest;
  const char* father;
  const char* mother;
  const char* children;
  const char* witness;
};

const BaptismCase kBaptismCases[] = {
    {"the letter example", "A, B; C; D", "A", " B", "C;", " D"},
    {"without a second ';' the witness is the whole rest", "A, B; C", "A", " B", "", "A, B; C"},
    {"a comma right before the ';' gives no mother", "A B,; C; D", "A B", "", "C;", " D"},
    {"p1 - c = 2 gives no mother", "A B, ; C; D", "A B", "", "C;", " D"},
    {"p1 - c = 3 gives a mother", "A B, X; C; D", "A B", " X", "C;", " D"},
    {"a father without a comma runs to the ';'", "John Smith; Anne; Joan Hall", "John Smith", "", "Anne;",
     " Joan Hall"},
    {"without any ';' the last comma splits the parents", "John Smith, Mary Jones, Ann", "John Smith, Mary Jones",
     "", "", "John Smith, Mary Jones, Ann"},
    {"without ';' or ',' there is no father", "John Smith", "", "", "", "John Smith"},
    {"brackets are dropped from father, mother and witness only",
     "Rich[ard] Jones, Ann [Smyth]; Ma[ry]; Will[iam] Brown", "Richard Jones", " Ann Smyth", "Ma[ry];",
     " William Brown"},
    {"a field with a ']' but no '[' keeps it", "A] B, C]; D]; E]", "A] B", " C]", "D];", " E]"},
    {"brackets go only from the fields that hold a '['", "Rich[ard] B], Ann]; D; [W]]", "Richard B", " Ann]", "D;",
     " W"},
    {"a second comma leaves the father with the first", "Smith, John, Mary; Anne", "Smith, John", " Mary", "",
     "Smith, John, Mary; Anne"},
    {"a comma right before the first ';' with a witness", "Smith John,; Anne; W", "Smith John", "", "Anne;", " W"},
};

TEST(BaptismSplit, FourFieldsOfEachCase) {
  for (const BaptismCase& c : kBaptismCases) {
    SCOPED_TRACE(c.what);
    const BaptismFields f = SplitBaptismRest(c.rest);
    EXPECT_EQ(f.father, c.father);
    EXPECT_EQ(f.mother, c.mother);
    EXPECT_EQ(f.children, c.children);
    EXPECT_EQ(f.witness, c.witness);
    // The rules written out independently agree.
    const regtools_test::BaptismFields ref = regtools_test::SplitBaptismRest(c.rest);
    EXPECT_EQ(f.father, ref.father);
    EXPECT_EQ(f.mother, ref.mother);
    EXPECT_EQ(f.children, ref.children);
    EXPECT_EQ(f.witness, ref.witness);
  }
}

TEST(BaptismSplit, ShortAndOddRestsStayInBounds) {
  for (const char* rest : {"", ";", ";;", ",;", "a;", ";b", ",", "a,;;", ";;;;", ", ; ;"}) {
    const BaptismSpans s = SplitBaptismSpans(rest);
    const std::string_view r(rest);
    for (const Span& span : {s.father, s.mother, s.children, s.witness})
      EXPECT_LE(span.pos + span.len, r.size()) << rest;
  }
  EXPECT_EQ(SplitBaptismRest(";;").children, "");
  EXPECT_EQ(SplitBaptismRest("a; ;").children, ";");
}

TEST(CoupleSplit, HusbandAndWifeUpToTheirFirstComma) {
  const CoupleParts p = SplitCoupleRest("Thomas Baker wid, yeoman; Mary Cole, widow");
  EXPECT_EQ(p.husband, "Thomas Baker wid");
  EXPECT_EQ(p.wife, " Mary Cole");
}

TEST(CoupleSplit, BracketsGoFirstAndAMissingSemicolonGivesNoWife) {
  EXPECT_EQ(SplitCoupleRest("Rich[ard] Clerk, weaver; Susan [Clerk]").husband, "Richard Clerk");
  EXPECT_EQ(SplitCoupleRest("Rich[ard] Clerk, weaver; Susan [Clerk]").wife, " Susan Clerk");
  const CoupleParts p = SplitCoupleRest("Thomas Baker, yeoman");
  EXPECT_EQ(p.husband, "Thomas Baker");
  EXPECT_EQ(p.wife, "");
  EXPECT_EQ(SplitCoupleRest("Thomas Baker; Mary; Cole, x").wife, " Mary; Cole");
  EXPECT_EQ(SplitCoupleRest("Brown, Wm [of York]; Green, Ann").husband, "Brown");
  EXPECT_EQ(SplitCoupleRest("Brown, Wm [of York]; Green, Ann").wife, " Green");
}

// Every record line of the sample registers splits as the rules written out
// independently for the generator's tests say.
TEST(RecordLines, SplitsAgreeWithTheIndependentRulesOnTheSampleRegisters) {
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QV_SOURCE_DIR "/samples/registers")) {
    const std::string name = entry.path().filename().string();
    const FileKind kind = KindFromName(name);
    ASSERT_NE(kind, FileKind::kNone) << name;
    const auto lines = appcore_test::ReadBytes(entry.path().string());
    std::istringstream in(lines);
    std::string line;
    std::getline(in, line);  // title
    while (std::getline(in, line)) {
      const std::string trimmed = regtools_test::TrimControls(line);
      EXPECT_EQ(std::string(TrimLine(line)), trimmed);
      EXPECT_EQ(IsRecordLine(TrimLine(line)), regtools_test::IsRecordLine(trimmed)) << line;
      if (!IsRecordLine(trimmed)) continue;
      const std::string_view rest = RestOf(trimmed);
      if (kind == FileKind::kBaptisms) {
        const BaptismFields ours = SplitBaptismRest(rest);
        const regtools_test::BaptismFields ref = regtools_test::SplitBaptismRest(rest);
        EXPECT_EQ(ours.father, ref.father) << line;
        EXPECT_EQ(ours.mother, ref.mother) << line;
        EXPECT_EQ(ours.children, ref.children) << line;
        EXPECT_EQ(ours.witness, ref.witness) << line;
      } else {
        const CoupleParts ours = SplitCoupleRest(rest);
        const regtools_test::CoupleParts ref = regtools_test::SplitCoupleRest(rest);
        EXPECT_EQ(ours.husband, ref.husband) << line;
        EXPECT_EQ(ours.wife, ref.wife) << line;
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 1500);
}

TEST(HitLines, CarryTheSourceTagWhileCodesAreShown) {
  EXPECT_EQ(SourceTag(3, true), " [3] ");
  EXPECT_EQ(SourceTag(3, false), "");
  EXPECT_EQ(HitLine("1650 03 Mar A, B; C; D", 12, true), "1650 03 Mar A, B; C; D [12] ");
  EXPECT_EQ(HitLine("1650 03 Mar A, B; C; D", 12, false), "1650 03 Mar A, B; C; D");
  // The tag written in place spells what SourceTag spells, for any number.
  for (const int n : {0, 1, 9, 10, 99, 100, 101, 999, 1000, 65535, 123456789, INT_MAX, -1, -10, INT_MIN})
    for (const bool shown : {true, false}) {
      const std::string line = "1650 03 Mar John Baker, Mary Cole; Anne; Will Baker";
      const std::string hit = HitLine(line, n, shown);
      EXPECT_EQ(hit, line + SourceTag(n, shown)) << n;
      EXPECT_EQ(hit.capacity(), hit.size()) << n;  // no room to spare
      // The same from a tag made once for many lines.
      const std::string tagged = HitLine(line, SourceTag(n, shown));
      EXPECT_EQ(tagged, hit) << n;
      EXPECT_EQ(tagged.capacity(), tagged.size()) << n;
    }
}

}  // namespace
}  // namespace appcore
