// TJournal: the rollback journal of a disk table, "<name>.JNL" beside its
// files. While a flush writes the table, every byte it is about to
// overwrite inside a file's old length is first copied to the journal;
// deleting the journal ends the flush (the commit point). A journal found
// later belongs to a writer that died inside a flush: playing it back puts
// the before-images back and cuts each file to its old length, so the
// files are as they were before that flush, never between.
//
// Layout (little-endian):
//   header  "QVJNL1\0\0", u32 old length of file 0, 1, 2, u32 checksum
//   entry   u8 file, u32 position, u32 length, the old bytes, u32 checksum
// Checksums are CRC-32 over the bytes before them in their record. The
// header is written before the flush's first write (also one that only
// extends a file); entries are appended, synced to disk when the flush goes
// to disk, and always written before the bytes they protect; playback applies them last first
// and stops at the first torn one (its file write never happened).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/filelock.h"
#include "tables/lib/file_handler.h"

namespace korvex {

class TJournal : public TFileObserver {
public:
  TJournal() = default;
  ~TJournal() override;

  // Starts watching the files (nullptr for a file the table lacks); `sync`
  // syncs each entry before the write it protects.
  void Begin(const std::string& path, std::vector<TFileHandler*> files, bool sync);
  // The flush is over: the journal goes.
  void Commit();
  // Stops watching and closes the journal, leaving it on disk (to be played
  // back).
  void Abandon();
  // The flush failed: plays the journal back at once (the files as they
  // were before it). Should that fail, the journal stays for the next
  // holder of the write lock.
  void Undo();
  bool Active() const { return !files_.empty(); }

  // Plays back a journal left at `path` into the files; false when there
  // was none.
  static bool Recover(const std::string& path, const std::vector<TFileHandler*>& files);
  static bool Exists(const std::string& path);

  // Test hook, run before every write and sync of a flush (journal
  // included).
  static void SetStepHook(std::function<void()> hook);

  void BeforeWrite(TFileHandler& file, std::int64_t position, std::int64_t count) override;
  void BeforeFlush(TFileHandler& file) override;

private:
  void WriteHeader();
  void Sync();
  void Append(const std::vector<std::uint8_t>& record);
  void Stop();

  std::string path_;
  std::vector<TFileHandler*> files_;
  std::vector<std::int64_t> old_lengths_;
  bool sync_ = false;
  std::unique_ptr<rtl::TLockedFile> file_;
  std::int64_t end_ = 0;
};

}  // namespace korvex
