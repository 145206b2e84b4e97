// Reading the header of a RIFF WAVE file held in memory.
//
// Layout (all numbers little-endian):
//   "RIFF" u32 size "WAVE", then chunks: 4-byte id, u32 length, the body,
//   and one pad byte when the length is odd. Two chunks matter here:
//   "fmt " (at least 16 bytes): u16 format tag, u16 channels, u32 frames per
//     second, u32 bytes per second, u16 block align, u16 bits per sample;
//     format tag 0xFFFE (extensible) carries u16 extra size, u16 valid bits,
//     u32 channel mask and a 16-byte sub-format GUID whose first two bytes
//     are the real tag.
//   "data": the samples, interleaved frames of block-align bytes.
// Other chunks ("LIST", "fact", ...) are skipped. A data chunk that claims
// more bytes than the file holds is cut to what is there.
//
// Playable: integer PCM (tag 1) of 8, 16, 24 or 32 bits and IEEE float
// (tag 3) of 32 bits, 1 to 8 channels, 1 Hz to 768 kHz, with the block
// align equal to channels * bytes per sample. Everything else (compressed
// formats, odd sample sizes) is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace snd {

enum class SampleKind { Unsigned8, Signed16, Signed24, Signed32, Float32 };

struct TWaveInfo {
  SampleKind Kind = SampleKind::Signed16;
  int Channels = 0;
  std::uint32_t Rate = 0;
  int BytesPerFrame = 0;
  std::size_t DataOffset = 0;  // of the first sample in the file
  std::size_t DataSize = 0;    // whole frames only
};

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr std::uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
inline constexpr std::uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// False (with a reason in *why when given) for anything that is not a
// playable wave.
bool ParseWave(std::string_view file, TWaveInfo& info, std::string* why = nullptr);

}  // namespace snd
