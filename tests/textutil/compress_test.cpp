#include "textutil/compress.h"

#include <gtest/gtest.h>

#include <random>

namespace textutil {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

std::string Random(size_t n, unsigned seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() % static_cast<unsigned>(alphabet));
  return s;
}

// Text-like data: words from a small vocabulary.
std::string Words(size_t n, unsigned seed) {
  static const char* kWords[] = {"the ", "baptism ", "of ", "John ", "Smith ", "son ", "1723;", "Mary ", "\xE9t\xE9 "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) s += kWords[rng() % 9];
  s.resize(n);
  return s;
}

std::vector<std::string> Adversarial() {
  return {"",
          "a",
          std::string(1, '\xFF'),
          std::string(1, '\0'),
          "abc",
          std::string(65536, 'x'),
          std::string(65536, '\xC0'),
          Random(65535, 1),
          Random(65536, 2),
          Random(65537, 3),
          Words(65536, 4),
          Random(1 << 20, 5),
          Words(1 << 20, 6),
          std::string(1 << 20, '\0'),
          Random(100000, 7, 2),
          Random(70000, 8, 3) + std::string(5000, '\x80')};
}

std::string RoundTripRle(const std::string& s) {
  IniRLE();
  std::string coded = RLE(s);
  IniRLE();
  return RLD(coded);
}

std::string RoundTripSqz(const std::string& s) {
  IniSQZ();
  std::string coded = SQZ(s);
  IniSQZ();
  return UnSQZ(coded);
}

TEST(CompressTest, EmptySourceAndCount) {
  IniRLE();
  IniSQZ();
  for (auto* coder : {&RLE, &RLD, &SQZ, &UnSQZ, &BPE, &BPD}) {
    EXPECT_EQ(coder("", 0), "");
    EXPECT_EQ(coder("", 5), "");
  }
  IniRLE();
  EXPECT_EQ(RLE("abcdef", 3), "abc");
  IniRLE();
  EXPECT_EQ(RLE("abc", 10), "abc");
  EXPECT_EQ(BPE("abcdef", 3), "abc");  // only the counted bytes, also when nothing is coded
  EXPECT_EQ(BPD("abcdef", 2), "ab");
}

TEST(CompressTest, RunLengthExamples) {
  IniRLE();
  EXPECT_EQ(RLE("aaaa"), Bytes({'a', 195}));
  IniRLE();
  EXPECT_EQ(RLE(Bytes({200})), Bytes({192, 200}));
  IniRLE();
  EXPECT_EQ(RLD(Bytes({'a', 195})), "aaaa");
  IniRLE();
  EXPECT_EQ(RLD(Bytes({192, 200})), Bytes({200}));
  IniRLE();
  EXPECT_EQ(RLE(std::string(200, 'X')), Bytes({'X', 255, 'X', 255, 'X', 255, 'X', 199}));
  IniRLE();
  EXPECT_EQ(RLE(std::string(2, '\0')), Bytes({194}));  // the last byte starts as 0
}

TEST(CompressTest, RunLengthStreamInPieces) {
  std::string s = "aaaab" + std::string(100, 'c') + Bytes({192, 193, 0, 0});
  IniRLE();
  std::string whole = RLE(s);
  IniRLE();
  std::string pieces = RLE(s.substr(0, 7)) + RLE(s.substr(7, 50)) + RLE(s.substr(57));
  IniRLE();
  EXPECT_EQ(RLD(pieces), s);
  // The decoder may be fed a byte at a time, escapes and runs split apart.
  IniRLE();
  std::string out;
  for (char c : whole) out += RLD(std::string(1, c));
  EXPECT_EQ(out, s);
}

TEST(CompressTest, SplayExamples) {
  IniSQZ();
  EXPECT_EQ(SQZ("a"), Bytes({70, 0, 1}));
  IniSQZ();
  EXPECT_EQ(UnSQZ(Bytes({70, 0, 1})), "a");
  IniSQZ();
  EXPECT_EQ(SQZ("abc"), Bytes({70, 61, 9, 16}));
  IniSQZ();
  EXPECT_EQ(UnSQZ(Bytes({70, 61, 9, 16})), "abc");
}

TEST(CompressTest, SplayBlocksEndToEndAndSplitCodes) {
  IniSQZ();
  std::string coded = SQZ("hello ");
  coded += SQZ("world");
  IniSQZ();
  EXPECT_EQ(UnSQZ(coded), "hello world");
  IniSQZ();
  std::string out;
  for (char c : coded) out += UnSQZ(std::string(1, c));  // codes cut between calls
  EXPECT_EQ(out, "hello world");
}

TEST(CompressTest, BytePairExamples) {
  EXPECT_EQ(BPE("abc"), "abc");
  EXPECT_EQ(BPE("abababab"), Bytes({129, 2, 0, 130, 130, 98, 97, 129, 129}));
  EXPECT_EQ(BPE("aaaaaa"), Bytes({128, 3, 0, 129, 129, 129, 97, 97}));
  EXPECT_EQ(BPD(Bytes({129, 2, 0, 130, 130, 98, 97, 129, 129})), "abababab");
  EXPECT_EQ(BPD(Bytes({128, 3, 0, 129, 129, 129, 97, 97})), "aaaaaa");
  EXPECT_EQ(BPD("abc"), "abc");
  EXPECT_EQ(BPD(Bytes({128, 50, 0, 1, 2})), "");  // data longer than the source
}

TEST(CompressTest, BytePairMarksASourceBeginningWithAHighByte) {
  std::string s = Bytes({200, 'a', 'b'});
  std::string coded = BPE(s);
  EXPECT_GE(static_cast<unsigned char>(coded[0]), 128);
  EXPECT_EQ(BPD(coded), s);
}

TEST(CompressTest, BytePairDecoderStopsOnDamage) {
  // A code beyond the pair table: what came before it is kept.
  EXPECT_EQ(BPD(Bytes({128, 3, 0, 'x', 140, 'y', 97, 97})), "x");
  // A pair that refers to its own code must not expand for ever.
  EXPECT_EQ(BPD(Bytes({128, 2, 0, 'x', 129, 129, 129})), "x");
  // Pairs doubling up 127 times stop at the block limit.
  std::string bomb = Bytes({254, 1, 0, 255});
  for (int code = 129; code <= 255; ++code) {
    int inner = code == 129 ? 'z' : code - 1;
    bomb += static_cast<char>(inner);
    bomb += static_cast<char>(inner);
  }
  std::string out = BPD(bomb);
  EXPECT_LE(out.size(), 65535u);
  EXPECT_EQ(out.find_first_not_of('z'), std::string::npos);
}

TEST(CompressTest, AllCodersRoundTripAdversarialInputs) {
  for (const std::string& s : Adversarial()) {
    SCOPED_TRACE(s.size());
    EXPECT_EQ(RoundTripRle(s), s);
    EXPECT_EQ(RoundTripSqz(s), s);
    EXPECT_EQ(BPD(BPE(s)), s);
  }
}

TEST(CompressTest, FullLengthIsCoded) {
  // 64 KB used to come back empty (the length was taken modulo 65536).
  std::string s = Words(65536, 10);
  IniRLE();
  EXPECT_FALSE(RLE(s).empty());
  IniSQZ();
  std::string squeezed = SQZ(s);
  EXPECT_LT(squeezed.size(), s.size());
  std::string paired = BPE(s);
  EXPECT_LT(paired.size(), s.size());
  EXPECT_EQ(BPD(paired), s);
}

TEST(CompressTest, RandomRoundTrips) {
  std::mt19937 rng(42);
  for (int i = 0; i < 200; ++i) {
    size_t n = rng() % 3000;
    int alphabet = 1 + static_cast<int>(rng() % 256);
    std::string s = Random(n, rng(), alphabet);
    ASSERT_EQ(RoundTripRle(s), s) << i;
    ASSERT_EQ(RoundTripSqz(s), s) << i;
    ASSERT_EQ(BPD(BPE(s)), s) << i;
  }
}

TEST(CompressTest, LongitudinalCheck) {
  EXPECT_EQ(LRC(""), 0);
  EXPECT_EQ(LRC("A"), 65);
  EXPECT_EQ(LRC("AB"), 3);
}

}  // namespace
}  // namespace textutil
