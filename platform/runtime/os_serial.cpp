#include "platform/runtime/os_serial.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace rtl::os {
namespace {

struct BaudRate {
  unsigned rate;
  speed_t speed;
};

constexpr BaudRate kRates[] = {
    {110, B110},       {150, B150},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

const BaudRate* FindRate(unsigned baud) {
  for (const BaudRate& r : kRates)
    if (r.rate == baud) return &r;
  return nullptr;
}

}  // namespace

bool SerialBaudSupported(unsigned baud) { return FindRate(baud) != nullptr; }

void ApplySerialMode(const SerialMode& mode, struct termios& tio) {
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (mode.baud) {
    if (const BaudRate* rate = FindRate(*mode.baud)) {
      cfsetispeed(&tio, rate->speed);
      cfsetospeed(&tio, rate->speed);
    }
  }
  if (mode.data_bits && *mode.data_bits >= 5 && *mode.data_bits <= 8) {
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | kSizes[*mode.data_bits - 5];
  }
  if (mode.parity) {
    tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (*mode.parity) {
      case 'e': tio.c_cflag |= PARENB; break;
      case 'o': tio.c_cflag |= PARENB | PARODD; break;
      case 'm': tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
      case 's': tio.c_cflag |= PARENB | CMSPAR; break;
      default: break;
    }
  }
  if (mode.two_stop_bits) tio.c_cflag = *mode.two_stop_bits ? (tio.c_cflag | CSTOPB) : (tio.c_cflag & ~CSTOPB);
  if (mode.xon_xoff)
    tio.c_iflag = *mode.xon_xoff ? (tio.c_iflag | IXON | IXOFF) : (tio.c_iflag & ~(IXON | IXOFF));
  if (mode.hardware_flow)
    tio.c_cflag = *mode.hardware_flow ? (tio.c_cflag | CRTSCTS) : (tio.c_cflag & ~CRTSCTS);
}

int OpenSerialPort(const std::string& device) {
  int fd;
  do {
    fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -errno;
  // Exclusive: a port another open (here or elsewhere) holds is refused.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return -error;
  }
  return fd;
}

bool IsCharacterDevice(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode);
}

bool IsTerminal(int fd) {
  struct termios tio;
  return ::tcgetattr(fd, &tio) == 0;
}

void SetTerminalExclusive(int fd, bool on) { ::ioctl(fd, on ? TIOCEXCL : TIOCNXCL); }

bool ConfigureSerialPort(int fd, const SerialMode& mode) {
  struct termios tio;
  if (::tcgetattr(fd, &tio) != 0) return false;
  ApplySerialMode(mode, tio);
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

void SetModemLine(int fd, ModemLine line, bool on) {
  int bits = line == ModemLine::Dtr ? TIOCM_DTR : TIOCM_RTS;
  ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
}

bool CarrierDetected(int fd) {
  int status = 0;
  return ::ioctl(fd, TIOCMGET, &status) == 0 && (status & TIOCM_CAR);
}

void FlushSerial(int fd, bool input, bool output) {
  if (input || output) ::tcflush(fd, input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH);
}

void DrainSerial(int fd) { ::tcdrain(fd); }

int SerialBytesWaiting(int fd) {
  int waiting = 0;
  return ::ioctl(fd, FIONREAD, &waiting) == 0 ? waiting : -1;
}

}  // namespace rtl::os
