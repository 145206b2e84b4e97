// A per-search memo of what the fuzzy match decided for each distinct word.
//
// A register repeats the same few thousand names a million times, so the
// phonetic key of each distinct word is worked out once per search; the
// verdict depends on the word alone, so the results are those of computing
// every key afresh.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace appcore {

class WordVerdicts {
public:
  // Bits a verdict may carry; compute gives kFuzzy and kChildren, the cache
  // keeps kReported for its caller.
  enum : uint8_t { kFuzzy = 1, kChildren = 2, kReported = 4 };

  using Compute = std::function<uint8_t(std::string_view word)>;
  explicit WordVerdicts(Compute compute);

  // FNV-1a, one byte at a time, so that callers can hash while they cut.
  static constexpr uint64_t kHashSeed = 0xcbf29ce484222325ull;
  static uint64_t HashStep(uint64_t h, char c) { return (h ^ static_cast<uint8_t>(c)) * 0x100000001b3ull; }
  static uint64_t Hash(const char* p, size_t n) {
    uint64_t h = kHashSeed;
    for (size_t i = 0; i < n; ++i) h = HashStep(h, p[i]);
    return h;
  }

  // The verdict of a word whose Hash is hash. The reference stays valid
  // until the next call.
  uint8_t& Get(std::string_view word, uint64_t hash);
  uint8_t& Get(std::string_view word) { return Get(word, Hash(word.data(), word.size())); }

  size_t Size() const { return used_; }

private:
  struct Slot {
    uint64_t hash = 0;
    uint32_t offset = 0;
    uint32_t length = 0;  // 0: free (the empty word is never asked)
    uint8_t verdict = 0;
  };
  static constexpr size_t kFirstSlots = 1024;
  void Grow();

  Compute compute_;
  std::vector<Slot> slots_;
  std::string words_;
  size_t used_ = 0;
};

}  // namespace appcore
