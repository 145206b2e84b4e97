// Serial ports: terminals driven through termios. What a mode names is
// applied; everything else stays as the port has it.
#pragma once

#include <optional>
#include <string>

struct termios;

namespace rtl::os {

struct SerialMode {
  std::optional<unsigned> baud;  // one of SerialBaudSupported's rates
  std::optional<char> parity;    // n, e, o, m, s
  std::optional<int> data_bits;  // 5 to 8
  std::optional<bool> two_stop_bits;
  std::optional<bool> xon_xoff;
  std::optional<bool> hardware_flow;
  std::optional<bool> dtr;
  std::optional<bool> rts;
};

// Whether the rate (110 to 921600) is one a port can be set to.
bool SerialBaudSupported(unsigned baud);

// Makes the settings raw (bytes pass unchanged both ways, reads return at
// once) and applies the mode's framing and flow control.
void ApplySerialMode(const SerialMode& mode, struct termios& settings);

// Opens a port for reading and writing without becoming its controlling
// terminal, held exclusively against every other open: the descriptor, or
// -errno.
int OpenSerialPort(const std::string& device);
bool IsCharacterDevice(int fd);
// Whether the descriptor is a terminal whose settings can be read.
bool IsTerminal(int fd);
// Keeps further opens of the terminal out (or lets them in again).
void SetTerminalExclusive(int fd, bool on);
// Reads the port's settings, applies the mode and sets them; false when
// they cannot be set.
bool ConfigureSerialPort(int fd, const SerialMode& mode);

enum class ModemLine { Dtr, Rts };
// Raises or drops a line (a pseudo-terminal has none: nothing happens).
void SetModemLine(int fd, ModemLine line, bool on);
bool CarrierDetected(int fd);
// Discards what waits to be read and/or written.
void FlushSerial(int fd, bool input, bool output);
// Waits until everything written has gone out.
void DrainSerial(int fd);
// The count of bytes waiting to be read, -1 when it cannot be asked.
int SerialBytesWaiting(int fd);

}  // namespace rtl::os
