// The report commands on real family tables: GEDCOM lines of the tables,
// the report appended to the hidden memo and given to the box, the Henry
// list of 200 random forests against python3, loops under the time limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "family/gedcom_composer.h"
#include "family/report_commands.h"
#include "family_fixture.h"
#include "family_store.h"
#include "family_test_support.h"
#include "memo/vell_memo.h"

namespace {

using family::testing::FamilyTest;
using familytest::MemoryFamilies;
using familytest::Store;
using Lines = std::vector<std::string>;

class ReportCommands : public FamilyTest {
protected:
  family::TFamilyReports Reports() { return family::TFamilyReports(Box(), View()); }
  Lines Gedcom(const MemoryFamilies& m) {
    Store(Box().Records(), m.tables);
    memo::TVellMemo ged;
    Reports().CreateGedcom(ged, "jan");
    Lines all = family::MemoLines(ged);
    EXPECT_GE(all.size(), 12u);
    EXPECT_EQ(all.back(), "0 TRLR");
    return Lines(all.begin() + 11, all.end() - 1);
  }
};

TEST_F(ReportCommands, GedcomLinesOfTheTables) {
  EXPECT_EQ(Gedcom(MemoryFamilies()
                       .P(1, "Jan", "Smit", "M", "", 0, {1})
                       .P(2, "Maria", "Jansen", "F", "", 0, {1})
                       .P(3, "Pieter Jan", "Smit", "M", "1 Mar 1701", 1, {0, 2})
                       .P(5, "(blank)", "Smit", "F")
                       .F(1, 1, 2, {3})
                       .F(2, 0, 0, {0, 5})),
            (Lines{"0 @I1@ INDI", "1 NAME Jan /Smit/", "1 SEX M", "1 FAMS @F1@", "0 @I2@ INDI", "1 NAME Maria /Jansen/",
                   "1 SEX F", "1 FAMS @F1@", "0 @I3@ INDI", "1 NAME Pieter Jan /Smit/", "1 SEX M", "1 FAMC @F1@",
                   "0 @I5@ INDI", "1 NAME /Smit/", "1 SEX F", "0 @F1@ FAM", "1 HUSB @I1@", "1 WIFE @I2@",
                   "1 CHIL @I3@", "0 @F2@ FAM"}));
}

TEST_F(ReportCommands, GedcomOfEmptyTablesAndTheOldHusband999) {
  EXPECT_EQ(Gedcom(MemoryFamilies()), Lines{});
  // Family 1's 999 is person 999 (who lists it); family 2's names nobody.
  MemoryFamilies m;
  m.P(999, "Jan", "Smit", "M", "", 0, {1}).P(1000, "Eva", "Mol", "F", "", 0, {2});
  m.F(1, 999, 0).F(2, 999, 1000);
  EXPECT_EQ(Gedcom(m), (Lines{"0 @I999@ INDI", "1 NAME Jan /Smit/", "1 SEX M", "1 FAMS @F1@", "0 @I1000@ INDI",
                              "1 NAME Eva /Mol/", "1 SEX F", "1 FAMS @F2@", "0 @F1@ FAM", "1 HUSB @I999@", "0 @F2@ FAM",
                              "1 WIFE @I1000@"}));
}

TEST_F(ReportCommands, ShowFamilyAppendsAndFillsTheBox) {
  MemoryFamilies m;
  m.P(1, "Jan", "Smit", "M", "", 0, {1}).P(2, "Maria", "Jansen", "F", "", 0, {1});
  m.P(3, "Pieter", "Smit", "M", "1 Mar 1701", 1).P(4, "Lena", "Smit", "F", "2 Apr 1703", 1);
  m.F(1, 1, 2, {3, 4});
  Store(Box().Records(), m.tables);
  const Lines report = {"[ Subject (1) ]", "Jan Smit", "", "", "SPOUSE: Maria Jansen ", " SON Pieter Smit",
                        " DAUGHTER Lena Smit"};
  memo::TVellMemo ged;
  View().entries = {"Kees bp. 1 Jan 1700"};
  Box().State().child_ids = {9};
  Box().State().current_subject = 1;
  // Two runs in a row: the second report follows the first.
  ASSERT_TRUE(Reports().ShowFamily(ged));
  ASSERT_TRUE(Reports().ShowFamily(ged));
  Lines twice = report;
  twice.insert(twice.end(), report.begin(), report.end());
  EXPECT_EQ(family::MemoLines(ged), twice);
  EXPECT_EQ(View().entries, (Lines{"Kees bp. 1 Jan 1700", "Pieter  bp. 1 Mar 1701", "Lena  bp. 2 Apr 1703",
                                   "Pieter  bp. 1 Mar 1701", "Lena  bp. 2 Apr 1703"}));
  EXPECT_EQ(Box().State().child_ids, (std::vector<int>{9, 3, 4, 3, 4}));
  EXPECT_EQ(View().wife, "Maria Jansen");
  EXPECT_EQ(Box().State().wife_id, 2);
  EXPECT_EQ(Box().State().current_subject, 1);
  // After "Create GEDCOM" the report replaces the GEDCOM lines.
  Reports().CreateGedcom(ged, "jan");
  EXPECT_TRUE(family::IsGedcomText(family::MemoLines(ged)));
  ASSERT_TRUE(Reports().ShowFamily(ged));
  EXPECT_EQ(family::MemoLines(ged), report);
  // Without a subject, or with one not in the table, nothing changes.
  for (int subject : {0, 42}) {
    Box().State().current_subject = subject;
    EXPECT_FALSE(Reports().ShowFamily(ged));
    EXPECT_FALSE(Reports().HenryList(ged));
    EXPECT_EQ(family::MemoLines(ged), report);
    EXPECT_EQ(Box().State().current_subject, subject);
  }
  EXPECT_EQ(View().messages, (Lines{"Could not locate Individual #42", "Could not locate Individual #42"}));
}

// "Show family" on a woman puts her husband into the husband's box and her
// into the wife's: the wife's Spouse button then gives her a new husband,
// never stores him as a wife. A man on the wife's side (or a woman on the
// husband's) is refused with nothing stored.
TEST_F(ReportCommands, ShowFamilyOnAWomanKeepsEachSpouseOnTheirSide) {
  using family::Side;
  MemoryFamilies m;
  m.P(1, "Jan", "Smit", "M", "", 0, {1}).P(2, "Maria", "Jansen", "F", "", 0, {1});
  m.P(3, "Pieter", "Smit", "M", "1 Mar 1701", 1);
  m.F(1, 1, 2, {3});
  Store(Box().Records(), m.tables);
  memo::TVellMemo ged;
  Box().State().husband_id = 7;
  Box().State().current_subject = 2;
  ASSERT_TRUE(Reports().ShowFamily(ged));
  EXPECT_EQ(family::MemoLines(ged)[4], "SPOUSE: Jan Smit ");
  EXPECT_EQ(View().husband, "Jan Smit");
  EXPECT_EQ(View().wife, "Maria Jansen");
  EXPECT_EQ(Box().State().husband_id, 1);
  EXPECT_EQ(Box().State().wife_id, 2);
  View().SelectText("Piet Mol");
  Box().SpouseClick(Side::kWife);
  const std::optional<family::FamilyRecord> second = Box().Records().ReadFamily(2);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->wife, 2);
  ASSERT_NE(second->husband, 0);
  const std::optional<family::IndividualRecord> husband = Box().Records().ReadIndividual(second->husband);
  ASSERT_TRUE(husband);
  EXPECT_EQ(husband->fname + " " + husband->lname + " " + husband->sex, "Piet Mol M");
  // The wrong side, either way: refused, nothing stored.
  for (const Side side : {Side::kWife, Side::kHusband}) {
    View().messages.clear();
    Box().State().husband_id = 2;
    Box().State().wife_id = 1;
    View().SelectText("Kees Bos");
    Box().SpouseClick(side);
    EXPECT_EQ(Box().LastOutcome(), family::TFamilyBox::Outcome::kRefused);
    EXPECT_EQ(View().messages, (Lines{family::WrongSideText(side == Side::kWife ? "Jan Smit" : "Maria Jansen", side)}));
    EXPECT_FALSE(Box().Records().ReadFamily(3));
  }
  EXPECT_EQ(family::WrongSideText("Jan Smit", Side::kWife),
            "\"Jan Smit\" is a man: he cannot be the wife of a new family. Nothing was stored.");
}

TEST_F(ReportCommands, LoopsEndUnderTheTimeLimit) {
  // A self-parent and a 2-cycle in one pair of tables.
  MemoryFamilies m;
  m.P(1, "Jan", "Smit", "M", "", 1, {1}).P(2, "Piet", "Smit", "M", "", 3, {2}).P(3, "Klaas", "Smit", "M", "", 2, {3});
  m.F(1, 1, 0, {1}).F(2, 2, 0, {3}).F(3, 3, 0, {2});
  Store(Box().Records(), m.tables);
  memo::TVellMemo list;
  Box().State().current_subject = 1;
  ASSERT_TRUE(Reports().HenryList(list));
  EXPECT_EQ(family::MemoLines(list).back(), "      loop: Jan SMIT stands above as the subject; not listed again");
  Box().State().current_subject = 2;
  ASSERT_TRUE(Reports().HenryList(list));
  EXPECT_EQ(family::MemoLines(list), (Lines{" ", "Modified Henry list for Piet Smit", " ", " ", "  Piet SMIT",
                                            "    1  Klaas", " ", "1  Klaas SMIT", "    11  Piet",
                                            "      loop: Piet SMIT stands above as the subject; not listed again"}));
}

// A forest file as henry_reference.py writes it; its subject.
int LoadForest(const std::string& text, MemoryFamilies& m) {
  int subject = 0;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string row = text.substr(at, end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    std::vector<std::string> f;
    for (size_t b = 0;;) {
      const size_t tab = row.find('\t', b);
      f.push_back(row.substr(b, tab - b));
      if (tab == std::string::npos) break;
      b = tab + 1;
    }
    if (f[0] == "S") subject = std::stoi(f[1]);
    if (f[0] == "P") {
      m.P(std::stoi(f[1]), f[2], f[3], f[4], f[5], std::stoi(f[6]));
      for (int s = 0; s < family::kSpouseSlots; ++s) m.tables.persons.back().fams[s] = std::stoi(f[7 + s]);
    }
    if (f[0] == "F") {
      m.F(std::stoi(f[1]), std::stoi(f[2]), std::stoi(f[3]));
      for (int s = 0; s < family::kChildSlots; ++s) m.tables.families.back().children[s] = std::stoi(f[4 + s]);
    }
  }
  return subject;
}

// 200 seeded random forests of up to 8 generations (several spouse
// families, shared spouses, cousin marriages, childless couples, up to 15
// children a family and 35 a person), stored through the table component,
// listed, and compared with python3's page byte for byte.
TEST_F(ReportCommands, HenryListOfRandomForestsAgainstPython) {
  const std::string cmd = "python3 " QV_SOURCE_DIR "/tests/family/henry_reference.py " + dir.Path() + " 1 200";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  size_t lines = 0;
  for (int seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    MemoryFamilies m;
    const int subject = LoadForest(qvtest::ReadFileBytes(dir.File("forest_" + std::to_string(seed) + ".txt")), m);
    // New tables: numbers start at 1 again.
    for (korvex::TKORVEXTable* t : {&env->families, &env->individuals}) {
      t->Close();
      if (t->Exists()) t->DeleteTable();
    }
    Store(Box().Records(), m.tables);
    Box().State().current_subject = subject;
    memo::TVellMemo list;
    ASSERT_TRUE(Reports().HenryList(list));
    std::string got;
    for (const std::string& line : family::MemoLines(list)) got += line + "\n";
    ASSERT_EQ(got, qvtest::ReadFileBytes(dir.File("page_" + std::to_string(seed) + ".txt")));
    lines += family::MemoLines(list).size();
  }
  EXPECT_TRUE(View().messages.empty());
  EXPECT_GT(lines, 10000u);
}

}  // namespace
