#include "app/small_dialogs.h"

#include <QLabel>

#include "app/baptisms.h"

namespace app {

void TAboutBox::FormActivate() { Version->setText(QString::fromLatin1(kVersionText)); }

void TAboutBox::showEvent(QShowEvent* event) {
  FormActivate();
  forms::TAboutBoxForm::showEvent(event);
}

}  // namespace app
