// Small value types of the memo editor: colours, cursors, font styles, the
// option sets and enumerations, and the plain font description that the
// window layer maps onto real fonts.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace memo {

// A colour as 0x00BBGGRR, or a system colour (high bit set, low byte the
// system colour index), or -1 for "none".
using TColor = std::int32_t;

inline constexpr TColor clNone = -1;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;

inline constexpr TColor SystemColor(int index) {
  return static_cast<TColor>(0x80000000u | static_cast<std::uint32_t>(index));
}
inline constexpr TColor clWindow = SystemColor(5);
inline constexpr TColor clWindowText = SystemColor(8);
inline constexpr TColor clHighlight = SystemColor(13);
inline constexpr TColor clHighlightText = SystemColor(14);
inline constexpr TColor clBtnFace = SystemColor(15);

// The mouse cursor shown over a piece of text.
using TCursor = std::int16_t;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crIBeam = -4;

// Font styles: bit 0 bold, 1 italic, 2 underline, 3 strike-out.
using TFontStyles = std::uint8_t;
inline constexpr TFontStyles fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;

// The one-byte extended style of a piece of memo text; the static attribute
// byte uses the same bits.
using TExtFontStyles = std::uint8_t;
inline constexpr TExtFontStyles esBold = 1, esItalic = 2, esUnderline = 4, esStrikeOut = 8,
                                esHighlight = 16, esAltFont = 32, esSpecUnderline = 128;

enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };

enum TVellMemoOption : int {
  vmoKeepColumnPos,
  vmoPutExtraSpaces,
  vmoWrapCaret,
  vmoInsertKeyActive,
  vmoWideOverwriteCaret,
  vmoLargeWordSelect,
  vmoAutoScrollBars,
  vmoNoDragnDrop,
  vmoAutoIndent,
  vmoBackIndent,
  vmoWindowsSelColors,
  vmoFullLineSelect,
  vmoDiscardTrailingSpaces,
  vmoNoFineScroll,
  vmoNoLineSelection,
  vmoBlockSelection,
};

// A set of TVellMemoOption, one bit per value.
class TVellMemoOptions {
public:
  constexpr TVellMemoOptions() = default;
  constexpr TVellMemoOptions(std::initializer_list<TVellMemoOption> options) {
    for (auto o : options) bits_ |= Bit(o);
  }
  constexpr bool Has(TVellMemoOption o) const { return (bits_ & Bit(o)) != 0; }
  constexpr TVellMemoOptions With(TVellMemoOption o) const { return FromBits(bits_ | Bit(o)); }
  constexpr TVellMemoOptions Without(TVellMemoOption o) const { return FromBits(bits_ & ~Bit(o)); }
  constexpr std::uint16_t Bits() const { return bits_; }
  static constexpr TVellMemoOptions FromBits(std::uint16_t bits) {
    TVellMemoOptions o;
    o.bits_ = bits;
    return o;
  }
  friend constexpr bool operator==(TVellMemoOptions a, TVellMemoOptions b) { return a.bits_ == b.bits_; }

private:
  static constexpr std::uint16_t Bit(TVellMemoOption o) { return static_cast<std::uint16_t>(1u << o); }
  std::uint16_t bits_ = 0;
};

enum TUpdateMode : std::uint8_t { umImmediate, umOnNeed, umBackground };
enum TvmUpperCase : std::uint8_t { vmuAscii, vmuAnsi, vmuUserDefined };
enum TVellLineBreak : std::uint8_t { vbCRLF, vbLFCR, vbCR, vbLF };

// A font as the memo sees it; the window layer turns it into a real font.
struct TMemoFont {
  std::string Name = "MS Sans Serif";
  int Size = 8;      // points
  int Height = -11;  // pixels; negative: character height without leading
  TColor Color = clWindowText;
  TFontStyles Style = 0;
  friend bool operator==(const TMemoFont&, const TMemoFont&) = default;
};

struct TPoint {
  int x = 0;
  int y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};

// A window message as the memo dispatches it.
struct TMessage {
  std::uint32_t Msg = 0;
  std::intptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::intptr_t Result = 0;
};

inline constexpr std::uint32_t WM_USER = 0x0400;
inline constexpr std::uint32_t VM_UPDATEBKG = WM_USER + 1;   // continue background formatting
inline constexpr std::uint32_t VM_VSCROLLED = WM_USER + 2;   // the view scrolled vertically
inline constexpr std::uint32_t VM_CONTEXTLEFT = WM_USER + 3;
inline constexpr std::uint32_t VM_CARETMOVED = WM_USER + 4;
inline constexpr std::uint32_t VM_CONTEXTRIGHT = WM_USER + 5;
inline constexpr std::uint32_t CM_FONTCHANGED = 0xB00E;
inline constexpr std::uint32_t CM_TEXTCHANGED = 0xB012;

// The operation value passed to an attached component's Notification while
// the memo dispatches a message.
inline constexpr int kMessageNotification = 64;

// Resolves a system colour to 0x00BBGGRR; plain colours pass unchanged and
// -1 gives -1. The window layer may install the desktop's palette.
TColor ColorToRGB(TColor color);
using SystemColorResolver = TColor (*)(int index);
void SetSystemColorResolver(SystemColorResolver resolver);

}  // namespace memo
