#include "app/core/page_names.h"

#include "app/core/record_line.h"
#include "platform/runtime/cp1252.h"

namespace appcore {

std::string NewPageName(int number) {
  return std::string("NewPage") + (number >= 0 && number < 10 ? "0" : "") + std::to_string(number) + ".txt";
}

std::string PageNameFromTerm(std::string_view term) {
  std::string_view t = TrimLine(term);
  while (!t.empty() && (t.front() == '.' || static_cast<unsigned char>(t.front()) <= 32)) t.remove_prefix(1);
  std::string name;
  bool meaningful = false;
  for (char c : t) {
    if (name.size() == kMaxTermNameLength) break;
    const auto u = static_cast<unsigned char>(c);
    if (c == '*' || c == '?' || c == '/' || c == '\\' || u < 32 || u == 127) c = '_';
    if ((c >= '0' && c <= '9') || rtl::IsCharAlpha(static_cast<unsigned char>(c))) meaningful = true;
    name.push_back(c);
  }
  if (!meaningful) return {};
  while (name.back() == ' ') name.pop_back();  // a letter or digit stays
  return name + ".txt";
}

std::string CopyPageName(std::string_view term, int& page_counter) {
  std::string name = PageNameFromTerm(term);
  if (name.empty()) name = NewPageName(++page_counter);
  return name;
}

std::string NonRegisterName(std::string_view name) {
  std::string out(name);
  if (KindFromName(name) != FileKind::kNone) out[out.rfind('_')] = '-';
  return out;
}

}  // namespace appcore
