// Body of the native image fuzz target: arbitrary bytes go to the native
// image reader, which must either load a sound model (that writes back as
// the same bytes) or raise a stream error and leave the memo as it was; no
// reference to the run style table may outlive the memo. The libFuzzer
// target calls it; tests/memo/fuzz_seed_test.cpp replays the committed
// corpus and mutations of it through it in the normal build.
//
// A failed check calls QV_FUZZ_CHECK_FAILED(text), which aborts unless the
// includer defines it otherwise (before including this file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "memo/vell_memo.h"

#include "fuzz/fuzz_check.h"

namespace memo::fuzz {

inline void NativeImage(const std::uint8_t* data, std::size_t size) {
  const std::string_view image(reinterpret_cast<const char*>(data), size);
  const std::size_t styles = runstyle::LiveCount();
  {
    TVellMemo m;
    m.SetText("before\r\nthe image");
    rtl::TStringStream stream(image);
    bool loaded = false;
    try {
      m.LoadFromNativeStream(stream, false);
      loaded = true;
    } catch (const rtl::EStreamError&) {
      QV_FUZZ_CHECK(m.GetText() == "before\r\nthe image");
    }
    m.CheckIntegrity();
    if (loaded) {
      rtl::TStringStream back;
      m.SaveToNativeStream(back);
      QV_FUZZ_CHECK(image.substr(0, back.DataString().size()) == back.DataString());
    }
    m.FormatNow(0, m.GetParCount() - 1, false);
    m.CheckIntegrity();
    (void)m.GetText();
    if (m.GetTextLen() > 0) {
      m.setSelStart(m.GetTextLen() / 2);
      m.SetSelTextBuf("x\r\ny");
      m.Undo();
      m.CheckIntegrity();
    }
  }
  QV_FUZZ_CHECK(runstyle::LiveCount() == styles);
}

}  // namespace memo::fuzz
