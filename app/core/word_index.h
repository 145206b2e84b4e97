// The words of a register file's record lines, cut once and kept as small
// integers, so that a fuzzy search over the whole rest of a line compares
// numbers instead of cutting and hashing text on every search.
//
// For each record line the index keeps the ids of the words of its rest
// from the rest's second character on, cut at blanks (empty words
// skipped), exactly as the fuzzy word match cuts them; ids number the
// distinct words of the file (case kept). A line whose rest holds a quote
// character (quotes change where words are cut) is left out and matched
// from its text. A file with more than 65,535 distinct words keeps no index
// (Usable() is false). About two bytes a word and four a line.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace appcore {

class DataFile;

class WordIndex {
public:
  explicit WordIndex(const DataFile& file);

  bool Usable() const { return usable_; }
  // Whether line is indexed (a record line without quotes).
  bool Covers(int line) const { return usable_ && covered_[static_cast<size_t>(line)]; }
  // The word ids of an indexed line, in order.
  std::span<const uint16_t> Words(int line) const {
    return {ids_.data() + starts_[static_cast<size_t>(line)],
            starts_[static_cast<size_t>(line) + 1] - starts_[static_cast<size_t>(line)]};
  }
  // The text of word id (a view into the file's bytes).
  std::string_view Word(uint16_t id) const { return words_[id]; }
  size_t DistinctWords() const { return words_.size(); }

  size_t MemoryUse() const;

private:
  bool usable_ = false;
  std::vector<uint32_t> starts_;  // per line + 1: first entry in ids_
  std::vector<uint16_t> ids_;
  std::vector<bool> covered_;
  std::vector<std::string_view> words_;
};

}  // namespace appcore
