#include "textutil/checksums.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/textutil/reference_data.h"

namespace textutil {
namespace {

TEST(CrcTest, CheckValues) {
  EXPECT_EQ(~CRC32(0xFFFFFFFFu, "123456789"), 0xCBF43926u);
  EXPECT_EQ(CRC32(0x12345678u, ""), 0x12345678u);
  EXPECT_EQ(CRC16(0, "123456789"), 0xBB3D);
  EXPECT_EQ(CRC16(0x4321, ""), 0x4321);
  EXPECT_EQ(CRCXY(0, "123456789"), 0xC331);  // XMODEM's 0x31C3, bytes swapped
  EXPECT_EQ(CRCBfr(7, nullptr, 10), 7u);
}

TEST(CrcTest, PiecesGiveTheSameAsOneCall) {
  EXPECT_EQ(CRC32(CRC32(0xFFFFFFFFu, "1234"), "56789"), CRC32(0xFFFFFFFFu, "123456789"));
  EXPECT_EQ(CRC16(CRC16(0, "1234"), "56789"), CRC16(0, "123456789"));
  EXPECT_EQ(CRCXY(CRCXY(0, "1234"), "56789"), CRCXY(0, "123456789"));
  std::string s = "123456789";
  EXPECT_EQ(CRCBfr(0xFFFFFFFFu, s.data(), s.size()), CRC32(0xFFFFFFFFu, s));
}

TEST(CrcTest, MatchesZlibAndBinasciiOverRandomBuffers) {
  auto rows = testdata::ReadTable("crc.txt");
  ASSERT_GT(rows.size(), 20u);
  for (const auto& row : rows) {
    std::string data = testdata::FromHex(row[0]);
    std::uint32_t crc32 = static_cast<std::uint32_t>(std::stoul(row[1], nullptr, 16));
    std::uint16_t hqx = static_cast<std::uint16_t>(std::stoul(row[2], nullptr, 16));
    EXPECT_EQ(~CRC32(0xFFFFFFFFu, data), crc32) << row[0];
    std::uint16_t xy = CRCXY(0, data);
    EXPECT_EQ(static_cast<std::uint16_t>((xy >> 8) | (xy << 8)), hqx) << row[0];
  }
}

// CRC-16/ARC bit by bit, as the standard defines it.
std::uint16_t Crc16Arc(const std::string& data) {
  std::uint16_t crc = 0;
  for (char c : data) {
    crc ^= static_cast<unsigned char>(c);
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

TEST(CrcTest, Crc16TableAgreesWithTheBitwiseDefinition) {
  std::mt19937 rng(5);
  for (int i = 0; i < 200; ++i) {
    std::string s(rng() % 300, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    ASSERT_EQ(CRC16(0, s), Crc16Arc(s));
  }
}

TEST(ChecksumTest, Fletcher) {
  EXPECT_EQ(ChkSum("abcde"), 0xC8F0);
  EXPECT_EQ(ChkSum(""), 0);
  std::string s = "abcde";
  MakeSumZero(s);
  EXPECT_EQ(s.size(), 7u);
  EXPECT_EQ(ChkSum(s), 0);
  std::string empty;
  MakeSumZero(empty);
  EXPECT_EQ(empty, "");
}

TEST(ChecksumTest, MakeSumZeroOnRandomStrings) {
  std::mt19937 rng(9);
  for (int i = 0; i < 500; ++i) {
    std::string s(1 + rng() % 100, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    MakeSumZero(s);
    ASSERT_EQ(ChkSum(s), 0) << i;
  }
}

TEST(ChecksumTest, ByteSumAndInternetChecksum) {
  EXPECT_EQ(ChkSumXY("abc"), 38);
  EXPECT_EQ(ChkSumXY(""), 0);
  EXPECT_EQ(NetSum(std::string(2, '\0')), 0xFFFF);
  EXPECT_EQ(NetSum(""), 0);
  // Words are little-endian: 0x0201 + 0x0403 = 0x0604, complemented.
  EXPECT_EQ(NetSum("\x01\x02\x03\x04"), static_cast<std::uint16_t>(~0x0604));
  // An odd first byte starts the sum alone.
  EXPECT_EQ(NetSum("\x05\x01\x02"), static_cast<std::uint16_t>(~(0x0201 + 5)));
  EXPECT_EQ(NetSum("\x07"), static_cast<std::uint16_t>(~7));
  // End-around carry: 0xFFFF + 0x0001 = 0x10000 -> 0x0001.
  EXPECT_EQ(NetSum(std::string("\xFF\xFF\x01\x00", 4)), static_cast<std::uint16_t>(~0x0001));
}

}  // namespace
}  // namespace textutil
