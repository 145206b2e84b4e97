#include "platform/gui/messages.h"

#include <QCoreApplication>

namespace gui {

QEvent::Type TMessageEvent::EventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

void PostMessage(QObject* receiver, std::uint32_t msg, std::intptr_t wparam, std::intptr_t lparam) {
  if (!receiver) return;
  QCoreApplication::postEvent(receiver, new TMessageEvent(TMessage{msg, wparam, lparam, 0}));
}

void CancelPostedMessages(QObject* receiver) {
  if (receiver) QCoreApplication::removePostedEvents(receiver, TMessageEvent::EventType());
}

}  // namespace gui
