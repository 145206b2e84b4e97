// The machine and the user: names, network presence, the root file system,
// clocks, the terminal and scheduling priority.
#pragma once

#include <cstdint>
#include <string>

namespace rtl::os {

// The effective user's login name ("" when the system does not know it).
std::string UserName();
// The machine's network node name and hardware type ("x86_64"); "" on failure.
std::string HostName();
std::string MachineType();

// Whether an interface other than the loopback is up.
bool NetworkUp();
// The first IPv4 address of an interface that is up and not the loopback,
// as dotted text; "" when there is none.
std::string FirstIPv4Address();

// The mount entry in force on "/": its source and file-system type.
bool RootMount(std::string& source, std::string& type);

struct DiskSpace {
  std::uint64_t block_size = 0;
  std::uint64_t free_blocks = 0;  // free for unprivileged users
  std::uint64_t total_blocks = 0;
  std::uint64_t id = 0;           // the file system's id
};
// The file system holding "/"; false when it cannot be asked.
bool RootDiskSpace(DiskSpace& space);

// A monotonic clock in nanoseconds.
std::uint64_t MonotonicNanoseconds();

// Whether the process has a controlling terminal.
bool HasControllingTerminal();

// Sets the nice value of every thread of the process (a nice value belongs
// to each thread on Linux); true when all took it.
bool SetNiceForAllThreads(int nice_value);

}  // namespace rtl::os
