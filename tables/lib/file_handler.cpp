#include "tables/lib/file_handler.h"

#include "tables/engine/errors/errors.h"
#include "tables/lib/file_list.h"
#include "tables/lib/support.h"

namespace korvex {

TFileHandler::TFileHandler(void* owner) {}

TFileHandler::~TFileHandler() {
  if (is_open_ || file_) {
    try {
      TFileHandler::CloseFile();
    } catch (...) {
    }
  }
}

void TFileHandler::Fail(std::int64_t negated_code) {
  RaiseError(static_cast<TEngineErrorCode>(-negated_code), file_name_);
}

void TFileHandler::FailWrite() {
  // A disk file's failure carries the system's reason (a full disk, an
  // I/O error); a memory file has none to give.
  RaiseError(err::kWriteError, file_name_, {}, {}, OnDisk() ? SystemReason() : std::string());
}

void TFileHandler::OpenFile() {
  if (is_open_) return;
  TFileList& files = FileList();
  if (!files.FileExists(file_name_, in_memory_)) RaiseError(err::kInvalidFileName, file_name_);
  read_only_ = false;
  Attach(files.OpenFile(file_name_, in_memory_, file_, read_only_, exclusive_, temporary_));
}

void TFileHandler::CreateFile() { Attach(FileList().CreateFile(file_name_, in_memory_, file_, temporary_)); }

void TFileHandler::Attach(std::int32_t result) {
  if (result < 0) {
    file_ = nullptr;
    handle_ = 0;
    Fail(result);
  }
  handle_ = result;
  is_open_ = true;
}

void TFileHandler::CloseFile() {
  if (handle_ >= 1 && file_) FileList().CloseFile(file_, in_memory_, handle_);
  file_ = nullptr;
  handle_ = 0;
  is_open_ = false;
}

void TFileHandler::DeleteFile() {
  std::int32_t result = FileList().DeleteFile(file_name_, in_memory_);
  if (result < 0) Fail(result);
}

void TFileHandler::RenameFile(const std::string& new_name) {
  std::int32_t result = FileList().RenameFile(file_name_, in_memory_, new_name);
  if (result < 0) Fail(result);
  file_name_ = new_name;
}

void TFileHandler::CopyFile(const std::string& destination) {
  if (!is_open_ || !file_) return;
  std::int32_t result = FileList().CopyFile(file_, handle_, in_memory_, destination);
  if (result < 0) Fail(result);
}

void TFileHandler::CopyFromFile(const std::string& source) {
  if (!is_open_ || !file_) return;
  std::int32_t result = FileList().CopyFromFile(file_, handle_, in_memory_, source);
  if (result < 0) Fail(result);
}

namespace {
std::function<void(TFaultSite)>& FaultHook() {
  static std::function<void(TFaultSite)> hook;
  return hook;
}
}  // namespace

void TFileHandler::SetFaultHook(std::function<void(TFaultSite)> hook) { FaultHook() = std::move(hook); }

void TFileHandler::Fault(TFaultSite site) {
  if (FaultHook()) FaultHook()(site);
}

std::int64_t TFileHandler::Read(void* buffer, std::int64_t count, bool allow_short) {
  if (!file_) RaiseError(err::kReadError, file_name_);
  if (observer_ != nullptr) ObserverKeepsPosition([&] { observer_->BeforeRead(*this); });
  Fault(TFaultSite::Read);
  std::int64_t n = file_->Read(handle_, buffer, count);
  if (n < 0 || (n < count && !allow_short)) RaiseError(err::kReadError, file_name_);
  return n;
}

void TFileHandler::Write(const void* buffer, std::int64_t count) {
  if (!file_) RaiseError(err::kWriteError, file_name_);
  ++write_calls_;
  if (observer_ != nullptr) {
    const std::int64_t position = GetPos();
    if (count > 0 && observer_->HoldWrite(*this, position, buffer, count)) {
      Fault(TFaultSite::Write);
      Seek(position + count, 0);
      return;
    }
    ObserverKeepsPosition([&] { observer_->BeforeWrite(*this, position, count); });
  }
  Fault(TFaultSite::Write);
  if (file_->Write(handle_, buffer, count) != count) FailWrite();
}

void TFileHandler::ObserverKeepsPosition(const std::function<void()>& call) {
  // The observer's own transfers on this handler (held writes going out,
  // the old bytes it keeps of them) move the position the caller set for
  // the read or write that follows: it is put back.
  const std::int64_t at = GetPos();
  call();
  Seek(at, 0);
}

std::uint8_t* TFileHandler::WriteInPlace(std::int64_t position, std::int64_t count) {
  if (!file_ || observer_ == nullptr || count <= 0) return nullptr;
  ++write_calls_;
  std::uint8_t* at = nullptr;
  ObserverKeepsPosition([&] { at = observer_->HoldSpace(*this, position, count); });
  if (at != nullptr) Fault(TFaultSite::Write);
  return at;
}

void TFileHandler::WriteSpans(std::int64_t position, const std::vector<rtl::TByteSpan>& spans) {
  if (!file_) RaiseError(err::kWriteError, file_name_);
  ++write_calls_;
  Fault(TFaultSite::Write);
  std::int64_t count = 0;
  for (const rtl::TByteSpan& span : spans) count += span.Size;
  if (file_->WriteSpans(handle_, position, spans) != count) FailWrite();
}

bool TFileHandler::OnDisk() const {
  auto* physical = dynamic_cast<TPhysicalFile*>(file_);
  return physical != nullptr && physical->DiskFile() != nullptr;
}

bool TFileHandler::HasUnsyncedWrites() const {
  auto* physical = dynamic_cast<TPhysicalFile*>(file_);
  return physical != nullptr && physical->DiskFile() != nullptr && physical->Unsynced();
}

std::function<void()> TFileHandler::DeferredSpans(std::int64_t position, std::vector<rtl::TByteSpan> spans) {
  auto* physical = dynamic_cast<TPhysicalFile*>(file_);
  if (physical == nullptr || physical->DiskFile() == nullptr) RaiseError(err::kWriteError, file_name_);
  ++write_calls_;
  Fault(TFaultSite::Write);
  std::int64_t count = 0;
  for (const rtl::TByteSpan& span : spans) count += span.Size;
  return [physical, name = file_name_, position, spans = std::move(spans), count] {
    if (physical->WriteSpansWithoutLock(position, spans) != count)
      RaiseError(err::kWriteError, name, {}, {}, SystemReason());
  };
}

void TFileHandler::Flush() {
  if (file_ && observer_ != nullptr) {
    bool held = false;
    ObserverKeepsPosition([&] { held = observer_->HoldFlush(*this); });
    if (held) {
      Fault(TFaultSite::Flush);
      return;
    }
    ObserverKeepsPosition([&] { observer_->BeforeFlush(*this); });
  }
  if (file_) Fault(TFaultSite::Flush);
  if (file_ && !file_->Flush(handle_)) FailWrite();
}

std::function<void()> TFileHandler::EarlySync() {
  auto* physical = dynamic_cast<TPhysicalFile*>(file_);
  if (physical == nullptr || physical->DiskFile() == nullptr) return {};
  // Without the file's own lock: it stays free for the writes going on
  // meanwhile. An error is raised here, not left for the Flush after (the
  // system reports a failed write-back only once).
  return [physical, name = file_name_] {
    if (!physical->SyncWithoutLock()) RaiseError(err::kWriteError, name, {}, {}, SystemReason());
  };
}

std::int64_t TFileHandler::Seek(std::int64_t offset, std::uint16_t origin) {
  if (!file_) return 0;
  if (origin == 2 && observer_ != nullptr) observer_->BeforeRead(*this);
  return file_->Seek(handle_, offset, origin);
}

std::int64_t TFileHandler::GetSize() {
  if (!file_) return 0;
  file_->LockFileSection();
  std::int64_t saved = Seek(0, 1);
  std::int64_t size = Seek(0, 2);
  Seek(saved, 0);
  file_->UnlockFileSection();
  return size;
}

bool TFileHandler::LockRegion(std::int64_t start, std::int64_t length, bool lock) {
  if (!file_) return false;
  return lock ? file_->Lock(start, length) : file_->Unlock(start, length);
}

bool TFileHandler::UnlockPartOfRegion(std::int64_t start, std::int64_t length) {
  return file_ && file_->UnlockPart(start, length);
}

void TFileHandler::SetIsOpen(bool value) {
  if (value == is_open_) return;
  if (value) OpenFile();
  else CloseFile();
}

bool TFileHandler::Exists() { return FileList().FileExists(file_name_, in_memory_); }

void TFileHandler::LockFileHandler() {
  if (file_) file_->LockFileSection();
}

void TFileHandler::UnlockFileHandler() {
  if (file_) file_->UnlockFileSection();
}

}  // namespace korvex
