#include "memo/line_breaker.h"

#include <algorithm>

namespace memo {

TExtFontStyles MergeStyles(std::uint8_t staticStyles, std::uint8_t runAttr, TFontStyles fontStyle) {
  if (!(runAttr & kRunStyled)) return static_cast<TExtFontStyles>(staticStyles ^ fontStyle);
  if ((runAttr & 0x18) == 0x18) return static_cast<TExtFontStyles>(runAttr & 0xA7);
  return static_cast<TExtFontStyles>(runAttr & 0x3F);
}

namespace {

class Breaker {
public:
  Breaker(const ParInfo& par, TTextMeasurer& m, const LayoutValues& v, const LayoutStart& start, LayoutStop stop,
          void* context)
      : p_(par), m_(m), v_(v), text_(par.text ? par.text : ""), stop_(stop), context_(context), from_(start.offset) {
    tab_unit_ = std::max(1, std::max(v.tabStops, 1) * std::max(m.TabCharWidth(), 1));
    style_ = start.style;
    run_ = start.run;
    SelectFont(true);
  }

  LayoutResult Run() {
    const std::int32_t len = p_.length;
    StartLine(from_);
    std::int32_t pos = from_;
    while (pos < len) {
      // Blanks, tabs and (with static format) style codes between words.
      while (pos < len) {
        unsigned char c = static_cast<unsigned char>(text_[pos]);
        Advance(pos);
        if (c == ' ') {
          width_ += space_;
          ++blanks_;
        } else if (c == '\t') {
          width_ = (width_ / tab_unit_ + 1) * tab_unit_;
          blanks_ = 0;
          justify_ = pos;
        } else if (v_.staticFormat && IsStyleCode(c)) {
          style_ ^= StyleBit(c);
          SelectFont(false);
        } else {
          break;
        }
        ++pos;
      }
      if (pos >= len) break;
      // One word.
      const std::int32_t wordStart = pos;
      const std::uint8_t styleAtWord = style_;
      const int runAtWord = run_;
      int wordWidth = 0;
      std::int32_t piece = pos;
      while (pos < len) {
        unsigned char c = static_cast<unsigned char>(text_[pos]);
        if (c == ' ' || c == '\t') break;
        bool boundary = run_ < p_.runCount && p_.runs[run_].offset <= pos;
        bool code = v_.staticFormat && IsStyleCode(c);
        if (boundary || code) {
          wordWidth += Measure(piece, pos);
          Advance(pos);
          if (code) {
            style_ ^= StyleBit(c);
            SelectFont(false);
            piece = pos + 1;
          } else {
            piece = pos;
          }
        }
        ++pos;
      }
      wordWidth += Measure(piece, pos);
      if (wordWidth > 0) wordWidth -= overhang_;

      if (width_ + wordWidth > v_.availableWidth) {
        if (has_word_) {
          EmitLine(wordStart, word_end_width_, width_, word_end_blanks_, justify_);
          if (NextLine(wordStart, styleAtWord, runAtWord, false)) return std::move(result_);
        }
        if (wordWidth > v_.availableWidth) {
          if (BreakWord(wordStart, pos, styleAtWord, runAtWord)) return std::move(result_);
        } else {
          width_ += wordWidth;
          has_word_ = true;
        }
      } else {
        width_ += wordWidth;
        has_word_ = true;
      }
      word_end_width_ = width_;
      word_end_blanks_ = blanks_;
    }
    EmitLine(len, width_, width_, has_word_ ? word_end_blanks_ : blanks_, len);
    return std::move(result_);
  }

private:
  // Takes the runs that begin at or before pos.
  void Advance(std::int32_t pos) {
    bool changed = false;
    while (run_ < p_.runCount && p_.runs[run_].offset <= pos) {
      ++run_;
      changed = true;
    }
    if (changed) SelectFont(false);
  }

  std::uint8_t RunFlags() const { return par::StateBefore(p_, run_).flags; }

  void SelectFont(bool force) {
    TExtFontStyles ext = static_cast<TExtFontStyles>(MergeStyles(style_, RunFlags(), v_.fontStyle) & ~esHighlight);
    if (!force && ext == font_) return;
    font_ = ext;
    m_.SelectFont(ext);
    int w1 = m_.TextWidth(" ", 1), w2 = m_.TextWidth("  ", 2);
    if (w1 < 0 || w2 < 0) {
      space_ = 1;
      overhang_ = 0;
    } else {
      overhang_ = 2 * w1 - w2;
      space_ = w1 - overhang_;
    }
  }

  int Measure(std::int32_t from, std::int32_t to) {
    int total = 0;
    const int chunk = std::max(v_.chunkLimit, 1);
    while (from < to) {
      int n = std::min(to - from, chunk);
      int w = m_.TextWidth(text_ + from, n);
      if (w > 0) total += w;
      from += n;
    }
    return total;
  }

  int CharWidth(std::int32_t at) {
    int w = m_.TextWidth(text_ + at, 1);
    return w > 0 ? w - overhang_ : 0;
  }

  // A new line at `at`, unless the stop callback ends the layout there
  // (true).
  bool NextLine(std::int32_t at, std::uint8_t style, int run, bool inWord) {
    if (stop_ && stop_(context_, at, style, run, inWord)) {
      result_.stoppedAt = at;
      return true;
    }
    StartLine(at, style, run);
    return false;
  }

  // A word wider than the line: characters one by one. True when the
  // layout stopped.
  bool BreakWord(std::int32_t from, std::int32_t to, std::uint8_t style, int run) {
    style_ = style;
    run_ = run;
    SelectFont(false);
    int taken = 0;
    for (std::int32_t i = from; i < to; ++i) {
      unsigned char c = static_cast<unsigned char>(text_[i]);
      Advance(i);
      bool code = v_.staticFormat && IsStyleCode(c);
      int cw = code || c == '\t' ? 0 : CharWidth(i);
      if (taken > 0 && cw > 0 && width_ + cw > v_.availableWidth) {
        EmitLine(i, width_, width_, 0, i);
        if (NextLine(i, style_, run_, true)) return true;
        taken = 0;
      }
      if (code) {
        style_ ^= StyleBit(c);
        SelectFont(false);
      }
      width_ += cw;
      ++taken;
    }
    has_word_ = true;
    return false;
  }

  void StartLine(std::int32_t at) { StartLine(at, style_, run_); }
  void StartLine(std::int32_t at, std::uint8_t style, int run) {
    line_start_ = at;
    line_style_ = style;
    line_run_ = run;  // the runs up to at are taken by then
    width_ = 0;
    blanks_ = 0;
    justify_ = at;
    has_word_ = false;
    word_end_width_ = 0;
    word_end_blanks_ = 0;
  }

  void EmitLine(std::int32_t end, int width, int fullWidth, int inner, std::int32_t justify) {
    LineInfo line;
    line.start = line_start_;
    line.end = end;
    line.width = width;
    line.fullWidth = fullWidth;
    line.innerBlanks = inner;
    line.justifyStart = justify;
    line.startStyle = line_style_;
    line.startRun = line_run_;
    result_.widest = std::max(result_.widest, width);
    result_.lines.push_back(line);
  }

  const ParInfo& p_;
  TTextMeasurer& m_;
  const LayoutValues& v_;
  const char* text_;
  LayoutStop stop_;
  void* context_;
  std::int32_t from_;
  int tab_unit_ = 1;
  std::uint8_t style_ = 0;
  int run_ = 0;
  TExtFontStyles font_ = 0;
  int space_ = 1;
  int overhang_ = 0;

  std::int32_t line_start_ = 0;
  std::uint8_t line_style_ = 0;
  int line_run_ = 0;
  int width_ = 0;
  int blanks_ = 0;
  std::int32_t justify_ = 0;
  bool has_word_ = false;
  int word_end_width_ = 0;
  int word_end_blanks_ = 0;
  LayoutResult result_;
};

}  // namespace

LayoutResult BreakLines(const ParInfo& par, TTextMeasurer& measurer, const LayoutValues& values) {
  const LayoutStart start{0, static_cast<std::uint8_t>(par.line0.startStyle), par::RunsUpTo(par, 0)};
  return Breaker(par, measurer, values, start, nullptr, nullptr).Run();
}

LayoutResult BreakLines(const ParInfo& par, TTextMeasurer& measurer, const LayoutValues& values,
                        const LayoutStart& start, LayoutStop stop, void* context) {
  return Breaker(par, measurer, values, start, stop, context).Run();
}

}  // namespace memo
