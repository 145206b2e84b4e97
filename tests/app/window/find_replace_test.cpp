// Find, Find Again and Replace through the window's own find and replace
// dialogs: each option reaches its own search parameter, in both orders.
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

#include "forms/small_dialogs.h"
#include "platform/runtime/cp1252.h"
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
  // Runs "&Find", fills the dialog that stays open and presses Find Next.
  void Find(const char* text, bool match_case, bool whole_word, bool down = true) {
    window->Action("Find1")->trigger();
    forms::TFindDialogForm& dlg = window->FindDialog1();
    ASSERT_TRUE(dlg.isVisible());
    dlg.FindText->setText(QString::fromLatin1(text));
    dlg.MatchCase->setChecked(match_case);
    dlg.WholeWord->setChecked(whole_word);
    (down ? dlg.Down : dlg.Up)->setChecked(true);
    QTest::mouseClick(dlg.FindNextBtn, Qt::LeftButton);
  }
  // Runs "&Replace", fills the dialog and presses button (QDialog::Rejected:
  // Cancel).
  void Replace(const char* text, const char* by, bool match_case, bool whole_word, int button) {
    window->Action("Replace1")->trigger();
    forms::TReplaceDialogForm& dlg = window->ReplaceDialog1();
    ASSERT_TRUE(dlg.isVisible());
    if (text != nullptr) dlg.FindText->setText(QString::fromLatin1(text));  // else as the selection put it
    dlg.ReplaceText->setText(QString::fromLatin1(by));
    dlg.MatchCase->setChecked(match_case);
    dlg.WholeWord->setChecked(whole_word);
    QPushButton* pressed = button == forms::TReplaceDialogForm::kFindNext  ? dlg.FindNextBtn
                           : button == forms::TReplaceDialogForm::kReplace ? dlg.ReplaceBtn
                           : button == forms::TReplaceDialogForm::kReplaceAll ? dlg.ReplaceAllBtn
                                                                              : dlg.CancelBtn;
    QTest::mouseClick(pressed, Qt::LeftButton);
    EXPECT_EQ(dlg.isVisible(), pressed != dlg.CancelBtn);  // only Cancel closes it
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
  window->Action("Find1")->trigger();
  EXPECT_EQ(window->FindDialog1().FindText->text(), "SMITH");
  EXPECT_EQ(Page().getSelStart(), 12);
  EXPECT_EQ(Page().getSelLength(), 5);
  QTest::mouseClick(window->FindDialog1().CancelBtn, Qt::LeftButton);
  EXPECT_FALSE(window->FindDialog1().isVisible());
  EXPECT_EQ(prompts.beeps, 0);
  EXPECT_EQ(prompts.modal_count, 0);
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

namespace {

// The dialog stays open over a search page while Find Next walks every
// match, counted independently in the page's text; F3 goes on after it is
// closed. QV_FIND_SCREENSHOT names a PNG file to keep the picture in.
TEST_F(WindowTest, FindStaysOpenWhileFindNextWalksEveryMatchOfAPage) {
  Search("Clerke");
  const std::string text = rtl::AnsiLowerCase(Page().GetText());
  int expected = 0;
  for (size_t at = text.find("clerke"); at != std::string::npos; at = text.find("clerke", at + 1)) ++expected;
  ASSERT_GT(expected, 5);
  Page().setSelStart(0);
  const int activations = window->ActivationCount();

  window->Action("Find1")->trigger();
  forms::TFindDialogForm& dlg = window->FindDialog1();
  dlg.FindText->setText("clerke");
  int found = 0;
  std::int32_t last = -1;
  while (prompts.beeps == 0 && found <= expected) {
    QTest::mouseClick(dlg.FindNextBtn, Qt::LeftButton);
    ASSERT_TRUE(dlg.isVisible());
    if (prompts.beeps != 0) break;
    ++found;
    EXPECT_EQ(rtl::AnsiLowerCase(Page().getSelText()), "clerke");
    EXPECT_GT(Page().getSelStart(), last);  // always further down
    last = Page().getSelStart();
    if (found == 3 && qEnvironmentVariableIsSet("QV_FIND_SCREENSHOT")) {
      Settle();
      QImage shot = window->grab().toImage();
      QPainter painter(&shot);
      const QPoint at = dlg.geometry().topLeft() - window->geometry().topLeft();
      painter.drawPixmap(at.x() < 0 ? 40 : at.x(), at.y() < 0 ? 40 : at.y(), dlg.grab());
      painter.end();
      shot.save(qEnvironmentVariable("QV_FIND_SCREENSHOT"));
    }
  }
  EXPECT_EQ(found, expected);
  EXPECT_EQ(Page().getSelStart(), last);  // nothing more: the last match stays selected
  // Going back to the window from the dialog is no activation.
  window->activateWindow();
  Settle();
  EXPECT_EQ(window->ActivationCount(), activations);

  // Closed, F3 still finds again.
  QTest::mouseClick(dlg.CancelBtn, Qt::LeftButton);
  EXPECT_FALSE(dlg.isVisible());
  window->activateWindow();  // the window's shortcuts need it active
  EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
  Page().setSelStart(0);
  QTest::keyClick(window.get(), Qt::Key_F3);
  EXPECT_EQ(rtl::AnsiLowerCase(Page().getSelText()), "clerke");
  EXPECT_EQ(prompts.modal_count, 0);
}

}  // namespace
