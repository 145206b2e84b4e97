#include "platform/gui/keys.h"

#include <QString>

#include "platform/runtime/cp1252.h"

namespace gui {
namespace {

// X11 key codes of the digit row 1..9, 0: layouts that need Shift for the
// digits still give the digit's virtual key.
int DigitOfScanCode(quint32 scan) {
  if (scan >= 10 && scan <= 18) return static_cast<int>(scan - 9);
  if (scan == 19) return 0;
  return -1;
}

}  // namespace

std::uint16_t VirtualKeyOf(const QKeyEvent& event) {
  const int key = event.key();
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<std::uint16_t>('A' + (key - Qt::Key_A));
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<std::uint16_t>('0' + (key - Qt::Key_0));
  if (!(event.modifiers() & Qt::KeypadModifier)) {
    int digit = DigitOfScanCode(event.nativeScanCode());
    if (digit >= 0) return static_cast<std::uint16_t>('0' + digit);
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<std::uint16_t>(VK_F1 + (key - Qt::Key_F1));
  switch (key) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Pause: return VK_PAUSE;
    case Qt::Key_CapsLock: return VK_CAPITAL;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    default: return 0;
  }
}

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
  TShiftState s = 0;
  if (modifiers & Qt::ShiftModifier) s |= ssShift;
  if (modifiers & Qt::AltModifier) s |= ssAlt;
  if (modifiers & Qt::ControlModifier) s |= ssCtrl;
  if (buttons & Qt::LeftButton) s |= ssLeft;
  if (buttons & Qt::RightButton) s |= ssRight;
  if (buttons & Qt::MiddleButton) s |= ssMiddle;
  return s;
}

int CharCodeOf(const QKeyEvent& event) {
  const Qt::KeyboardModifiers mods = event.modifiers();
  const bool ctrl = mods & Qt::ControlModifier;
  const bool alt = mods & Qt::AltModifier;
  if (alt && !ctrl) return -1;
  const int key = event.key();
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Backspace: return ctrl ? 127 : 8;
    case Qt::Key_Tab: return 9;
    case Qt::Key_Escape: return 27;
    default: break;
  }
  if (ctrl && !alt) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return 1 + (key - Qt::Key_A);
    return -1;
  }
  const QString text = event.text();
  if (text.isEmpty()) return -1;
  const char32_t code = text.toUcs4().front();
  if (code < 32 || code == 127) return -1;
  unsigned char byte = rtl::UnicodeToCp1252(code);
  if (byte == '?' && code != U'?') return -1;
  return byte;
}

int MouseKeyFlags(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
  int flags = 0;
  if (buttons & Qt::LeftButton) flags |= MK_LBUTTON;
  if (buttons & Qt::RightButton) flags |= MK_RBUTTON;
  if (buttons & Qt::MiddleButton) flags |= MK_MBUTTON;
  if (modifiers & Qt::ShiftModifier) flags |= MK_SHIFT;
  if (modifiers & Qt::ControlModifier) flags |= MK_CONTROL;
  if (modifiers & Qt::AltModifier) flags |= MK_ALT;
  return flags;
}

TShiftState MouseKeyFlagsToShift(int flags) {
  TShiftState s = 0;
  if (flags & MK_SHIFT) s |= ssShift;
  if (flags & MK_CONTROL) s |= ssCtrl;
  if (flags & MK_ALT) s |= ssAlt;
  if (flags & MK_LBUTTON) s |= ssLeft;
  if (flags & MK_RBUTTON) s |= ssRight;
  if (flags & MK_MBUTTON) s |= ssMiddle;
  return s;
}

}  // namespace gui
