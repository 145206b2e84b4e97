#include "platform/runtime/os_system.h"

#include <fcntl.h>
#include <ifaddrs.h>
#include <mntent.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace rtl::os {

std::string UserName() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return "";
  return found->pw_name;
}

std::string HostName() {
  struct utsname names;
  return ::uname(&names) == 0 ? names.nodename : "";
}

std::string MachineType() {
  struct utsname names;
  return ::uname(&names) == 0 ? names.machine : "";
}

bool NetworkUp() {
  struct ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool present = false;
  for (struct ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if ((a->ifa_flags & IFF_UP) && !(a->ifa_flags & IFF_LOOPBACK)) present = true;
  }
  ::freeifaddrs(list);
  return present;
}

std::string FirstIPv4Address() {
  struct ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return "";
  std::string address;
  for (struct ifaddrs* a = list; a != nullptr && address.empty(); a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    if (!(a->ifa_flags & IFF_UP) || (a->ifa_flags & IFF_LOOPBACK)) continue;
    const auto* in = reinterpret_cast<const unsigned char*>(
        &reinterpret_cast<const struct sockaddr_in*>(a->ifa_addr)->sin_addr);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", in[0], in[1], in[2], in[3]);
    address = text;
  }
  ::freeifaddrs(list);
  return address;
}

bool RootMount(std::string& source, std::string& type) {
  FILE* mounts = ::setmntent("/proc/self/mounts", "re");
  if (mounts == nullptr) return false;
  bool found = false;
  struct mntent entry;
  char buffer[4096];
  while (::getmntent_r(mounts, &entry, buffer, sizeof buffer) != nullptr) {
    if (std::strcmp(entry.mnt_dir, "/") == 0) {  // the last mount on "/" is in force
      source = entry.mnt_fsname;
      type = entry.mnt_type;
      found = true;
    }
  }
  ::endmntent(mounts);
  return found;
}

bool RootDiskSpace(DiskSpace& space) {
  struct statvfs fs;
  if (::statvfs("/", &fs) != 0) return false;
  space.block_size = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
  space.free_blocks = fs.f_bavail;
  space.total_blocks = fs.f_blocks;
  space.id = fs.f_fsid;
  return true;
}

std::uint64_t MonotonicNanoseconds() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(now.tv_nsec);
}

bool HasControllingTerminal() {
  int fd = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool SetNiceForAllThreads(int nice_value) {
  bool all = true;
  bool any = false;
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc/self/task", ec), end; !ec && it != end; it.increment(ec)) {
    id_t tid = static_cast<id_t>(std::strtol(it->path().filename().c_str(), nullptr, 10));
    any = true;
    if (::setpriority(PRIO_PROCESS, tid, nice_value) != 0 && errno != ESRCH) all = false;
  }
  if (!any) all = ::setpriority(PRIO_PROCESS, 0, nice_value) == 0;
  return all;
}

}  // namespace rtl::os
