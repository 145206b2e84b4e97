// Reading and writing one byte of an I/O port directly, on x86 machines
// where the process has the right (the kernel grants port access through
// ioperm to a process with raw I/O capability). The right is taken for the
// one port around each access and given back after it.
#pragma once

#include <cstdint>

namespace rtl::os {

// The byte read, or -1 when the port is above 0xFFFF, the system refuses
// the access or the machine has no I/O ports.
int ReadPortByte(unsigned port);
// True when the byte was written; false as above.
bool WritePortByte(unsigned port, std::uint8_t value);

}  // namespace rtl::os
