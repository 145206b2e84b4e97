#include "memo/case_fold.h"

#include "platform/runtime/cp1252.h"

namespace memo {

TvmUpperCaseProc UserUpperCaseProc = nullptr;

namespace {
void AsciiUpper(char* p) {
  for (; *p; ++p)
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
}
}  // namespace

void UpperCaseBuffer(TvmUpperCase type, char* buffer) {
  if (!buffer) return;
  switch (type) {
    case vmuAnsi:
      for (char* p = buffer; *p; ++p) *p = static_cast<char>(rtl::CharUpper(static_cast<unsigned char>(*p)));
      break;
    case vmuUserDefined:
      if (UserUpperCaseProc) {
        UserUpperCaseProc(buffer);
        break;
      }
      AsciiUpper(buffer);
      break;
    default:
      AsciiUpper(buffer);
  }
}

std::string UpperCaseCopy(TvmUpperCase type, std::string text) {
  UpperCaseBuffer(type, text.data());
  return text;
}

TCharSet CharSetOf(const std::string& chars) {
  TCharSet set;
  for (unsigned char c : chars) set.set(c);
  return set;
}

std::string CharSetToString(const TCharSet& set) {
  std::string s;
  for (int c = 0; c < 256; ++c)
    if (set.test(c)) s.push_back(static_cast<char>(c));
  return s;
}

}  // namespace memo
