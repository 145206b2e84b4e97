#include "tables/engine/journal.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/runtime/coding.h"
#include "platform/runtime/files.h"
#include "tables/engine/cache_io.h"
#include "tables/engine/errors.h"

namespace korvex {
namespace {

constexpr char kMagic[8] = {'Q', 'V', 'J', 'N', 'L', '1', 0, 0};
constexpr std::size_t kHeaderSize = 8 + 3 * 4 + 4;
constexpr std::size_t kEntryHead = 1 + 4 + 4;

std::function<void()>& StepHook() {
  static std::function<void()> hook;
  return hook;
}

void Step() {
  if (StepHook()) StepHook()();
}

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count) {
  // The reflected CRC-32 (polynomial 0xEDB88320), a byte at a time.
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t b[4];
  rtl::EncodeFixed32(b, v);
  out.insert(out.end(), b, b + 4);
}

void Seal(std::vector<std::uint8_t>& record) { PutU32(record, Crc32(record.data(), record.size())); }

bool Sealed(const std::uint8_t* record, std::size_t length) {
  return rtl::DecodeFixed32(record + length) == Crc32(record, length);
}

}  // namespace

TJournal::~TJournal() { Stop(); }

void TJournal::SetStepHook(std::function<void()> hook) { StepHook() = std::move(hook); }

bool TJournal::Exists(const std::string& path) {
  // A look without opening: an open takes the share bytes, and a writer
  // making or ending its journal at that moment would find them held.
  return rtl::FileExists(path);
}

void TJournal::Begin(const std::string& path, std::vector<TFileHandler*> files, bool sync) {
  path_ = path;
  sync_ = sync;
  old_lengths_.clear();
  for (TFileHandler* f : files) old_lengths_.push_back(f != nullptr && f->IsOpen() ? f->GetSize() : 0);
  files_ = std::move(files);
  for (TFileHandler* f : files_)
    if (f != nullptr) f->SetObserver(this);
}

void TJournal::Stop() {
  for (TFileHandler* f : files_)
    if (f != nullptr) f->SetObserver(nullptr);
  files_.clear();
}

void TJournal::WriteHeader() {
  if (file_) return;
  // The old bytes are the table's: the journal is made private, then
  // given the table's permissions.
  if (rtl::TLockedFile::Create(path_, false, file_, 0600) != 0) RaiseError(err::kWriteError, path_);
  if (!files_.empty() && files_[0] != nullptr) rtl::CopyFileOwnership(files_[0]->FileName(), path_);
  std::vector<std::uint8_t> header(kMagic, kMagic + 8);
  for (std::int64_t length : old_lengths_) PutU32(header, static_cast<std::uint32_t>(length));
  while (header.size() < 8 + 3 * 4) PutU32(header, 0);
  Seal(header);
  Step();
  if (file_->WriteAt(0, header.data(), static_cast<std::int64_t>(header.size())) !=
      static_cast<std::int64_t>(header.size()))
    RaiseError(err::kWriteError, path_);
  end_ = static_cast<std::int64_t>(header.size());
}

void TJournal::Sync() {
  if (!sync_) return;
  Step();
  if (file_->Sync() != 0) RaiseError(err::kWriteError, path_);
}

void TJournal::Append(const std::vector<std::uint8_t>& record) {
  WriteHeader();
  Step();
  if (file_->WriteAt(end_, record.data(), static_cast<std::int64_t>(record.size())) !=
      static_cast<std::int64_t>(record.size()))
    RaiseError(err::kWriteError, path_);
  end_ += static_cast<std::int64_t>(record.size());
  Sync();
}

void TJournal::BeforeWrite(TFileHandler& file, std::int64_t position, std::int64_t count) {
  auto it = std::find(files_.begin(), files_.end(), &file);
  if (it == files_.end()) return;
  std::size_t index = static_cast<std::size_t>(it - files_.begin());
  std::int64_t old = old_lengths_[index];
  std::int64_t end = count == 0 ? old : std::min(position + count, old);
  if (position < end) {
    // The caller has positioned the handler: read the old bytes and put the
    // position back.
    std::vector<std::uint8_t> record{static_cast<std::uint8_t>(index)};
    PutU32(record, static_cast<std::uint32_t>(position));
    PutU32(record, static_cast<std::uint32_t>(end - position));
    record.resize(kEntryHead + static_cast<std::size_t>(end - position));
    file.Seek(position, 0);
    file.Read(record.data() + kEntryHead, end - position);
    file.Seek(position, 0);
    Seal(record);
    Append(record);
  } else if (!file_) {
    // A write past the old end: the old lengths go first, so that a
    // process killed now has its files cut back.
    WriteHeader();
    Sync();
  }
  Step();
}

void TJournal::BeforeFlush(TFileHandler&) { Step(); }

void TJournal::Commit() {
  Stop();
  if (!file_) return;
  file_.reset();
  Step();
  // Deleting the journal is the commit point: a journal left behind would
  // be played back over this flush.
  if (rtl::DeleteLockedFile(path_) != 0) RaiseError(err::kWriteError, path_);
  Step();
}

void TJournal::Abandon() {
  Stop();
  file_.reset();
}

void TJournal::Undo() {
  std::vector<TFileHandler*> files = files_;
  const bool written = file_ != nullptr;
  Abandon();
  if (written) Recover(path_, files);
}

bool TJournal::Recover(const std::string& path, const std::vector<TFileHandler*>& files) {
  std::unique_ptr<rtl::TLockedFile> file;
  if (rtl::TLockedFile::Open(path, rtl::FileAccess::Read, rtl::FileShare::Shared, file) != 0) return false;
  std::int64_t size = file->Size();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  std::int64_t got = file->ReadAt(0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
  file.reset();
  bool valid = got == static_cast<std::int64_t>(bytes.size()) && bytes.size() >= kHeaderSize &&
               std::memcmp(bytes.data(), kMagic, 8) == 0 && Sealed(bytes.data(), kHeaderSize - 4);
  if (valid) {
    struct Entry {
      std::size_t index, at;
      std::uint32_t position, length;
    };
    std::vector<Entry> entries;
    for (std::size_t at = kHeaderSize; at + kEntryHead + 4 <= bytes.size();) {
      std::uint32_t length = rtl::DecodeFixed32(bytes.data() + at + 5);
      if (at + kEntryHead + length + 4 > bytes.size() || !Sealed(bytes.data() + at, kEntryHead + length)) break;
      entries.push_back({bytes[at], at + kEntryHead, rtl::DecodeFixed32(bytes.data() + at + 1), length});
      at += kEntryHead + length + 4;
    }
    for (auto e = entries.rbegin(); e != entries.rend(); ++e)
      if (e->index < files.size() && files[e->index] != nullptr && files[e->index]->IsOpen())
        WriteAt(*files[e->index], e->position, bytes.data() + e->at, e->length);
    for (std::size_t i = 0; i < files.size() && i < 3; ++i) {
      if (files[i] == nullptr || !files[i]->IsOpen()) continue;
      std::uint32_t old = rtl::DecodeFixed32(bytes.data() + 8 + 4 * i);
      if (files[i]->GetSize() > old) WriteAt(*files[i], old, nullptr, 0);
      files[i]->Flush();
    }
  }
  int rc = rtl::DeleteLockedFile(path);
  if (rc != 0) RaiseError(err::kWriteError, path);
  return true;
}

}  // namespace korvex
