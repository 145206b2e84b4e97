#include "textutil/layout.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/runtime/sysutils.h"
#include "textutil/compare.h"
#include "textutil/detail.h"
#include "textutil/edit.h"
#include "textutil/scan.h"
#include "textutil/state.h"

namespace textutil {
namespace {

using detail::U;

constexpr char kCrLf[] = "\r\n";
constexpr char kPathDelim = '/';
constexpr char kListDelim = ';';

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Trimmed(std::string_view s) {
  size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return "";
  size_t last = s.find_last_not_of(' ');
  return std::string(s.substr(first, last - first + 1));
}

// ---- ASC2HTM ----------------------------------------------------------------

// word is lower-case ASCII; ASCII letters of s match either case.
bool StartsWithCaseBlind(std::string_view s, size_t at, std::string_view word) {
  return at + word.size() <= s.size() && rtl::SameText(s.substr(at, word.size()), word);
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = U(text[i]);
    if (c == '&') {
      out += "&amp";
    } else if (StartsWithCaseBlind(text, i, "(c)")) {
      out += "&copy;";
      i += 2;
    } else if (StartsWithCaseBlind(text, i, "(r)")) {
      out += "&reg;";
      i += 2;
    } else if (c == '<') {
      out += "&LT";
    } else if (c == '>') {
      out += "&GT";
    } else if (c >= 160) {
      out += "&#" + std::to_string(c) + ";";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool EndsLinkTarget(char c) { return c == '\t' || c == '\r' || c == '\n' || c == ' ' || c == ',' || c == ';'; }

// "[label]target" becomes a link; a blank after the target is taken by the
// blank that follows the link.
std::string Links(const std::string& line) {
  std::string out;
  size_t i = 0;
  while (i < line.size()) {
    size_t open = line.find('[', i);
    size_t close = open == std::string::npos ? std::string::npos : line.find(']', open + 1);
    if (close == std::string::npos || close + 1 >= line.size() || EndsLinkTarget(line[close + 1])) {
      size_t upto = open == std::string::npos ? line.size() : (close == std::string::npos ? line.size() : close + 1);
      out.append(line, i, upto - i);
      i = upto;
      continue;
    }
    size_t end = close + 1;
    while (end < line.size() && !EndsLinkTarget(line[end])) ++end;
    out.append(line, i, open - i);
    out += "<A HREF=\"" + line.substr(close + 1, end - close - 1) + "\">" + line.substr(open + 1, close - open - 1) + "</A> ";
    i = end < line.size() && line[end] == ' ' ? end + 1 : end;
  }
  return out;
}

// ---- NumToWord --------------------------------------------------------------

constexpr std::array<const char*, 20> kOnes = {"",          " One",      " Two",      " Three",   " Four",
                                               " Five",     " Six",      " Seven",    " Eight",   " Nine",
                                               " Ten",      " Eleven",   " Twelve",   " Thirteen", " Fourteen",
                                               " Fifteen",  " Sixteen",  " Seventeen", " Eighteen", " Nineteen"};
constexpr std::array<const char*, 10> kTens = {"",       " Ten",   " Twenty",  " Thirty", " Forty",
                                               " Fifty", " Sixty", " Seventy", " Eighty", " Ninety"};
constexpr std::array<const char*, 5> kScales = {"", " Thousand", " Million", " Billion", " Trillion"};

std::string UnderThousand(int g) {
  std::string w;
  if (g >= 100) w += std::string(kOnes[static_cast<size_t>(g / 100)]) + " Hundred";
  int r = g % 100;
  if (r < 20)
    w += kOnes[static_cast<size_t>(r)];
  else
    w += std::string(kTens[static_cast<size_t>(r / 10)]) + kOnes[static_cast<size_t>(r % 10)];
  return w;
}

bool AllDigits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// ---- Abbreviate -------------------------------------------------------------

size_t JoinedLength(const std::vector<std::string>& words) {
  size_t n = words.empty() ? 0 : words.size() - 1;
  for (const auto& w : words) n += w.size();
  return n;
}

std::string Join(const std::vector<std::string>& words) {
  std::string out;
  for (const auto& w : words) {
    if (!out.empty()) out += ' ';
    out += w;
  }
  return out;
}

bool EndsInDigit(const std::string& w) { return !w.empty() && w.back() >= '0' && w.back() <= '9'; }

}  // namespace

// ---- wrapping ---------------------------------------------------------------

std::string WrapText(std::string_view text, int width) {
  static constexpr std::string_view kBreaks = " ,:;.?!&>]})|-=+~`";
  std::string out;
  const int n = static_cast<int>(text.size());
  int p = 1;
  auto at = [&](int pos) { return text[static_cast<size_t>(pos - 1)]; };
  auto piece = [&](int from, int to) {
    out.append(text.substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from + 1)));
    out += kCrLf;
  };
  while (p <= n) {
    int control = ScanLU(text, '\0', '\x1F', p);
    int last = control ? control - 1 : n;  // the paragraph's last character
    while (p <= last && last - p + 1 > width) {
      int b = width >= 1 ? ScanRT(text, kBreaks, p + width - 1) : 0;
      int end;
      if (b > p) {
        int q = b;
        while (q >= p && at(q) == ' ') --q;
        end = q < p ? p + width - 1 : q;
      } else {
        end = last;
      }
      piece(p, end);
      p = end + 1;
    }
    if (p <= last) piece(p, last);
    p = last + 1;
    while (p <= n && U(at(p)) < 32) ++p;
  }
  return out;
}

// ---- HTML -------------------------------------------------------------------

std::string ASC2HTM(std::string_view title, std::string_view text, std::string_view style_text) {
  std::string page = "<html><head><title>";
  page += title.empty() ? std::string("No title") : std::string(title);
  page += "</title></head><body>";

  // Style: the quoted face, the first digit outside it, then 'b' and 'i'.
  std::string style(style_text);
  std::string face;
  size_t quote = style.find('"');
  if (quote != std::string::npos) {
    size_t close = style.find('"', quote + 1);
    if (close != std::string::npos) {
      face = style.substr(quote, close - quote + 1);
      style.erase(quote, close - quote + 1);
    } else {
      style.erase(quote);
    }
  }
  size_t digit = style.find_first_of("0123456789");
  const bool font = digit != std::string::npos || !face.empty();
  if (font) {
    page += "<font ";
    if (digit != std::string::npos) page += "size=\"" + std::string(1, style[digit]) + "\" ";
    if (!face.empty()) page += "face=" + face;
    page += ">";
  }
  const bool bold = style.find_first_of("bB") != std::string::npos;
  const bool italic = style.find_first_of("iI") != std::string::npos;
  if (bold) page += "<B>";
  if (italic) page += "<I>";

  std::string body = EscapeHtml(text);
  bool pre = false, ordered = false, bullets = false;
  auto close_lists = [&] {
    if (bullets) page += "</UL>";
    if (ordered) page += "</OL>";
    bullets = ordered = false;
  };
  size_t start = 0;
  while (start < body.size()) {
    size_t nl = body.find('\n', start);
    size_t stop = nl == std::string::npos ? body.size() : nl;
    std::string line = body.substr(start, stop - start);
    start = nl == std::string::npos ? body.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    line = Links(line);
    char first = line[0];
    if (first == '@') {
      close_lists();
      page += pre ? "</PRE>" : "<PRE>";
      page += line.substr(1);
      pre = !pre;
    } else if (pre) {
      page += line + "<BR>";
    } else if (first == '#' || first == '*') {
      bool& open = first == '#' ? ordered : bullets;
      if (!open) {
        close_lists();
        page += first == '#' ? "<OL>" : "<UL>";
        open = true;
      }
      page += "<LI>" + line.substr(1);
    } else {
      close_lists();
      if (first == '-') {
        page += "<HR>";
      } else if (first == '\\') {
        size_t level = line.find_first_not_of('\\');
        if (level == std::string::npos) level = line.size();
        std::string rest = line.substr(level);
        level = std::min<size_t>(level, 6);
        page += "<H" + std::to_string(level) + ">" + rest + "</H" + std::to_string(level) + ">";
      } else {
        page += line + "<BR>";
      }
    }
    page += kCrLf;
  }
  close_lists();
  if (pre) page += "</PRE>";
  if (italic) page += "</I>";
  if (bold) page += "</B>";
  if (font) page += "</font>";
  page += "</body></html>";
  return page;
}

// ---- number words -------------------------------------------------------------

std::string NumToWord(std::string_view number, bool money) {
  const UnitState& st = State();
  std::string s;
  for (char c : number)
    if (c != ' ') s += c;
  const std::string prefix = !s.empty() && s[0] == '-' ? "Negative " : "";
  std::erase_if(s, [&](char c) { return c == '-' || c == st.ThousandSep; });
  if (s.empty() || s.size() > 15) return "";

  std::string whole = s, fraction;
  size_t sep = s.find(st.DecimalSep);
  if (sep != std::string::npos) {
    whole = s.substr(0, sep);
    fraction = s.substr(sep + 1, 2);
  }
  if (!AllDigits(whole) || !AllDigits(fraction)) return "";

  std::string words;
  int place = 0;
  for (size_t end = whole.size(); end > 0; ++place) {
    size_t begin = end >= 3 ? end - 3 : 0;
    int group = std::stoi(whole.substr(begin, end - begin));
    if (group != 0) words = UnderThousand(group) + kScales[static_cast<size_t>(place)] + words;
    end = begin;
  }
  words = Trimmed(words);
  if (words.empty()) words = "Zero";

  std::string out = prefix + words;
  if (money) out += " Dollars";
  if (!fraction.empty()) {
    if (money) {
      if (fraction.size() < 2) fraction += '0';
      out += " and " + fraction + " Cents";
    } else {
      out += " pt";
      for (char c : fraction) out += c == '0' ? " Zero" : kOnes[static_cast<size_t>(c - '0')];
    }
  }
  return out;
}

std::string OrdSuffix(int n) {
  static constexpr const char* kSuffix[] = {"th", "st", "nd", "rd"};
  int units;
  if (n <= 10) {
    units = n % 10;
  } else {
    int r = (n - 10) % 100;
    if (r / 10 == 0) return "th";
    units = r % 10;
  }
  return units >= 1 && units <= 3 ? kSuffix[units] : "th";
}

std::string BoolToStr(bool b) { return b ? "True" : "False"; }

std::string RomanNum(int n) {
  if (n < 1 || n > 9999) return "Error!";
  static constexpr char kOne[] = "IXCM";
  static constexpr char kFive[] = "VLD";
  std::string out(static_cast<size_t>(n / 1000), 'M');
  for (int place = 2; place >= 0; --place) {
    int d = n / (place == 2 ? 100 : place == 1 ? 10 : 1) % 10;
    char one = kOne[place], five = kFive[place], next = kOne[place + 1];
    if (d <= 3) {
      out.append(static_cast<size_t>(d), one);
    } else if (d == 4) {
      out += one;
      out += five;
    } else if (d <= 8) {
      out += five;
      out.append(static_cast<size_t>(d - 5), one);
    } else {
      out += one;
      out += next;
    }
  }
  return out;
}

// ---- web codecs ----------------------------------------------------------------

std::string URLEncode(std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c != '\0' && (IsAlphaNumChar(c) || c == '-' || c == '.' || c == '_')) {
      out += c;
    } else {
      out += '%';
      out += kHex[U(c) >> 4];
      out += kHex[U(c) & 15];
    }
  }
  return out;
}

std::string URLDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
      i += 2;
    } else if (c == '+') {
      out += ' ';
    } else if (c == '&') {
      out += kCrLf;
    } else {
      out += c;
    }
  }
  return out;
}

std::string UUEncode(std::string_view s) {
  std::string out;
  out.reserve((s.size() + 2) / 3 * 4);
  for (size_t i = 0; i < s.size(); i += 3) {
    unsigned b[3];
    for (size_t k = 0; k < 3; ++k) b[k] = i + k < s.size() ? U(s[i + k]) : ' ';
    unsigned v = (b[0] << 16) | (b[1] << 8) | b[2];
    for (int k = 3; k >= 0; --k) out += static_cast<char>(((v >> (6 * k)) & 63) + 32);
  }
  return out;
}

std::string UUDecode(std::string_view s) {
  std::string out;
  if (s.size() < 4) return out;
  out.reserve(s.size() / 4 * 3);
  for (size_t i = 0; i + 4 <= s.size(); i += 4) {
    unsigned v = 0;
    for (size_t k = 0; k < 4; ++k) v = (v << 6) | ((U(s[i + k]) - 32u) & 63u);
    out += static_cast<char>(v >> 16);
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
  }
  return out;
}

// ---- paths and words -------------------------------------------------------------

bool TruncPath(std::string& path, int max) {
  const int len = static_cast<int>(path.size());
  if (len <= max) return true;
  if (max < 4) return false;
  const int e = len - max + 3;
  const size_t first = path.find(kPathDelim);
  const size_t last = path.rfind(kPathDelim);
  const int f = first == std::string::npos ? 0 : static_cast<int>(first) + 1;
  const int l = last == std::string::npos ? 0 : static_cast<int>(last) + 1;
  std::string shorter;
  if (f == l) {
    shorter = path.substr(0, static_cast<size_t>(max - 3)) + "...";
  } else if (l - f > e) {
    shorter = path.substr(0, static_cast<size_t>(l - e - 1)) + "..." + path.substr(static_cast<size_t>(l - 1));
  } else {
    int k = std::max(2, len - e - f - 3);
    shorter = path.substr(0, static_cast<size_t>(f)) + "..." + path.substr(static_cast<size_t>(l - 1), static_cast<size_t>(k)) + "...";
  }
  // A first directory too long to keep whole: cut the path like a name.
  if (static_cast<int>(shorter.size()) > max) shorter = path.substr(0, static_cast<size_t>(max - 3)) + "...";
  path = shorter;
  return true;
}

bool Abbreviate(std::string& text, std::string_view delims, int max) {
  if (text.empty() || static_cast<int>(text.size()) <= max) return true;
  if (max < 1) return false;
  const size_t limit = static_cast<size_t>(max);
  text = Trimmed(text);
  text.resize(static_cast<size_t>(DeleteD(text, ' ')));
  if (text.size() <= limit) return true;
  if (CountW(text, " ") < 2) {
    text.resize(limit);
    return true;
  }
  std::vector<std::string> words;
  for (size_t i = 0; i < text.size();) {
    size_t blank = text.find(' ', i);
    if (blank == std::string::npos) blank = text.size();
    words.push_back(text.substr(i, blank - i));
    i = blank + 1;
  }
  auto fits = [&] { return JoinedLength(words) <= limit; };
  // First pass: drop the delimiter characters inside words, right to left.
  for (size_t w = words.size(); w > 0 && !fits(); --w) {
    std::string& word = words[w - 1];
    if (EndsInDigit(word) || delims.empty()) continue;
    std::string kept = word.substr(0, 1);
    for (size_t i = 1; i < word.size(); ++i)
      if (delims.find(word[i]) == std::string_view::npos) kept += word[i];
    word = kept;
  }
  // Then cut words to a falling length, right to left.
  size_t longest = 0;
  for (const auto& w : words) longest = std::max(longest, w.size());
  for (size_t cut = longest; cut >= 1 && !fits(); --cut) {
    for (size_t w = words.size(); w > 0 && !fits(); --w) {
      std::string& word = words[w - 1];
      if (word.size() > cut && !EndsInDigit(word)) word.resize(cut);
    }
  }
  text = Join(words);
  return fits();
}

void AddSlash(std::string& path) {
  while (!path.empty() && path.back() == ' ') path.pop_back();
  if (path.empty() || path.back() != kPathDelim) path += kPathDelim;
}

void DelSlash(std::string& path) {
  while (!path.empty() && path.back() == ' ') path.pop_back();
  if (!path.empty() && path.back() == kPathDelim) path.pop_back();
}

bool PathScan(std::string_view file, std::string& paths) {
  namespace fs = std::filesystem;
  if (file.empty()) return false;
  const std::string list = Trimmed(paths);
  for (size_t i = 0; i <= list.size();) {
    size_t sep = list.find(kListDelim, i);
    if (sep == std::string::npos) sep = list.size();
    std::string dir = Trimmed(std::string_view(list).substr(i, sep - i));
    i = sep + 1;
    if (dir.empty()) continue;
    const bool tree = dir.back() == '*';
    if (tree) dir.pop_back();
    if (dir.empty()) dir = ".";
    AddSlash(dir);
    std::error_code ec;
    std::vector<std::string> found;
    if (fs::exists(fs::path(dir + std::string(file)), ec)) found.push_back(dir);
    if (tree) {
      fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end;
      for (; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (!it->is_directory(type_ec)) continue;
        std::string sub = it->path().string();
        AddSlash(sub);
        if (fs::exists(fs::path(sub + std::string(file)), type_ec)) found.push_back(sub);
      }
    }
    if (!found.empty()) {
      std::string joined;
      for (const auto& f : found) joined += (joined.empty() ? "" : ";") + f;
      paths = joined;
      return true;
    }
    if (sep == list.size()) break;
  }
  return false;
}

int ValidSSN(std::string_view s) {
  std::string digits(s);
  digits.resize(static_cast<size_t>(MakeNum(digits)));
  if (digits.size() != 9) return -1;
  const int area = std::stoi(digits.substr(0, 3));
  const int group = std::stoi(digits.substr(3, 2));
  const int serial = std::stoi(digits.substr(5, 4));
  if (area == 0 || area > 728 || group == 0 || serial == 0 || area == 8 || area == 9 ||
      (area >= 581 && area <= 584) || (area >= 627 && area <= 699))
    return -1;
  return (group % 2 == 1 && group > 10) || area >= 700 ? 0 : 1;
}

// ---- small tools -----------------------------------------------------------------

void TomCat(std::string_view piece, std::string& buffer, int& used) {
  if (used < 0) used = 0;
  size_t at = static_cast<size_t>(used);
  if (at + piece.size() > buffer.size())
    buffer.resize(std::max(2 * std::max(buffer.size(), piece.size()), at + piece.size()));
  std::copy(piece.begin(), piece.end(), buffer.begin() + static_cast<std::ptrdiff_t>(at));
  used += static_cast<int>(piece.size());
}

std::string BuildTable(std::string_view ranges) {
  std::string out;
  for (size_t i = 0; i < ranges.size() && out.size() < 256; ++i) {
    if (i + 2 < ranges.size() && ranges[i + 1] == '-') {
      int from = U(ranges[i]), to = U(ranges[i + 2]);
      int step = from <= to ? 1 : -1;
      for (int c = from;; c += step) {
        if (out.size() == 256) break;
        out += static_cast<char>(c);
        if (c == to) break;
      }
      i += 2;
    } else {
      out += ranges[i];
    }
  }
  return out;
}

void CharSort(std::string& text) {
  std::array<size_t, 256> counts{};
  for (char c : text) ++counts[U(c)];
  size_t pos = 0;
  for (int c = 0; c < 256; ++c)
    for (size_t k = 0; k < counts[static_cast<size_t>(c)]; ++k) text[pos++] = static_cast<char>(c);
}

void Marquee(std::string& text) {
  if (text.size() > 1) std::rotate(text.begin(), text.begin() + 1, text.end());
}

}  // namespace textutil
