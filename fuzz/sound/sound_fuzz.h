// Bodies of the sound fuzz targets: the wave header reader and the wave data
// component's "Data" stream reader. The libFuzzer targets call them; a
// GoogleTest replays the committed corpus and mutations through them in the
// normal build.
//
// A failed check calls QV_FUZZ_CHECK_FAILED(text), which aborts unless the
// includer defines it otherwise (before including this file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "controls/wave_sound.h"
#include "platform/runtime/coding.h"
#include "platform/runtime/streams.h"
#include "platform/sound/wave_file.h"

#include "fuzz/fuzz_check.h"

namespace snd::fuzz {

// A playable answer lies inside the input and holds whole frames.
inline void WaveHeader(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  snd::TWaveInfo info;
  if (!snd::ParseWave(file, info)) return;
  QV_FUZZ_CHECK(info.Channels >= 1 && info.Channels <= 8);
  QV_FUZZ_CHECK(info.BytesPerFrame > 0 && info.DataSize % static_cast<std::size_t>(info.BytesPerFrame) == 0);
  QV_FUZZ_CHECK(info.DataOffset <= size && info.DataSize <= size - info.DataOffset);
}

// The reader against a plain reading of the layout: a well-formed prefix
// reads back and writes out the same bytes (the flag as 0 or 1); anything
// else leaves no wave bytes.
inline void WaveDataStream(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string_view rest(input);
  std::uint32_t n = 0, m = 0;
  std::size_t used = 0;
  bool well_formed = false;
  if (rest.size() >= 1) {
    rest.remove_prefix(1);
    if (rtl::GetFixed32(rest, n) && static_cast<std::int32_t>(n) >= 0 && n <= rest.size()) {
      rest.remove_prefix(n);
      if (rtl::GetFixed32(rest, m) && static_cast<std::int32_t>(m) >= 0 && m <= rest.size()) {
        well_formed = true;
        used = 9 + n + m;
      }
    }
  }
  controls::TKelmWaveData wave;
  rtl::TStringStream in(input);
  wave.ReadData(in);
  if (!well_formed) {
    QV_FUZZ_CHECK(wave.Data().empty());
    return;
  }
  QV_FUZZ_CHECK(wave.FileName() == input.substr(5, n));
  QV_FUZZ_CHECK(wave.Data() == input.substr(9 + n, m));
  rtl::TStringStream out;
  wave.WriteData(out);
  std::string expected = input.substr(0, used);
  expected[0] = expected[0] ? 1 : 0;
  QV_FUZZ_CHECK(out.DataString() == expected);
}

}  // namespace snd::fuzz
