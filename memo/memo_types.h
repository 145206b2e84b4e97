// Small value types of the memo editor: the option sets and enumerations,
// the extended style bits, the memo's font (a description with a colour)
// and its private messages. Colours, cursors, font styles, points,
// rectangles and the message record are the platform's, named here.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "platform/gui/base/colors.h"
#include "platform/gui/base/cursors.h"
#include "platform/gui/base/fonts.h"
#include "platform/gui/base/geometry.h"
#include "platform/gui/base/messages.h"

namespace memo {

// The platform vocabulary (platform/gui/base/), one definition shared with
// the window layer.
using gui::TColor;
using gui::clNone;
using gui::clBlack;
using gui::clMaroon;
using gui::clGreen;
using gui::clNavy;
using gui::clBlue;
using gui::clRed;
using gui::clLime;
using gui::clYellow;
using gui::clWhite;
using gui::clGray;
using gui::clSilver;
using gui::SystemColor;
using gui::clWindow;
using gui::clWindowText;
using gui::clHighlight;
using gui::clHighlightText;
using gui::clBtnFace;
using gui::ColorToRGB;
using gui::TCursor;
using gui::crDefault;
using gui::crIBeam;
using gui::TFontStyles;
using gui::fsBold;
using gui::fsItalic;
using gui::fsUnderline;
using gui::fsStrikeOut;
using gui::TPoint;
using gui::TRect;
using gui::TMessage;
using gui::WM_USER;
using gui::CM_FONTCHANGED;
using gui::CM_TEXTCHANGED;

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

// A font as the memo sees it: the platform's font description (its Height
// in pixels at 96 dpi, negative the character height without leading) with
// a colour; the window layer turns it into a real font at its resolution.
struct TMemoFont : gui::TFontDesc {
  TColor Color = clWindowText;
  friend bool operator==(const TMemoFont&, const TMemoFont&) = default;
};

// The memo's private messages.
inline constexpr std::uint32_t VM_UPDATEBKG = WM_USER + 1;   // continue background formatting
inline constexpr std::uint32_t VM_VSCROLLED = WM_USER + 2;   // the view scrolled vertically
inline constexpr std::uint32_t VM_CONTEXTLEFT = WM_USER + 3;
inline constexpr std::uint32_t VM_CARETMOVED = WM_USER + 4;
inline constexpr std::uint32_t VM_CONTEXTRIGHT = WM_USER + 5;

// The operation value passed to an attached component's Notification while
// the memo dispatches a message.
inline constexpr int kMessageNotification = 64;

}  // namespace memo
