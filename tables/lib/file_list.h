// TFileList: the process-wide registry of open files. It shares one file
// object among all handlers of the same name (one descriptor per disk file
// in this process) and keeps the in-memory files, which live here from
// their creation to their deletion.
//
// An entry matches a name when it is of the requested kind and the names,
// trimmed at both ends, are equal ignoring case. Results: a handle number
// (1 or more) or 0 on success, a negated engine error number on failure;
// nothing here raises. Names longer than 255 characters are refused
// (-11010), never cut. A disk entry lives only while a handle is open: one
// that fails to open or create is dropped again, so the disk answers for it.
// Lock order: the registry, then a file.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tables/lib/abstract_file.h"

namespace korvex {

inline constexpr std::size_t kMaxFileNameLength = 255;
inline constexpr std::int32_t kCopyBlockSize = 65535;

class TFileList : public TCountedObject {
public:
  TFileList() = default;
  ~TFileList() override;

  // Memory files: whether one is registered. Disk files: an open entry, or
  // else the disk (name found ignoring case).
  bool FileExists(const std::string& name, bool in_memory);
  // Creates (or empties) the file, held exclusively; -11013 when open.
  std::int32_t CreateFile(const std::string& name, bool in_memory, TAbstractFile*& file, bool temporary);
  // Opens it again (one more handle) when neither the entry nor the request
  // is exclusive; else -11013. An unknown memory file is -11010.
  std::int32_t OpenFile(const std::string& name, bool in_memory, TAbstractFile*& file, bool& read_only,
                        bool exclusive, bool temporary);
  // -11010 when the object is not an open entry of that kind. At the last
  // close a disk entry goes, a temporary memory file is deleted, any other
  // memory file stays with its contents.
  std::int32_t CloseFile(TAbstractFile* file, bool in_memory, std::int32_t handle);
  // Refused (-11013) while open here or (disk files) in another process.
  std::int32_t RenameFile(const std::string& name, bool in_memory, const std::string& new_name);
  std::int32_t DeleteFile(const std::string& name, bool in_memory);
  // Copies the whole file behind `handle` into a new destination of the
  // same kind; a destination that cannot be written completely is removed.
  std::int32_t CopyFile(TAbstractFile* file, std::int32_t handle, bool in_memory, const std::string& destination);
  // Replaces the contents of the file behind `handle` by those of the named
  // source (opened exclusively).
  std::int32_t CopyFromFile(TAbstractFile* file, std::int32_t handle, bool in_memory, const std::string& source);
  // Memory files: the registered names that MatchFile accepts. Disk files:
  // the names (without directory) of the plain files matching the mask.
  void GetFileNames(bool in_memory, const std::string& mask, std::vector<std::string>& list);

  void LockFileList() { lock_.lock(); }
  void UnlockFileList() { lock_.unlock(); }

  // Number of entries (for tests and diagnostics).
  std::int32_t EntryCount();

private:
  TAbstractFile* Find(const std::string& name, bool in_memory);
  bool IsEntry(TAbstractFile* file, bool in_memory);
  TAbstractFile* AddEntry(const std::string& name, bool in_memory);
  void DropEntry(TAbstractFile* file);
  void DropIfIdle(TAbstractFile* file);
  std::int32_t CopyBlocks(TAbstractFile* from, std::int32_t from_handle, TAbstractFile* to, std::int32_t to_handle);

  std::recursive_mutex lock_;
  TSystemList files_;
};

}  // namespace korvex
