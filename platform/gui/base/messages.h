// Window messages as the controls and the memo dispatch them: the message
// record, the Win32 message, command and key numbers our controls use, and
// the shift state. Posting through the Qt event queue is platform/gui/messages.h.
//
// Parameters of the input messages built by this layer:
//   WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP: WParam the virtual
//     key, LParam the TShiftState in bits 16-23 (our layout).
//   WM_CHAR: WParam the Windows-1252 character.
//   mouse messages: WParam the MK_* flags (MK_ALT ours), LParam MAKELPARAM(x, y) with x
//     and y as signed 16-bit client coordinates.
//   WM_MOUSEWHEEL: the high word of WParam the signed delta (120 a notch).
//   WM_VSCROLL, WM_HSCROLL: low word of WParam the SB_* code, high word the
//     thumb position (16 bits; the full position travels in LParam).
#pragma once

#include <cstdint>

namespace gui {

struct TMessage {
  std::uint32_t Msg = 0;
  std::intptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::intptr_t Result = 0;
};

// ---- message numbers ----
inline constexpr std::uint32_t WM_SIZE = 0x0005;
inline constexpr std::uint32_t WM_SETFOCUS = 0x0007;
inline constexpr std::uint32_t WM_KILLFOCUS = 0x0008;
inline constexpr std::uint32_t WM_PAINT = 0x000F;
inline constexpr std::uint32_t WM_ERASEBKGND = 0x0014;
inline constexpr std::uint32_t WM_SETCURSOR = 0x0020;
inline constexpr std::uint32_t WM_GETDLGCODE = 0x0087;
inline constexpr std::uint32_t WM_KEYDOWN = 0x0100;
inline constexpr std::uint32_t WM_KEYUP = 0x0101;
inline constexpr std::uint32_t WM_CHAR = 0x0102;
inline constexpr std::uint32_t WM_SYSKEYDOWN = 0x0104;
inline constexpr std::uint32_t WM_SYSKEYUP = 0x0105;
inline constexpr std::uint32_t WM_TIMER = 0x0113;
inline constexpr std::uint32_t WM_HSCROLL = 0x0114;
inline constexpr std::uint32_t WM_VSCROLL = 0x0115;
inline constexpr std::uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr std::uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr std::uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr std::uint32_t WM_LBUTTONDBLCLK = 0x0203;
inline constexpr std::uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr std::uint32_t WM_RBUTTONUP = 0x0205;
inline constexpr std::uint32_t WM_RBUTTONDBLCLK = 0x0206;
inline constexpr std::uint32_t WM_MBUTTONDOWN = 0x0207;
inline constexpr std::uint32_t WM_MBUTTONUP = 0x0208;
inline constexpr std::uint32_t WM_MOUSEWHEEL = 0x020A;
inline constexpr std::uint32_t WM_CUT = 0x0300;
inline constexpr std::uint32_t WM_COPY = 0x0301;
inline constexpr std::uint32_t WM_PASTE = 0x0302;
inline constexpr std::uint32_t WM_CLEAR = 0x0303;
inline constexpr std::uint32_t WM_UNDO = 0x0304;
inline constexpr std::uint32_t WM_USER = 0x0400;

// Class-library control messages.
inline constexpr std::uint32_t CM_BASE = 0xB000;
inline constexpr std::uint32_t CM_FONTCHANGED = CM_BASE + 14;
inline constexpr std::uint32_t CM_CTL3DCHANGED = CM_BASE + 16;
inline constexpr std::uint32_t CM_TEXTCHANGED = CM_BASE + 18;
inline constexpr std::uint32_t CM_MOUSEENTER = CM_BASE + 19;
inline constexpr std::uint32_t CM_MOUSELEAVE = CM_BASE + 20;

// Scroll-bar commands.
inline constexpr int SB_LINEUP = 0, SB_LINELEFT = 0;
inline constexpr int SB_LINEDOWN = 1, SB_LINERIGHT = 1;
inline constexpr int SB_PAGEUP = 2, SB_PAGELEFT = 2;
inline constexpr int SB_PAGEDOWN = 3, SB_PAGERIGHT = 3;
inline constexpr int SB_THUMBPOSITION = 4;
inline constexpr int SB_THUMBTRACK = 5;
inline constexpr int SB_TOP = 6, SB_LEFT = 6;
inline constexpr int SB_BOTTOM = 7, SB_RIGHT = 7;
inline constexpr int SB_ENDSCROLL = 8;

// Dialog codes (the answer to WM_GETDLGCODE).
inline constexpr int DLGC_WANTARROWS = 0x0001;
inline constexpr int DLGC_WANTTAB = 0x0002;
inline constexpr int DLGC_WANTALLKEYS = 0x0004;
inline constexpr int DLGC_WANTCHARS = 0x0080;

inline constexpr int HTCLIENT = 1;

// Mouse-key flags of the mouse messages.
inline constexpr int MK_LBUTTON = 0x0001;
inline constexpr int MK_RBUTTON = 0x0002;
inline constexpr int MK_SHIFT = 0x0004;
inline constexpr int MK_CONTROL = 0x0008;
inline constexpr int MK_MBUTTON = 0x0010;
// Alt held (our layout: Win32 asks GetKeyState instead).
inline constexpr int MK_ALT = 0x0100;

// Virtual keys. Letters and digits are their upper-case ASCII codes.
inline constexpr std::uint16_t VK_BACK = 0x08;
inline constexpr std::uint16_t VK_TAB = 0x09;
inline constexpr std::uint16_t VK_RETURN = 0x0D;
inline constexpr std::uint16_t VK_SHIFT = 0x10;
inline constexpr std::uint16_t VK_CONTROL = 0x11;
inline constexpr std::uint16_t VK_MENU = 0x12;
inline constexpr std::uint16_t VK_PAUSE = 0x13;
inline constexpr std::uint16_t VK_CAPITAL = 0x14;
inline constexpr std::uint16_t VK_ESCAPE = 0x1B;
inline constexpr std::uint16_t VK_SPACE = 0x20;
inline constexpr std::uint16_t VK_PRIOR = 0x21;
inline constexpr std::uint16_t VK_NEXT = 0x22;
inline constexpr std::uint16_t VK_END = 0x23;
inline constexpr std::uint16_t VK_HOME = 0x24;
inline constexpr std::uint16_t VK_LEFT = 0x25;
inline constexpr std::uint16_t VK_UP = 0x26;
inline constexpr std::uint16_t VK_RIGHT = 0x27;
inline constexpr std::uint16_t VK_DOWN = 0x28;
inline constexpr std::uint16_t VK_INSERT = 0x2D;
inline constexpr std::uint16_t VK_DELETE = 0x2E;
inline constexpr std::uint16_t VK_F1 = 0x70;

// The class library's shift state: one bit per key or button.
using TShiftState = std::uint8_t;
inline constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32,
                             ssDouble = 64;

enum TMouseButton : std::uint8_t { mbLeft, mbRight, mbMiddle };

inline constexpr std::intptr_t MakeLParam(int low, int high) {
  return static_cast<std::intptr_t>((static_cast<std::uint32_t>(low) & 0xFFFF) |
                                    ((static_cast<std::uint32_t>(high) & 0xFFFF) << 16));
}
inline constexpr int LowWord(std::intptr_t value) { return static_cast<int>(value & 0xFFFF); }
inline constexpr int HighWord(std::intptr_t value) { return static_cast<int>((value >> 16) & 0xFFFF); }
// The signed halves (mouse coordinates, wheel delta).
inline constexpr int SignedLowWord(std::intptr_t value) { return static_cast<std::int16_t>(LowWord(value)); }
inline constexpr int SignedHighWord(std::intptr_t value) { return static_cast<std::int16_t>(HighWord(value)); }

inline constexpr std::intptr_t KeyLParam(TShiftState shift) { return static_cast<std::intptr_t>(shift) << 16; }
inline constexpr TShiftState KeyShiftState(std::intptr_t lparam) { return static_cast<TShiftState>(lparam >> 16); }

}  // namespace gui
