#include "forms/form2.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/gui/fonts.h"

namespace forms {
namespace {

const TWiring kWiring[] = {
    {"Button1", "OnClick", "Button1Click"},
    {"Button2", "OnClick", "Button2Click"},
};

}  // namespace

TForm2Form::TForm2Form(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName("Form2");
  gui::TFontDesc font;
  font.Name = "Arial";
  font.Height = -13;
  setFont(gui::MakeQFont(font));
  resize(460, 420);
  for (const TWiring& w : kWiring) wiring_.push_back(w);

  auto* layout = new QVBoxLayout(this);
  Panel1 = new QLabel("Data files in selected directory.", this);
  Panel1->setObjectName("Panel1");
  Panel1->setFrameShape(QFrame::Panel);
  Panel1->setFrameShadow(QFrame::Raised);
  Panel1->setAlignment(Qt::AlignCenter);
  Panel1->setMinimumHeight(28);
  layout->addWidget(Panel1);

  CheckListBox1 = new QListWidget(this);
  CheckListBox1->setObjectName("CheckListBox1");
  layout->addWidget(CheckListBox1, 1);

  auto* buttons = new QHBoxLayout();
  Button1 = new QPushButton("Select all", this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton("Unselect all", this);
  Button2->setObjectName("Button2");
  OKBtn = new QPushButton("OK", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);  // modal result OK
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  buttons->addStretch(1);
  buttons->addWidget(OKBtn);
  layout->addLayout(buttons);
}

std::vector<std::string> TForm2Form::Connect(const THandlerTable& handlers) {
  return ConnectChildren(this, wiring_, handlers);
}

void TForm2Form::reject() { Button2->click(); }

}  // namespace forms
