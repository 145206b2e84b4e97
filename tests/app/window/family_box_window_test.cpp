// The family box on the main window, offscreen: its stored components and
// wiring, "Set as children" then Add through the hidden buttons (the sex
// questions answered by the test's prompts, the tables read back by the
// checker's python reader), the arrows and the list wired to the box, and
// "Show family box" with its mark following the pages.
#include <QAction>
#include <QMenu>
#include <QToolButton>

#include "family/family_box.h"
#include "forms/small_dialogs.h"
#include "platform/dataset/datalink.h"
#include "platform/gui/text.h"
#include "platform/gui/up_down.h"
#include "tables/components/korvex_table.h"
#include "tables/components/sessions.h"
#include "tables/lib/allocator.h"
#include "tests/app/window/window_test_support.h"
#include "tests/family/family_test_support.h"

namespace window_test {
namespace {

using Rows = std::vector<std::string>;

class FamilyBoxWindowTest : public WindowTest {
protected:
  void TearDown() override {
    WindowTest::TearDown();
    korvex::FinalizeSessions();
    EXPECT_EQ(korvex::GetTotalMemoryAllocated(), 0);
  }
  memo::TVellMemo& Page() { return window->vm0->Memo(); }
  QPushButton* Button(const char* name) { return window->findChild<QPushButton*>(name); }
  // The sex dialog answers Female for the names listed, else Male.
  void AnswerSex(std::vector<std::string> female) {
    prompts.on_modal = [this, female](QDialog& form) -> int {
      auto* dlg = dynamic_cast<forms::TGetSexDlgForm*>(&form);
      if (dlg == nullptr) return QDialog::Accepted;
      asked.push_back(gui::ToCp1252(dlg->Label2->text()));
      for (const std::string& name : female)
        if (asked.back().find("'" + name + "'") != std::string::npos) return forms::kMrNo;
      return forms::kMrOk;
    };
  }
  Rows asked;
};

TEST_F(FamilyBoxWindowTest, StoredComponentsCaptionsAndHiddenStates) {
  EXPECT_EQ(window->UnwiredHandlers(), Rows{});
  EXPECT_TRUE(window->Panel3->isHidden());
  const std::pair<const char*, const char*> buttons[] = {
      {"Ffbtn", "F"},       {"Fmbtn", "M"},          {"Fsibbtn", "Sibling"}, {"Fspousebtn", "Spouse"},
      {"Wfbtn", "F"},       {"Wmbtn", "M"},          {"wifesibbtn", "Sibling"}, {"Wspousebtn", "Spouse"},
      {"BitBtn1", "Add"},   {"BitBtn2", "Add Child"}, {"Button2", "Married"}};
  for (auto [name, caption] : buttons) {
    QPushButton* b = Button(name);
    ASSERT_NE(b, nullptr) << name;
    EXPECT_EQ(b->text().toStdString(), caption) << name;
    EXPECT_TRUE(b->isEnabled()) << name;
    EXPECT_EQ(b->parentWidget(), window->Panel3) << name;
  }
  for (const char* name : {"UpDown1", "UpDown2"}) EXPECT_NE(dynamic_cast<gui::TUpDown*>(window->findChild<QWidget*>(name)), nullptr);
  EXPECT_NE(window->findChild<QLineEdit*>("Edit5"), nullptr);
  EXPECT_NE(window->findChild<QListWidget*>("ListBox2"), nullptr);
  for (const char* name : {"Showfamilybox1", "ShowFams1", "ClearData1", "Fillinfamily1"}) {
    QAction* item = window->Action(name);
    ASSERT_NE(item, nullptr) << name;
    EXPECT_FALSE(item->isVisible() || item->isEnabled()) << name;
  }
  EXPECT_TRUE(window->Action("Showfamilybox1")->isCheckable());
  EXPECT_FALSE(window->Action("Showfamilybox1")->isChecked());
  // The tables: closed, named, defined, with their sources.
  struct {
    korvex::TKORVEXTable* table;
    db::TDataSource* source;
    const char *name, *database;
    int fields;
  } tables[] = {{window->KORVEXTable1.get(), window->DataSource1.get(), "fams", "Fams", 18},
                {window->KORVEXTable2.get(), window->DataSource2.get(), "inds", "Inds", 12}};
  for (auto& t : tables) {
    EXPECT_FALSE(t.table->Active());
    EXPECT_EQ(t.table->TableName(), t.name);
    EXPECT_EQ(t.table->DatabaseName(), t.database);
    EXPECT_EQ(t.table->FieldDefs().Count(), t.fields);
    EXPECT_TRUE(t.table->StoreDefs);
    EXPECT_FALSE(t.table->AutoDisplayLabels() || t.table->CopyOnAppend);
    EXPECT_EQ(t.source->DataSet(), t.table);
  }
}

TEST_F(FamilyBoxWindowTest, SetAsChildrenThenAddStoresTheFamilyInTheSettingsFolder) {
  Page().SetText("Baptisms\r\n1701 3 Apr; Jan Smit, Maria Bos; Pieter; Kees Vos\r\n"
                 "1703 9 May; Jan Smit, Maria Bos; Anna\r\nend");
  Page().setSelStart(Page().ParStart(1));
  Page().setSelLength(Page().ParStart(3) - Page().ParStart(1));
  window->PopupMenu1->findChild<QAction*>("Setaschildren1")->trigger();
  AnswerSex({"Anna"});
  Button("BitBtn1")->click();  // hidden, as stored
  EXPECT_EQ(asked, (Rows{"Is 'Pieter' male or female?", "Is 'Anna' male or female?"}));
  EXPECT_EQ(prompts.messages, Rows{});
  // Two more families for the arrows: the husband's further spouses.
  for (const char* name : {"Grietje Vos", "Aaf Kok"}) {
    Page().SetText(name);
    Page().setSelStart(0);
    Page().setSelLength(static_cast<std::int32_t>(std::string(name).size()));
    Button("Fspousebtn")->click();
  }
  window->FamilyBox().showfam(1);
  window->UpDown1->DownButton()->click();
  EXPECT_EQ(window->Edit4->text().toStdString(), "Grietje Vos");
  window->UpDown1->DownButton()->click();
  EXPECT_EQ(window->Edit4->text().toStdString(), "Aaf Kok");
  window->UpDown1->UpButton()->click();
  EXPECT_EQ(window->Edit4->text().toStdString(), "Grietje Vos");
  // A click on a child with nothing selected: no family of its own yet.
  window->FamilyBox().showfam(1);
  Page().setSelLength(0);
  window->ListBox1->setCurrentRow(0);
  emit window->ListBox1->itemClicked(window->ListBox1->item(0));
  EXPECT_EQ(window->Edit3->text().toStdString(), "Jan Smit");

  window->KORVEXTable1->Close();
  window->KORVEXTable2->Close();
  const auto fams = family::testing::DumpTable(dir.string(), "fams");
  const auto inds = family::testing::DumpTable(dir.string(), "inds");
  EXPECT_EQ(fams.findings, Rows{});
  EXPECT_EQ(inds.findings, Rows{});
  using family::testing::FamRow;
  using family::testing::IndRow;
  EXPECT_EQ(fams.rows, (Rows{FamRow(1, 1, 2, {3, 4}), FamRow(2, 1, 5), FamRow(3, 1, 6)}));
  EXPECT_EQ(inds.rows, (Rows{IndRow(1, "Jan", "Smit", "M", 0, {1, 2, 3}), IndRow(2, "Maria", "Bos", "F", 0, {1}),
                             IndRow(3, "Pieter", "Smit", "M", 1, {}, "3 Apr 1701"),
                             IndRow(4, "Anna", "Smit", "F", 1, {}, "9 May 1703"), IndRow(5, "Grietje", "Vos", "F", 0, {2}),
                             IndRow(6, "Aaf", "Kok", "F", 0, {3})}));
}

TEST_F(FamilyBoxWindowTest, ShowFamilyBoxTogglesItsMarkAndFollowsThePages) {
  QAction* item = window->Action("Showfamilybox1");
  window->Showfamilybox1Click();
  EXPECT_TRUE(item->isChecked());
  EXPECT_TRUE(window->Panel3->isVisible());
  EXPECT_EQ(window->Panel3->parentWidget(), window->TabSheet1);
  window->Newsheet1Click();
  EXPECT_EQ(window->Panel3->parentWidget(), window->PageControl1->currentWidget());
  EXPECT_TRUE(window->Panel3->isVisible());
  window->Showfamilybox1Click();
  EXPECT_FALSE(item->isChecked());
  EXPECT_TRUE(window->Panel3->isHidden());
  // The drag handlers: a drag from the current memo only; a drop adds its text.
  EXPECT_TRUE(window->FfbtnDragOver(window->CurrentMemo()));
  EXPECT_FALSE(window->FfbtnDragOver(window->vm0 == window->CurrentMemo() ? nullptr : window->vm0));
  window->CurrentMemo()->Memo().SetText("Jan bp. 1 May 1700");
  window->CurrentMemo()->Memo().setSelStart(0);
  window->CurrentMemo()->Memo().setSelLength(3);
  window->FfbtnDragDrop(window->ListBox1, window->CurrentMemo());
  EXPECT_EQ(Items(window->ListBox1), Rows{"Jan"});
}

}  // namespace
}  // namespace window_test
