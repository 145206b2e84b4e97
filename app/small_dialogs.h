// The about box: its Version label shows the program's version whenever
// the box is shown. The sex question and the "Highlight words" dialog have
// no behaviour of their own beyond their stored forms (forms/small_dialogs.h).
#pragma once

#include "forms/small_dialogs.h"

namespace app {

class TAboutBox : public forms::TAboutBoxForm {
public:
  using forms::TAboutBoxForm::TAboutBoxForm;
  void FormActivate();

protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace app
