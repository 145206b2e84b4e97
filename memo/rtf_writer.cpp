// RTF export (write only): a font table with the memo font (f0) and the
// alternate font (f1), a colour table that starts with Font.Color,
// HighlightColor, Color and HighlightBackgnd and then lists the colours of
// the start/stop and user runs, one paragraph format, and the paragraphs
// with a character format group wherever the format changes. Style codes
// are not written; "\", "{" and "}" are escaped and characters above 127
// written as \'hh (Windows-1252, as \ansi says). The output ends with
// "\par }" and one zero byte.
#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "memo/vell_memo.h"

namespace memo {
namespace {

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool RunHasColours(const DynInfoRec& run) {
  return (run.flags & kRunStyled) && !(run.background == 0 && run.foreground == 0);
}

class ColourTable {
public:
  int Add(TColor color) {
    TColor rgb = ColorToRGB(color);
    int index = Find(rgb);
    if (index >= 0) return index;
    colours_.push_back(rgb);
    return static_cast<int>(colours_.size()) - 1;
  }
  void Append(TColor color) { colours_.push_back(ColorToRGB(color)); }
  int Find(TColor rgb) const {
    auto it = std::find(colours_.begin(), colours_.end(), rgb);
    return it == colours_.end() ? -1 : static_cast<int>(it - colours_.begin());
  }
  int IndexOf(TColor color) const { return std::max(Find(ColorToRGB(color)), 0); }
  std::string Text() const {
    std::string s = "{\\colortbl";
    for (TColor c : colours_) {
      s += "\\red" + std::to_string(c & 0xFF) + "\\green" + std::to_string((c >> 8) & 0xFF) + "\\blue" +
           std::to_string((c >> 16) & 0xFF) + ";";
    }
    return s + "}";
  }

private:
  std::vector<TColor> colours_;
};

}  // namespace

void TVellMemo::SaveToRTFStream(rtl::TStream& stream, bool withDynamicStyles) {
  ColourTable colours;
  colours.Append(font_.Color);
  colours.Append(highlight_color_);
  colours.Append(color_);
  colours.Append(highlight_backgnd_);
  auto addRun = [&](const DynInfoRec& run) {
    if (!RunHasColours(run)) return;
    if (run.background != clNone) colours.Add(run.background);
    if (run.foreground != clNone) colours.Add(run.foreground);
  };
  if (withDynamicStyles) {
    for (int i = 0; i < pars_.Count(); ++i) {
      const ParInfo& p = *pars_.At(i);
      if (i == 0 && p.startState) addRun(*p.startState);
      for (int r = 0; r < p.runCount; ++r) addRun(p.runs[r]);
    }
  }

  auto format = [&](std::uint8_t staticStyle, const DynInfoRec& run) {
    const bool dyn = withDynamicStyles && (run.flags & kRunStyled);
    std::uint8_t style = dyn ? static_cast<std::uint8_t>(run.flags & 0x3F)
                             : static_cast<std::uint8_t>(staticStyle ^ font_.Style);
    std::string f = "\\plain";
    if (style & esAltFont) f += "\\f1\\fs" + std::to_string(2 * std::abs(alt_font_.Size));
    else f += "\\f0\\fs" + std::to_string(2 * std::abs(font_.Size));
    if (style & esBold) f += "\\b";
    if (style & esItalic) f += "\\i";
    if (style & esUnderline) f += "\\ul";
    const bool highlight = (style & esHighlight) != 0;
    const int staticFore = highlight ? 1 : 0, staticBack = highlight ? 3 : 2;
    if (dyn && RunHasColours(run)) {
      int fore = run.foreground == clNone ? staticFore : colours.IndexOf(run.foreground);
      int back = run.background == clNone ? staticBack : colours.IndexOf(run.background);
      f += "\\cf" + std::to_string(fore) + "\\cb" + std::to_string(back);
    } else {
      f += "\\cf" + std::to_string(staticFore) + "\\cb" + std::to_string(staticBack);
    }
    return f + " ";
  };

  std::string out;
  auto flush = [&](bool force) {
    if (force || out.size() >= (1 << 16)) {
      if (!out.empty()) stream.WriteBuffer(out.data(), static_cast<std::int64_t>(out.size()));
      out.clear();
    }
  };
  out += "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fnil " + font_.Name + ";}{\\f1\\fnil " + alt_font_.Name +
         ";}}\r\n";
  out += colours.Text();
  if (justified_) out += "\\pard\\qj";
  else if (alignment_ == taRightJustify) out += "\\pard\\qr";
  else if (alignment_ == taCenter) out += "\\pard\\qc";
  else out += "\\pard\\ql";
  const DynInfoRec plain;
  std::string last = format(0, plain);
  out += last + "\r\n";

  std::int64_t lastReport = NowMs();
  const int count = pars_.Count();
  for (int i = 0; i < count; ++i) {
    const ParInfo& p = *pars_.At(i);
    if (i > 0) out += "\\par ";
    std::uint8_t style = static_format_ ? static_cast<std::uint8_t>(p.line0.startStyle) : 0;
    const DynInfoRec* run = p.startState ? p.startState : &plain;
    int next = 0;
    auto emit = [&] {
      std::string f = format(style, withDynamicStyles ? *run : plain);
      if (f != last) {
        out += f;
        last = f;
      }
    };
    emit();
    for (std::int32_t k = 0; k < p.length;) {
      bool changed = false;
      if (withDynamicStyles)
        while (next < p.runCount && p.runs[next].offset <= k) {
          run = &par::StateBefore(p, ++next);
          changed = true;
        }
      const unsigned char c = static_cast<unsigned char>(p.text[k]);
      if (static_format_ && IsStyleCode(c)) {
        while (k < p.length && IsStyleCode(static_cast<unsigned char>(p.text[k]))) {
          style ^= StyleBit(static_cast<unsigned char>(p.text[k]));
          ++k;
        }
        if (withDynamicStyles)
          while (next < p.runCount && p.runs[next].offset <= k) run = &par::StateBefore(p, ++next);
        emit();
        continue;
      }
      if (changed) emit();
      if (c >= 0x80) {
        // 8-bit characters as \'hh: readers drop raw bytes above 127.
        static const char kHex[] = "0123456789abcdef";
        out += "\\'";
        out += kHex[c >> 4];
        out += kHex[c & 15];
        ++k;
        continue;
      }
      if (c == '\\' || c == '{' || c == '}') out += '\\';
      out += static_cast<char>(c);
      ++k;
    }
    out += "\r\n";
    flush(false);
    if (OnProgress && NowMs() - lastReport > 300) {
      lastReport = NowMs();
      progress_ = static_cast<int>(static_cast<std::int64_t>(i) * 100 / count);
      OnProgress(this);
    }
  }
  out += "\\par }";
  out.push_back('\0');
  flush(true);
  progress_ = 100;
  if (OnProgress) OnProgress(this);
}

}  // namespace memo
