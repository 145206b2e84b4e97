#include "forms/small_dialogs.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace forms {
namespace {

template <typename T>
T* Named(T* object, const char* name) {
  object->setObjectName(QString::fromUtf8(name));
  return object;
}

QPushButton* Button(QDialog* dialog, const char* name, const char* caption, int result) {
  auto* button = Named(new QPushButton(QString::fromUtf8(caption), dialog), name);
  button->setAutoDefault(false);
  QObject::connect(button, &QPushButton::clicked, dialog, [dialog, result] { dialog->done(result); });
  return button;
}

// A button of a modeless dialog: calls on_button while it is set.
template <typename Dialog>
QPushButton* ActionButton(Dialog* dialog, const char* name, const char* caption, int code) {
  auto* button = Named(new QPushButton(QString::fromUtf8(caption), dialog), name);
  button->setAutoDefault(false);
  QObject::connect(button, &QPushButton::clicked, dialog, [dialog, code] {
    if (dialog->OnButton) dialog->OnButton(code);
    else dialog->done(code);
  });
  return button;
}

QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons) {
  auto* row = new QHBoxLayout();
  row->addStretch(1);
  for (QPushButton* b : buttons) row->addWidget(b);
  return row;
}

}  // namespace

TAboutBoxForm::TAboutBoxForm(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutBox");
  setWindowTitle("About Quorvane");
  auto* layout = new QVBoxLayout(this);
  auto* panel = Named(new QFrame(this), "Panel1");
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setAutoFillBackground(true);
  QPalette white = panel->palette();
  white.setColor(QPalette::Window, Qt::white);
  panel->setPalette(white);
  auto* inner = new QVBoxLayout(panel);
  ProductName = Named(new QLabel("Quorvane", panel), "ProductName");
  QFont big = ProductName->font();
  big.setPointSize(20);
  big.setBold(true);
  big.setUnderline(true);
  ProductName->setFont(big);
  ProductName->setAlignment(Qt::AlignCenter);
  Comments = Named(new QLabel("Searches transcribed church registers for genealogists.", panel), "Comments");
  Comments->setAlignment(Qt::AlignCenter);
  Version = Named(new QLabel(panel), "Version");
  QFont bold = Version->font();
  bold.setBold(true);
  Version->setFont(bold);
  Version->setAlignment(Qt::AlignCenter);
  inner->addWidget(ProductName);
  inner->addWidget(Comments);
  inner->addWidget(Version);
  layout->addWidget(panel);
  OKButton = Button(this, "OKButton", "OK", kMrOk);
  OKButton->setDefault(true);
  layout->addLayout(ButtonRow({OKButton}));
}

TGetSexDlgForm::TGetSexDlgForm(QWidget* parent) : QDialog(parent) {
  setObjectName("GetSexDlg");
  setWindowTitle("Sex");
  auto* layout = new QVBoxLayout(this);
  Label1 = Named(new QLabel("Which sex is:", this), "Label1");
  Label2 = Named(new QLabel(this), "Label2");
  layout->addWidget(Label1);
  layout->addWidget(Label2);
  OKBtn = Button(this, "OKBtn", "Male", kMrOk);
  OKBtn->setDefault(true);
  CancelBtn = Button(this, "CancelBtn", "Female", kMrNo);
  layout->addLayout(ButtonRow({OKBtn, CancelBtn}));
}

void TGetSexDlgForm::reject() { done(kMrCancel); }

void TGetSexDlgForm::keyPressEvent(QKeyEvent* event) {
  // Escape presses the cancel button, "Female".
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    done(kMrNo);
    return;
  }
  QDialog::keyPressEvent(event);
}

TPasswordDlgForm::TPasswordDlgForm(QWidget* parent) : QDialog(parent) {
  setObjectName("PasswordDlg");
  setWindowTitle("Highlight words");
  auto* layout = new QVBoxLayout(this);
  Label1 = Named(new QLabel("Enter word(s) to Highlight:", this), "Label1");
  Password = Named(new QLineEdit(this), "Password");
  Password->setMinimumWidth(280);
  RadioButton1 = Named(new QRadioButton("Exact match", this), "RadioButton1");
  RadioButton2 = Named(new QRadioButton("Fuzzy match", this), "RadioButton2");
  RadioButton1->setChecked(true);
  layout->addWidget(Label1);
  layout->addWidget(Password);
  layout->addWidget(RadioButton1);
  layout->addWidget(RadioButton2);
  OKBtn = Button(this, "OKBtn", "OK", kMrOk);
  OKBtn->setDefault(true);
  CancelBtn = Button(this, "CancelBtn", "Cancel", kMrCancel);
  layout->addLayout(ButtonRow({OKBtn, CancelBtn}));
}

TFindDialogForm::TFindDialogForm(QWidget* parent) : QDialog(parent) {
  setObjectName("FindDialog1");
  setWindowTitle("Find");
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("Find what:", this), 0, 0);
  FindText = Named(new QLineEdit(this), "FindText");
  FindText->setMinimumWidth(240);
  grid->addWidget(FindText, 0, 1, 1, 2);
  MatchCase = Named(new QCheckBox("Match case", this), "MatchCase");
  WholeWord = Named(new QCheckBox("Whole word", this), "WholeWord");
  grid->addWidget(WholeWord, 1, 0);
  grid->addWidget(MatchCase, 2, 0);
  auto* direction = Named(new QFrame(this), "Direction");
  auto* dir_layout = new QHBoxLayout(direction);
  Up = Named(new QRadioButton("Up", direction), "Up");
  Down = Named(new QRadioButton("Down", direction), "Down");
  Down->setChecked(true);
  dir_layout->addWidget(Up);
  dir_layout->addWidget(Down);
  grid->addWidget(direction, 1, 1, 2, 1);
  FindNextBtn = ActionButton(this, "FindNextBtn", "Find Next", kFindNext);
  FindNextBtn->setDefault(true);
  CancelBtn = Button(this, "CancelBtn", "Cancel", kMrCancel);
  grid->addLayout(ButtonRow({FindNextBtn, CancelBtn}), 3, 0, 1, 3);
}

TReplaceDialogForm::TReplaceDialogForm(QWidget* parent) : QDialog(parent) {
  setObjectName("ReplaceDialog1");
  setWindowTitle("Replace");
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("Find what:", this), 0, 0);
  FindText = Named(new QLineEdit(this), "FindText");
  FindText->setMinimumWidth(240);
  grid->addWidget(FindText, 0, 1);
  grid->addWidget(new QLabel("Replace with:", this), 1, 0);
  ReplaceText = Named(new QLineEdit(this), "ReplaceText");
  grid->addWidget(ReplaceText, 1, 1);
  WholeWord = Named(new QCheckBox("Whole word", this), "WholeWord");
  MatchCase = Named(new QCheckBox("Match case", this), "MatchCase");
  grid->addWidget(WholeWord, 2, 0);
  grid->addWidget(MatchCase, 3, 0);
  FindNextBtn = ActionButton(this, "FindNextBtn", "Find Next", kFindNext);
  FindNextBtn->setDefault(true);
  ReplaceBtn = ActionButton(this, "ReplaceBtn", "Replace", kReplace);
  ReplaceAllBtn = ActionButton(this, "ReplaceAllBtn", "Replace All", kReplaceAll);
  CancelBtn = Button(this, "CancelBtn", "Cancel", kMrCancel);
  grid->addLayout(ButtonRow({FindNextBtn, ReplaceBtn, ReplaceAllBtn, CancelBtn}), 4, 0, 1, 2);
}

}  // namespace forms
