// Replays a committed fuzz corpus, then mutations of it and random inputs,
// through a fuzz body, so the normal build checks what the fuzz build does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace qvtest {

using Body = std::function<void(const std::uint8_t*, std::size_t)>;
using Bytes = std::vector<std::uint8_t>;

inline std::vector<Bytes> Corpus(const std::filesystem::path& dir) {
  std::vector<Bytes> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return seeds;
}

inline Bytes Mutate(const std::vector<Bytes>& seeds, std::mt19937& rng) {
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

// dir: the corpus folder below the source tree ("fuzz/textutil/corpus/rle").
inline void ReplayFuzzBody(const std::string& dir, Body body, int rounds) {
  std::vector<Bytes> seeds = Corpus(std::filesystem::path(QV_SOURCE_DIR) / dir);
  ASSERT_FALSE(seeds.empty()) << dir;
  for (const Bytes& seed : seeds) body(seed.data(), seed.size());
  std::mt19937 rng(static_cast<unsigned>(std::hash<std::string>{}(dir)));
  for (int i = 0; i < rounds && !::testing::Test::HasFailure(); ++i) {
    Bytes input = Mutate(seeds, rng);
    body(input.data(), input.size());
  }
}

}  // namespace qvtest
