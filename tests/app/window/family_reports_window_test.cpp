// The hidden memo GedEdit as the current memo: "Save as" writes GEDCOM
// lines as a GEDCOM file and reports as text, "Copy to new page" copies it,
// a page change ends it.
#include "family/gedcom_composer.h"
#include "family/report_commands.h"
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

}  // namespace
}  // namespace window_test
