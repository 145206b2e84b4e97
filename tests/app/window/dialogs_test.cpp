// The small dialogs and the commands behind them: the about box, the sex
// question, "Highlight words" (exact and fuzzy), "Change font", "Wordwrap",
// and "Set as children" with and without witnesses.
#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "app/small_dialogs.h"
#include "forms/small_dialogs.h"
#include "textutil/phonetic.h"
#include "window_test_support.h"

using namespace window_test;

namespace {

TEST_F(WindowTest, AboutBoxShowsTheVersion) {
  std::string shown_version, caption;
  prompts.on_modal = [&](QDialog& form) {
    form.show();
    auto& box = dynamic_cast<app::TAboutBox&>(form);
    shown_version = box.Version->text().toStdString();
    caption = box.windowTitle().toStdString();
    EXPECT_EQ(box.ProductName->text(), "Quorvane");
    EXPECT_TRUE(box.OKButton->isDefault());
    QTest::mouseClick(box.OKButton, Qt::LeftButton);
    return box.result();
  };
  const int activations = window->ActivationCount();
  window->Action("About1")->trigger();
  EXPECT_EQ(shown_version, "Version 1.0");
  EXPECT_EQ(caption, "About Quorvane");
  EXPECT_EQ(prompts.modal_count, 1);
  // A form of the program: closing it activates the main window again.
  EXPECT_EQ(window->ActivationCount(), activations + 1);
}

TEST_F(WindowTest, SexDialogAnswersMaleFemaleAndCancel) {
  forms::TGetSexDlgForm& dlg = window->GetSexDlg();
  EXPECT_EQ(dlg.windowTitle(), "Sex");
  EXPECT_EQ(dlg.Label1->text(), "Which sex is:");
  EXPECT_EQ(dlg.OKBtn->text(), "Male");
  EXPECT_EQ(dlg.CancelBtn->text(), "Female");
  auto answer = [&](const std::function<void()>& act) {
    int result = -1;
    QTimer::singleShot(0, &dlg, [&] {
      act();
      if (dlg.isVisible()) dlg.done(99);
    });
    result = dlg.exec();
    return result;
  };
  dlg.Label2->setText("John Smith");
  EXPECT_EQ(answer([&] { QTest::mouseClick(dlg.OKBtn, Qt::LeftButton); }), 1);     // mrOk
  EXPECT_EQ(answer([&] { QTest::mouseClick(dlg.CancelBtn, Qt::LeftButton); }), 7); // mrNo
  EXPECT_EQ(answer([&] { QTest::keyClick(&dlg, Qt::Key_Escape); }), 7);            // Escape is Female
  EXPECT_EQ(answer([&] { dlg.close(); }), 2);                                      // closed: mrCancel
  EXPECT_EQ(answer([&] { QTest::keyClick(&dlg, Qt::Key_Return); }), 1);            // the default button
  EXPECT_EQ(dlg.Label2->text(), "John Smith");  // kept between showings
}

class HighlightTest : public WindowTest {
protected:
  // Answers the "Highlight words" dialog with words; fuzzy or exact.
  void Answer(const char* words, bool fuzzy, bool ok = true) {
    prompts.on_modal = [=, this](QDialog& form) {
      auto& dlg = dynamic_cast<forms::TPasswordDlgForm&>(form);
      prefill = dlg.Password->text().toStdString();
      dlg.Password->setText(QString::fromLatin1(words));
      (fuzzy ? dlg.RadioButton2 : dlg.RadioButton1)->setChecked(true);
      return ok ? forms::kMrOk : forms::kMrCancel;
    };
  }
  std::vector<std::string> Keywords() {
    std::vector<std::string> words;
    for (int i = 0; i < Current().Keywords().Count(); ++i) words.push_back(Current().Keywords().Strings(i));
    return words;
  }
  std::string prefill;
};

TEST_F(HighlightTest, ExactWordsReplaceTheKeywordsAndAreRed) {
  Search("Lewes");
  EXPECT_EQ(window->PasswordDlg().windowTitle(), "Highlight words");
  EXPECT_TRUE(window->PasswordDlg().RadioButton1->isChecked());
  Answer("  Clerke   Wright ", false);
  window->Action("Highlight1")->trigger();
  EXPECT_EQ(prefill, " Lewes");  // the current keywords, each after a blank
  EXPECT_EQ(Keywords(), (std::vector<std::string>{"Clerke", "Wright"}));
  const int par = ParHolding(Page(), "Clerke");
  ASSERT_GE(par, 0);
  EXPECT_TRUE(RedAt(Page(), par, static_cast<int>(Page().getParagraphs(par).find("Clerke"))));
  const int lewes = ParHolding(Page(), "Lewes");
  EXPECT_FALSE(RedAt(Page(), lewes, static_cast<int>(Page().getParagraphs(lewes).find("Lewes"))));

  // Cancel keeps the keywords.
  Answer("Nash", false, false);
  window->Action("Highlight1")->trigger();
  EXPECT_EQ(Keywords(), (std::vector<std::string>{"Clerke", "Wright"}));
  // An empty edit empties the list.
  Answer("", false);
  window->Action("Highlight1")->trigger();
  EXPECT_TRUE(Keywords().empty());
  EXPECT_FALSE(RedAt(Page(), par, static_cast<int>(Page().getParagraphs(par).find("Clerke"))));
}

TEST_F(HighlightTest, FuzzyAddsTheSpellingVariantsOfThePage) {
  Page().SetText("1700 01 Jan Wm Clerke, Ann Hall; Jon\r\n1701 02 Feb Tho Clarke, Eliz Smyth; Mary\r\n"
                 "1702 03 Mar Rob Clark, Jane Baker; Ann\r\n1703 04 Apr Hugh Turner, Ann Wright; Tom");
  Answer("Clark", true);
  window->Action("Highlight1")->trigger();
  const std::vector<std::string> words = Keywords();
  // The typed word and every word of the page whose key holds its key.
  const std::string key = textutil::MetaPhone("Clark", window->KeyLength());
  for (const char* w : {"Clark", "Clerke", "Clarke"}) {
    EXPECT_NE(std::find(words.begin(), words.end(), w), words.end()) << w << " key " << key;
  }
  EXPECT_EQ(std::find(words.begin(), words.end(), "Turner"), words.end());
  EXPECT_TRUE(RedAt(Page(), 0, static_cast<int>(Page().getParagraphs(0).find("Clerke"))));
  EXPECT_TRUE(RedAt(Page(), 1, static_cast<int>(Page().getParagraphs(1).find("Clarke"))));
}

TEST_F(WindowTest, ChangeFontAndWordwrapFollowTheCurrentPage) {
  window->Action("Newsheet1")->trigger();
  memo::TMemoFont font = Current().Font();
  const memo::TMemoFont before = font;
  // Cancelled: the font stays.
  window->Action("Changefont1")->trigger();
  EXPECT_EQ(Current().Font(), before);
  font.Name = "DejaVu Sans";
  font.Size = 14;
  font.Height = -19;
  prompts.font_choice = font;
  window->Action("Changefont1")->trigger();
  EXPECT_EQ(prompts.font_dialogs, 2);
  EXPECT_EQ(Current().Font(), font);
  EXPECT_EQ(window->vm0->Memo().Font(), before);  // only the current page

  EXPECT_FALSE(Current().WordWrap());
  window->Action("Wordwrap1")->trigger();
  EXPECT_TRUE(window->Action("Wordwrap1")->isChecked());
  EXPECT_TRUE(Current().WordWrap());
  window->Action("Wordwrap1")->trigger();
  EXPECT_FALSE(Current().WordWrap());
}

// ---- Set as children ----

const char* const kFamilyPage =
    "Baptisms of the Nash family\r\n"
    "1613 Jan 07 Simon Nash, Margaret Baker; Bridget; Jane White, Anne Nash, Robert Baker [3] \r\n"
    "1615 02 Mar Simon Nash, Margaret Baker; Thomas; John Nash\r\n"
    "1617 Simon Nash, Margaret Baker; Anne; Mary Baker\r\n"
    "end";

class SetAsChildrenTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    Page().SetText(kFamilyPage);
  }
  void Select(std::int32_t caret, std::int32_t length) {
    Page().setSelStart(caret);
    Page().setSelLength(length);
  }
  void Popup(const char* item) { window->PopupMenu1->findChild<QAction*>(item)->trigger(); }
};

TEST_F(SetAsChildrenTest, ForwardSelectionWithoutWitnesses) {
  const std::int32_t from = Page().ParStart(1), to = Page().ParStart(4);
  Select(from, to - from);
  Popup("Setaschildren1");
  EXPECT_EQ(window->WithWitnesses(), 0);
  EXPECT_EQ(window->Edit3->text(), "Simon Nash");
  EXPECT_EQ(window->Edit4->text(), "Margaret Baker");
  const std::vector<std::string> items = Items(window->ListBox1);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], "Bridget bp. Jan 07 1613");
  EXPECT_EQ(items[1], "Thomas bp. 02 Mar 1615");  // a date written day first is read
  EXPECT_EQ(items[2].rfind("Anne bp.", 0), 0u);   // a year alone: read, not a range error
  EXPECT_NE(items[2].find("1617"), std::string::npos);
  const std::vector<std::string> lines = LinesOf(Page());
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[4], "Simon Nash m. Margaret Baker");
  EXPECT_EQ(lines[5], "   Bridget bp. Jan 07 1613");
  EXPECT_EQ(lines[6], "   Thomas bp. 02 Mar 1615");
  EXPECT_EQ(lines[7].rfind("   Anne bp.", 0), 0u);
  EXPECT_EQ(lines[8], " ");
  EXPECT_EQ(lines[9], "end");
  // The selection is as it was.
  EXPECT_EQ(Page().getSelStart(), from);
  EXPECT_EQ(Page().getSelLength(), to - from);
  EXPECT_TRUE(window->Panel3->isHidden());  // the family box itself stays hidden
}

TEST_F(SetAsChildrenTest, BackwardSelectionWithWitnesses) {
  const std::int32_t from = Page().ParStart(1) + 3, to = Page().ParStart(2) + 6;
  Select(to, -(to - from));
  Popup("Setaschildren2");
  EXPECT_EQ(window->WithWitnesses(), 1);
  EXPECT_EQ(Items(window->ListBox1),
            (std::vector<std::string>{"Bridget bp. Jan 07 1613", "Thomas bp. 02 Mar 1615"}));
  const std::vector<std::string> lines = LinesOf(Page());
  EXPECT_EQ(lines[3], "Simon Nash m. Margaret Baker");
  EXPECT_EQ(lines[4], "   Bridget bp. Jan 07 1613; Jane White, Anne Nash, Robert Baker");
  EXPECT_EQ(lines[5], "   Thomas bp. 02 Mar 1615; John Nash");
  EXPECT_EQ(lines[6], " ");
  EXPECT_EQ(lines[7], "1617 Simon Nash, Margaret Baker; Anne; Mary Baker");
  EXPECT_EQ(Page().getSelStart(), to);
  EXPECT_EQ(Page().getSelLength(), -(to - from));
}

TEST_F(SetAsChildrenTest, NoSelectionReadsTheCaretLine) {
  Select(Page().ParStart(2) + 4, 0);
  Popup("Setaschildren1");
  EXPECT_EQ(Items(window->ListBox1), std::vector<std::string>{"Thomas bp. 02 Mar 1615"});
  const std::vector<std::string> lines = LinesOf(Page());
  EXPECT_EQ(lines[3], "Simon Nash m. Margaret Baker");
  EXPECT_EQ(lines[4], "   Thomas bp. 02 Mar 1615");
  EXPECT_EQ(lines[5], " ");
  // A second call clears the family box first.
  Select(0, 0);  // the title line: no record
  Popup("Setaschildren1");
  EXPECT_EQ(window->ListBox1->count(), 0);
}

TEST_F(SetAsChildrenTest, LastLineOfThePageAppendsTheBlock) {
  Page().SetText("1613 Jan 07 Simon Nash, Margaret Baker; Bridget; Jane White");
  Select(5, 0);
  Popup("Setaschildren2");
  EXPECT_EQ(LinesOf(Page()), (std::vector<std::string>{"1613 Jan 07 Simon Nash, Margaret Baker; Bridget; Jane White",
                                                      "Simon Nash m. Margaret Baker",
                                                      "   Bridget bp. Jan 07 1613; Jane White", " "}));
}

}  // namespace
