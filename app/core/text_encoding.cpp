#include "app/core/text_encoding.h"

#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/runtime/cp1252.h"

namespace appcore {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// Length of the well-formed UTF-8 sequence at s[i] and its code point; 0
// when malformed.
int SequenceAt(std::string_view s, size_t i, char32_t& code) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    code = b;
    return 1;
  }
  int extra = 0;
  char32_t min = 0;
  if (b >= 0xC2 && b <= 0xDF) extra = 1, code = b & 0x1F, min = 0x80;
  else if (b >= 0xE0 && b <= 0xEF) extra = 2, code = b & 0x0F, min = 0x800;
  else if (b >= 0xF0 && b <= 0xF4) extra = 3, code = b & 0x07, min = 0x10000;
  else return 0;
  if (i + static_cast<size_t>(extra) >= s.size()) return 0;
  for (int k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
    if ((next & 0xC0) != 0x80) return 0;
    code = code << 6 | (next & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return extra + 1;
}

// The first byte of s at 0x80 or above, looked for many bytes at a time.
size_t FirstHighByte(std::string_view s) {
  size_t i = 0;
#if defined(__SSE2__)
  // 64 bytes a turn while none is high: the high bits are the sign bits.
  const char* p = s.data();
  for (; i + 64 <= s.size(); i += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 48));
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) != 0) break;
  }
  for (; i + 16 <= s.size(); i += 16) {
    const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    if (high != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(high)));
  }
#else
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    if (word & kHigh) break;
  }
#endif
  for (; i < s.size(); ++i)
    if (static_cast<unsigned char>(s[i]) >= 0x80) return i;
  return s.size();
}

// Where the line holding offset i ends: its CR or LF, or the end.
size_t LineEndFrom(std::string_view s, size_t i) {
  const void* lf = std::memchr(s.data() + i, '\n', s.size() - i);
  const size_t nl = lf ? static_cast<size_t>(static_cast<const char*>(lf) - s.data()) : s.size();
  const void* cr = std::memchr(s.data() + i, '\r', nl - i);
  return cr ? static_cast<size_t>(static_cast<const char*>(cr) - s.data()) : nl;
}

// Where the next line after the line end at i begins.
size_t NextLineFrom(std::string_view s, size_t i) {
  if (i < s.size() && s[i] == '\r') ++i;
  if (i < s.size() && s[i] == '\n') ++i;
  return i;
}

// Whether line, whose first high byte stands at its start, is well-formed
// UTF-8 throughout.
bool Utf8Line(std::string_view line) {
  for (size_t i = 0; i < line.size();) {
    char32_t code = 0;
    const int n = SequenceAt(line, i, code);
    if (n == 0) return false;
    i += static_cast<size_t>(n);
    if (n == 1) i += FirstHighByte(line.substr(i));
  }
  return true;
}

// The line (1-based) that holds offset at.
int64_t LineOf(std::string_view s, size_t at) {
  int64_t line = 1;
  for (size_t i = 0; i < at && i < s.size(); ++i)
    if (s[i] == '\n' || (s[i] == '\r' && (i + 1 >= s.size() || s[i + 1] != '\n'))) ++line;
  return line;
}

}  // namespace

const char* FormName(const TextForm& form) {
  return form.mixed ? "UTF-8 and Windows-1252" : form.utf8 ? "UTF-8" : "Windows-1252";
}

TextForm DetectForm(std::string_view bytes, MixedLines* mixed) {
  TextForm form;
  constexpr size_t kNone = std::string_view::npos;
  size_t first_utf8 = kNone, first_cp1252 = kNone;
  // Line by line, from the first high byte of each line that has one: a
  // line whose first one starts no sequence is Windows-1252 at once.
  for (size_t i = FirstHighByte(bytes); i < bytes.size();) {
    const size_t end = LineEndFrom(bytes, i);
    char32_t code = 0;
    const bool utf8 = SequenceAt(bytes, i, code) > 1 && Utf8Line(bytes.substr(i, end - i));
    size_t& first = utf8 ? first_utf8 : first_cp1252;
    if (first == kNone) first = i;
    if (first_utf8 != kNone && first_cp1252 != kNone) break;
    const size_t next = NextLineFrom(bytes, end);
    i = next + FirstHighByte(bytes.substr(next));
  }
  if (first_utf8 == kNone) return form;  // ASCII, or Windows-1252
  form.bom = bytes.substr(0, 3) == kBom && LineEndFrom(bytes, 0) > first_utf8;
  if (first_cp1252 == kNone) {
    form.utf8 = true;
    return form;
  }
  form.mixed = true;
  if (mixed) *mixed = MixedLines{LineOf(bytes, first_utf8), LineOf(bytes, first_cp1252)};
  return form;
}

TextForm DetectLinesForm(const std::vector<std::string>& lines) {
  TextForm form;
  bool multi = false;
  for (const std::string& line : lines) {
    if (FirstHighByte(line) == line.size()) continue;
    if (!DetectForm(line).utf8) return {};
    multi = true;
  }
  form.utf8 = multi;
  form.bom = multi && !lines.empty() && std::string_view(lines[0]).substr(0, 3) == kBom;
  return form;
}

namespace {

// Decodes UTF-8 bytes onto out; false at the first character without a
// Windows-1252 byte, whose offset goes to *at and bytes to *unshowable.
bool DecodeUtf8(std::string_view bytes, size_t base, std::string& out, std::string* unshowable, size_t* at) {
  bool showable = true;
  for (size_t i = 0; i < bytes.size();) {
    const size_t plain = FirstHighByte(bytes.substr(i));
    out.append(bytes.substr(i, plain));
    i += plain;
    if (i >= bytes.size()) break;
    char32_t code = 0;
    int n = SequenceAt(bytes, i, code);
    if (n == 0) n = 1, code = 0xFFFD;  // not reached for a detected file
    const unsigned char byte = rtl::UnicodeToCp1252(code);
    if (byte == '?' || rtl::Cp1252ToUnicode(byte) != code) {
      if (showable) {
        if (unshowable) unshowable->assign(bytes.substr(i, static_cast<size_t>(n)));
        if (at) *at = base + i;
      }
      showable = false;
    }
    out += static_cast<char>(byte);
    i += static_cast<size_t>(n);
  }
  return showable;
}

}  // namespace

bool DecodeText(std::string_view bytes, const TextForm& form, std::string& out, std::string* unshowable,
                int64_t* line) {
  if (!form.utf8 && !form.mixed) {
    out.assign(bytes);
    return true;
  }
  if (form.bom && bytes.substr(0, 3) == kBom) bytes.remove_prefix(3);
  out.clear();
  out.reserve(bytes.size());
  size_t at = 0;
  bool showable = true;
  if (form.utf8) {
    showable = DecodeUtf8(bytes, 0, out, unshowable, &at);
  } else {
    // Mixed: each line in its own form.
    for (size_t begin = 0; begin < bytes.size();) {
      const size_t end = LineEndFrom(bytes, begin), next = NextLineFrom(bytes, end);
      const std::string_view text = bytes.substr(begin, end - begin);
      const size_t high = FirstHighByte(text);
      if (high < text.size() && Utf8Line(text.substr(high))) {
        if (!DecodeUtf8(text, begin, out, showable ? unshowable : nullptr, showable ? &at : nullptr)) showable = false;
      } else {
        out.append(text);
      }
      out.append(bytes.substr(end, next - end));
      begin = next;
    }
  }
  if (!showable && line) *line = LineOf(bytes, at);
  return showable;
}

std::string EncodeText(std::string_view text, const TextForm& form) {
  if (!form.utf8) return std::string(text);
  std::string out = form.bom ? std::string(kBom) : std::string();
  return out + rtl::Cp1252ToUtf8(text);
}

namespace {

// "U+0395" for the character (UTF-8) c.
std::string CodePoint(std::string_view c) {
  char32_t code = 0;
  if (!c.empty()) SequenceAt(c, 0, code);
  char hex[16];
  std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(code));
  return hex;
}

}  // namespace

std::string UnshowableWhere(std::string_view unshowable, int64_t line) {
  std::string text = " (" + CodePoint(unshowable) + ")";
  if (line > 0) text += " on line " + std::to_string(line);
  return text + " has no Windows-1252 byte";
}

std::string UnshowableMessage(std::string_view name, std::string_view unshowable, int64_t line) {
  std::string where = CodePoint(unshowable);
  if (line > 0) where += ", on line " + std::to_string(line);
  return "\"" + std::string(name) + "\" is UTF-8 text with characters that Windows-1252 cannot show (the first is " +
         where + "): it is not read.";
}

std::string MixedNote(const MixedLines& lines) {
  return "mixes UTF-8 (line " + std::to_string(lines.utf8) + ") and Windows-1252 (line " +
         std::to_string(lines.cp1252) + "): each line is read in its own form";
}

}  // namespace appcore
