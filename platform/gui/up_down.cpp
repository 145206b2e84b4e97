#include "platform/gui/up_down.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace gui {

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  up_ = new QToolButton(this);
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(this);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setFixedSize(16, 11);
    layout->addWidget(b);
  }
  connect(up_, &QToolButton::clicked, this, [this] { Click(btNext); });
  connect(down_, &QToolButton::clicked, this, [this] { Click(btPrev); });
}

void TUpDown::Click(TUDBtnType button) {
  if (!isEnabled()) return;
  last_ = button;
  if (OnClick) OnClick(button);
}

}  // namespace gui
