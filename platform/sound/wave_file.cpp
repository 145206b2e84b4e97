#include "platform/sound/wave_file.h"

#include "platform/runtime/coding.h"

namespace snd {
namespace {

bool Fail(std::string* why, const char* reason) {
  if (why) *why = reason;
  return false;
}

}  // namespace

bool ParseWave(std::string_view file, TWaveInfo& info, std::string* why) {
  if (file.size() < 12 || file.substr(0, 4) != "RIFF" || file.substr(8, 4) != "WAVE")
    return Fail(why, "not a RIFF WAVE file");
  bool have_format = false;
  std::uint16_t tag = 0, channels = 0, align = 0, bits = 0;
  std::uint32_t rate = 0;
  std::size_t pos = 12;
  while (file.size() - pos >= 8) {
    std::string_view id = file.substr(pos, 4);
    const std::uint32_t length = rtl::DecodeFixed32(file.data() + pos + 4);
    const std::size_t body = pos + 8;
    const std::size_t available = file.size() - body;
    if (id == "fmt ") {
      if (length < 16 || available < 16) return Fail(why, "short format chunk");
      const char* p = file.data() + body;
      tag = rtl::DecodeFixed16(p);
      channels = rtl::DecodeFixed16(p + 2);
      rate = rtl::DecodeFixed32(p + 4);
      align = rtl::DecodeFixed16(p + 12);
      bits = rtl::DecodeFixed16(p + 14);
      if (tag == WAVE_FORMAT_EXTENSIBLE) {
        if (length < 40 || available < 40) return Fail(why, "short extensible format chunk");
        tag = rtl::DecodeFixed16(p + 24);
      }
      have_format = true;
    } else if (id == "data") {
      if (!have_format) return Fail(why, "data before format");
      int bytes = bits / 8;
      if (tag == WAVE_FORMAT_PCM && bits == 8) {
        info.Kind = SampleKind::Unsigned8;
      } else if (tag == WAVE_FORMAT_PCM && bits == 16) {
        info.Kind = SampleKind::Signed16;
      } else if (tag == WAVE_FORMAT_PCM && bits == 24) {
        info.Kind = SampleKind::Signed24;
      } else if (tag == WAVE_FORMAT_PCM && bits == 32) {
        info.Kind = SampleKind::Signed32;
      } else if (tag == WAVE_FORMAT_IEEE_FLOAT && bits == 32) {
        info.Kind = SampleKind::Float32;
      } else {
        return Fail(why, "unsupported sample format");
      }
      if (channels < 1 || channels > 8) return Fail(why, "unsupported channel count");
      if (rate < 1 || rate > 768000) return Fail(why, "unsupported frame rate");
      if (align != channels * bytes) return Fail(why, "block align does not match");
      info.Channels = channels;
      info.Rate = rate;
      info.BytesPerFrame = align;
      info.DataOffset = body;
      std::size_t size = length < available ? length : available;
      info.DataSize = size - size % static_cast<std::size_t>(align);
      return true;
    }
    // Next chunk: the body plus its pad byte; a length past the end ends the walk.
    const std::uint64_t next = static_cast<std::uint64_t>(body) + length + (length & 1u);
    if (next > file.size()) break;
    pos = static_cast<std::size_t>(next);
  }
  return Fail(why, have_format ? "no data chunk" : "no format chunk");
}

}  // namespace snd
