#include "platform/runtime/os_ports.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define QV_HAS_PORT_IO 1
#endif

namespace rtl::os {

#ifdef QV_HAS_PORT_IO

namespace {

constexpr unsigned kLastPort = 0xFFFF;

// Holds the right to one port for its lifetime.
class PortRight {
public:
  explicit PortRight(unsigned port) : port_(port), granted_(port <= kLastPort && ::ioperm(port, 1, 1) == 0) {}
  ~PortRight() {
    if (granted_) ::ioperm(port_, 1, 0);
  }
  bool Granted() const { return granted_; }

private:
  unsigned port_;
  bool granted_;
};

}  // namespace

int ReadPortByte(unsigned port) {
  PortRight right(port);
  if (!right.Granted()) return -1;
  return ::inb(static_cast<unsigned short>(port));
}

bool WritePortByte(unsigned port, std::uint8_t value) {
  PortRight right(port);
  if (!right.Granted()) return false;
  ::outb(value, static_cast<unsigned short>(port));
  return true;
}

#else

int ReadPortByte(unsigned) { return -1; }
bool WritePortByte(unsigned, std::uint8_t) { return false; }

#endif

}  // namespace rtl::os
