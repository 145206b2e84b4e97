// The words of a register file's record lines, cut once and kept as small
// integers, so that a fuzzy search over the whole rest of a line compares
// numbers instead of cutting and hashing text on every search.
//
// For each record line the index keeps the ids of the words of its rest
// from the rest's second character on, cut at blanks (empty words
// skipped), exactly as the fuzzy word match cuts them; ids number the
// distinct words of the file (case kept), the most frequent first. A line
// whose rest holds a quote character (quotes change where words are cut)
// is left out and matched from its text. A file with more than 65,535
// distinct words keeps no index (Usable() is false).
//
// Ids are stored in one to three bytes: 0..127 in one byte; 128..32,639 as
// 0x80 + (id - 128) / 256, then (id - 128) % 256; the rest as 0xFF and the
// id's two bytes, high first. A register repeats a few hundred names, so a
// word takes little more than a byte, and a line four more.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace appcore {

class DataFile;

class WordIndex {
public:
  explicit WordIndex(const DataFile& file);

  // The ids of one line, read in order.
  class Ids {
  public:
    class Iterator {
    public:
      uint16_t operator*() const { return id_; }
      Iterator& operator++() {
        at_ = next_;
        Decode();
        return *this;
      }
      bool operator!=(const Iterator& o) const { return at_ != o.at_; }

    private:
      friend class Ids;
      Iterator(const uint8_t* at, const uint8_t* end) : at_(at), end_(end) { Decode(); }
      void Decode() {
        if (at_ >= end_) return;
        const uint8_t b = at_[0];
        if (b < 0x80) {
          id_ = b;
          next_ = at_ + 1;
        } else if (b < 0xFF) {
          id_ = static_cast<uint16_t>(128 + ((b - 0x80) << 8 | at_[1]));
          next_ = at_ + 2;
        } else {
          id_ = static_cast<uint16_t>(at_[1] << 8 | at_[2]);
          next_ = at_ + 3;
        }
      }
      const uint8_t* at_;
      const uint8_t* end_;
      const uint8_t* next_ = nullptr;
      uint16_t id_ = 0;
    };
    Iterator begin() const { return {begin_, end_}; }
    Iterator end() const { return {end_, end_}; }

  private:
    friend class WordIndex;
    Ids(const uint8_t* b, const uint8_t* e) : begin_(b), end_(e) {}
    const uint8_t* begin_;
    const uint8_t* end_;
  };

  bool Usable() const { return usable_; }
  // Whether line is indexed (a record line without quotes).
  bool Covers(int line) const { return usable_ && covered_[static_cast<size_t>(line)]; }
  // The word ids of an indexed line, in order.
  Ids Words(int line) const {
    const uint8_t* base = bytes_.data();
    return {base + starts_[static_cast<size_t>(line)], base + starts_[static_cast<size_t>(line) + 1]};
  }
  // The text of word id (a view into the file's bytes).
  std::string_view Word(uint16_t id) const { return words_[id]; }
  size_t DistinctWords() const { return words_.size(); }
  // The ASCII letters word id holds, either case: bit 0 for 'a' or 'A' and
  // so on (a word's bytes need not be read to tell which letters it lacks).
  uint32_t Letters(uint16_t id) const { return letters_[id]; }

  // A few ids looked for in the codes without decoding every line: each
  // id's code as one or two bytes (a three-byte code by its first), and
  // the set of the codes' first bytes for when the ids are many.
  class Leads {
  public:
    void Add(uint16_t id) {
      const uint8_t lead = id < 128 ? static_cast<uint8_t>(id)
                           : id < 32640 ? static_cast<uint8_t>(0x80 + ((id - 128) >> 8))
                                        : uint8_t{0xFF};
      bits_[lead >> 6] |= uint64_t{1} << (lead & 63);
      (lead < 128 ? lows_ : highs_)[lead & 15] |= static_cast<uint8_t>(1u << ((lead >> 4) & 7));
      if (id < 128) {
        if (singles_ < kFew) single_[singles_] = lead;
        ++singles_;
      } else if (id < 32640) {
        if (pairs_ < kFew) pair_[pairs_] = {lead, static_cast<uint8_t>((id - 128) & 0xFF)};
        ++pairs_;
      } else {
        pairs_ += kFew + 1;  // found by its first byte alone: too many to compare whole
      }
    }
    bool Has(uint8_t b) const { return bits_[b >> 6] >> (b & 63) & 1; }
    bool Empty() const { return (bits_[0] | bits_[1] | bits_[2] | bits_[3]) == 0; }

  private:
    friend class WordIndex;
    static constexpr int kFew = 8;
    std::array<uint64_t, 4> bits_{};
    // Bit h of lows_[l] (of highs_[l]): byte h * 16 + l (that byte + 128)
    // is a first byte.
    std::array<uint8_t, 16> lows_{}, highs_{};
    // While there are kFew or fewer of each: the one-byte codes, and the
    // two-byte ones.
    int singles_ = 0, pairs_ = 0;
    std::array<uint8_t, kFew> single_{};
    std::array<std::array<uint8_t, 2>, kFew> pair_{};
  };
  // The first line of [line, end) whose codes may hold one of the ids of
  // leads, or end: every line holding one is found, and a few others (the
  // bytes of a code may stand across two codes).
  int NextLineWithLead(int line, int end, const Leads& leads) const;

  size_t MemoryUse() const;

private:
  bool usable_ = false;
  std::vector<uint32_t> starts_;  // per line + 1: first byte in bytes_
  std::vector<uint8_t> bytes_;    // the ids, coded as above
  std::vector<bool> covered_;
  std::vector<std::string_view> words_;
  std::vector<uint32_t> letters_;  // per id
};

}  // namespace appcore
