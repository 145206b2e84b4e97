#include "tables/lib/file_list.h"

#include "platform/runtime/files.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/errors/errors.h"
#include "tables/lib/names.h"

namespace korvex {
namespace {

bool SameFileName(const std::string& a, const std::string& b) {
  return rtl::AnsiSameText(TrimFileName(a), TrimFileName(b));
}

// One copy buffer from the counted allocator, released on every path.
class CopyBuffer {
public:
  CopyBuffer() : bytes_(static_cast<char*>(SafeAlloc(kCopyBlockSize))) {}
  ~CopyBuffer() { SafeFree(bytes_); }
  CopyBuffer(const CopyBuffer&) = delete;
  CopyBuffer& operator=(const CopyBuffer&) = delete;
  char* data() { return bytes_; }

private:
  char* bytes_;
};

}  // namespace

TFileList::~TFileList() {
  for (std::int32_t i = files_.Count() - 1; i >= 0; --i) delete static_cast<TAbstractFile*>(files_.Get(i));
  files_.Clear();
}

std::int32_t TFileList::EntryCount() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return files_.Count();
}

TAbstractFile* TFileList::Find(const std::string& name, bool in_memory) {
  for (std::int32_t i = 0; i < files_.Count(); ++i) {
    auto* file = static_cast<TAbstractFile*>(files_.Get(i));
    if (file->IsMemoryFile() == in_memory && SameFileName(file->Name(), name)) return file;
  }
  return nullptr;
}

bool TFileList::IsEntry(TAbstractFile* file, bool in_memory) {
  return file && files_.IndexOf(file) >= 0 && file->IsMemoryFile() == in_memory;
}

TAbstractFile* TFileList::AddEntry(const std::string& name, bool in_memory) {
  TAbstractFile* file = in_memory ? static_cast<TAbstractFile*>(new TMemoryFile(name))
                                  : static_cast<TAbstractFile*>(new TPhysicalFile(name));
  files_.Add(file);
  return file;
}

void TFileList::DropEntry(TAbstractFile* file) {
  files_.Remove(file);
  delete file;
  if (files_.Count() == 0) files_.Clear();  // an empty registry holds no memory
}

void TFileList::DropIfIdle(TAbstractFile* file) {
  if (file && !file->IsMemoryFile() && file->OpenCount() == 0) DropEntry(file);
}

bool TFileList::FileExists(const std::string& name, bool in_memory) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (name.size() > kMaxFileNameLength) return false;
  TAbstractFile* file = Find(name, in_memory);
  if (in_memory) return file != nullptr;
  if (file && file->OpenCount() > 0) return true;
  std::string path = TrimFileName(name);
  return !path.empty() && rtl::FileExists(ResolveDiskPath(path, false));
}

std::int32_t TFileList::CreateFile(const std::string& name, bool in_memory, TAbstractFile*& file, bool temporary) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  file = nullptr;
  if (name.size() > kMaxFileNameLength || TrimFileName(StripFilePathAndExtension(name)).empty())
    return -err::kInvalidFileName;
  TAbstractFile* entry = Find(name, in_memory);
  if (entry && entry->OpenCount() > 0) return -err::kAccessDenied;
  if (!entry) entry = AddEntry(name, in_memory);
  entry->SetExclusive(true);
  entry->SetTemporary(temporary);
  std::int32_t result = entry->CreateNew();
  if (result < 0) {
    DropIfIdle(entry);
    return result;
  }
  file = entry;
  return result;
}

std::int32_t TFileList::OpenFile(const std::string& name, bool in_memory, TAbstractFile*& file, bool& read_only,
                                 bool exclusive, bool temporary) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  file = nullptr;
  if (name.size() > kMaxFileNameLength) return -err::kInvalidFileName;
  TAbstractFile* entry = Find(name, in_memory);
  if (entry && entry->OpenCount() == 0) {
    entry->SetExclusive(exclusive);
    entry->SetTemporary(temporary);
  } else if (entry) {
    if (entry->Exclusive() || exclusive) return -err::kAccessDenied;
  } else if (in_memory) {
    return -err::kInvalidFileName;
  } else {
    entry = AddEntry(name, false);
    entry->SetExclusive(exclusive);
    entry->SetTemporary(temporary);
  }
  std::int32_t result = entry->Open();
  if (result < 0) {
    DropIfIdle(entry);
    return result;
  }
  read_only = entry->ReadOnlyByAttribute();
  file = entry;
  return result;
}

std::int32_t TFileList::CloseFile(TAbstractFile* file, bool in_memory, std::int32_t handle) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!IsEntry(file, in_memory) || file->OpenCount() <= 0) return -err::kInvalidFileName;
  file->Close(handle);
  if (file->OpenCount() == 0) {
    if (!in_memory) {
      DropEntry(file);
    } else if (file->Temporary()) {
      file->Delete();
      DropEntry(file);
    }
  }
  return 0;
}

std::int32_t TFileList::RenameFile(const std::string& name, bool in_memory, const std::string& new_name) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (name.size() > kMaxFileNameLength || new_name.size() > kMaxFileNameLength ||
      TrimFileName(StripFilePathAndExtension(new_name)).empty())
    return -err::kInvalidFileName;
  TAbstractFile* entry = Find(name, in_memory);
  if (entry && entry->OpenCount() > 0) return -err::kAccessDenied;
  if (in_memory) {
    if (!entry) return -err::kInvalidFileName;
    TAbstractFile* other = Find(new_name, true);
    if (other && other != entry) return -err::kUnknownOsError;  // never two files of one name
    return entry->Rename(new_name);
  }
  if (entry) return entry->Rename(new_name);
  TPhysicalFile transient(name);
  return transient.Rename(new_name);
}

std::int32_t TFileList::DeleteFile(const std::string& name, bool in_memory) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (name.size() > kMaxFileNameLength) return -err::kInvalidFileName;
  TAbstractFile* entry = Find(name, in_memory);
  if (entry && entry->OpenCount() > 0) return -err::kAccessDenied;
  if (entry) {
    std::int32_t result = entry->Delete();
    if (result < 0) return result;
    DropEntry(entry);
    return 0;
  }
  if (in_memory) return -err::kInvalidFileName;
  TPhysicalFile transient(name);
  return transient.Delete();
}

std::int32_t TFileList::CopyBlocks(TAbstractFile* from, std::int32_t from_handle, TAbstractFile* to,
                                   std::int32_t to_handle) {
  CopyBuffer buffer;
  if (from->Seek(from_handle, 0, 0) != 0 || to->Seek(to_handle, 0, 0) != 0) return -err::kInvalidFileHandle;
  for (;;) {
    std::int64_t n = from->Read(from_handle, buffer.data(), kCopyBlockSize);
    if (n < 0) return -err::kReadError;
    if (n > 0 && to->Write(to_handle, buffer.data(), n) != n) return -err::kWriteError;
    if (n < kCopyBlockSize) return 0;
  }
}

std::int32_t TFileList::CopyFile(TAbstractFile* file, std::int32_t handle, bool in_memory,
                                 const std::string& destination) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  TAbstractFile* dest = nullptr;
  std::int32_t dest_handle = CreateFile(destination, in_memory, dest, false);
  if (dest_handle < 0) return dest_handle;
  std::int32_t result = CopyBlocks(file, handle, dest, dest_handle);
  CloseFile(dest, in_memory, dest_handle);
  if (result < 0) DeleteFile(destination, in_memory);
  return result;
}

std::int32_t TFileList::CopyFromFile(TAbstractFile* file, std::int32_t handle, bool in_memory,
                                     const std::string& source) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  TAbstractFile* src = nullptr;
  bool read_only = false;
  std::int32_t src_handle = OpenFile(source, in_memory, src, read_only, true, false);
  if (src_handle < 0) return src_handle;
  std::int32_t result = CopyBlocks(src, src_handle, file, handle);
  // Cut what the old contents had beyond the copy.
  if (result == 0 && file->Write(handle, nullptr, 0) != 0) result = -err::kWriteError;
  CloseFile(src, in_memory, src_handle);
  return result;
}

void TFileList::GetFileNames(bool in_memory, const std::string& mask, std::vector<std::string>& list) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  list.clear();
  if (in_memory) {
    for (std::int32_t i = 0; i < files_.Count(); ++i) {
      auto* file = static_cast<TAbstractFile*>(files_.Get(i));
      if (file->IsMemoryFile() && MatchFile(file->Name(), mask)) list.push_back(file->Name());
    }
    return;
  }
  std::string dir = rtl::ExtractFilePath(mask);
  for (const rtl::TSearchRec& entry : rtl::FindFiles(dir.empty() ? "." : dir, rtl::ExtractFileName(mask)))
    if ((entry.Attr & (rtl::faDirectory | rtl::faHidden | rtl::faSysFile)) == 0) list.push_back(entry.Name);
}

}  // namespace korvex
