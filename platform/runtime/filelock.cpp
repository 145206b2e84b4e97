#include "platform/runtime/filelock.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <iterator>

#include "platform/runtime/cp1252.h"
#include "platform/runtime/os_files.h"

namespace rtl {
namespace {

int SetLock(int fd, short type, std::int64_t start, std::int64_t length) {
  return os::SetRangeLock(fd, type == F_RDLCK ? os::RangeLock::Shared : type == F_WRLCK ? os::RangeLock::Exclusive
                                                                                         : os::RangeLock::Unlock,
                          start, length);
}

// Whether another open file description holds any lock within the range.
bool HeldElsewhere(int fd, std::int64_t start, std::int64_t length) {
  return os::RangeLockedElsewhere(fd, start, length);
}

void ReleaseShare(int fd) { SetLock(fd, F_UNLCK, kShareOpenByte, 2); }

// Takes the share-mode bytes; -EBUSY when the mode conflicts with another
// description's. Exclusive: mark first, then look for anyone else; shared:
// the same in the other order, so that of two racing opens at least one
// sees the other.
int AcquireShare(int fd, FileShare share) {
  int rc;
  if (share == FileShare::Exclusive) {
    if ((rc = SetLock(fd, F_RDLCK, kShareExclusiveByte, 1)) < 0 ||
        (rc = SetLock(fd, F_RDLCK, kShareOpenByte, 1)) < 0) {
      ReleaseShare(fd);
      return rc == -EAGAIN || rc == -EACCES ? -EBUSY : rc;
    }
    if (HeldElsewhere(fd, kShareOpenByte, 2)) {
      ReleaseShare(fd);
      return -EBUSY;
    }
    return 0;
  }
  if ((rc = SetLock(fd, F_RDLCK, kShareOpenByte, 1)) < 0) return rc == -EAGAIN || rc == -EACCES ? -EBUSY : rc;
  if (HeldElsewhere(fd, kShareExclusiveByte, 1)) {
    ReleaseShare(fd);
    return -EBUSY;
  }
  return 0;
}

int OpenDescriptor(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? -errno : fd;
}

int CloseDescriptor(int fd) { return ::close(fd) < 0 ? -errno : 0; }

int RejectDirectory(int fd) {
  struct stat st {};
  if (fstat(fd, &st) < 0) return -errno;
  return S_ISDIR(st.st_mode) ? -EISDIR : 0;
}

// Holds a file exclusively for a moment (delete, rename); the descriptor
// in `fd`, or an error.
int HoldExclusively(const std::string& path, int& fd) {
  fd = OpenDescriptor(path, O_RDONLY | O_NOFOLLOW);
  if (fd == -ELOOP) fd = OpenDescriptor(path, O_RDONLY);
  if (fd < 0) return fd;
  int rc = RejectDirectory(fd);
  if (rc == 0) rc = AcquireShare(fd, FileShare::Exclusive);
  if (rc < 0) {
    CloseDescriptor(fd);
    fd = -1;
  }
  return rc;
}

int CopyContents(int from, int to) {
  char buffer[65536];
  std::int64_t offset = 0;
  for (;;) {
    ssize_t n = pread(from, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -errno;
    if (n == 0) return 0;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = pwrite(to, buffer + done, n - done, offset + done);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return -errno;
      done += w;
    }
    offset += n;
  }
}

int CopyAcrossFileSystems(int from_fd, const std::string& new_path) {
  struct stat st {};
  if (fstat(from_fd, &st) < 0) return -errno;
  int to = OpenDescriptor(new_path, O_WRONLY | O_CREAT | O_EXCL, st.st_mode & 07777);
  if (to < 0) return to;
  // The umask narrowed the mode given to open; a moved file keeps its own.
  int rc = fchmod(to, st.st_mode & 07777) < 0 ? -errno : 0;
  if (rc == 0) rc = CopyContents(from_fd, to);
  if (rc == 0 && fsync(to) < 0) rc = -errno;
  int close_rc = CloseDescriptor(to);
  if (rc == 0) rc = close_rc;
  if (rc < 0) ::unlink(new_path.c_str());
  return rc;
}

// This thread's last failed transfer (TLockedFile::LastFailure).
thread_local int last_failure = 0;

// FailWrites' and FailSyncs' counts: calls to let through, then to fail.
std::atomic<int> writes_to_skip{0}, writes_to_fail{0}, write_failure{ENOSPC};
std::atomic<int> syncs_to_skip{0}, syncs_to_fail{0}, sync_failure{EIO};

bool Injected(std::atomic<int>& skip, std::atomic<int>& fail) {
  if (fail.load(std::memory_order_relaxed) <= 0) return false;
  if (skip.fetch_sub(1) > 0) return false;
  return fail.fetch_sub(1) > 0;
}

// The answer of a transfer: noted for LastFailure when it failed.
template <class T>
T Noted(T result, int error) {
  last_failure = error;
  return result;
}

}  // namespace

TLockedFile::~TLockedFile() {
  if (fd_ >= 0) {
    if (delete_on_close_) ::unlink(path_.c_str());
    ::close(fd_);  // releases every lock of this description
  }
}

int TLockedFile::Open(const std::string& path, FileAccess access, FileShare share,
                      std::unique_ptr<TLockedFile>& file) {
  bool writable = access == FileAccess::ReadWrite;
  int fd = OpenDescriptor(path, writable ? O_RDWR : O_RDONLY);
  if (fd < 0) return fd;
  int rc = RejectDirectory(fd);
  if (rc == 0) rc = AcquireShare(fd, share);
  if (rc < 0) {
    CloseDescriptor(fd);
    return rc;
  }
  file.reset(new TLockedFile(fd, path, writable));
  return 0;
}

int TLockedFile::Create(const std::string& path, bool must_not_exist, std::unique_ptr<TLockedFile>& file,
                        unsigned mode) {
  int fd = OpenDescriptor(path, O_RDWR | O_CREAT | (must_not_exist ? O_EXCL : 0), static_cast<mode_t>(mode));
  if (fd < 0) return fd;
  int rc = RejectDirectory(fd);
  if (rc == 0) rc = AcquireShare(fd, FileShare::Exclusive);
  // Emptied only once it is ours: a file in use elsewhere is left intact.
  if (rc == 0 && ftruncate(fd, 0) < 0) rc = -errno;
  if (rc < 0) {
    CloseDescriptor(fd);
    return rc;
  }
  file.reset(new TLockedFile(fd, path, true));
  return 0;
}

std::int64_t TLockedFile::ReadAt(std::int64_t offset, void* buffer, std::int64_t count) {
  if (offset < 0 || count < 0) return -EINVAL;
  std::int64_t done = 0;
  while (done < count) {
    ssize_t n = pread(fd_, static_cast<char*>(buffer) + done, count - done, offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? done : -errno;
    if (n == 0) break;
    done += n;
  }
  return done;
}

std::int64_t TLockedFile::WriteAt(std::int64_t offset, const void* buffer, std::int64_t count) {
  if (offset < 0 || count < 0) return -EINVAL;
  last_failure = 0;
  if (Injected(writes_to_skip, writes_to_fail)) return Noted<std::int64_t>(-write_failure, write_failure);
  std::int64_t done = 0;
  while (done < count) {
    ssize_t n = pwrite(fd_, static_cast<const char*>(buffer) + done, count - done, offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Noted<std::int64_t>(done > 0 ? done : -errno, errno);
    if (n == 0) break;
    done += n;
  }
  return done;
}

std::int64_t TLockedFile::WriteAt(std::int64_t offset, const std::vector<TByteSpan>& spans) {
  if (offset < 0) return -EINVAL;
  std::vector<iovec> parts;
  parts.reserve(spans.size());
  for (const TByteSpan& span : spans) {
    if (span.Size < 0) return -EINVAL;
    if (span.Size > 0) parts.push_back({const_cast<void*>(span.Data), static_cast<std::size_t>(span.Size)});
  }
  last_failure = 0;
  if (Injected(writes_to_skip, writes_to_fail)) return Noted<std::int64_t>(-write_failure, write_failure);
  std::int64_t done = 0;
  for (std::size_t first = 0; first < parts.size();) {
    const int count = static_cast<int>(std::min<std::size_t>(parts.size() - first, IOV_MAX));
    ssize_t n = pwritev(fd_, parts.data() + first, count, offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Noted<std::int64_t>(done > 0 ? done : -errno, errno);
    if (n == 0) break;
    done += n;
    // Past the parts written whole, then into a part written in part.
    for (auto left = static_cast<std::size_t>(n); left > 0;) {
      if (left >= parts[first].iov_len) {
        left -= parts[first].iov_len;
        ++first;
      } else {
        parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + left;
        parts[first].iov_len -= left;
        left = 0;
      }
    }
  }
  return done;
}

int TLockedFile::Truncate(std::int64_t size) {
  if (size < 0) return -EINVAL;
  int rc;
  do {
    rc = ftruncate(fd_, size);
  } while (rc < 0 && errno == EINTR);
  return rc < 0 ? Noted(-errno, errno) : Noted(0, 0);
}

int TLockedFile::Sync() {
  if (Injected(syncs_to_skip, syncs_to_fail)) return Noted(-sync_failure, sync_failure);
  return fsync(fd_) < 0 ? Noted(-errno, errno) : Noted(0, 0);
}

int TLockedFile::LastFailure() { return last_failure; }

void TLockedFile::FailWrites(int skip, int count, int error) {
  write_failure.store(error);
  writes_to_skip.store(skip);
  writes_to_fail.store(count);
}

void TLockedFile::FailSyncs(int count, int error) {
  sync_failure.store(error);
  syncs_to_fail.store(count);
}

int TLockedFile::StartWriteback(std::int64_t offset, std::int64_t count) {
  return sync_file_range(fd_, offset, count, SYNC_FILE_RANGE_WRITE) < 0 ? -errno : 0;
}

std::int64_t TLockedFile::Size() {
  struct stat st {};
  if (fstat(fd_, &st) < 0) return -errno;
  return st.st_size;
}

int TLockedFile::Status(TFileStatus& status) {
  struct stat st {};
  if (fstat(fd_, &st) < 0) return -errno;
  status = {st.st_size, static_cast<unsigned>(st.st_mode & 07777), static_cast<unsigned>(st.st_gid)};
  return 0;
}

int TLockedFile::FollowOwnership(unsigned mode, unsigned group, TFileStatus& status) {
  int rc = Status(status);
  if (rc < 0) return rc;
  if (status.Group != group) {
    if (fchown(fd_, static_cast<uid_t>(-1), static_cast<gid_t>(group)) < 0 && errno != EPERM) return -errno;
  }
  if (status.Mode != (mode & 07777) && fchmod(fd_, static_cast<mode_t>(mode & 07777)) < 0) return -errno;
  return Status(status);
}

bool OverlapsHeld(const THeldRanges& held, std::int64_t start, std::int64_t length) {
  // Held ranges never overlap: only the last one starting before the end
  // of the new range can reach into it.
  auto after = held.lower_bound(start + length);
  return after != held.begin() && std::prev(after)->first + std::prev(after)->second > start;
}

THeldRanges::iterator CoveringHeld(THeldRanges& held, std::int64_t start, std::int64_t length) {
  auto it = held.upper_bound(start);
  if (length < 1 || it == held.begin()) return held.end();
  --it;
  return start + length <= it->first + it->second ? it : held.end();
}

void CutHeld(THeldRanges& held, THeldRanges::iterator covering, std::int64_t start, std::int64_t length) {
  const std::int64_t held_start = covering->first, held_end = covering->first + covering->second;
  held.erase(covering);
  if (held_start < start) held.emplace(held_start, start - held_start);
  if (start + length < held_end) held.emplace(start + length, held_end - start - length);
}

bool TLockedFile::Lock(std::int64_t start, std::int64_t length) {
  if (start < 0 || length < 1 || length > kShareOpenByte - start) return false;
  std::lock_guard<std::mutex> guard(ranges_lock_);
  if (OverlapsHeld(held_, start, length)) return false;
  if (SetLock(fd_, writable_ ? F_WRLCK : F_RDLCK, start, length) < 0) return false;
  held_.emplace(start, length);
  return true;
}

bool TLockedFile::Unlock(std::int64_t start, std::int64_t length) {
  std::lock_guard<std::mutex> guard(ranges_lock_);
  auto it = held_.find(start);
  if (it == held_.end() || it->second != length) return false;
  if (SetLock(fd_, F_UNLCK, start, length) < 0) return false;
  held_.erase(it);
  return true;
}

bool TLockedFile::UnlockPart(std::int64_t start, std::int64_t length) {
  std::lock_guard<std::mutex> guard(ranges_lock_);
  auto covering = CoveringHeld(held_, start, length);
  // The system splits its own lock; unlocking the middle needs no new lock.
  if (covering == held_.end() || SetLock(fd_, F_UNLCK, start, length) < 0) return false;
  CutHeld(held_, covering, start, length);
  return true;
}

int DeleteLockedFile(const std::string& path) {
  int fd = -1;
  int rc = HoldExclusively(path, fd);
  if (rc == -EACCES) fd = -1;  // unreadable: removal is up to the directory's rights
  else if (rc < 0) return rc;
  rc = ::unlink(path.c_str()) < 0 ? -errno : 0;
  if (fd >= 0) CloseDescriptor(fd);
  return rc;
}

int RenameLockedFile(const std::string& old_path, const std::string& new_path) {
  int fd = -1;
  int rc = HoldExclusively(old_path, fd);
  if (rc < 0) return rc;
  rc = renameat2(AT_FDCWD, old_path.c_str(), AT_FDCWD, new_path.c_str(), RENAME_NOREPLACE) < 0 ? -errno : 0;
  if (rc == -EINVAL || rc == -ENOSYS) {  // file system without no-replace renames
    struct stat st {};
    rc = lstat(new_path.c_str(), &st) == 0 ? -EEXIST : (::rename(old_path.c_str(), new_path.c_str()) < 0 ? -errno : 0);
  }
  if (rc == -EXDEV) {
    rc = CopyAcrossFileSystems(fd, new_path);
    if (rc == 0 && ::unlink(old_path.c_str()) < 0) {
      rc = -errno;
      ::unlink(new_path.c_str());
    }
  }
  CloseDescriptor(fd);
  return rc;
}

int CopyFileOwnership(const std::string& from, const std::string& to) {
  struct stat source {}, target {};
  if (::stat(from.c_str(), &source) < 0 || ::stat(to.c_str(), &target) < 0) return -errno;
  if (target.st_gid != source.st_gid && ::chown(to.c_str(), static_cast<uid_t>(-1), source.st_gid) < 0 &&
      errno != EPERM)
    return -errno;
  if ((target.st_mode & 07777) == (source.st_mode & 07777)) return 0;
  return ::chmod(to.c_str(), source.st_mode & 07777) < 0 ? -errno : 0;
}

std::string FindFileIgnoringCase(const std::string& path) {
  struct stat st {};
  if (path.empty()) return {};
  if (lstat(path.c_str(), &st) == 0) return path;
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return {};
  DIR* d = opendir(dir.c_str());
  if (!d) return {};
  std::string upper = AnsiUpperCase(name), found;
  while (dirent* entry = readdir(d)) {
    std::string candidate = entry->d_name;
    if (AnsiUpperCase(candidate) == upper && (found.empty() || candidate < found)) found = candidate;
  }
  closedir(d);
  if (found.empty()) return {};
  return slash == std::string::npos ? found : path.substr(0, slash + 1) + found;
}

int IsFileReadOnly(const std::string& path, bool& read_only) {
  struct stat st {};
  if (stat(path.c_str(), &st) < 0) return -errno;
  read_only = (st.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0;
  return 0;
}

}  // namespace rtl
