// The operating system's files: descriptors, reads, status, byte-range and
// whole-file locks, unique and private names. Together with the other os_*
// units of this folder it is the one place that knows POSIX; every other
// folder calls these instead of the system.
//
// Conventions: a descriptor is an int (-1 for none), opened close-on-exec;
// calls interrupted by a signal (EINTR) are always retried here; failures
// answer a negated errno value (or false where only success matters).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rtl::os {

// Owns one descriptor and closes it when it goes.
class FileDescriptor {
public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held (if any) and takes fd.
  void Reset(int fd = -1);

private:
  int fd_ = -1;
};

// 0 or -errno.
int Close(int fd);

struct FileInfo {
  std::int64_t size = 0;
  std::int64_t mtime_sec = 0;  // last change, seconds since 1970 (UTC)
  std::int64_t mtime_ns = 0;   // the same in nanoseconds
  std::uint64_t inode = 0;
  std::uint64_t device = 0;
  bool regular = false;
  bool directory = false;
};

// Status of a path (links followed) or of a descriptor; false when it fails.
bool Stat(const std::string& path, FileInfo& info);
bool StatDescriptor(int fd, FileInfo& info);
// Whether the process may write the path (access W_OK).
bool Writable(const std::string& path);

// Opens a regular file for reading without ever blocking on a pipe: the
// descriptor, or -errno (-EISDIR for a folder, -EINVAL for pipes, devices
// and sockets). `info` describes the file opened.
int OpenRegularForRead(const std::string& path, FileInfo& info);
// Opens (creating it, 0600) a file that must not be a symbolic link, for
// reading and writing: the descriptor or -errno.
int OpenPrivateFile(const std::string& path);

// One read of up to n bytes: the count (0 at the end) or -errno.
std::int64_t ReadSome(int fd, void* buffer, std::size_t n);
// Reads until n bytes or the end: the count, or -errno.
std::int64_t ReadFully(int fd, void* buffer, std::size_t n);
// The first `size` bytes (at least 1) of an open plain file, mapped
// read-only (their pages come in as they are first read); nullptr when
// they cannot be (read them instead): mapping fails, kMaxFileMaps maps are
// held, or reads are set to fail (FailReads). The bytes are the file's own pages, shared with the
// system's cache: no copy is made, so a program that rewrites the file in
// place changes what is seen. Pages the file loses (another program cuts it
// short) read as zeros from then on instead of stopping the process, and
// FileMapLostPages tells. Give it back with UnmapFile.
constexpr int kMaxFileMaps = 4096;
const char* MapFile(int fd, std::size_t size);
void UnmapFile(const char* map, std::size_t size);
// Whether pages of map vanished from its file while it was mapped.
bool FileMapLostPages(const char* map);

// One write of up to n bytes: the count written or -errno.
std::int64_t WriteSome(int fd, const void* buffer, std::size_t n);

// What WaitReady waits for and answers.
enum : int { kReady = 1, kRoom = 2, kHangUp = 4, kFailed = 8 };
// Waits up to timeout_ms (-1: for ever) for data (kReady) and/or room to
// write (kRoom) on fd; what was seen (kHangUp and kFailed are always
// reported), 0 on time-out or error.
int WaitReady(int fd, int events, long long timeout_ms);

// Back to the first byte; false when the descriptor cannot seek.
bool Rewind(int fd);

// Byte-range locks on open file descriptions (F_OFD_SETLK): they hold
// against every other descriptor, in this process or another, go with the
// description, and never wait. 0 or -errno (-EAGAIN/-EACCES: held by
// another; -EBADF: an exclusive lock through a read-only descriptor).
enum class RangeLock { Shared, Exclusive, Unlock };
int SetRangeLock(int fd, RangeLock kind, std::int64_t start, std::int64_t length);
// Whether another description holds any lock within the range (true when
// the system cannot tell).
bool RangeLockedElsewhere(int fd, std::int64_t start, std::int64_t length);

// An exclusive lock on the whole file (flock), not waiting; 0 or -errno.
int LockWholeFile(int fd);

// Creates a new file from `pattern`, whose last `suffix_length` characters
// follow six 'X's that are replaced to make the name unique (mkostemps); the
// pattern holds the name made. 0 or -errno; the file is closed again.
int CreateUniqueFile(std::string& pattern, int suffix_length);

// Makes sure `dir` is a folder of this user that no one else may enter
// (created 0700 when missing); false when it is anything else.
bool EnsurePrivateDir(const std::string& dir);

// Test hook: the next `count` byte-range lock calls fail with EINTR before
// they reach the system, as when a signal arrives.
void InterruptNextRangeLocks(int count);

// Test hook: after `skip` more successful reads, the next `count` reads
// (ReadSome, ReadFully) fail with `error`, as a failing disk would.
void FailReads(int skip, int count, int error);

// The owner and permission bits of a path (links followed); false when it
// cannot be read.
struct FileOwner {
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  std::uint32_t mode = 0;   // permission bits (07777)
  std::uint64_t links = 1;  // hard links
  bool regular = false;
  bool directory = false;
};
bool StatOwner(const std::string& path, FileOwner& owner);
// Gives fd the owner and permission bits; 0 or -errno.
int SetOwner(int fd, const FileOwner& owner);
// Writes a folder's entries to the device (after a rename); 0 or -errno.
int SyncFolder(const std::string& dir);
// The system's reason why dir cannot be listed ("" when it can).
std::string FolderProblem(const std::string& dir);
// The system's text for an errno value.
std::string ErrorText(int error);

}  // namespace rtl::os
