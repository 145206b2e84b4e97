#include "app/core/word_index.h"

#include "app/core/data_file.h"
#include "app/core/record_line.h"
#include "app/core/word_verdicts.h"
#include "textutil/state.h"

namespace appcore {
namespace {

// Distinct words to ids, open addressing on the cut-time hash.
class WordIds {
public:
  explicit WordIds(std::vector<std::string_view>& words) : words_(words), slots_(4096) {}

  // The id of word, or -1 once there are more than 65,535 words.
  int Id(std::string_view word, uint64_t hash) {
    size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.id == 0) {
        if (words_.size() >= 0xFFFF) return -1;
        if ((words_.size() + 1) * 2 > slots_.size()) {
          Grow();
          return Id(word, hash);
        }
        slot.hash = hash;
        words_.push_back(word);
        slot.id = static_cast<uint32_t>(words_.size());  // 1-based here; 0 marks a free slot
        return static_cast<int>(slot.id - 1);
      }
      if (slot.hash == hash && words_[slot.id - 1] == word) return static_cast<int>(slot.id - 1);
    }
  }

private:
  struct Slot {
    uint64_t hash = 0;
    uint32_t id = 0;
  };
  void Grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.id == 0) continue;
      size_t i = slot.hash & mask;
      while (slots_[i].id != 0) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  std::vector<std::string_view>& words_;
  std::vector<Slot> slots_;
};

}  // namespace

WordIndex::WordIndex(const DataFile& file) {
  const int count = file.LineCount();
  const textutil::UnitState& st = textutil::State();
  starts_.assign(static_cast<size_t>(count) + 1, 0);
  covered_.assign(static_cast<size_t>(count), false);
  ids_.reserve(file.Bytes().size() / 8);
  WordIds ids(words_);
  for (int line = 0; line < count; ++line) {
    starts_[static_cast<size_t>(line)] = static_cast<uint32_t>(ids_.size());
    if (line == 0 || !(file.Flags(line) & DataFile::kRecordLine)) continue;
    const std::string_view rest = RestOf(TrimLine(file.Line(line)));
    if (rest.find(st.OpenQuote) != std::string_view::npos || rest.find(st.CloseQuote) != std::string_view::npos)
      continue;
    covered_[static_cast<size_t>(line)] = true;
    if (rest.size() < 2) continue;
    const char* p = rest.data() + 1;
    const char* end = rest.data() + rest.size();
    while (p < end) {
      const char* w = p;
      uint64_t hash = WordVerdicts::kHashSeed;
      for (; p < end && *p != ' '; ++p) hash = WordVerdicts::HashStep(hash, *p);
      if (p > w) {
        const int id = ids.Id(std::string_view(w, static_cast<size_t>(p - w)), hash);
        if (id < 0) {  // too many words for two-byte ids
          starts_ = {};
          ids_ = {};
          covered_ = {};
          words_ = {};
          return;
        }
        ids_.push_back(static_cast<uint16_t>(id));
      }
      ++p;
    }
  }
  starts_[static_cast<size_t>(count)] = static_cast<uint32_t>(ids_.size());
  ids_.shrink_to_fit();
  usable_ = true;
}

size_t WordIndex::MemoryUse() const {
  return starts_.capacity() * sizeof(uint32_t) + ids_.capacity() * sizeof(uint16_t) + covered_.capacity() / 8 +
         words_.capacity() * sizeof(std::string_view);
}

}  // namespace appcore
