// The file objects of the open-file registry: one TAbstractFile per open
// file, shared by every TFileHandler of the same name, each handler holding
// its own virtual handle number and position on it.
//
// TMemoryFile keeps its bytes in one buffer (the engine's in-memory
// tables); TPhysicalFile is a disk file (rtl::TLockedFile). Operations
// answer a handle number, a count or 0 on success and a negated engine error
// number on failure; none raises. Every operation holds the file's own
// (re-entrant) lock.
//
// Positions and seeks: origin 0 from the start, 1 from the handle's
// position, 2 from the end (size + offset). A read at a position below 0
// or beyond the end reads nothing; a write of 0 bytes sets the end of the
// file at the position. Bytes between the end of a file and a later write
// read as zero.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/runtime/filelock.h"
#include "tables/lib/system_list.h"

namespace rtl {
class TLockedFile;
struct TByteSpan;
}

namespace korvex {

class TAbstractFile : public TCountedObject {
public:
  explicit TAbstractFile(std::string name);
  ~TAbstractFile() override;
  TAbstractFile(const TAbstractFile&) = delete;
  TAbstractFile& operator=(const TAbstractFile&) = delete;

  // Index of the handle's record; -1 when unknown or nothing is open.
  virtual std::int32_t GetHandlePos(std::int32_t handle);
  // Creates (or empties) the file and adds a handle.
  virtual std::int32_t CreateNew();
  virtual std::int32_t Open();
  // Removes the handle; an unknown number changes nothing.
  virtual void Close(std::int32_t handle);
  virtual std::int32_t Rename(const std::string& new_name);
  virtual std::int32_t Delete();
  virtual std::int64_t Read(std::int32_t handle, void* buffer, std::int64_t count);
  virtual std::int64_t Write(std::int32_t handle, const void* buffer, std::int64_t count);
  virtual bool Flush(std::int32_t handle);
  // Writes the spans one after another from `position` (the handle's
  // position is left at their end); answers the bytes written.
  std::int64_t WriteSpans(std::int32_t handle, std::int64_t position, const std::vector<rtl::TByteSpan>& spans);
  // The new position; -1 for an unknown handle.
  virtual std::int64_t Seek(std::int32_t handle, std::int64_t offset, std::uint16_t origin);
  // Byte-range locks of the file (not of a handle); never wait.
  virtual bool Lock(std::int64_t start, std::int64_t length);
  virtual bool Unlock(std::int64_t start, std::int64_t length);
  // Unlocks a range inside one held range; the held bytes on either side
  // stay locked as ranges of their own.
  virtual bool UnlockPart(std::int64_t start, std::int64_t length);

  void LockFileSection() { lock_.lock(); }
  void UnlockFileSection() { lock_.unlock(); }

  virtual bool IsMemoryFile() const = 0;
  const std::string& Name() const { return name_; }
  std::int32_t OpenCount() const { return open_count_; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value) { exclusive_ = value; }
  bool ReadOnly() const { return read_only_; }
  bool ReadOnlyByAttribute() const { return read_only_by_attribute_; }
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool value) { temporary_ = value; }

protected:
  // The bytes of the file, for the shared Read/Write/Seek.
  virtual std::int64_t ReadAt(std::int64_t position, void* buffer, std::int64_t count) = 0;
  virtual std::int64_t WriteAt(std::int64_t position, const void* buffer, std::int64_t count) = 0;
  // The spans one after another: by default one WriteAt each.
  virtual std::int64_t WriteSpansAt(std::int64_t position, const std::vector<rtl::TByteSpan>& spans);
  virtual std::int32_t SetEnd(std::int64_t position) = 0;
  virtual std::int64_t CurrentSize() = 0;

  std::int32_t AddHandle();
  void SetName(std::string name) { name_ = std::move(name); }
  void SetReadOnly(bool value) { read_only_ = value; }
  void SetReadOnlyByAttribute(bool value) { read_only_by_attribute_ = value; }

  std::recursive_mutex lock_;

private:
  struct HandleRecord;
  HandleRecord* FindHandle(std::int32_t handle);
  void FreeLocks();

  bool exclusive_ = false;
  bool read_only_ = false;
  bool read_only_by_attribute_ = false;
  bool temporary_ = false;
  std::string name_;
  rtl::THeldRanges locks_;  // memory files
  std::int32_t open_count_ = 0;
  TSystemList handles_;  // handle records
};

// An in-memory file: the buffer grows in steps of 65,535 bytes and never
// shrinks while the file lives; its size is at most 2^31 - 1 bytes.
class TMemoryFile : public TAbstractFile {
public:
  explicit TMemoryFile(std::string name) : TAbstractFile(std::move(name)) {}
  ~TMemoryFile() override;

  std::int32_t CreateNew() override;
  bool IsMemoryFile() const override { return true; }
  std::int64_t Size();
  const std::uint8_t* Buffer() const { return buffer_; }

protected:
  std::int64_t ReadAt(std::int64_t position, void* buffer, std::int64_t count) override;
  std::int64_t WriteAt(std::int64_t position, const void* buffer, std::int64_t count) override;
  std::int32_t SetEnd(std::int64_t position) override;
  std::int64_t CurrentSize() override { return size_; }

private:
  std::uint8_t* buffer_ = nullptr;
  std::int32_t capacity_ = 0;
  std::int64_t size_ = 0;  // bytes beyond it in the buffer are always zero
};

// A disk file. Its name is found on disk without regard to case; a file
// created with one of the table extensions (".dat", ".idx", ".blb" and the
// backup ones) gets that extension in upper case, unless a file of the name
// exists in another case already, which is then reused.
class TPhysicalFile : public TAbstractFile {
public:
  explicit TPhysicalFile(std::string name);
  ~TPhysicalFile() override;

  std::int32_t CreateNew() override;
  std::int32_t Open() override;
  void Close(std::int32_t handle) override;
  std::int32_t Rename(const std::string& new_name) override;
  std::int32_t Delete() override;
  bool Flush(std::int32_t handle) override;
  bool Lock(std::int64_t start, std::int64_t length) override;
  bool Unlock(std::int64_t start, std::int64_t length) override;
  bool UnlockPart(std::int64_t start, std::int64_t length) override;
  bool IsMemoryFile() const override { return false; }

  // The open disk file (nullptr while closed) and the path it was found at.
  rtl::TLockedFile* DiskFile() const { return disk_.get(); }
  const std::string& DiskPath() const { return disk_path_; }
  // Whether the next Flush has bytes to sync (see unsynced_).
  bool Unsynced() const { return unsynced_; }
  // Flush without taking the file's lock, for a sync on another thread
  // while writes go on: a write that ends after it began marks the file
  // again, so the next Flush syncs only what came after.
  bool SyncWithoutLock();
  // WriteSpansAt without the file's lock (another thread may hold it and
  // wait for this write): for the journal's thread, on bytes no one else
  // touches meanwhile. No handle's position moves.
  std::int64_t WriteSpansWithoutLock(std::int64_t position, const std::vector<rtl::TByteSpan>& spans) {
    return WriteSpansAt(position, spans);
  }

protected:
  std::int64_t ReadAt(std::int64_t position, void* buffer, std::int64_t count) override;
  std::int64_t WriteAt(std::int64_t position, const void* buffer, std::int64_t count) override;
  std::int64_t WriteSpansAt(std::int64_t position, const std::vector<rtl::TByteSpan>& spans) override;
  std::int32_t SetEnd(std::int64_t position) override;
  std::int64_t CurrentSize() override;

private:
  std::unique_ptr<rtl::TLockedFile> disk_;
  std::string disk_path_;
  // Whether the file may hold bytes this object wrote or cut since its last
  // successful sync (every write and cut sets it once done; a new
  // descriptor starts with it set): a sync with nothing written since is
  // skipped. Atomic: sessions on other threads may write while one syncs.
  std::atomic<bool> unsynced_{true};
};

// The negated engine error number of a negated errno.
std::int32_t EngineErrorOfErrno(int negated_errno);

// The system's text for why this thread's last write, cut or sync of a
// disk file failed ("No space left on device"); "" when it did not.
std::string SystemReason();

// The file name as the registry compares it: trimmed of characters up to
// and including the blank at both ends.
std::string TrimFileName(const std::string& name);

// Where a disk file of this name is (its last part found ignoring case), or
// for a new file where it goes.
std::string ResolveDiskPath(const std::string& name, bool for_create);

}  // namespace korvex
