#include "platform/runtime/os_files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>

namespace rtl::os {
namespace {

std::atomic<int> interrupt_range_locks{0};
std::atomic<int> reads_to_skip{0};
std::atomic<int> reads_to_fail{0};
std::atomic<int> read_failure{EIO};

// The fault hook of FailReads: true when this read is to fail.
bool ReadFails() {
  if (reads_to_fail.load(std::memory_order_relaxed) <= 0) return false;
  if (reads_to_skip.fetch_sub(1) > 0) return false;
  return reads_to_fail.fetch_sub(1) > 0;
}

void Fill(const struct stat& st, FileInfo& info) {
  info.size = st.st_size;
  info.mtime_sec = st.st_mtim.tv_sec;
  info.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  info.inode = st.st_ino;
  info.device = st.st_dev;
  info.regular = S_ISREG(st.st_mode);
  info.directory = S_ISDIR(st.st_mode);
}

int OpenRetrying(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? -errno : fd;
}

int RangeLockCall(int fd, int command, struct flock& lock) {
  int expected = interrupt_range_locks.load();
  while (expected > 0) {
    if (interrupt_range_locks.compare_exchange_weak(expected, expected - 1)) {
      errno = EINTR;
      return -1;
    }
  }
  return ::fcntl(fd, command, &lock);
}

struct flock Range(short type, std::int64_t start, std::int64_t length) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  lock.l_pid = 0;  // required for open-file-description locks
  return lock;
}

}  // namespace

void FileDescriptor::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

int Close(int fd) { return ::close(fd) < 0 ? -errno : 0; }

bool Stat(const std::string& path, FileInfo& info) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  Fill(st, info);
  return true;
}

bool StatDescriptor(int fd, FileInfo& info) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  Fill(st, info);
  return true;
}

bool Writable(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

int OpenRegularForRead(const std::string& path, FileInfo& info) {
  const int fd = OpenRetrying(path, O_RDONLY | O_NONBLOCK);  // a pipe must not block
  if (fd < 0) return fd;
  int refused = 0;
  if (!StatDescriptor(fd, info))
    refused = errno;
  else if (!info.regular)
    refused = info.directory ? EISDIR : EINVAL;  // folders, pipes, devices
  if (refused != 0) {
    ::close(fd);
    return -refused;
  }
  return fd;
}

int OpenPrivateFile(const std::string& path) { return OpenRetrying(path, O_RDWR | O_CREAT | O_NOFOLLOW, 0600); }

std::int64_t ReadSome(int fd, void* buffer, std::size_t n) {
  if (ReadFails()) return -read_failure.load();
  ssize_t got;
  do {
    got = ::read(fd, buffer, n);
  } while (got < 0 && errno == EINTR);
  return got < 0 ? -errno : got;
}

std::int64_t ReadFully(int fd, void* buffer, std::size_t n) {
  auto* into = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const std::int64_t got = ReadSome(fd, into + done, std::min<std::size_t>(n - done, std::size_t{1} << 30));
    if (got < 0) return got;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

// ---- File maps ---------------------------------------------------------------
//
// A file map's pages are the file's: when another program cuts the file
// short, touching a page past its new end raises SIGBUS. The guard below
// answers such a fault inside a map of this table by putting zeroed pages
// in place of the lost ones (so the access is repeated and reads zeros) and
// noting the loss; any other SIGBUS goes to the handler that was there
// before, or ends the process as it would have. The handler reads the table
// through atomics only; MapFile and UnmapFile change it under a mutex.

namespace {

struct MapSlot {
  std::atomic<std::uintptr_t> begin{0};  // 0: free
  std::atomic<std::uintptr_t> end{0};
  std::atomic<bool> lost{false};
};

MapSlot map_slots[kMaxFileMaps];
std::mutex map_slots_mutex;
struct sigaction bus_before;
std::once_flag bus_guard_once;

std::uintptr_t PageSize() {
  static const std::uintptr_t size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

void OnBusError(int sig, siginfo_t* info, void* context) {
  const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (info->si_code > 0) {  // raised by a fault, not sent by a process
    for (MapSlot& slot : map_slots) {
      const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
      if (begin == 0 || at < begin || at >= slot.end.load(std::memory_order_acquire)) continue;
      const std::uintptr_t page = at & ~(PageSize() - 1);
      const std::uintptr_t end = slot.end.load(std::memory_order_acquire);
      if (::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                 0) != MAP_FAILED) {
        slot.lost.store(true, std::memory_order_release);
        return;
      }
      break;
    }
  }
  if ((bus_before.sa_flags & SA_SIGINFO) && bus_before.sa_sigaction != nullptr) {
    bus_before.sa_sigaction(sig, info, context);
    return;
  }
  if (bus_before.sa_handler != SIG_DFL && bus_before.sa_handler != SIG_IGN) {
    bus_before.sa_handler(sig);
    return;
  }
  ::signal(SIGBUS, SIG_DFL);
  ::raise(SIGBUS);  // delivered on return: the process ends as without the guard
}

void InstallBusGuard() {
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &bus_before);
}

MapSlot* SlotOf(const char* map) {
  const auto begin = reinterpret_cast<std::uintptr_t>(map);
  for (MapSlot& slot : map_slots)
    if (slot.begin.load(std::memory_order_acquire) == begin) return &slot;
  return nullptr;
}

}  // namespace

const char* MapFile(int fd, std::size_t size) {
  if (reads_to_fail.load(std::memory_order_relaxed) > 0) return nullptr;
  if (size == 0) size = 1;
  std::call_once(bus_guard_once, InstallBusGuard);
  // Mapped outside the lock, so that threads map at once; no one reads the
  // map before it is in the table. Its pages are not read in here: they
  // come in as the map is read, under the map's own lock, where reading
  // them all in now would hold the whole process's memory map for the
  // time, stopping every other thread that maps memory or starts.
  void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) return nullptr;
  std::lock_guard<std::mutex> lock(map_slots_mutex);
  MapSlot* free_slot = nullptr;
  for (MapSlot& slot : map_slots)
    if (slot.begin.load(std::memory_order_relaxed) == 0) {
      free_slot = &slot;
      break;
    }
  if (free_slot == nullptr) {
    ::munmap(p, size);
    return nullptr;
  }
  const auto begin = reinterpret_cast<std::uintptr_t>(p);
  free_slot->lost.store(false, std::memory_order_relaxed);
  free_slot->end.store(begin + (size + PageSize() - 1) / PageSize() * PageSize(), std::memory_order_release);
  free_slot->begin.store(begin, std::memory_order_release);
  return static_cast<const char*>(p);
}

void UnmapFile(const char* map, std::size_t size) {
  if (map == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(map_slots_mutex);
    if (MapSlot* slot = SlotOf(map)) {
      slot->begin.store(0, std::memory_order_release);
      slot->end.store(0, std::memory_order_release);
    }
  }
  ::munmap(const_cast<char*>(map), size == 0 ? 1 : size);
}

bool FileMapLostPages(const char* map) {
  const MapSlot* slot = SlotOf(map);
  return slot != nullptr && slot->lost.load(std::memory_order_acquire);
}

std::int64_t WriteSome(int fd, const void* buffer, std::size_t n) {
  ssize_t put;
  do {
    put = ::write(fd, buffer, n);
  } while (put < 0 && errno == EINTR);
  return put < 0 ? -errno : put;
}

int WaitReady(int fd, int events, long long timeout_ms) {
  const auto start = std::chrono::steady_clock::now();
  const short wanted = static_cast<short>(((events & kReady) ? POLLIN : 0) | ((events & kRoom) ? POLLOUT : 0));
  while (true) {
    const long long waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    const long long left = timeout_ms < 0 ? -1 : std::max(0LL, timeout_ms - waited);
    struct pollfd p = {fd, wanted, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min(left, static_cast<long long>(INT_MAX))));
    if (n > 0) {
      return ((p.revents & POLLIN) ? kReady : 0) | ((p.revents & POLLOUT) ? kRoom : 0) |
             ((p.revents & POLLHUP) ? kHangUp : 0) | ((p.revents & POLLERR) ? kFailed : 0);
    }
    if (n == 0 || errno != EINTR) return 0;
  }
}

bool Rewind(int fd) { return ::lseek(fd, 0, SEEK_SET) == 0; }

int SetRangeLock(int fd, RangeLock kind, std::int64_t start, std::int64_t length) {
  const short type = kind == RangeLock::Shared ? F_RDLCK : kind == RangeLock::Exclusive ? F_WRLCK : F_UNLCK;
  struct flock lock = Range(type, start, length);
  int rc;
  do {
    rc = RangeLockCall(fd, F_OFD_SETLK, lock);
  } while (rc < 0 && errno == EINTR);
  return rc < 0 ? -errno : 0;
}

bool RangeLockedElsewhere(int fd, std::int64_t start, std::int64_t length) {
  struct flock lock = Range(F_WRLCK, start, length);
  int rc;
  do {
    rc = RangeLockCall(fd, F_OFD_GETLK, lock);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return true;  // cannot tell: refuse
  return lock.l_type != F_UNLCK;
}

int LockWholeFile(int fd) {
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc < 0 && errno == EINTR);
  return rc < 0 ? -errno : 0;
}

int CreateUniqueFile(std::string& pattern, int suffix_length) {
  std::string buffer = pattern;
  const int fd = ::mkostemps(buffer.data(), suffix_length, O_CLOEXEC);
  if (fd < 0) return -errno;
  ::close(fd);
  pattern = buffer;
  return 0;
}

bool EnsurePrivateDir(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

void InterruptNextRangeLocks(int count) { interrupt_range_locks.store(count); }

void FailReads(int skip, int count, int error) {
  read_failure.store(error);
  reads_to_skip.store(skip);
  reads_to_fail.store(count);
}

bool StatOwner(const std::string& path, FileOwner& owner) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  owner.uid = st.st_uid;
  owner.gid = st.st_gid;
  owner.mode = st.st_mode & 07777;
  owner.links = st.st_nlink;
  owner.regular = S_ISREG(st.st_mode);
  owner.directory = S_ISDIR(st.st_mode);
  return true;
}

int SetOwner(int fd, const FileOwner& owner) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -errno;
  if ((st.st_uid != owner.uid || st.st_gid != owner.gid) && ::fchown(fd, owner.uid, owner.gid) != 0) return -errno;
  // After fchown, which may clear the set-id bits.
  return ::fchmod(fd, owner.mode) != 0 ? -errno : 0;
}

int SyncFolder(const std::string& dir) {
  const int fd = OpenRetrying(dir.empty() ? "." : dir, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return fd;
  int rc = ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS ? -errno : 0;
  ::close(fd);
  return rc;
}

std::string FolderProblem(const std::string& dir) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return ErrorText(errno);
  ::closedir(d);
  return {};
}

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace rtl::os
