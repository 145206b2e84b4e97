#include "tables/engine/maintenance/record_sort.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <queue>

#include "platform/runtime/coding.h"
#include "tables/engine/base/cipher_keys.h"
#include "tables/engine/cache/cache_io.h"
#include "tables/engine/cache/scratch_file.h"
#include "tables/engine/files/data_file.h"
#include "tables/lib/key_bytes.h"

namespace korvex {

class TRecordSorter {
public:
  TRecordSorter(TDataFile& file, const TRecordSortRequest& request);
  TRecordSortResult Sort();

private:
  struct Run {
    std::unique_ptr<TScratchFile> file;
    std::uint32_t records = 0;
    std::uint32_t next = 0;                // records read so far
    std::vector<std::uint8_t> buffer;      // plain records read ahead
    std::uint32_t buffered = 0, head = 0;  // records in the buffer, the current one
    std::vector<std::uint8_t> key;         // the current record's sort key
    std::uint8_t* Head() { return buffer.data() + std::size_t{head} * record_size; }
    std::uint32_t record_size = 0;
  };

  std::uint32_t RecordSize() const { return file_.GetRecordSize(); }
  bool Encrypted() const { return file_.GetEncrypted(); }
  void Encipher(std::uint8_t* record) const {
    if (Encrypted()) EncryptBuffer(record, static_cast<std::int32_t>(RecordSize()), kDataKeys.key1, kDataKeys.key2);
  }
  void Decipher(std::uint8_t* record) const {
    if (Encrypted()) DecryptBuffer(record, static_cast<std::int32_t>(RecordSize()), kDataKeys.key1, kDataKeys.key2);
  }
  // Orders the records of a block (plain, `count` of them) by key; `keys`
  // receives each record's key. Deleted records are left out.
  std::vector<std::uint32_t> SortBlock(const std::uint8_t* records, std::uint32_t count,
                                       std::vector<std::uint8_t>& keys) const;

  // The output: plain records at the end of a buffer of `capacity_`
  // records; a full buffer goes to `spill_` before the next record.
  void StartOutput(std::uint32_t capacity, std::function<void(std::uint8_t*, std::uint32_t)> spill);
  void Take(std::uint8_t* record, const std::uint8_t* key);
  void Write(const std::uint8_t* record);
  void FinishGroup();
  void Spill();
  std::uint8_t* LastOutput() { return out_.data() + std::size_t{buffered_ - 1} * RecordSize(); }

  void SortInMemory();
  void SortExternally();
  void ReadRunRecords(Run& run);
  // Puts the merged records in place of the old ones and ends the file
  // after them.
  void WriteBack(TFileHandler& merged);

  TDataFile& file_;
  const TRecordSortRequest& request_;
  TSortKeys keys_;
  std::uint32_t key_size_;
  std::vector<std::uint8_t> out_;
  std::uint32_t capacity_ = 0, buffered_ = 0, count_ = 0;
  std::function<void(std::uint8_t*, std::uint32_t)> spill_;
  std::vector<std::uint8_t> previous_;
  std::uint32_t runs_ = 0;
};

namespace {

std::uint32_t KeySizeOf(const std::vector<TSortField>& fields) {
  std::uint64_t size = kRecordIDKeySize;
  for (const TSortField& f : fields) size += f.Field.PhysicalSize + 1u;
  return size > 65535 ? 0 : static_cast<std::uint32_t>(size);
}

}  // namespace

TRecordSorter::TRecordSorter(TDataFile& file, const TRecordSortRequest& request)
    : file_(file),
      request_(request),
      keys_(request.Fields, request.CaseInsensitive, file.GetLanguageID(), file.GetSortID()),
      key_size_(keys_.KeySize()) {}

std::vector<std::uint32_t> TRecordSorter::SortBlock(const std::uint8_t* records, std::uint32_t count,
                                                    std::vector<std::uint8_t>& keys) const {
  const std::uint32_t size = RecordSize();
  std::vector<std::uint32_t> order;
  order.reserve(count);
  keys.resize(std::size_t{count} * key_size_);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* record = records + std::size_t{i} * size;
    if (record[0] != 0) continue;  // deleted
    keys_.GetSortKeyValues(record, keys.data() + std::size_t{i} * key_size_);
    order.push_back(i);
  }
  const std::uint8_t* k = keys.data();
  const std::size_t ks = key_size_;
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    int r = keys_.CompareSortKeys(k + a * ks, k + b * ks, true);
    return r != 0 ? r < 0 : a < b;
  });
  return order;
}

// ---- output ----------------------------------------------------------------

void TRecordSorter::StartOutput(std::uint32_t capacity, std::function<void(std::uint8_t*, std::uint32_t)> spill) {
  capacity_ = std::max<std::uint32_t>(capacity, 1);
  out_.assign(std::size_t{capacity_} * RecordSize(), 0);
  buffered_ = count_ = 0;
  spill_ = std::move(spill);
  previous_.assign(key_size_, 0);
}

void TRecordSorter::Take(std::uint8_t* record, const std::uint8_t* key) {
  if (request_.RemoveDuplicates) {
    if (count_ == 0 || keys_.CompareSortKeys(previous_.data(), key, false) != 0) Write(record);
  } else if (request_.GroupRecords) {
    if (count_ == 0) {
      if (request_.Group) request_.Group(true, record, record);
      Write(record);
    } else if (keys_.CompareSortKeys(previous_.data(), key, false) == 0) {
      if (request_.Group) request_.Group(false, record, LastOutput());
    } else {
      if (request_.Group) request_.Group(true, record, record);
      FinishGroup();
      Write(record);
    }
  } else {
    Write(record);
  }
  std::memcpy(previous_.data(), key, key_size_);
}

void TRecordSorter::Write(const std::uint8_t* record) {
  if (buffered_ == capacity_) Spill();
  std::uint8_t* target = out_.data() + std::size_t{buffered_} * RecordSize();
  std::memcpy(target, record, RecordSize());
  ++buffered_;
  ++count_;
  rtl::EncodeFixed32(target + 1, count_);
}

void TRecordSorter::FinishGroup() {
  if (!request_.GroupRecords || request_.RemoveDuplicates || buffered_ == 0) return;
  std::uint8_t* last = LastOutput();
  if (request_.Average) request_.Average(false, last, last);
  if (request_.Having && !request_.Having(false, last, last)) {
    --buffered_;
    --count_;
  }
}

void TRecordSorter::Spill() {
  for (std::uint32_t i = 0; i < buffered_; ++i) Encipher(out_.data() + std::size_t{i} * RecordSize());
  spill_(out_.data(), buffered_);
  buffered_ = 0;
}

// ---- the two paths ---------------------------------------------------------

void TRecordSorter::SortInMemory() {
  const std::uint32_t size = RecordSize();
  // The cache keeps its records untouched (callbacks work on copies), and
  // its changes reach the file first, so a failure leaves the table whole.
  file_.FlushRecordBuffers(false);
  const std::vector<TCacheEntry*>& cached = file_.CachedRecordsInOrder();
  const auto total = static_cast<std::uint32_t>(cached.size());
  std::vector<std::uint8_t> records(std::size_t{total} * size);
  for (std::uint32_t i = 0; i < total; ++i)
    std::memcpy(records.data() + std::size_t{i} * size, static_cast<TRecord*>(cached[i])->Data.data(), size);
  std::vector<std::uint8_t> keys;
  std::vector<std::uint32_t> order = SortBlock(records.data(), total, keys);

  std::vector<std::uint8_t> output;
  StartOutput(static_cast<std::uint32_t>(order.size()), [&](std::uint8_t* bytes, std::uint32_t count) {
    output.insert(output.end(), bytes, bytes + std::size_t{count} * size);
  });
  for (std::uint32_t i : order) Take(records.data() + std::size_t{i} * size, keys.data() + std::size_t{i} * key_size_);
  FinishGroup();
  Spill();
  file_.FreeRecordBuffers();
  WriteAt(file_, file_.DataStart(), output.data(), static_cast<std::int64_t>(output.size()));
  WriteAt(file_, file_.DataStart() + output.size(), nullptr, 0);
  file_.RecordsRewritten(count_);
}

void TRecordSorter::ReadRunRecords(Run& run) {
  const std::uint32_t size = RecordSize();
  std::uint32_t n = std::min<std::uint32_t>(static_cast<std::uint32_t>(run.buffer.size() / size),
                                            run.records - run.next);
  ReadAt(run.file->File(), std::uint64_t{run.next} * size, run.buffer.data(), std::int64_t{n} * size);
  for (std::uint32_t i = 0; i < n; ++i) Decipher(run.buffer.data() + std::size_t{i} * size);
  run.next += n;
  run.buffered = n;
  run.head = 0;
}

void TRecordSorter::SortExternally() {
  const std::uint32_t size = RecordSize();
  const std::string directory = file_.PrivateDirectory();
  const bool in_memory = file_.InMemory();
  const std::uint32_t capacity = request_.RunCapacity != 0 ? request_.RunCapacity
                                                            : std::max<std::uint32_t>(1, std::min<std::uint32_t>(
                                                                                             8191, 2097120 / size));
  file_.FlushRecordBuffers(false);
  file_.FreeRecordBuffers();
  const std::uint32_t total = file_.GetPhysicalRecordsUsed();

  // Runs.
  std::vector<Run> runs;
  {
    std::vector<std::uint8_t> block, keys, sorted;
    for (std::uint32_t first = 1; first <= total;) {
      std::uint32_t n = std::min(capacity, total - first + 1);
      block.resize(std::size_t{n} * size);
      ReadAt(file_, file_.DataStart() + std::uint64_t{first - 1} * size, block.data(), std::int64_t{n} * size);
      for (std::uint32_t i = 0; i < n; ++i) Decipher(block.data() + std::size_t{i} * size);
      first += n;
      std::vector<std::uint32_t> order = SortBlock(block.data(), n, keys);
      if (order.empty()) continue;
      sorted.resize(order.size() * size);
      for (std::size_t i = 0; i < order.size(); ++i) {
        std::memcpy(sorted.data() + i * size, block.data() + std::size_t{order[i]} * size, size);
        Encipher(sorted.data() + i * size);
      }
      Run run;
      run.file = std::make_unique<TScratchFile>(directory, ".TMP", in_memory);
      run.records = static_cast<std::uint32_t>(order.size());
      run.record_size = size;
      WriteAt(run.file->File(), 0, sorted.data(), static_cast<std::int64_t>(sorted.size()));
      runs.push_back(std::move(run));
      if (request_.RunWritten) request_.RunWritten(static_cast<std::uint32_t>(runs.size()));
    }
  }
  runs_ = static_cast<std::uint32_t>(runs.size());

  // Merge: the smallest head of all runs, from a heap; runs read ahead a
  // few records at a time.
  const std::uint32_t ahead = std::max<std::uint32_t>(1, 32768 / size);
  for (Run& run : runs) {
    run.buffer.assign(std::size_t{std::min(ahead, run.records)} * size, 0);
    run.key.assign(key_size_, 0);
    ReadRunRecords(run);
    keys_.GetSortKeyValues(run.Head(), run.key.data());
  }
  auto later = [&](std::uint32_t a, std::uint32_t b) {
    int r = keys_.CompareSortKeys(runs[a].key.data(), runs[b].key.data(), true);
    return r != 0 ? r > 0 : a > b;
  };
  std::priority_queue<std::uint32_t, std::vector<std::uint32_t>, decltype(later)> heads(later);
  for (std::uint32_t i = 0; i < runs.size(); ++i) heads.push(i);

  TScratchFile merged(directory, ".TMP", in_memory);
  std::uint64_t merged_size = 0;
  StartOutput(std::max<std::uint32_t>(capacity, runs_), [&](std::uint8_t* bytes, std::uint32_t count) {
    WriteAt(merged.File(), merged_size, bytes, std::int64_t{count} * size);
    merged_size += std::uint64_t{count} * size;
  });
  while (!heads.empty()) {
    std::uint32_t i = heads.top();
    heads.pop();
    Run& run = runs[i];
    Take(run.Head(), run.key.data());
    if (++run.head == run.buffered) {
      if (run.next == run.records) continue;  // the run is used up
      ReadRunRecords(run);
    }
    keys_.GetSortKeyValues(run.Head(), run.key.data());
    heads.push(i);
  }
  FinishGroup();
  Spill();
  runs.clear();  // their files go before the write-back needs room
  WriteBack(merged.File());
}

void TRecordSorter::WriteBack(TFileHandler& merged) {
  const std::uint64_t bytes = std::uint64_t{count_} * RecordSize();
  std::vector<std::uint8_t> chunk(std::min<std::uint64_t>(bytes, 1 << 20));
  for (std::uint64_t done = 0; done < bytes;) {
    auto n = static_cast<std::int64_t>(std::min<std::uint64_t>(chunk.size(), bytes - done));
    ReadAt(merged, done, chunk.data(), n);
    WriteAt(file_, file_.DataStart() + done, chunk.data(), n);
    done += static_cast<std::uint64_t>(n);
  }
  WriteAt(file_, file_.DataStart() + bytes, nullptr, 0);
  file_.RecordsRewritten(count_);
}

TRecordSortResult TRecordSorter::Sort() {
  if (RecordSize() == 0) RaiseError(err::kDataRecordsCorrupt, file_.GetTableName());
  if (file_.GetPhysicalRecordsUsed() == file_.CachedRecords())
    SortInMemory();
  else
    SortExternally();
  return {count_, runs_};
}

TRecordSortResult SortRecordBuffers(TDataFile& file, const TRecordSortRequest& request) {
  if (request.Fields.size() > kMaxSortFields || KeySizeOf(request.Fields) == 0)
    RaiseError(err::kFieldLimits, file.GetTableName());
  TRecordSorter sorter(file, request);
  return sorter.Sort();
}

}  // namespace korvex
