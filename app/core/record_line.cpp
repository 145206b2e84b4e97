#include "app/core/record_line.h"

#include <algorithm>

#include "platform/runtime/sysutils.h"
#include "textutil/fields.h"
#include "textutil/scan.h"

namespace appcore {
namespace {

// tail is lower-case ASCII; ASCII letters of s match either case.
bool EndsWithNoCase(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && rtl::SameText(s.substr(s.size() - tail.size()), tail);
}

// The characters index .. index+count-1 (1-based) of s as a span, clamped as
// the runtime's Copy clamps: an index below 1 counts as 1, the span stops
// at the end, a count below 1 gives nothing.
Span CopySpan(std::string_view s, long index, long count) {
  if (index < 1) index = 1;
  if (count < 1 || index > static_cast<long>(s.size())) return {};
  const size_t pos = static_cast<size_t>(index - 1);
  return {pos, std::min(static_cast<size_t>(count), s.size() - pos)};
}

}  // namespace

FileKind KindFromName(std::string_view file_name) {
  if (EndsWithNoCase(file_name, "_bap.txt")) return FileKind::kBaptisms;
  for (std::string_view tail : {"_pass.txt", "_memb.txt", "_will.txt", "_marr.txt"})
    if (EndsWithNoCase(file_name, tail)) return FileKind::kOther;
  return FileKind::kNone;
}

std::string_view TrimLine(std::string_view line) {
  size_t begin = 0, end = line.size();
  while (begin < end && static_cast<unsigned char>(line[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(line[end - 1]) <= 32) --end;
  return line.substr(begin, end - begin);
}

bool IsRecordLine(std::string_view trimmed) {
  if (trimmed.empty()) return false;
  const char c = trimmed[0];
  return (c >= '0' && c <= '9') || c == '?';
}

std::string_view YearOf(std::string_view line) { return line.substr(0, 4); }
std::string_view DatePrefixOf(std::string_view line) { return line.substr(0, 12); }
std::string_view RestOf(std::string_view line) {
  return line.size() > 12 ? line.substr(12) : std::string_view();
}

BaptismSpans SplitBaptismSpans(std::string_view rest) {
  BaptismSpans f;
  const long p1 = textutil::ScanC(rest, ';', 1);
  const long p2 = p1 > 0 && p1 < static_cast<long>(rest.size())
                      ? textutil::ScanC(rest, ';', static_cast<int>(p1) + 1)
                      : 0;
  // The last comma at or before p1; without a ';' the last comma of all.
  const long c = textutil::ScanB(rest, ',', static_cast<int>(p1));
  f.father = c > 0 ? CopySpan(rest, 1, c - 1) : CopySpan(rest, 1, p1 - 1);
  if (c > 0 && p1 - c >= 3) f.mother = CopySpan(rest, c + 1, p1 - c - 1);
  if (p2 > 0) {
    f.children = CopySpan(rest, p1 + 2, p2 - p1 - 1);
    f.witness = CopySpan(rest, p2 + 1, static_cast<long>(rest.size()));
  } else {
    f.witness = Span{0, rest.size()};
  }
  return f;
}

BaptismFields SplitBaptismRest(std::string_view rest) {
  const BaptismSpans s = SplitBaptismSpans(rest);
  BaptismFields f;
  std::string scratch;
  f.father = UnbracketedField(s.father.Of(rest), scratch);
  f.mother = UnbracketedField(s.mother.Of(rest), scratch);
  f.children = std::string(s.children.Of(rest));
  f.witness = UnbracketedField(s.witness.Of(rest), scratch);
  return f;
}

CoupleParts SplitCoupleRest(std::string_view rest) {
  std::string unbracketed;
  std::string_view text = rest;
  if (text.find_first_of("[]") != std::string_view::npos) {
    StripBracketsInto(rest, unbracketed);
    text = unbracketed;
  }
  const CoupleViews views = SplitCoupleViews(text);
  return {std::string(views.husband), std::string(views.wife)};
}

CoupleViews SplitCoupleViews(std::string_view text) {
  CoupleViews parts;
  int pos = 1;
  const std::string_view first = textutil::ParseView(text, ";", pos);
  int at = 1;
  parts.husband = textutil::ParseView(first, ",", at);
  if (pos != 0) {
    const std::string_view second = text.substr(static_cast<size_t>(pos - 1));
    at = 1;
    parts.wife = textutil::ParseView(second, ",", at);
  }
  return parts;
}

void StripBracketsInto(std::string_view text, std::string& out) {
  // Every byte is written and the cursor moves on past the kept ones: no
  // branch per byte.
  out.resize(text.size());
  char* to = out.data();
  for (const char c : text) {
    *to = c;
    to += c != '[' && c != ']';
  }
  out.resize(static_cast<size_t>(to - out.data()));
}

std::string_view UnbracketedField(std::string_view field, std::string& scratch) {
  if (field.find('[') == std::string_view::npos) return field;
  StripBracketsInto(field, scratch);
  return scratch;
}

std::string WithoutBrackets(std::string_view text) {
  std::string out;
  StripBracketsInto(text, out);
  return out;
}

std::string SourceTag(int source_number, bool show_codes) {
  if (!show_codes) return {};
  return " [" + std::to_string(source_number) + "] ";
}

std::string HitLine(std::string_view trimmed, std::string_view tag) {
  // One allocation of the exact size: a search keeps hundreds of thousands
  // of these, and a copy grown by the tag would hold twice its length.
  std::string line;
  line.reserve(trimmed.size() + tag.size());
  line.append(trimmed);
  line.append(tag);
  return line;
}

std::string HitLine(std::string_view trimmed, int source_number, bool show_codes) {
  // The tag is written in place, as SourceTag spells it.
  char tag[24];
  size_t tag_size = 0;
  if (show_codes) {
    char digits[12];
    size_t n = 0;
    auto value = static_cast<int64_t>(source_number);
    const bool negative = value < 0;
    uint64_t rest = negative ? static_cast<uint64_t>(-value) : static_cast<uint64_t>(value);
    do {
      digits[n++] = static_cast<char>('0' + rest % 10);
      rest /= 10;
    } while (rest != 0);
    tag[tag_size++] = ' ';
    tag[tag_size++] = '[';
    if (negative) tag[tag_size++] = '-';
    while (n > 0) tag[tag_size++] = digits[--n];
    tag[tag_size++] = ']';
    tag[tag_size++] = ' ';
  }
  return HitLine(trimmed, std::string_view(tag, tag_size));
}

}  // namespace appcore
