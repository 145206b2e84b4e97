// Exceptions that reach the event loop. A Qt event handler must not let an
// exception escape; the controls run their handlers through Guarded, which
// shows the message the way the class library's default handler does (a
// message box) and carries on. A program or a test may install its own
// handler instead.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace gui {

using TExceptionHandler = std::function<void(const std::string& message)>;

// nullptr restores the default (a warning box; a log line without a screen).
void SetExceptionHandler(TExceptionHandler handler);
void ShowException(const std::exception& e);

// Runs f; an exception is shown and false returned.
template <typename F>
bool Guarded(F&& f) {
  try {
    f();
    return true;
  } catch (const std::exception& e) {
    ShowException(e);
    return false;
  }
}

}  // namespace gui
