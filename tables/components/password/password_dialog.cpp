#include "tables/components/password/password_dialog.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "platform/gui/text.h"
#include "tables/components/sessions.h"

namespace korvex {

namespace {
QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  auto* b = new QPushButton(QString::fromLatin1(caption), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(geometry);
  b->setAutoDefault(false);
  return b;
}
}  // namespace

TKORVEXPasswordDialog::TKORVEXPasswordDialog(TKORVEXSession& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setObjectName("KORVEXPasswordDialog");
  setWindowTitle("Enter password");
  setFixedSize(273, 132);
  if (parent) setFont(parent->font());

  GroupBox1 = new QGroupBox("Password", this);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setGeometry(8, 8, 257, 81);
  Edit = new QLineEdit(GroupBox1);
  Edit->setObjectName("Edit");
  Edit->setGeometry(16, 18, 225, 21);
  Edit->setEchoMode(QLineEdit::Password);
  // Each typed character shows as '*', whatever the style's own mask.
  Edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
  AddButton = MakeButton(GroupBox1, "AddButton", "&Add", {16, 46, 65, 25});
  AddButton->setEnabled(false);
  RemoveButton = MakeButton(GroupBox1, "RemoveButton", "&Remove", {88, 46, 65, 25});
  RemoveButton->setEnabled(false);
  RemoveAllButton = MakeButton(GroupBox1, "RemoveAllButton", "Re&move all", {160, 46, 81, 25});
  OKButton = MakeButton(this, "OKButton", "&OK", {109, 98, 75, 25});
  OKButton->setDefault(true);
  OKButton->setEnabled(false);
  CancelButton = MakeButton(this, "CancelButton", "Cancel", {190, 98, 75, 25});

  setTabOrder(Edit, AddButton);
  setTabOrder(AddButton, RemoveButton);
  setTabOrder(RemoveButton, RemoveAllButton);
  setTabOrder(RemoveAllButton, OKButton);
  setTabOrder(OKButton, CancelButton);
  Edit->setFocus();

  connect(Edit, &QLineEdit::textChanged, this, [this] { EditChange(); });
  connect(AddButton, &QPushButton::clicked, this, [this] { AddButtonClick(); });
  connect(RemoveButton, &QPushButton::clicked, this, [this] { RemoveButtonClick(); });
  connect(RemoveAllButton, &QPushButton::clicked, this, [this] { RemoveAllButtonClick(); });
  connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

  if (QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
}

void TKORVEXPasswordDialog::EditChange() {
  bool has_text = !Edit->text().isEmpty();
  AddButton->setEnabled(has_text);
  RemoveButton->setEnabled(has_text);
  OKButton->setEnabled(has_text || password_added_);
}

void TKORVEXPasswordDialog::AddButtonClick() {
  session_.AddPassword(gui::ToCp1252(Edit->text()));
  password_added_ = true;
  Edit->clear();
  EditChange();
  Edit->setFocus();
}

void TKORVEXPasswordDialog::RemoveButtonClick() {
  session_.RemovePassword(gui::ToCp1252(Edit->text()));
  Edit->clear();
  EditChange();
  Edit->setFocus();
}

void TKORVEXPasswordDialog::RemoveAllButtonClick() {
  session_.RemoveAllPasswords();
  Edit->setFocus();
}

void TKORVEXPasswordDialog::OKButtonClick() {
  if (!Edit->text().isEmpty()) session_.AddPassword(gui::ToCp1252(Edit->text()));
  accept();
}

bool PasswordDialog(TKORVEXSession& session) {
  TKORVEXPasswordDialog dialog(session);
  return dialog.exec() == QDialog::Accepted;
}

void InstallPasswordDialog() { SetPasswordHook([](TKORVEXSession& session) { return PasswordDialog(session); }); }

}  // namespace korvex
