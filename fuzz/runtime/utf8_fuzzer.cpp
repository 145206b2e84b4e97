// Any byte sequence converts to Windows-1252 without crashing, and every
// Windows-1252 text survives the trip through UTF-8 and back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/runtime/cp1252.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string cp = rtl::Utf8ToCp1252(in);
  if (cp.size() > size) abort();
  std::string back = rtl::Utf8ToCp1252(rtl::Cp1252ToUtf8(cp));
  for (size_t i = 0; i < cp.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(cp[i]);
    bool undefined = c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
    if (!undefined && back[i] != cp[i]) abort();
  }
  return 0;
}
