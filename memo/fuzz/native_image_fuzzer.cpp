// Feeds arbitrary bytes to the native image reader: it must either load a
// sound model or raise a stream error and leave the memo as it was.
#include <cstddef>
#include <cstdint>

#include "memo/vell_memo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  memo::TVellMemo m;
  m.SetText("before\r\nthe image");
  rtl::TStringStream stream(std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    m.LoadFromNativeStream(stream, false);
  } catch (const rtl::EStreamError&) {
    if (m.GetText() != "before\r\nthe image") __builtin_trap();
  }
  m.CheckIntegrity();
  m.FormatNow(0, m.GetParCount() - 1, false);
  m.CheckIntegrity();
  (void)m.GetText();
  if (m.GetTextLen() > 0) {
    m.setSelStart(m.GetTextLen() / 2);
    m.SetSelTextBuf("x\r\ny");
    m.Undo();
    m.CheckIntegrity();
  }
  return 0;
}
