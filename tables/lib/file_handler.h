// TFileHandler: one named handle on a disk or in-memory file, through the
// process-wide open-file registry (TFileList). The engine's data, index and
// BLOB files derive from it.
//
// Failures raise engine errors through RaiseError with the handler's file
// name as the table context: the registry's error when opening, creating,
// renaming, deleting or copying fails; 9217 for a failed or short read
// (unless a short read is allowed); 9218 for a failed or short write or
// flush, a disk file's with the system's reason (SystemReason) as its
// message. Each handler has its own position on the shared file; callers
// that seek and then transfer hold LockFileHandler round the pair.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/runtime/filelock.h"

#include "tables/lib/abstract_file.h"

namespace korvex {

class TFileHandler;

// Where a test hook may inject a failure: a handler's read, write or flush,
// or a table file handing out a record, page or block.
enum class TFaultSite { Read, Write, Flush, Allocate };

// Told before a handler writes or asks for a flush to disk (the owning
// table's rollback journal). An observer may also hold writes back: it
// takes their bytes and writes them itself later, before anything reads
// the file or asks for its size. What it reads and writes meanwhile goes
// through the same handler; the handler puts its position back after each
// call, so a read or write always transfers where its caller seeked.
class TFileObserver {
public:
  virtual ~TFileObserver() = default;
  // `count` bytes (0: the end of the file is set) at `position`.
  virtual void BeforeWrite(TFileHandler& file, std::int64_t position, std::int64_t count) = 0;
  virtual void BeforeFlush(TFileHandler& file) = 0;
  // Offered every write of at least one byte first: true when the observer
  // took the bytes (BeforeWrite is then not called).
  virtual bool HoldWrite(TFileHandler&, std::int64_t /*position*/, const void* /*bytes*/, std::int64_t /*count*/) {
    return false;
  }
  // Room for a write the caller is about to encode in place: `count`
  // bytes at `position`, held like a HoldWrite's, valid until the next
  // call on the observer; nullptr when the observer does not hold it.
  virtual std::uint8_t* HoldSpace(TFileHandler&, std::int64_t /*position*/, std::int64_t /*count*/) {
    return nullptr;
  }
  // Offered every flush to disk first: true when the observer does it later.
  virtual bool HoldFlush(TFileHandler&) { return false; }
  // Before a read, a seek from the end or a size: held writes go out.
  virtual void BeforeRead(TFileHandler&) {}
};

class TFileHandler : public TCountedObject {
public:
  explicit TFileHandler(void* owner = nullptr);
  // Closes an open handler. A class that overrides CloseFile closes in its
  // own destructor: the base destructor calls only TFileHandler::CloseFile.
  ~TFileHandler() override;
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  virtual void OpenFile();
  virtual void CloseFile();
  virtual void CreateFile();
  virtual void DeleteFile();
  virtual void RenameFile(const std::string& new_name);
  virtual void CopyFile(const std::string& destination);
  // Bytes read at the handler's position.
  virtual std::int64_t Read(void* buffer, std::int64_t count, bool allow_short = false);
  // A count of 0 sets the end of the file at the handler's position.
  virtual void Write(const void* buffer, std::int64_t count);
  // Where to put the `count` bytes of a write at `position` when the
  // observer holds it (they must be there before anything else is asked
  // of the handler); nullptr: write them with Write. The handler's position
  // is left alone.
  std::uint8_t* WriteInPlace(std::int64_t position, std::int64_t count);
  // Writes the spans one after another from `position` in one call (a
  // short write raises 9218); not offered to the observer: its own writes.
  void WriteSpans(std::int64_t position, const std::vector<rtl::TByteSpan>& spans);
  // Whether the file is a disk file (DeferredSpans and EarlySync serve).
  bool OnDisk() const;
  // Whether a disk file has bytes written since its last sync.
  bool HasUnsyncedWrites() const;
  // The same write made by the call returned, which may run on another
  // thread while this handler goes on being used (on other bytes; the
  // call takes no lock of the handler's, so a thread holding one may wait
  // for it): it is counted and offered to the fault hook here, and the
  // call raises as WriteSpans does. The spans' bytes must stay until it
  // has run. Only for a disk file.
  std::function<void()> DeferredSpans(std::int64_t position, std::vector<rtl::TByteSpan> spans);
  // Asks the system to write the file to disk (fsync).
  virtual void Flush();
  // Sets the bytes written so far on their way to disk ahead of a Flush
  // (which is still needed): the call returned syncs them, raising as
  // Flush does, and may run on another thread while this handler goes on
  // being used. Neither the observer nor the fault hook hears of it. A
  // Flush after it syncs again only when something was written since it
  // began. Empty where there is no disk file.
  std::function<void()> EarlySync();

  void CopyFromFile(const std::string& source);
  // The new position (0 without a file).
  std::int64_t Seek(std::int64_t offset, std::uint16_t origin);
  std::int64_t GetPos() { return Seek(0, 1); }
  // The size; the position is left where it was.
  std::int64_t GetSize();
  // Locks or unlocks a byte range at once (no waiting); false without a file.
  bool LockRegion(std::int64_t start, std::int64_t length, bool lock);
  // Unlocks part of one locked range, the rest of it staying locked.
  bool UnlockPartOfRegion(std::int64_t start, std::int64_t length);
  void SetIsOpen(bool value);
  bool Exists();
  void LockFileHandler();
  void UnlockFileHandler();

  // Test hook run at every fault site of every handler (nullptr: none); it
  // raises to inject a failure there.
  static void SetFaultHook(std::function<void(TFaultSite)> hook);
  static void Fault(TFaultSite site);

  // Watches this handler's writes; nullptr for none.
  void SetObserver(TFileObserver* observer) { observer_ = observer; }
  // Calls of Write, WriteInPlace and WriteSpans made so far: two equal
  // counts mean nothing was written to the file in between.
  std::uint64_t WriteCalls() const { return write_calls_; }
  bool InMemory() const { return in_memory_; }
  void SetInMemory(bool value) { in_memory_ = value; }
  const std::string& FileName() const { return file_name_; }
  void SetFileName(std::string name) { file_name_ = std::move(name); }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value) { exclusive_ = value; }
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool value) { temporary_ = value; }
  // Set by OpenFile when the file had to be opened read-only.
  bool ReadOnly() const { return read_only_; }
  bool IsOpen() const { return is_open_; }
  std::int32_t Handle() const { return handle_; }
  TAbstractFile* File() const { return file_; }

private:
  // Runs an observer call with the handler's position saved and restored.
  void ObserverKeepsPosition(const std::function<void()>& call);
  [[noreturn]] void Fail(std::int64_t negated_code);
  // 9218 for this file, with the system's reason when there is one.
  [[noreturn]] void FailWrite();
  // Takes the registry's answer to an open or create: the handle, or raises.
  void Attach(std::int32_t result);

  std::uint64_t write_calls_ = 0;
  bool in_memory_ = false;
  TAbstractFile* file_ = nullptr;
  std::string file_name_;
  std::int32_t handle_ = 0;
  bool exclusive_ = false;
  bool read_only_ = false;
  bool is_open_ = false;
  bool temporary_ = false;
  TFileObserver* observer_ = nullptr;
};

}  // namespace korvex
