#include "app/core/text_encoding.h"

#include <cstdio>
#include <cstring>

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
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  size_t i = 0;
  // 32 bytes a turn while none is high, then 8.
  for (; i + 32 <= s.size(); i += 32) {
    uint64_t w[4];
    std::memcpy(w, s.data() + i, 32);
    if ((w[0] | w[1] | w[2] | w[3]) & kHigh) break;
  }
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    if (word & kHigh) break;
  }
  for (; i < s.size(); ++i)
    if (static_cast<unsigned char>(s[i]) >= 0x80) return i;
  return s.size();
}

}  // namespace

const char* FormName(const TextForm& form) { return form.utf8 ? "UTF-8" : "Windows-1252"; }

TextForm DetectForm(std::string_view bytes) {
  TextForm form;
  size_t i = FirstHighByte(bytes);
  if (i == bytes.size()) return form;  // ASCII: the same either way
  const bool bom = bytes.substr(0, 3) == kBom;
  while (i < bytes.size()) {
    char32_t code = 0;
    const int n = SequenceAt(bytes, i, code);
    if (n == 0) return form;
    i += static_cast<size_t>(n);
    if (n == 1) i += FirstHighByte(bytes.substr(i));
  }
  form.utf8 = true;
  form.bom = bom;
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

bool DecodeText(std::string_view bytes, const TextForm& form, std::string& out, std::string* unshowable) {
  if (!form.utf8) {
    out.assign(bytes);
    return true;
  }
  if (form.bom && bytes.substr(0, 3) == kBom) bytes.remove_prefix(3);
  out.clear();
  out.reserve(bytes.size());
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
      if (showable && unshowable) unshowable->assign(bytes.substr(i, static_cast<size_t>(n)));
      showable = false;
    }
    out += static_cast<char>(byte);
    i += static_cast<size_t>(n);
  }
  return showable;
}

std::string EncodeText(std::string_view text, const TextForm& form) {
  if (!form.utf8) return std::string(text);
  std::string out = form.bom ? std::string(kBom) : std::string();
  return out + rtl::Cp1252ToUtf8(text);
}

std::string UnshowableMessage(std::string_view name, std::string_view unshowable) {
  char32_t code = 0;
  if (!unshowable.empty()) SequenceAt(unshowable, 0, code);
  char hex[16];
  std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(code));
  return "\"" + std::string(name) + "\" is UTF-8 text with characters that Windows-1252 cannot show (the first is " +
         hex + "): it is not read.";
}

}  // namespace appcore
