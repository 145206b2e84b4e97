// "Enter password": the dialog in which the user gives a session the
// passwords of enciphered tables. Add puts the edit's text into the
// session's list, Remove takes it out, "Re&move all" empties the list; OK
// adds the edit's text and closes. The session's engine lock guards every
// change.
#pragma once

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace korvex {

class TKORVEXSession;

class TKORVEXPasswordDialog : public QDialog {
public:
  TKORVEXPasswordDialog(TKORVEXSession& session, QWidget* parent = nullptr);

  QGroupBox* GroupBox1 = nullptr;
  QLineEdit* Edit = nullptr;
  QPushButton* AddButton = nullptr;
  QPushButton* RemoveButton = nullptr;
  QPushButton* RemoveAllButton = nullptr;
  QPushButton* OKButton = nullptr;
  QPushButton* CancelButton = nullptr;

  void EditChange();
  void AddButtonClick();
  void RemoveButtonClick();
  void RemoveAllButtonClick();
  void OKButtonClick();

private:
  TKORVEXSession& session_;
  bool password_added_ = false;
};

// Shows the dialog modally for `session`; true when it closed with OK.
bool PasswordDialog(TKORVEXSession& session);

// Points the sessions' password hook at PasswordDialog (the program does
// this once at start).
void InstallPasswordDialog();

}  // namespace korvex
