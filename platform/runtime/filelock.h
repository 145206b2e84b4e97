// Disk files with Windows-like share modes and byte-range locks.
//
// Each TLockedFile is one descriptor (O_CLOEXEC) and so one open file
// description. Byte-range locks are open-file-description locks
// (F_OFD_SETLK): they hold against every other descriptor, in this process
// or another, and go when the descriptor is closed or its process dies.
// On top of them each file keeps the list of ranges it holds, so that, as on
// Windows, a lock that overlaps a held range fails even through the same
// file, and an unlock must name exactly a held range. Locks never wait.
//
// Share modes are emulated with shared locks on two bytes above 4 GB,
// beyond every byte-range lock the engine takes:
//   kShareOpenByte       held by every open
//   kShareExclusiveByte  held by an exclusive open
// An open is refused (-EBUSY) when it is exclusive and another description
// holds either byte, or when it is shared and another holds the exclusive
// byte. Deleting or renaming takes the exclusive role for a moment, so a
// file in use cannot be deleted or renamed.
//
// A descriptor opened read-only can only take shared locks; its byte-range
// locks are shared ones (they still exclude every writer's lock).
//
// Results: 0 or a count on success, a negated errno on failure; -EBUSY is a
// share-mode refusal.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rtl {

inline constexpr std::int64_t kShareOpenByte = std::int64_t{1} << 32;
inline constexpr std::int64_t kShareExclusiveByte = kShareOpenByte + 1;

enum class FileAccess { Read, ReadWrite };

// Bytes handed to a gathering write.
struct TByteSpan {
  const void* Data;
  std::int64_t Size;
};

// What one look at an open file tells: its size, permission bits and group.
struct TFileStatus {
  std::int64_t Size = 0;
  unsigned Mode = 0;
  unsigned Group = 0;
};
enum class FileShare { Shared, Exclusive };

// Byte ranges one holder keeps, start -> length, never overlapping: the
// bookkeeping of disk files here and of the storage library's memory files.
using THeldRanges = std::map<std::int64_t, std::int64_t>;
// Whether [start, start + length) overlaps a held range.
bool OverlapsHeld(const THeldRanges& held, std::int64_t start, std::int64_t length);
// The held range that covers all of [start, start + length); end() if none.
THeldRanges::iterator CoveringHeld(THeldRanges& held, std::int64_t start, std::int64_t length);
// Takes [start, start + length) out of `covering`; what is left of it on
// either side stays held as ranges of their own.
void CutHeld(THeldRanges& held, THeldRanges::iterator covering, std::int64_t start, std::int64_t length);

class TLockedFile {
public:
  ~TLockedFile();
  TLockedFile(const TLockedFile&) = delete;
  TLockedFile& operator=(const TLockedFile&) = delete;

  // Opens an existing file (not a directory).
  static int Open(const std::string& path, FileAccess access, FileShare share,
                  std::unique_ptr<TLockedFile>& file);
  // Creates the file, or empties an existing one that no one else has open;
  // read-write, held exclusively. With must_not_exist an existing file
  // gives -EEXIST and is left alone. A new file gets the permission bits
  // mode (less the umask); 0600 keeps it private.
  static int Create(const std::string& path, bool must_not_exist, std::unique_ptr<TLockedFile>& file,
                    unsigned mode = 0666);

  // Positioned transfers; they never move a shared file position. Read
  // answers the bytes read (fewer at the end of the file); Write the bytes
  // written, fewer when the disk fills after some were written.
  std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t count);
  std::int64_t WriteAt(std::int64_t offset, const void* buffer, std::int64_t count);
  // Writes the spans one after another from `offset` in as few calls as
  // the system allows; answers the bytes written like WriteAt.
  std::int64_t WriteAt(std::int64_t offset, const std::vector<TByteSpan>& spans);
  int Truncate(std::int64_t size);
  int Sync();
  // The errno of this thread's last write, cut or sync that failed, 0 when
  // the last of them succeeded: the system's reason behind a short write.
  static int LastFailure();
  // Test hooks, as a full or failing disk: after `skip` more writes the
  // next `count` writes fail with `error`; the next `count` syncs fail with
  // `error`. Both before the system is asked.
  static void FailWrites(int skip, int count, int error);
  static void FailSyncs(int count, int error);
  // Starts writing the file's changed bytes in [offset, offset + count)
  // to disk without waiting for them; a later Sync waits only for what is
  // still under way. Answers 0 or -errno.
  int StartWriteback(std::int64_t offset, std::int64_t count);
  std::int64_t Size();
  int Status(TFileStatus& status);
  // Gives the file the permission bits `mode` and, where this process may,
  // the group `group` (a group it may not give is left as it is); answers
  // its status afterwards.
  int FollowOwnership(unsigned mode, unsigned group, TFileStatus& status);

  // False when the range overlaps one this file holds, another description
  // holds a conflicting lock, the length is below 1, or the range reaches the
  // share bytes.
  bool Lock(std::int64_t start, std::int64_t length);
  // False unless exactly this range is held.
  bool Unlock(std::int64_t start, std::int64_t length);
  // Unlocks a range that lies inside one held range; the held bytes on
  // either side of it stay locked, as ranges of their own. False unless one
  // held range covers all of it.
  bool UnlockPart(std::int64_t start, std::int64_t length);

  // Delete the file when it is closed (temporary files).
  void SetDeleteOnClose(bool value) { delete_on_close_ = value; }
  const std::string& Path() const { return path_; }
  bool Writable() const { return writable_; }
  int Descriptor() const { return fd_; }

private:
  TLockedFile(int fd, std::string path, bool writable) : fd_(fd), path_(std::move(path)), writable_(writable) {}

  int fd_;
  std::string path_;
  bool writable_;
  bool delete_on_close_ = false;
  std::mutex ranges_lock_;
  THeldRanges held_;
};

// Deletes a file that no description holds open; -EBUSY when one does.
int DeleteLockedFile(const std::string& path);

// Renames a file that no description holds open; never replaces an
// existing file (-EEXIST). Across file systems the file is copied (with its
// permissions, flushed) and the original deleted.
int RenameLockedFile(const std::string& old_path, const std::string& new_path);

// Gives `to` the permission bits of `from` and, where this process may,
// its group (a group it may not give is left as it is). 0 or -errno.
int CopyFileOwnership(const std::string& from, const std::string& to);

// The existing path whose last part equals the given one's ignoring case
// (the path itself when it exists); "" when there is none. Directories
// above the last part are taken as given.
std::string FindFileIgnoringCase(const std::string& path);

// Whether the file carries no write permission for anyone or may not be
// written by this process (the read-only attribute). 0 or -errno.
int IsFileReadOnly(const std::string& path, bool& read_only);

}  // namespace rtl
