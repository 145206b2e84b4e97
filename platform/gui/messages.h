// Posting a window message (platform/gui/base/messages.h) to a control
// through the Qt event queue.
#pragma once

#include <QEvent>
#include <QObject>
#include <cstdint>

#include "platform/gui/base/messages.h"

namespace gui {

// A message waiting in the Qt event queue for its control.
class TMessageEvent : public QEvent {
public:
  explicit TMessageEvent(const TMessage& message) : QEvent(EventType()), message_(message) {}
  static QEvent::Type EventType();
  const TMessage& Message() const { return message_; }

private:
  TMessage message_;
};

// Queues the message for the receiver (never runs it at once); the
// receiver's event() turns a TMessageEvent back into a dispatch. A message
// posted to a receiver destroyed before it runs is dropped by Qt.
void PostMessage(QObject* receiver, std::uint32_t msg, std::intptr_t wparam = 0, std::intptr_t lparam = 0);
// Drops every message still queued for the receiver.
void CancelPostedMessages(QObject* receiver);

}  // namespace gui
