#include "controls/change_view.h"

#include <QCoreApplication>
#include <QPointer>

#include "platform/gui/messages.h"

namespace controls {

void BroadcastChangeView(QWidget* parent) {
  if (!parent) return;
  const auto children = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QPointer<QWidget> child : children) {
    if (!child) continue;
    gui::TMessage message;
    message.Msg = KELM_CHANGEVIEW;
    gui::TMessageEvent event(message);
    QCoreApplication::sendEvent(child, &event);
    if (child) BroadcastChangeView(child);
  }
}

}  // namespace controls
