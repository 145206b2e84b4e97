#include "textutil/codecs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "tests/textutil/reference_data.h"

namespace textutil {
namespace {

std::string Packed(std::int32_t soundex) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((static_cast<std::uint32_t>(soundex) >> (8 * i)) & 0xFF);
  return s;
}

TEST(RawBytesTest, IntegersAreBigEndian) {
  EXPECT_EQ(IntToChr(1094861636), "ABCD");
  EXPECT_EQ(ChrToInt("ABCD"), 1094861636);
  EXPECT_EQ(ChrToInt("ABCDE"), 1094861636);
  EXPECT_EQ(ChrToInt("ABC"), 0);
  EXPECT_EQ(WordToChr(0x4142), "AB");
  EXPECT_EQ(ChrToWord("AB"), 0x4142);
  EXPECT_EQ(ChrToWord("A"), 0);
  EXPECT_EQ(ChrToInt(IntToChr(-2)), -2);
  EXPECT_EQ(SwapEndian(0x01020304), 0x04030201);
}

TEST(RawBytesTest, FloatsAndCurrencyRoundTrip) {
  EXPECT_EQ(DblToChr(1.0), std::string("\x3F\xF0\0\0\0\0\0\0", 8));
  EXPECT_EQ(SngToChr(1.0f), std::string("\x3F\x80\0\0", 4));
  for (double v : {0.0, -1.5, 3.141592653589793, 1e300, -1e-300}) EXPECT_EQ(ChrToDbl(DblToChr(v)), v);
  for (float v : {0.0f, -1.5f, 3.25f, 1e30f}) EXPECT_EQ(ChrToSng(SngToChr(v)), v);
  for (Currency v : {Currency{0}, Currency{12345}, Currency{-1}, std::numeric_limits<Currency>::min()})
    EXPECT_EQ(ChrToCur(CurToChr(v)), v);
  EXPECT_EQ(ChrToDbl("1234567"), 0.0);
  EXPECT_EQ(ChrToSng("123"), 0.0f);
  EXPECT_EQ(ChrToCur("1234567"), 0);
}

TEST(RawBytesTest, BinaryAndHexText) {
  EXPECT_EQ(IntToBin(5), std::string(29, '0') + "101");
  EXPECT_EQ(IntToBin(-1), std::string(32, '1'));
  EXPECT_EQ(BinToInt("101"), 5);
  EXPECT_EQ(BinToInt(""), 0);
  EXPECT_EQ(BinToInt("1" + std::string(32, '0') + "11"), 3);  // only the last 32 count
  EXPECT_EQ(BinToInt(IntToBin(-123456)), -123456);
  EXPECT_EQ(HexToInt("1F"), 31);
  EXPECT_EQ(HexToInt("1f"), 1);  // a lower-case letter ends the number
  EXPECT_EQ(HexToInt(" 1 F"), 31);
  EXPECT_EQ(HexToInt(""), 0);
  EXPECT_EQ(HexToInt("FFFFFFFF"), -1);
}

TEST(NumberCodecTest, KnownFormsAndWidths) {
  EXPECT_EQ(EnCodeInt(0), "AAAAAA");
  EXPECT_EQ(EnCodeWord(0), "AAA");
  EXPECT_EQ(EnCodeDbl(0.0).size(), 11u);
  // X = the memory bytes read big-endian: 1 is 0x01000000, whose groups
  // from the low end are 0, 0, 0, 0, 1 ('B'), 0.
  EXPECT_EQ(EnCodeInt(1), "AAAABA");
  EXPECT_EQ(DeCodeInt("AAAABA"), 1);
  EXPECT_EQ(DeCodeInt("AAAAQ"), 0);
  EXPECT_EQ(DeCodeWord("AA"), 0);
  EXPECT_EQ(DeCodeDbl("AAAAAAAAAA"), 0.0);
  // Characters outside the alphabet contribute nothing.
  EXPECT_EQ(DeCodeInt("AAAA!A"), 0);
}

TEST(NumberCodecTest, EveryDecoderInvertsItsEncoder) {
  std::mt19937 rng(7);
  std::vector<std::int32_t> ints = {0, 1, -1, std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::max()};
  for (int i = 0; i < 2000; ++i) ints.push_back(static_cast<std::int32_t>(rng()));
  for (std::int32_t v : ints) {
    ASSERT_EQ(DeCodeInt(EnCodeInt(v)), v);
    ASSERT_EQ(DeCodeWord(EnCodeWord(static_cast<std::uint16_t>(v))), static_cast<std::uint16_t>(v));
    float f = std::bit_cast<float>(v);
    if (!std::isnan(f)) {
      ASSERT_EQ(DeCodeSng(EnCodeSng(f)), f);
    }
    Currency c = (static_cast<Currency>(v) << 32) ^ rng();
    ASSERT_EQ(DeCodeCur(EnCodeCur(c)), c);
    double d = std::bit_cast<double>(c);
    if (!std::isnan(d)) {
      ASSERT_EQ(DeCodeDbl(EnCodeDbl(d)), d);
    }
  }
}

TEST(Base64Test, MatchesPythonAndCoreutils) {
  auto rows = testdata::ReadTable("base64.txt");
  ASSERT_GT(rows.size(), 40u);
  for (const auto& row : rows) {
    std::string data = testdata::FromHex(row[0]);
    std::string text = row.size() > 1 ? row[1] : "";
    EXPECT_EQ(EnCodeStr(data), text) << row[0];
    EXPECT_EQ(DeCodeStr(text), data) << text;
  }
}

TEST(Base64Test, Examples) {
  EXPECT_EQ(EnCodeStr("abc"), "YWJj");
  EXPECT_EQ(EnCodeStr("ab"), "YWI=");
  EXPECT_EQ(EnCodeStr(""), "");
  EXPECT_EQ(DeCodeStr("YWJj"), "abc");
  EXPECT_EQ(DeCodeStr("YWI="), "ab");
  EXPECT_EQ(DeCodeStr("YQ=="), "a");
  EXPECT_EQ(DeCodeStr("YWI"), "");          // a rest shorter than four is ignored
  EXPECT_EQ(DeCodeStr("YWJjYW"), "abc");
  EXPECT_EQ(DeCodeStr("YW=="), "a");        // padding is harmless
  EXPECT_EQ(DeCodeStr("Y!Jj").size(), 2u);  // three valid characters give two bytes
  EXPECT_EQ(DeCodeStr("!!!!"), "");
}

TEST(Base64Test, DecodesAnyBytesWithoutOverrun) {
  std::mt19937 rng(3);
  for (int i = 0; i < 500; ++i) {
    std::string junk(rng() % 40, '\0');
    for (char& c : junk) c = static_cast<char>(rng());
    EXPECT_LE(DeCodeStr(junk).size(), junk.size() / 4 * 3);
  }
}

TEST(PackedDecimalTest, Examples) {
  EXPECT_EQ(EnCodeBCD("1234"), "\x12\x34");
  EXPECT_EQ(EnCodeBCD("123"), std::string("\x01\x23", 2));
  EXPECT_EQ(DeCodeBCD(std::string("\x01\x23", 2)), "123");
  EXPECT_EQ(DeCodeBCD("\x12\x34"), "1234");
  EXPECT_EQ(EnCodeBCD(""), "");
  EXPECT_EQ(EnCodeBCD("ab"), "");
  // A nibble above 9 comes out as the character after '9'.
  EXPECT_EQ(DeCodeBCD("\x1A"), "1:");
}

TEST(PackedDecimalTest, ParityFollowsTheDigitsNotTheLength) {
  // "1-23" has four characters but three digits: no digit may be lost.
  EXPECT_EQ(EnCodeBCD("1-23"), std::string("\x01\x23", 2));
  EXPECT_EQ(DeCodeBCD(EnCodeBCD("1-23")), "123");
  EXPECT_EQ(EnCodeBCD("12-34"), "\x12\x34");
  EXPECT_EQ(DeCodeBCD(EnCodeBCD("(555) 123-4567")), "5551234567");
  EXPECT_EQ(DeCodeBCD(EnCodeBCD("1 2 3 4 5")), "12345");
}

TEST(SoundexTest, KeepsItsVariant) {
  EXPECT_EQ(Packed(Soundex("Robert")), "R163");
  EXPECT_EQ(Packed(Soundex("Rupert")), "R163");
  EXPECT_EQ(Packed(Soundex("Lee")), "L000");
  EXPECT_EQ(Packed(Soundex("Pfister")), "P123");  // the first letter's digit does not count
  EXPECT_EQ(Packed(Soundex("")), "0000");
  EXPECT_EQ(Packed(Soundex("123 !")), "0000");
  EXPECT_EQ(Packed(Soundex("robert")), "R163");
  // A digit is not repeated even with a vowel between: T-5-2-(2)-(2).
  EXPECT_EQ(Packed(Soundex("Tymczak")), "T520");
  EXPECT_EQ(Packed(Soundex("Ashcraft")), "A261");
}

TEST(HashTest, ShiftAndAdd) {
  EXPECT_EQ(Hash(""), 0u);
  EXPECT_EQ(Hash("a"), 97u);
  EXPECT_EQ(Hash("ab"), 97u * 16 + 98);
  EXPECT_NE(Hash("Smith"), Hash("Smyth"));
  EXPECT_EQ(Hash("Smith"), Hash(std::string("Smith")));
}

TEST(ScramblerTest, CipherRoundTripsAndStaysPrintable) {
  std::mt19937 rng(11);
  for (int i = 0; i < 300; ++i) {
    std::string s(rng() % 60, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    std::string t = s;
    EnCipher(t);
    ASSERT_EQ(t.size(), s.size());
    for (size_t k = 0; k < s.size(); ++k) {
      unsigned char a = static_cast<unsigned char>(s[k]), b = static_cast<unsigned char>(t[k]);
      if (a < 32 || a > 127)
        ASSERT_EQ(a, b);
      else
        ASSERT_TRUE(b >= 32 && b <= 127);
    }
    DeCipher(t);
    ASSERT_EQ(t, s);
  }
  std::string word = "Hello, World";
  EnCipher(word);
  EXPECT_NE(word, "Hello, World");
}

TEST(ScramblerTest, CryptTwiceRestores) {
  std::string s = "The quick brown fox";
  Crypt(s, "key");
  EXPECT_NE(s, "The quick brown fox");
  Crypt(s, "key");
  EXPECT_EQ(s, "The quick brown fox");
  std::string unchanged = "abc";
  Crypt(unchanged, "");
  EXPECT_EQ(unchanged, "abc");
  std::string buffer = "The quick brown fox";
  CryptBfr(buffer.data(), "key", buffer.size());
  std::string viaString = "The quick brown fox";
  Crypt(viaString, "key");
  EXPECT_EQ(buffer, viaString);
  CryptBfr(nullptr, "key", 5);  // nothing happens
}

}  // namespace
}  // namespace textutil
