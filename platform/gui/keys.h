// Qt key and mouse events as the class library sees them: the virtual key
// of a key press (letters and digits by their key, whatever the keyboard
// layout), the shift state, and the character that Windows would send in
// WM_CHAR for the press (Ctrl+letter as the control character 1 to 26).
#pragma once

#include <QKeyEvent>
#include <cstdint>

#include "platform/gui/messages.h"

namespace gui {

// 0 for keys without a virtual key of ours.
std::uint16_t VirtualKeyOf(const QKeyEvent& event);
TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons = Qt::NoButton);
// The Windows-1252 character of the press, or -1 when it sends none
// (navigation keys, Alt combinations, characters outside the code page).
int CharCodeOf(const QKeyEvent& event);
// MK_* flags of a mouse message.
int MouseKeyFlags(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);
TShiftState MouseKeyFlagsToShift(int flags);

}  // namespace gui
