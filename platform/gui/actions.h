// An action a control can be bound to: a QAction (caption, checked,
// enabled, triggered) that also carries the class library's help context
// and image index. changed() fires when any of them changes.
#pragma once

#include <QAction>

namespace gui {

class TCustomAction : public QAction {
public:
  using QAction::QAction;

  int HelpContext() const { return help_context_; }
  void SetHelpContext(int value) {
    if (value == help_context_) return;
    help_context_ = value;
    emit changed();
  }
  int ImageIndex() const { return image_index_; }
  void SetImageIndex(int value) {
    if (value == image_index_) return;
    image_index_ = value;
    emit changed();
  }

private:
  int help_context_ = 0;
  int image_index_ = -1;
};

}  // namespace gui
