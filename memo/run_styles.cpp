// The run style table: every distinct run record (bytes 4-59) held once,
// with a reference count, in chunks that never move, so that a record's
// address stays valid while its handle is held. Freed handles are reused.
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "memo/text_model.h"

namespace memo::runstyle {
namespace {

constexpr int kChunkBits = 10;
constexpr Handle kChunkSize = Handle{1} << kChunkBits;
constexpr std::size_t kMaxChunks = std::size_t{1} << 14;  // 16M distinct records

struct Entry {
  DynInfoRec record;
  std::uint32_t refs = 0;
};

std::string_view KeyOf(const DynInfoRec& r) {
  return {reinterpret_cast<const char*>(&r) + 4, sizeof(DynInfoRec) - 4};
}

class Table {
public:
  Table() : chunks_(new std::atomic<Entry*>[kMaxChunks]) {
    for (std::size_t i = 0; i < kMaxChunks; ++i) chunks_[i].store(nullptr, std::memory_order_relaxed);
    chunks_[0].store(new Entry[kChunkSize], std::memory_order_release);
    count_ = 1;  // handle 0: the all-zero record, never freed
    index_.emplace(KeyOf(At(0).record), 0);
  }

  Handle Acquire(const DynInfoRec& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = index_.find(KeyOf(record));
    if (found != index_.end()) {
      if (found->second != 0) ++At(found->second).refs;
      return found->second;
    }
    Handle handle;
    if (!free_.empty()) {
      handle = free_.back();
      free_.pop_back();
    } else {
      if (count_ % kChunkSize == 0) {
        const std::size_t chunk = count_ / kChunkSize;
        if (chunk >= kMaxChunks) throw std::bad_alloc();
        chunks_[chunk].store(new Entry[kChunkSize], std::memory_order_release);
      }
      handle = count_++;
    }
    Entry& e = At(handle);
    e.record = record;
    e.record.offset = 0;
    e.refs = 1;
    index_.emplace(KeyOf(e.record), handle);
    return handle;
  }

  void Retain(Handle handle) {
    if (handle == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    ++At(handle).refs;
  }

  void Release(Handle handle) {
    if (handle == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    Entry& e = At(handle);
    if (e.refs == 0) return;  // never below zero, whatever a caller does
    if (--e.refs > 0) return;
    index_.erase(KeyOf(e.record));
    free_.push_back(handle);
  }

  const DynInfoRec& Get(Handle handle) const { return At(handle).record; }

  bool Held(Handle handle) {
    if (handle == 0) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    return handle < count_ && At(handle).refs > 0;
  }

  std::size_t LiveCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return index_.size() - 1;
  }

private:
  Entry& At(Handle handle) const {
    return chunks_[handle >> kChunkBits].load(std::memory_order_acquire)[handle & (kChunkSize - 1)];
  }

  std::unique_ptr<std::atomic<Entry*>[]> chunks_;
  Handle count_ = 0;
  std::vector<Handle> free_;
  std::unordered_map<std::string_view, Handle> index_;
  std::mutex mutex_;
};

// Made on first use and never destroyed, so that memos destroyed during
// exit still find it.
Table& TheTable() {
  static Table* table = new Table();
  return *table;
}

}  // namespace

Handle Acquire(const DynInfoRec& record) { return TheTable().Acquire(record); }
void Retain(Handle handle) { TheTable().Retain(handle); }
void Release(Handle handle) { TheTable().Release(handle); }
const DynInfoRec& Get(Handle handle) { return TheTable().Get(handle); }
std::size_t LiveCount() { return TheTable().LiveCount(); }
bool Held(Handle handle) { return TheTable().Held(handle); }

}  // namespace memo::runstyle
