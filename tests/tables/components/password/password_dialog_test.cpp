// The "Enter password" dialog offscreen: layout, enabling rules and what
// each button does to the session's passwords.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include "tables/components/password/password_dialog.h"
#include "tables/components/sessions.h"
#include "tables/engine/table/data_session.h"
#include "tests/platform/gui/gui_test_util.h"

namespace korvex {
namespace {

class PasswordDialogTest : public ::testing::Test {
protected:
  void SetUp() override { gui_test::App(); }
  void TearDown() override { FinalizeSessions(); }
};

TEST_F(PasswordDialogTest, LayoutCaptionsAndTabOrder) {
  TKORVEXPasswordDialog d(Session());
  EXPECT_EQ(d.windowTitle(), "Enter password");
  EXPECT_EQ(d.size(), QSize(273, 132));
  struct Case {
    QWidget* widget;
    QString caption;
    QRect geometry;
    bool enabled;
  };
  const std::vector<Case> cases{
      {d.GroupBox1, "Password", {8, 8, 257, 81}, true},
      {d.Edit, "", {16, 18, 225, 21}, true},
      {d.AddButton, "&Add", {16, 46, 65, 25}, false},
      {d.RemoveButton, "&Remove", {88, 46, 65, 25}, false},
      {d.RemoveAllButton, "Re&move all", {160, 46, 81, 25}, true},
      {d.OKButton, "&OK", {109, 98, 75, 25}, false},
      {d.CancelButton, "Cancel", {190, 98, 75, 25}, true},
  };
  for (const Case& c : cases) {
    QString caption = c.widget->property("text").isValid() ? c.widget->property("text").toString()
                                                           : c.widget->property("title").toString();
    EXPECT_EQ(caption, c.caption) << c.widget->objectName().toStdString();
    EXPECT_EQ(c.widget->geometry(), c.geometry) << c.widget->objectName().toStdString();
    EXPECT_EQ(c.widget->isEnabled(), c.enabled) << c.widget->objectName().toStdString();
  }
  EXPECT_EQ(d.Edit->parentWidget(), d.GroupBox1);
  EXPECT_EQ(d.Edit->echoMode(), QLineEdit::Password);
  QTest::keyClicks(d.Edit, "Geh");
  EXPECT_EQ(d.Edit->displayText(), "***") << "typed characters echo as '*'";
  EXPECT_EQ(d.Edit->text(), "Geh");
  d.Edit->clear();
  EXPECT_TRUE(d.OKButton->isDefault());
  std::vector<QWidget*> order{d.Edit};
  for (QWidget* w = d.Edit->nextInFocusChain(); w != d.Edit && order.size() < 20; w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus) order.push_back(w);
  EXPECT_EQ(order, (std::vector<QWidget*>{d.Edit, d.AddButton, d.RemoveButton, d.RemoveAllButton, d.OKButton,
                                          d.CancelButton}));
}

TEST_F(PasswordDialogTest, EnablingFollowsTheEditAndAddedPasswords) {
  TKORVEXSession& s = Session();
  TKORVEXPasswordDialog d(s);
  EXPECT_FALSE(d.OKButton->isEnabled());
  QTest::keyClicks(d.Edit, "abc");
  EXPECT_TRUE(d.AddButton->isEnabled());
  EXPECT_TRUE(d.RemoveButton->isEnabled());
  EXPECT_TRUE(d.OKButton->isEnabled());
  d.AddButton->click();
  EXPECT_TRUE(s.Handle()->CheckForPassword("abc"));
  EXPECT_TRUE(d.Edit->text().isEmpty());
  EXPECT_FALSE(d.AddButton->isEnabled());
  EXPECT_FALSE(d.RemoveButton->isEnabled());
  EXPECT_TRUE(d.OKButton->isEnabled()) << "a password was added during this showing";
  QTest::keyClicks(d.Edit, "abc");
  d.RemoveButton->click();
  EXPECT_FALSE(s.Handle()->CheckForPassword("abc"));
  QTest::keyClicks(d.Edit, "x");
  d.AddButton->click();
  QTest::keyClicks(d.Edit, "y");
  d.AddButton->click();
  EXPECT_EQ(s.Handle()->PasswordCount(), 2u);
  d.show();
  d.RemoveAllButton->click();
  EXPECT_EQ(s.Handle()->PasswordCount(), 0u);
  EXPECT_TRUE(d.isVisible()) << "Remove all does not close the dialog";
}

TEST_F(PasswordDialogTest, OkAddsTheEditTextAndTheHookShowsTheDialog) {
  TKORVEXSession& s = Session();
  InstallPasswordDialog();
  QTimer::singleShot(0, [] {
    auto* d = dynamic_cast<TKORVEXPasswordDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    d->Edit->setText(QString::fromLatin1("Geheim\xE4"));
    d->OKButton->click();
  });
  EXPECT_TRUE(s.GetPassword());
  EXPECT_TRUE(s.Handle()->CheckForPassword("Geheim\xE4"));
  QTimer::singleShot(0, [] {
    auto* d = dynamic_cast<TKORVEXPasswordDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    d->CancelButton->click();
  });
  EXPECT_FALSE(s.GetPassword());
  SetPasswordHook(nullptr);
}

}  // namespace
}  // namespace korvex
