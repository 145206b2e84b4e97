// The X11 desktop, when there is one: the process and class of a window and
// keys typed as if on the keyboard. The X libraries (libX11, and libXtst
// for typing) are loaded on the first call made while DISPLAY names a
// display, never before; without them, without a display or when the
// display cannot be opened, every routine answers its failure value.
//
// Windows are X window ids. Titles are Windows-1252 text; a window's title
// is its _NET_WM_NAME (UTF-8), else its WM_NAME.
#pragma once

#include <cstdint>
#include <string>

namespace rtl::os {

// True when DISPLAY names a display that opens and the X library loads.
bool DisplayAvailable();

// The _NET_WM_PID of the window; -1 when it is no window, has no such
// property or there is no display.
long WindowProcessId(std::uintptr_t window);

// The class (the second part of WM_CLASS) of the first top-level window
// whose title is title; "" when none.
std::string WindowClassByTitle(const std::string& title);

// Presses the system key (Super, the Windows key of other keyboards),
// presses and releases the key of the Windows virtual-key code vk, then
// releases the system key, through the X Test extension. Codes: letters
// 'A'..'Z', digits '0'..'9', the blank, Backspace, Tab, Enter, Escape, the
// cursor block, Insert, Delete, F1..F12 and the numeric pad digits. False
// for any other code, without the extension or without a display.
bool PressWithSystemKey(int vk);

}  // namespace rtl::os
