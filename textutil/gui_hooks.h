// The few places where the text utility library needs the user interface:
// keeping the event loop running while it waits for a program, the
// clipboard, the beep and the printer names. The library links no GUI
// toolkit; the application registers these hooks at start-up and the
// library calls them. A hook that is not set makes its routine answer its
// failure value (false, "" or nothing done).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace textutil {

struct GuiHooks {
  // Handles the events waiting for the calling (GUI) thread and returns.
  std::function<void()> process_messages;
  // Places plain text (Windows-1252) on the clipboard; true on success.
  std::function<bool(const std::string& text)> set_clipboard_text;
  // The plain text on the clipboard; false when there is none or the
  // clipboard cannot be read.
  std::function<bool(std::string& text)> get_clipboard_text;
  // Sounds the default beep.
  std::function<void()> beep;
  // The name of the default printer, "" when there is none.
  std::function<std::string()> default_printer;
  // The names of all printers the user can print to.
  std::function<std::vector<std::string>()> printer_names;
};

// Replaces all hooks at once; a default-constructed GuiHooks clears them.
void SetGuiHooks(GuiHooks hooks);

// A copy of the hooks in force, taken under the hooks' lock so that a hook
// may run while another thread replaces them.
GuiHooks GetGuiHooks();

// Calls the process_messages hook when there is one; false without it.
bool ProcessGuiMessages();

}  // namespace textutil
