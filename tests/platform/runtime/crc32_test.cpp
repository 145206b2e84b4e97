#include "platform/runtime/crc32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runtime_test_util.h"

namespace {

// python3's zlib.crc32 of every slice [from, from + length) of one random
// buffer, for each start of the first eight (every alignment of the eight
// bytes at a time) and every length up to 300, checked whole and cut at
// every point (pieces chain through the running value).
TEST(Crc32, MatchesZlibAtEveryAlignmentLengthAndCut) {
  constexpr std::size_t kStarts = 8, kLengths = 301;
  std::mt19937 random(20240607);
  std::vector<std::uint8_t> data(kStarts + kLengths);
  for (std::uint8_t& b : data) b = static_cast<std::uint8_t>(random());
  const std::string hex = rtl::Hex(data.data(), data.size());
  std::istringstream zlib(rtl::RunPython(
      "import sys, zlib\n"
      "d = bytes.fromhex(sys.argv[1])\n"
      "print(' '.join(str(zlib.crc32(d[s:s + n])) for s in range(8) for n in range(301)))\n",
      hex));
  for (std::size_t from = 0; from < kStarts; ++from) {
    for (std::size_t length = 0; length < kLengths; ++length) {
      std::uint32_t expected = 0;
      ASSERT_TRUE(zlib >> expected) << "python3 gave too few values";
      const std::uint8_t* bytes = data.data() + from;
      ASSERT_EQ(rtl::Crc32(bytes, length), expected) << from << " " << length;
      for (std::size_t cut = 0; cut <= length; ++cut)
        ASSERT_EQ(~rtl::Crc32Update(rtl::Crc32Update(0xFFFFFFFFu, bytes, cut), bytes + cut, length - cut), expected)
            << from << " " << length << " " << cut;
    }
  }
}

TEST(Crc32, CheckValueAndEmptyInput) {
  EXPECT_EQ(rtl::Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(rtl::Crc32Update(0x12345678u, "", 0), 0x12345678u);
}

}  // namespace
