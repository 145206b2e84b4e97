#include "tables/lib/abstract_file.h"

#include <errno.h>

#include <climits>
#include <cstring>
#include <iterator>

#include "platform/runtime/cp1252.h"
#include "platform/runtime/filelock.h"
#include "platform/runtime/os_files.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/errors/errors.h"
#include "tables/lib/allocator.h"

namespace korvex {

// ---- TAbstractFile -------------------------------------------------------

struct TAbstractFile::HandleRecord : TCountedObject {
  std::int32_t number = 0;
  std::int64_t position = 0;
};

namespace {
constexpr std::int32_t kMemoryStep = 65535;
}  // namespace

TAbstractFile::TAbstractFile(std::string name) : name_(std::move(name)) {}

TAbstractFile::~TAbstractFile() {
  for (std::int32_t i = handles_.Count() - 1; i >= 0; --i) delete static_cast<HandleRecord*>(handles_.Get(i));
  FreeLocks();
}

void TAbstractFile::FreeLocks() { locks_.clear(); }

TAbstractFile::HandleRecord* TAbstractFile::FindHandle(std::int32_t handle) {
  std::int32_t index = GetHandlePos(handle);
  return index < 0 ? nullptr : static_cast<HandleRecord*>(handles_.Get(index));
}

std::int32_t TAbstractFile::GetHandlePos(std::int32_t handle) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (open_count_ < 1) return -1;
  for (std::int32_t i = 0; i < handles_.Count(); ++i)
    if (static_cast<HandleRecord*>(handles_.Get(i))->number == handle) return i;
  return -1;
}

std::int32_t TAbstractFile::AddHandle() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::int32_t number = 1;
  while (GetHandlePos(number) >= 0) ++number;
  auto* record = new HandleRecord;
  record->number = number;
  handles_.Add(record);
  ++open_count_;
  return number;
}

std::int32_t TAbstractFile::CreateNew() { return AddHandle(); }
std::int32_t TAbstractFile::Open() { return AddHandle(); }

void TAbstractFile::Close(std::int32_t handle) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::int32_t index = GetHandlePos(handle);
  if (index < 0) return;
  delete static_cast<HandleRecord*>(handles_.Get(index));
  handles_.Delete(index);
  --open_count_;
}

std::int32_t TAbstractFile::Rename(const std::string& new_name) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  name_ = new_name;
  return 0;
}

std::int32_t TAbstractFile::Delete() { return 0; }

std::int64_t TAbstractFile::Read(std::int32_t handle, void* buffer, std::int64_t count) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  HandleRecord* record = FindHandle(handle);
  if (!record) return -err::kInvalidFileHandle;
  if (count <= 0) return 0;
  std::int64_t n = ReadAt(record->position, buffer, count);
  if (n > 0) record->position += n;
  return n;
}

std::int64_t TAbstractFile::Write(std::int32_t handle, const void* buffer, std::int64_t count) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  HandleRecord* record = FindHandle(handle);
  if (!record) return -err::kInvalidFileHandle;
  if (count < 0) return -err::kWriteError;
  if (count == 0) return SetEnd(record->position);
  std::int64_t n = WriteAt(record->position, buffer, count);
  if (n > 0) record->position += n;
  return n;
}

bool TAbstractFile::Flush(std::int32_t handle) { return true; }

std::int64_t TAbstractFile::WriteSpans(std::int32_t handle, std::int64_t position,
                                       const std::vector<rtl::TByteSpan>& spans) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  HandleRecord* record = FindHandle(handle);
  if (!record) return -err::kInvalidFileHandle;
  if (position < 0) return -err::kWriteError;
  const std::int64_t n = WriteSpansAt(position, spans);
  if (n > 0) record->position = position + n;
  return n;
}

std::int64_t TAbstractFile::WriteSpansAt(std::int64_t position, const std::vector<rtl::TByteSpan>& spans) {
  std::int64_t done = 0;
  for (const rtl::TByteSpan& span : spans) {
    if (span.Size <= 0) continue;
    const std::int64_t n = WriteAt(position + done, span.Data, span.Size);
    if (n < 0) return done > 0 ? done : n;
    done += n;
    if (n < span.Size) break;
  }
  return done;
}

std::int64_t TAbstractFile::Seek(std::int32_t handle, std::int64_t offset, std::uint16_t origin) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  HandleRecord* record = FindHandle(handle);
  if (!record) return -1;
  switch (origin) {
    case 0: record->position = offset; break;
    case 1: record->position += offset; break;
    case 2: {
      std::int64_t size = CurrentSize();
      if (size < 0) return -1;
      record->position = size + offset;
      break;
    }
    default: return -1;
  }
  return record->position;
}

bool TAbstractFile::Lock(std::int64_t start, std::int64_t length) {
  if (length < 1 || start < 0) return false;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (rtl::OverlapsHeld(locks_, start, length)) return false;
  locks_.emplace(start, length);
  return true;
}

bool TAbstractFile::Unlock(std::int64_t start, std::int64_t length) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  auto it = locks_.find(start);
  if (it == locks_.end() || it->second != length) return false;
  locks_.erase(it);
  return true;
}

bool TAbstractFile::UnlockPart(std::int64_t start, std::int64_t length) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  auto covering = rtl::CoveringHeld(locks_, start, length);
  if (covering == locks_.end()) return false;
  rtl::CutHeld(locks_, covering, start, length);
  return true;
}

// ---- TMemoryFile ---------------------------------------------------------

TMemoryFile::~TMemoryFile() { SafeFree(buffer_); }

std::int32_t TMemoryFile::CreateNew() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  ResizeBuffer(0, kMemoryStep, buffer_, capacity_);
  size_ = 0;
  return TAbstractFile::CreateNew();
}

std::int64_t TMemoryFile::Size() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return size_;
}

std::int64_t TMemoryFile::ReadAt(std::int64_t position, void* buffer, std::int64_t count) {
  if (position < 0 || position > size_) return 0;
  std::int64_t n = count < size_ - position ? count : size_ - position;
  if (n > 0) std::memcpy(buffer, buffer_ + position, static_cast<std::size_t>(n));
  return n;
}

std::int64_t TMemoryFile::WriteAt(std::int64_t position, const void* buffer, std::int64_t count) {
  if (position < 0 || count > INT32_MAX - position) return 0;
  std::int64_t end = position + count;
  ResizeBuffer(static_cast<std::int32_t>(end), kMemoryStep, buffer_, capacity_);
  std::memcpy(buffer_ + position, buffer, static_cast<std::size_t>(count));
  if (end > size_) size_ = end;  // the gap, if any, is zero already
  return count;
}

std::int32_t TMemoryFile::SetEnd(std::int64_t position) {
  if (position < 0 || position > INT32_MAX) return -err::kWriteError;
  if (position < size_) {
    std::memset(buffer_ + position, 0, static_cast<std::size_t>(size_ - position));
  } else if (position > capacity_) {
    ResizeBuffer(static_cast<std::int32_t>(position), kMemoryStep, buffer_, capacity_);
  }
  size_ = position;
  return 0;
}

// ---- TPhysicalFile -------------------------------------------------------

TPhysicalFile::TPhysicalFile(std::string name) : TAbstractFile(std::move(name)) {}

TPhysicalFile::~TPhysicalFile() = default;

std::int32_t TPhysicalFile::CreateNew() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  disk_.reset();
  std::string path = ResolveDiskPath(Name(), true);
  unsynced_ = true;
  // A temporary table's files are private to the user, as every other
  // temporary file is.
  int rc = rtl::TLockedFile::Create(path, false, disk_, Temporary() ? 0600 : 0666);
  if (rc < 0) return EngineErrorOfErrno(rc);
  disk_path_ = path;
  SetReadOnly(false);
  SetReadOnlyByAttribute(false);
  return TAbstractFile::CreateNew();
}

std::int32_t TPhysicalFile::Open() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (OpenCount() == 0) {
    SetReadOnlyByAttribute(false);
    std::string path = ResolveDiskPath(Name(), false);
    bool read_only = false;
    int rc = rtl::IsFileReadOnly(path, read_only);
    if (rc < 0) return EngineErrorOfErrno(rc);
    SetReadOnly(read_only);
    SetReadOnlyByAttribute(read_only);
    unsynced_ = true;
    rc = rtl::TLockedFile::Open(path, read_only ? rtl::FileAccess::Read : rtl::FileAccess::ReadWrite,
                                Exclusive() ? rtl::FileShare::Exclusive : rtl::FileShare::Shared, disk_);
    if (rc < 0) return EngineErrorOfErrno(rc);
    disk_->SetDeleteOnClose(Temporary());
    disk_path_ = path;
  }
  return TAbstractFile::Open();
}

void TPhysicalFile::Close(std::int32_t handle) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  TAbstractFile::Close(handle);
  if (OpenCount() == 0) disk_.reset();
}

std::int32_t TPhysicalFile::Rename(const std::string& new_name) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::string to = ResolveDiskPath(new_name, true);
  int rc = rtl::RenameLockedFile(ResolveDiskPath(Name(), false), to);
  if (rc < 0) return EngineErrorOfErrno(rc);
  disk_path_ = to;
  return TAbstractFile::Rename(new_name);
}

std::int32_t TPhysicalFile::Delete() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  int rc = rtl::DeleteLockedFile(ResolveDiskPath(Name(), false));
  return rc < 0 ? EngineErrorOfErrno(rc) : 0;
}

bool TPhysicalFile::Flush(std::int32_t handle) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!disk_) return false;
  // Cleared before the sync: a write that ends after this sets the mark
  // again (writes set it once done), so it is never lost to a skipped sync.
  if (!unsynced_.exchange(false)) return true;
  if (disk_->Sync() == 0) return true;
  unsynced_ = true;
  return false;
}

bool TPhysicalFile::SyncWithoutLock() {
  rtl::TLockedFile* disk = disk_.get();
  if (disk == nullptr) return false;
  if (!unsynced_.exchange(false)) return true;
  if (disk->Sync() == 0) return true;
  unsynced_ = true;
  return false;
}

bool TPhysicalFile::Lock(std::int64_t start, std::int64_t length) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return disk_ && disk_->Lock(start, length);
}

bool TPhysicalFile::Unlock(std::int64_t start, std::int64_t length) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return disk_ && disk_->Unlock(start, length);
}

bool TPhysicalFile::UnlockPart(std::int64_t start, std::int64_t length) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return disk_ && disk_->UnlockPart(start, length);
}

std::int64_t TPhysicalFile::ReadAt(std::int64_t position, void* buffer, std::int64_t count) {
  if (!disk_) return -err::kInvalidFileHandle;
  if (position < 0) return 0;
  std::int64_t n = disk_->ReadAt(position, buffer, count);
  return n < 0 ? EngineErrorOfErrno(static_cast<int>(n)) : n;
}

std::int64_t TPhysicalFile::WriteAt(std::int64_t position, const void* buffer, std::int64_t count) {
  if (!disk_) return -err::kInvalidFileHandle;
  if (position < 0) return 0;
  std::int64_t n = disk_->WriteAt(position, buffer, count);
  unsynced_ = true;
  return n < 0 ? EngineErrorOfErrno(static_cast<int>(n)) : n;
}

std::int64_t TPhysicalFile::WriteSpansAt(std::int64_t position, const std::vector<rtl::TByteSpan>& spans) {
  if (!disk_) return -err::kInvalidFileHandle;
  const std::int64_t n = disk_->WriteAt(position, spans);
  unsynced_ = true;
  return n < 0 ? EngineErrorOfErrno(static_cast<int>(n)) : n;
}

std::int32_t TPhysicalFile::SetEnd(std::int64_t position) {
  if (!disk_) return -err::kInvalidFileHandle;
  if (position < 0) return -err::kWriteError;
  int rc = disk_->Truncate(position);
  unsynced_ = true;
  return rc < 0 ? EngineErrorOfErrno(rc) : 0;
}

std::int64_t TPhysicalFile::CurrentSize() {
  if (!disk_) return -1;
  return disk_->Size();
}

// ---- names and errors ----------------------------------------------------

std::int32_t EngineErrorOfErrno(int negated_errno) {
  switch (-negated_errno) {
    case ENOENT: case ENOTDIR: case ENAMETOOLONG: case ELOOP:
      return -err::kInvalidFileName;
    case EMFILE: case ENFILE:
      return -err::kTooManyOpenFiles;
    case EACCES: case EPERM: case EBUSY: case ETXTBSY: case EROFS: case EISDIR:
      return -err::kAccessDenied;
    case EBADF:
      return -err::kInvalidFileHandle;
    case ENOMEM:
      return -err::kOutOfMemory;
    case ENODEV: case ENXIO:
      return -err::kDeviceAccessDenied;
    case EXDEV:
      return -err::kTableMoved;
    default:
      return -err::kUnknownOsError;
  }
}

std::string SystemReason() {
  const int error = rtl::TLockedFile::LastFailure();
  return error == 0 ? std::string() : rtl::os::ErrorText(error);
}

std::string TrimFileName(const std::string& name) { return rtl::Trim(name); }

std::string ResolveDiskPath(const std::string& name, bool for_create) {
  std::string path = TrimFileName(name);
  std::string found = rtl::FindFileIgnoringCase(path);
  if (!found.empty() || !for_create) return found.empty() ? path : found;
  std::size_t slash = path.rfind('/');
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  std::string ext = rtl::AnsiUpperCase(path.substr(dot));
  for (const char* table_ext : {".DAT", ".IDX", ".BLB", ".DBK", ".IBK", ".BBK", ".DUP", ".IUP"})
    if (ext == table_ext) return path.substr(0, dot) + ext;
  return path;
}

}  // namespace korvex
