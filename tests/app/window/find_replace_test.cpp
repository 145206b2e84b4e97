// Find, Find Again and Replace through the window's own find and replace
// dialogs: each option reaches its own search parameter, in both orders.
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

#include "forms/small_dialogs.h"
#include "window_test_support.h"

using namespace window_test;

namespace {

//                          0    5    10   15   20   25   30
const char* const kText = "John Smith, SMITH smithy; Smith";

class FindReplaceTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    Page().SetText(kText);
    Page().setSelStart(0);
  }
  // Runs "&Find" with the dialog answered: text, options, Find Next.
  void Find(const char* text, bool match_case, bool whole_word, bool down = true) {
    prompts.on_modal = [=](QDialog& form) {
      auto& dlg = dynamic_cast<forms::TFindDialogForm&>(form);
      dlg.FindText->setText(QString::fromLatin1(text));
      dlg.MatchCase->setChecked(match_case);
      dlg.WholeWord->setChecked(whole_word);
      (down ? dlg.Down : dlg.Up)->setChecked(true);
      return forms::TFindDialogForm::kFindNext;
    };
    window->Action("Find1")->trigger();
  }
  void Replace(const char* text, const char* by, bool match_case, bool whole_word, int button) {
    prompts.on_modal = [=](QDialog& form) {
      auto& dlg = dynamic_cast<forms::TReplaceDialogForm&>(form);
      if (text != nullptr) dlg.FindText->setText(QString::fromLatin1(text));  // else as the selection put it
      dlg.ReplaceText->setText(QString::fromLatin1(by));
      dlg.MatchCase->setChecked(match_case);
      dlg.WholeWord->setChecked(whole_word);
      return button;
    };
    window->Action("Replace1")->trigger();
  }
  // The selected range as [low, high).
  std::pair<int, int> Selected() {
    const int caret = Page().getSelStart(), length = Page().getSelLength();
    return length < 0 ? std::pair{caret + length, caret} : std::pair{caret, caret + length};
  }
  void Again() { window->Action("FindAgain1")->trigger(); }
};

TEST_F(FindReplaceTest, FindWithoutOptionsAndFindAgain) {
  Find("smith", false, false);
  EXPECT_EQ(Selected(), std::pair(5, 10));
  EXPECT_EQ(Page().getSelLength(), -5);  // searching down: the caret after the text
  Again();
  EXPECT_EQ(Selected(), std::pair(12, 17));
  Again();
  EXPECT_EQ(Selected(), std::pair(18, 23));
  Again();
  EXPECT_EQ(Selected(), std::pair(26, 31));
  Again();  // no more: a beep, the selection unchanged
  EXPECT_EQ(Selected(), std::pair(26, 31));
  EXPECT_EQ(prompts.beeps, 1);
}

TEST_F(FindReplaceTest, MatchCaseAloneIsCaseNotWholeWord) {
  Find("smith", true, false);
  EXPECT_EQ(Selected(), std::pair(18, 23));  // only "smithy" has this case
  Again();
  EXPECT_EQ(Selected(), std::pair(18, 23));
  EXPECT_EQ(prompts.beeps, 1);
}

TEST_F(FindReplaceTest, WholeWordAloneIsWordNotCase) {
  Find("smith", false, true);
  EXPECT_EQ(Selected(), std::pair(5, 10));
  Again();
  EXPECT_EQ(Selected(), std::pair(12, 17));
  Again();
  EXPECT_EQ(Selected(), std::pair(26, 31));  // "smithy" is passed over
  EXPECT_EQ(prompts.beeps, 0);
  // Both options: only the whole word in that case.
  Page().setSelStart(0);
  Find("SMITH", true, true);
  EXPECT_EQ(Selected(), std::pair(12, 17));
  Again();
  EXPECT_EQ(prompts.beeps, 1);
}

TEST_F(FindReplaceTest, FindUpSelectsWithTheCaretBefore) {
  Page().setSelStart(31);
  Find("smith", false, false, false);
  EXPECT_EQ(Selected(), std::pair(26, 31));
  EXPECT_EQ(Page().getSelLength(), 5);
  Again();
  EXPECT_EQ(Selected(), std::pair(18, 23));
}

TEST_F(FindReplaceTest, FindTakesABackwardSelectionForwards) {
  Page().setSelStart(17);
  Page().setSelLength(-5);  // "SMITH" selected backwards
  prompts.on_modal = [&](QDialog& form) {
    auto& dlg = dynamic_cast<forms::TFindDialogForm&>(form);
    EXPECT_EQ(dlg.FindText->text(), "SMITH");
    EXPECT_EQ(Page().getSelStart(), 12);
    EXPECT_EQ(Page().getSelLength(), 5);
    return QDialog::Rejected;
  };
  window->Action("Find1")->trigger();
  EXPECT_EQ(prompts.beeps, 0);
}

TEST_F(FindReplaceTest, FindAgainWithoutAFindTextDoesNothing) {
  Page().setSelStart(3);
  Again();
  EXPECT_EQ(Page().getSelStart(), 3);
  EXPECT_EQ(Page().getSelLength(), 0);
  EXPECT_EQ(prompts.beeps, 0);
}

TEST_F(FindReplaceTest, ReplaceOnceAndReplaceAllInBothOptionOrders) {
  Replace("smith", "Smyth", false, false, forms::TReplaceDialogForm::kReplace);
  EXPECT_EQ(Page().GetText(), "John Smyth, SMITH smithy; Smith");
  EXPECT_EQ(Selected(), std::pair(12, 17));  // the next occurrence is selected
  EXPECT_TRUE(Page().Modified);

  Page().SetText(kText);
  Page().setSelStart(0);
  Replace("smith", "X", true, false, forms::TReplaceDialogForm::kReplaceAll);  // case only
  EXPECT_EQ(Page().GetText(), "John Smith, SMITH Xy; Smith");

  Page().SetText(kText);
  Page().setSelStart(0);
  Replace("smith", "X", false, true, forms::TReplaceDialogForm::kReplaceAll);  // whole word only
  EXPECT_EQ(Page().GetText(), "John X, X smithy; X");

  Page().SetText(kText);
  Page().setSelStart(0);
  Replace("smith", "smith smith", false, false, forms::TReplaceDialogForm::kReplaceAll);
  // A replacement holding the text is never replaced again.
  EXPECT_EQ(Page().GetText(), "John smith smith, smith smith smith smithy; smith smith");
  EXPECT_EQ(prompts.beeps, 0);
}

TEST_F(FindReplaceTest, ReplaceTakesTheSelectedOccurrence) {
  Page().setSelStart(17);
  Page().setSelLength(-5);  // "SMITH", backwards
  Replace(nullptr, "Brown", true, false, forms::TReplaceDialogForm::kReplace);
  EXPECT_EQ(Page().GetText(), "John Smith, Brown smithy; Smith");
}

TEST_F(FindReplaceTest, ReplaceOfAbsentTextChangesNothingAndDoesNotBeep) {
  Page().Modified = false;
  Replace("Jones", "X", false, false, forms::TReplaceDialogForm::kReplaceAll);
  EXPECT_EQ(Page().GetText(), kText);
  EXPECT_FALSE(Page().Modified);
  EXPECT_EQ(prompts.beeps, 0);
  // Cancelled dialog: nothing.
  Replace("Smith", "X", false, false, QDialog::Rejected);
  EXPECT_EQ(Page().GetText(), kText);
}

TEST_F(FindReplaceTest, ReplaceDialogFindNextAndPageFollowing) {
  Replace("smith", "", false, true, forms::TReplaceDialogForm::kFindNext);
  EXPECT_EQ(Selected(), std::pair(5, 10));
  EXPECT_EQ(Page().GetText(), kText);
  // Find works on the current page.
  window->Action("Newsheet1")->trigger();
  Current().SetText("no names here, smith");
  Current().setSelStart(0);
  Find("smith", false, false);
  EXPECT_EQ(Current().getSelStart(), 20);
  EXPECT_EQ(Selected(), std::pair(5, 10));  // the first page's selection is its own
}

}  // namespace
