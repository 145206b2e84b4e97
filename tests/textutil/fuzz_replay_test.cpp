// Replays the committed fuzz corpus and mutated and random inputs through
// the fuzz bodies, so the normal build checks what the fuzz build does.
#include <gtest/gtest.h>

#define QV_FUZZ_CHECK_FAILED(text) ADD_FAILURE() << "fuzz check failed: " << (text)
#include "fuzz/textutil/textutil_fuzz.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

using Body = void (*)(const std::uint8_t*, std::size_t);
using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> Corpus(const std::string& name) {
  std::vector<Bytes> seeds;
  std::filesystem::path dir = std::filesystem::path(QV_SOURCE_DIR) / "fuzz/textutil/corpus" / name;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return seeds;
}

Bytes Mutate(const std::vector<Bytes>& seeds, std::mt19937& rng) {
  Bytes b = seeds.empty() || rng() % 8 == 0 ? Bytes() : seeds[rng() % seeds.size()];
  for (int k = 0, n = 1 + static_cast<int>(rng() % 8); k < n; ++k) {
    switch (rng() % 6) {
      case 0:
        if (!b.empty()) b[rng() % b.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        break;
      case 1:
        b.insert(b.begin() + static_cast<long>(b.empty() ? 0 : rng() % (b.size() + 1)), static_cast<std::uint8_t>(rng()));
        break;
      case 2:
        if (!b.empty()) b.erase(b.begin() + static_cast<long>(rng() % b.size()));
        break;
      case 3:
        if (!b.empty() && b.size() < 512) b.insert(b.end(), b.begin(), b.begin() + static_cast<long>(rng() % b.size() + 1));
        break;
      case 4:
        if (!seeds.empty()) {
          const Bytes& other = seeds[rng() % seeds.size()];
          b.insert(b.end(), other.begin(), other.end());
        }
        break;
      default:
        for (int i = 0, m = static_cast<int>(rng() % 16); i < m; ++i) b.push_back(static_cast<std::uint8_t>(rng()));
        break;
    }
  }
  if (b.size() > 2048) b.resize(2048);
  return b;
}

void Replay(const std::string& name, Body body, int rounds) {
  std::vector<Bytes> seeds = Corpus(name);
  ASSERT_FALSE(seeds.empty()) << name;
  for (const Bytes& seed : seeds) body(seed.data(), seed.size());
  std::mt19937 rng(static_cast<unsigned>(std::hash<std::string>{}(name)));
  for (int i = 0; i < rounds && !::testing::Test::HasFailure(); ++i) {
    Bytes input = Mutate(seeds, rng);
    body(input.data(), input.size());
  }
}

using FuzzReplayTest = TextutilTest;

TEST_F(FuzzReplayTest, Decoders) { Replay("decoders", fuzz::Decoders, 20000); }
TEST_F(FuzzReplayTest, RunLength) { Replay("rle", fuzz::RunLength, 30000); }
TEST_F(FuzzReplayTest, Splay) { Replay("sqz", fuzz::Splay, 10000); }
TEST_F(FuzzReplayTest, BytePair) { Replay("bpe", fuzz::BytePair, 20000); }
TEST_F(FuzzReplayTest, Calculator) { Replay("calc", fuzz::Calculator, 50000); }
TEST_F(FuzzReplayTest, Pattern) { Replay("pattern", fuzz::Pattern, 50000); }

}  // namespace
}  // namespace textutil
