// The family reports on the window: "Show family", "Henry list" and
// "Create GEDCOM" over the tables in the settings folder; the hidden memo
// GedEdit as the current memo ("Save as" writes GEDCOM lines as a GEDCOM
// file and reports as text, "Copy to new page" copies it, a page change
// ends it); random faulty tables through "Create GEDCOM", GedEditEnter and
// "Save as" to a file that tools/gedcheck.py and Gramps accept (seeds 1-10
// here, 11-50 with the long tests).
#include "family/family_box.h"
#include "family/faulty_tables.h"
#include "family/family_store.h"
#include "family/gedcom_composer.h"
#include "family/report_commands.h"
#include "support/run_command.h"
#include "textutil/system.h"
#include "window_test_support.h"

namespace window_test {
namespace {

using Lines = std::vector<std::string>;

class GedEditWindow : public WindowTest {
protected:
  Lines Gedcom() {
    family::FamilyTables t;
    family::PersonView& p = t.persons.emplace_back();
    p.pid = 1;
    p.fname = "J\xe9r\x9ame";  // Jérôme-like letters beyond ASCII
    p.lname = "de@Wit";
    p.sex = "M";
    return family::ComposeGedcom(t, "tester");
  }
};

TEST_F(GedEditWindow, SaveAsWritesGedcomLinesAsAGedcomFile) {
  const Lines lines = Gedcom();
  family::SetMemoLines(*window->GedEdit, lines);
  WriteFile(dir / "out.hlw", "old words");
  window->GedEditEnter();
  ASSERT_TRUE(window->GedEditCurrent());
  // A refused file leaves everything as it was and says why.
  prompts.save_names = {(dir / "missing" / "out.ged").string(), (dir / "out.ged").string()};
  window->Saveas1Click();
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_FALSE(fs::exists(dir / "missing"));
  window->Saveas1Click();
  EXPECT_EQ(prompts.proposed_names, (Lines{"family.ged", "family.ged"}));
  EXPECT_EQ(prompts.save_dirs.back(), dir.string());
  const std::string bytes = ReadFile(dir / "out.ged");
  EXPECT_EQ(bytes, family::GedcomFileBytes(lines));
  EXPECT_NE(bytes.find("1 NAME J\xc3\xa9r\xc5\xa1me /de@@Wit/\r\n"), std::string::npos);
  EXPECT_EQ(bytes.substr(0, 3), "0 H");  // no byte order mark
  EXPECT_EQ(ReadFile(dir / "out.hlw"), "old words");  // no side file of its own
  EXPECT_EQ(Pages(), 1);
}

TEST_F(GedEditWindow, ReportsSaveAsTextAndCopyToANewPage) {
  const Lines report = {"[ Subject (1) ]", "Jan Smit", "", "", "SPOUSE: Maria Jansen "};
  family::SetMemoLines(*window->GedEdit, report);
  window->GedEditEnter();
  prompts.save_names = {(dir / "report.txt").string()};
  window->Savetextfile1Click();
  EXPECT_EQ(prompts.proposed_names, Lines{"family.txt"});
  EXPECT_EQ(ReadFile(dir / "report.txt"), "[ Subject (1) ]\r\nJan Smit\r\n\r\n\r\nSPOUSE: Maria Jansen ");
  // Copy to new page takes GedEdit's lines; the new page ends GedEdit's turn.
  window->Copytonewsheet1Click();
  ASSERT_EQ(Pages(), 2);
  EXPECT_EQ(CurrentLines(), report);
  EXPECT_FALSE(window->GedEditCurrent());
  // After a page change "Save as" saves the page again.
  window->GedEditEnter();
  window->PageControl1->setCurrentIndex(0);
  Settle();
  EXPECT_FALSE(window->GedEditCurrent());
  prompts.save_names = {(dir / "page.txt").string()};
  window->Saveas1Click();
  EXPECT_EQ(ReadFile(dir / "page.txt"), "");
}

TEST_F(GedEditWindow, ReportsListAndGedcomFromTheTables) {
  EXPECT_TRUE(window->UnwiredHandlers().empty());
  familytest::MemoryFamilies m;
  m.P(1, "Jan", "Smit", "M", "", 0, {1}).P(2, "Maria", "Jansen", "F", "", 0, {1});
  m.P(3, "Pieter", "Smit", "M", "1 Mar 1701", 1).F(1, 1, 2, {3});
  familytest::Store(window->FamilyBox().Records(), m.tables);
  // No subject yet: the page stays as it was.
  window->Showfamily1Click();
  window->Henrylist1Click();
  EXPECT_EQ(CurrentLines(), Lines{""});
  window->FamilyBox().State().current_subject = 1;
  const Lines report = {"[ Subject (1) ]", "Jan Smit", "", "", "SPOUSE: Maria Jansen ", " SON Pieter Smit"};
  window->Showfamily1Click();
  EXPECT_EQ(CurrentLines(), report);
  window->Henrylist1Click();
  EXPECT_EQ(CurrentLines(), (Lines{" ", "Modified Henry list for Jan Smit", " ", " ", "  Jan SMIT m. Maria JANSEN",
                                   "    1  Pieter bp. 1 Mar 1701"}));
  window->CreateGEDCOM1Click();
  const Lines ged = family::MemoLines(*window->GedEdit);
  ASSERT_GT(ged.size(), 11u);
  EXPECT_EQ(ged[0], "0 HEAD");
  EXPECT_EQ(ged[10], "1 NAME " + (textutil::GetUser().empty() ? std::string("Unknown") : textutil::GetUser()));
  EXPECT_EQ(ged.back(), "0 TRLR");
  EXPECT_EQ(CurrentLines().size(), 6u);  // the page keeps the list
  // A report after the GEDCOM lines replaces them; the page shows it.
  window->Showfamily1Click();
  EXPECT_EQ(family::MemoLines(*window->GedEdit), report);
  EXPECT_EQ(CurrentLines(), report);
  EXPECT_TRUE(prompts.messages.empty());
}

class GedcomGramps : public GedEditWindow, public ::testing::WithParamInterface<unsigned> {
protected:
  void Check(unsigned seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const familytest::MemoryFamilies m = familytest::FaultyTables(seed);
    familytest::Store(window->FamilyBox().Records(), m.tables);
    window->CreateGEDCOM1Click();
    window->GedEditEnter();
    const std::string path = (dir / "tables.ged").string(), expect = (dir / "tables.expect").string();
    prompts.save_names = {path};
    window->Saveas1Click();
    WriteFile(expect, familytest::Expectation(m));
    qvtest::CommandResult check = qvtest::RunShell("python3 '" QV_SOURCE_DIR "/tools/gedcheck.py' '" + path + "' 2>&1");
    EXPECT_EQ(check.status, 0) << check.output;
    qvtest::CommandResult gramps =
        qvtest::RunShell("python3 '" QV_SOURCE_DIR "/tools/gramps_check.py' '" + path + "' '" + expect + "' 2>&1");
    EXPECT_EQ(gramps.status, 0) << gramps.output;
  }
};

TEST_P(GedcomGramps, CheckerAndGrampsFindTheTables) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Seeds, GedcomGramps, ::testing::Range(1u, 11u));

class GedcomGrampsLong : public GedcomGramps {};
TEST_P(GedcomGrampsLong, DISABLED_CheckerAndGrampsFindTheTables) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Seeds, GedcomGrampsLong, ::testing::Range(11u, 51u));

}  // namespace
}  // namespace window_test
