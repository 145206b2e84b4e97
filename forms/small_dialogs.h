// The stored small dialogs of the program: the about box "AboutBox", the
// sex question "GetSexDlg", the "Highlight words" dialog "PasswordDlg" and
// the find and replace dialogs. Components keep their stored names and
// captions; each button closes its dialog with its stored modal result
// (gui::mrOk, mrNo, mrCancel). The program adds the behaviour.
#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace forms {

// Modal results of the stored buttons (the class library's values).
inline constexpr int kMrOk = 1, kMrCancel = 2, kMrNo = 7;

// "About Quorvane": the program's name, a line on its purpose and the
// label Version, filled when the box is shown.
class TAboutBoxForm : public QDialog {
public:
  explicit TAboutBoxForm(QWidget* parent = nullptr);
  QLabel* ProductName = nullptr;
  QLabel* Comments = nullptr;
  QLabel* Version = nullptr;
  QPushButton* OKButton = nullptr;  // default, closes with OK
};

// "Sex": "Which sex is:" and the person's name (Label2). "Male" closes with
// OK, "Female" (also Escape) with No; closing the window is Cancel.
class TGetSexDlgForm : public QDialog {
public:
  explicit TGetSexDlgForm(QWidget* parent = nullptr);
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;

  void reject() override;  // window closed: Cancel

protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// "Highlight words": the words in the edit Password, exact or fuzzy.
class TPasswordDlgForm : public QDialog {
public:
  explicit TPasswordDlgForm(QWidget* parent = nullptr);
  QLabel* Label1 = nullptr;
  QLineEdit* Password = nullptr;
  QRadioButton* RadioButton1 = nullptr;  // "Exact match", selected
  QRadioButton* RadioButton2 = nullptr;  // "Fuzzy match"
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
};

// The find and replace dialogs are modeless: while OnButton is set, their
// action buttons call it with their code and the dialog stays open (Cancel
// closes it); without it a button closes the dialog with its code.

// The find dialog: text, "Match case", "Whole word", direction Up/Down;
// "Find Next" is kFindNext.
class TFindDialogForm : public QDialog {
public:
  static constexpr int kFindNext = 10;
  explicit TFindDialogForm(QWidget* parent = nullptr);
  std::function<void(int code)> OnButton;
  QLineEdit* FindText = nullptr;
  QCheckBox* MatchCase = nullptr;
  QCheckBox* WholeWord = nullptr;
  QRadioButton* Up = nullptr;
  QRadioButton* Down = nullptr;  // selected
  QPushButton* FindNextBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
};

// The replace dialog: text, replacement, "Match case", "Whole word"; it
// searches down only. Its buttons are kFindNext, kReplace and kReplaceAll.
class TReplaceDialogForm : public QDialog {
public:
  static constexpr int kFindNext = 10, kReplace = 11, kReplaceAll = 12;
  explicit TReplaceDialogForm(QWidget* parent = nullptr);
  std::function<void(int code)> OnButton;
  QLineEdit* FindText = nullptr;
  QLineEdit* ReplaceText = nullptr;
  QCheckBox* MatchCase = nullptr;
  QCheckBox* WholeWord = nullptr;
  QPushButton* FindNextBtn = nullptr;
  QPushButton* ReplaceBtn = nullptr;
  QPushButton* ReplaceAllBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
};

}  // namespace forms
