#include "textutil/cipher.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <set>

namespace textutil {
namespace {

TEST(Rc4Test, SameKeyDeciphersAndPiecesMatch) {
  std::string text = "Baptisms of the parish, 1723 to 1790";
  IniRC4("secret");
  std::string coded = text;
  CryptRC4(coded);
  EXPECT_NE(coded, text);
  IniRC4("secret");
  std::string pieces = text.substr(0, 10);
  CryptRC4(pieces);
  std::string rest = text.substr(10);
  CryptRC4(rest);
  EXPECT_EQ(pieces + rest, coded);
  IniRC4("secret");
  CryptRC4(coded);
  EXPECT_EQ(coded, text);
}

TEST(Rc4Test, KeyScheduleAndRestart) {
  std::string a = "aaaaaaaa", b = a;
  IniRC4("k1");
  CryptRC4(a);
  IniRC4("k2");
  CryptRC4(b);
  EXPECT_NE(a, b);
  // The same key gives the same stream again.
  IniRC4("k1");
  std::string c = "aaaaaaaa";
  CryptRC4(c);
  EXPECT_EQ(c, a);
  // Only the first 255 bytes of a key are used.
  std::string longKey(300, 'k');
  std::string d = "text", e = "text";
  IniRC4(longKey);
  CryptRC4(d);
  IniRC4(longKey.substr(0, 255) + std::string(45, 'x'));
  CryptRC4(e);
  EXPECT_EQ(d, e);
}

TEST(ChaffTest, WinnowGivesTheTextBack) {
  EXPECT_EQ(Chaff(""), "");
  for (std::string t : {"a", "Hello, World", "John Smith;1723;Mary", "\x01\xFF tab\t"}) {
    std::string chaffed = Chaff(t);
    EXPECT_EQ(chaffed.size(), 8 * t.size() + 6);
    EXPECT_EQ(Winnow(chaffed), t);
  }
  // Filler and scrambled printable text both lie in 32..223.
  std::string chaffed = Chaff("Printable text only");
  for (size_t i = 0; i + 6 < chaffed.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(chaffed[i]);
    EXPECT_TRUE(c >= 32 && c <= 223) << int(c);
  }
}

TEST(ChaffTest, ChangedOrShortInputIsRefused) {
  std::string chaffed = Chaff("Hello");
  bool refused_some = false;
  for (size_t i = 0; i + 6 < chaffed.size(); ++i) {
    std::string tampered = chaffed;
    tampered[i] = static_cast<char>(tampered[i] ^ 0x01);
    std::string back = Winnow(tampered);
    // Changing a random filler character is harmless; changing the hidden
    // one is caught.
    EXPECT_TRUE(back == "Hello" || back.empty());
    refused_some = refused_some || back.empty();
  }
  EXPECT_TRUE(refused_some);
  EXPECT_EQ(Winnow("short"), "");
  EXPECT_EQ(Winnow(std::string(13, 'x')), "");
  EXPECT_EQ(Winnow(""), "");
}

TEST(HiddenIntegerTest, RoundTripsAndValidates) {
  std::mt19937 rng(1);
  for (int i = 0; i < 500; ++i) {
    std::int32_t v = static_cast<std::int32_t>(rng());
    std::string hidden = HideInteger(v);
    ASSERT_EQ(hidden.size(), 16u);
    ASSERT_EQ(hidden.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    ASSERT_EQ(SeekInteger(hidden), v);
  }
  EXPECT_EQ(SeekInteger(HideInteger(-1)), -1);
  EXPECT_EQ(SeekInteger("0123456789ABCDE"), 0);
  EXPECT_EQ(SeekInteger("0123456789ABCDEG"), 0);
  std::string lower = HideInteger(77);
  for (char& c : lower) c = static_cast<char>(std::tolower(c));
  EXPECT_EQ(SeekInteger(lower), 77);
}

TEST(HiddenIntegerTest, RandomPartVaries) {
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) seen.insert(HideInteger(5).substr(0, 8));
  EXPECT_GT(seen.size(), 15u);
}

TEST(StateAbbrevTest, NamesToCodes) {
  EXPECT_EQ(StateAbbrev("Texas"), "TX");
  EXPECT_EQ(StateAbbrev("new york"), "NY");
  EXPECT_EQ(StateAbbrev("  West Virginia "), "WV");
  EXPECT_EQ(StateAbbrev("Virginia"), "VA");
  EXPECT_EQ(StateAbbrev("Wyoming"), "WY");
  EXPECT_EQ(StateAbbrev("Alabama"), "AL");
  EXPECT_EQ(StateAbbrev(""), "??");
  EXPECT_EQ(StateAbbrev("Atlantis"), "??");
  EXPECT_EQ(StateAbbrev("TX"), "??");
}

}  // namespace
}  // namespace textutil
