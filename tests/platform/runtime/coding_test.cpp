#include "platform/runtime/coding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/streams.h"

namespace {

// Golden bytes as python3's struct.pack('<HIQd', ...) writes them.
TEST(Coding, GoldenLittleEndianBytesThroughEveryInterface) {
  const std::string golden(
      "\x34\x12"                          // 0x1234
      "\x78\x56\x34\x12"                  // 0x12345678
      "\xef\xcd\xab\x89\x67\x45\x23\x01"  // 0x0123456789abcdef
      "\x00\x00\x00\x00\x00\x00\xf8\xbf",  // -1.5
      22);
  std::string put;
  rtl::PutFixed16(put, 0x1234);
  rtl::PutFixed32(put, 0x12345678u);
  rtl::PutFixed64(put, 0x0123456789abcdefull);
  rtl::PutDouble(put, -1.5);
  EXPECT_EQ(put, golden);

  rtl::TMemoryStream stream;
  rtl::WriteFixed16(stream, 0x1234);
  rtl::WriteFixed32(stream, 0x12345678u);
  rtl::WriteFixed64(stream, 0x0123456789abcdefull);
  rtl::WriteDouble(stream, -1.5);
  stream.SetPosition(0);
  EXPECT_EQ(stream.ReadToEnd(), golden);

  stream.SetPosition(0);
  EXPECT_EQ(rtl::ReadFixed16(stream), 0x1234);
  EXPECT_EQ(rtl::ReadFixed32(stream), 0x12345678u);
  EXPECT_EQ(rtl::ReadFixed64(stream), 0x0123456789abcdefull);
  EXPECT_EQ(rtl::ReadDouble(stream), -1.5);
  EXPECT_THROW(rtl::ReadFixed16(stream), rtl::EReadError);  // short read raises

  std::string_view view(golden);
  std::uint16_t a; std::uint32_t b; std::uint64_t c; double d;
  ASSERT_TRUE(rtl::GetFixed16(view, a) && rtl::GetFixed32(view, b) &&
              rtl::GetFixed64(view, c) && rtl::GetDouble(view, d));
  EXPECT_EQ(a, 0x1234); EXPECT_EQ(b, 0x12345678u);
  EXPECT_EQ(c, 0x0123456789abcdefull); EXPECT_EQ(d, -1.5);
  EXPECT_TRUE(view.empty());
  std::string_view shortView = std::string_view(golden).substr(0, 3);
  EXPECT_FALSE(rtl::GetFixed32(shortView, b));
  EXPECT_EQ(shortView.size(), 3u);  // untouched on failure
}

TEST(Coding, ExtremesRoundTrip) {
  unsigned char buf[8];
  for (std::uint64_t v : {0ull, 1ull, 0x80ull, 0xffffffffffffffffull, 0x8000000000000000ull}) {
    rtl::EncodeFixed64(buf, v);
    EXPECT_EQ(rtl::DecodeFixed64(buf), v);
    rtl::EncodeFixed32(buf, static_cast<std::uint32_t>(v));
    EXPECT_EQ(rtl::DecodeFixed32(buf), static_cast<std::uint32_t>(v));
    rtl::EncodeFixed16(buf, static_cast<std::uint16_t>(v));
    EXPECT_EQ(rtl::DecodeFixed16(buf), static_cast<std::uint16_t>(v));
  }
  for (double v : {0.0, -0.0, std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::denorm_min(), 1e308}) {
    rtl::EncodeDouble(buf, v);
    EXPECT_EQ(std::signbit(rtl::DecodeDouble(buf)), std::signbit(v));
    EXPECT_EQ(rtl::DecodeDouble(buf), v);
  }
  rtl::EncodeDouble(buf, std::nan(""));
  EXPECT_TRUE(std::isnan(rtl::DecodeDouble(buf)));
}

}  // namespace
