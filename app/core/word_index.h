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

  size_t MemoryUse() const;

private:
  bool usable_ = false;
  std::vector<uint32_t> starts_;  // per line + 1: first byte in bytes_
  std::vector<uint8_t> bytes_;    // the ids, coded as above
  std::vector<bool> covered_;
  std::vector<std::string_view> words_;
};

}  // namespace appcore
