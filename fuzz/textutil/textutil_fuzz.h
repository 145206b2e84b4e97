// Bodies of the text utility library's fuzz targets. Each takes one input
// and checks that the routines neither crash nor break their promises on
// it. The libFuzzer targets call them; a GoogleTest replays the committed
// corpus and random inputs through them in the normal build.
//
// A failed check calls QV_FUZZ_CHECK_FAILED(text), which aborts unless the
// includer defines it otherwise (before including this file).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/runtime/exceptions.h"
#include "textutil/calculator.h"
#include "textutil/cipher.h"
#include "textutil/codecs.h"
#include "textutil/compress.h"
#include "textutil/decstr.h"
#include "textutil/layout.h"
#include "textutil/numbers.h"
#include "textutil/pattern.h"

#include "fuzz/fuzz_check.h"

namespace textutil::fuzz {

inline std::string_view Text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Base64, packed decimal, the number codecs, uu and URL codecs, the
// scrambler, chaff and hidden integers, hexadecimal and radix strings.
inline void Decoders(const std::uint8_t* data, std::size_t size) {
  const std::string_view in = Text(data, size);
  QV_FUZZ_CHECK(DeCodeStr(in).size() <= in.size() / 4 * 3);
  QV_FUZZ_CHECK(DeCodeStr(EnCodeStr(in)) == in);
  QV_FUZZ_CHECK(DeCodeBCD(in).size() <= 2 * in.size());
  (void)DeCodeInt(in);
  (void)DeCodeWord(in);
  (void)DeCodeDbl(in);
  (void)DeCodeSng(in);
  (void)DeCodeCur(in);
  (void)ChrToInt(in);
  (void)ChrToDbl(in);
  (void)HexToInt(in);
  (void)BinToInt(in);
  std::string uu = UUDecode(in);
  QV_FUZZ_CHECK(uu.size() == (in.size() < 4 ? 0 : in.size() / 4 * 3));
  std::string padded(in);
  while (padded.size() % 3 != 0) padded += ' ';
  QV_FUZZ_CHECK(UUDecode(UUEncode(in)) == padded || in.empty());
  QV_FUZZ_CHECK(URLDecode(in).size() <= 2 * in.size());
  QV_FUZZ_CHECK(URLDecode(URLEncode(in)) == in);
  std::string scrambled(in);
  EnCipher(scrambled);
  DeCipher(scrambled);
  QV_FUZZ_CHECK(scrambled == in);
  std::string unscrambled(in);
  DeCipher(unscrambled);
  (void)Winnow(in);
  (void)SeekInteger(in);
  if (size <= 1024) {
    (void)StrDec(in);
    if (size >= 2) (void)RadixStr(in.substr(2), 2 + data[0] % 35, 2 + data[1] % 35);
  }
}

// Run-length decoding of any input, and the round trip.
inline void RunLength(const std::uint8_t* data, std::size_t size) {
  const std::string_view in = Text(data, size);
  IniRLE();
  QV_FUZZ_CHECK(RLD(in).size() <= 63 * in.size());
  IniRLE();
  std::string coded = RLE(in);
  QV_FUZZ_CHECK(coded.size() <= 2 * in.size());
  IniRLE();
  QV_FUZZ_CHECK(RLD(coded) == in);
}

// Splay-tree decoding of any input, and the round trip.
inline void Splay(const std::uint8_t* data, std::size_t size) {
  const std::string_view in = Text(data, size);
  IniSQZ();
  QV_FUZZ_CHECK(UnSQZ(in).size() <= 8 * in.size());
  IniSQZ();
  std::string coded = SQZ(in);
  IniSQZ();
  QV_FUZZ_CHECK(UnSQZ(coded) == in);
}

// Byte-pair decoding of any input (whole and with a count), and the round
// trip.
inline void BytePair(const std::uint8_t* data, std::size_t size) {
  const std::string_view in = Text(data, size);
  (void)BPD(in);
  if (size > 1) (void)BPD(in, data[0] % size + 1);
  QV_FUZZ_CHECK(BPD(BPE(in)) == in);
}

// The calculator on any text: a value or an rtl::Exception, never a crash,
// an infinity or a NaN.
inline void Calculator(const std::uint8_t* data, std::size_t size) {
  try {
    double v = CalcStr(Text(data, size));
    QV_FUZZ_CHECK(std::isfinite(v));
  } catch (const rtl::Exception&) {
  }
}

// Input: a mode byte, then pattern and line separated by the character 0.
// Mode bit 0: case-blind; bit 1: the pattern is taken as already encoded
// (only such patterns may be refused); the higher bits choose the start.
inline void Pattern(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  const std::uint8_t mode = data[0];
  const std::string_view rest = Text(data + 1, size - 1);
  const size_t cut = rest.find('\0');
  const std::string_view text = rest.substr(0, cut);
  const std::string_view line = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  const bool raw = (mode & 2) != 0;
  const std::string encoded = raw ? std::string(text) : MakePattern(text);
  const int first = 1 + (mode >> 2) % 8;
  int start = (mode & 1) ? -first : first;
  try {
    int length = ScanRX(line, encoded, start);
    QV_FUZZ_CHECK(length >= 0 && start >= 1);
    QV_FUZZ_CHECK(static_cast<size_t>(start) + static_cast<size_t>(length) <= line.size() + 1 ||
                  static_cast<size_t>(start) == static_cast<size_t>(first));
  } catch (const rtl::Exception&) {
    QV_FUZZ_CHECK(raw);
  }
}

}  // namespace textutil::fuzz
