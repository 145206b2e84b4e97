#include "textutil/channels.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/os_files.h"
#include "platform/runtime/os_serial.h"
#include "platform/runtime/os_socket.h"
#include "platform/runtime/sysutils.h"
#include "textutil/fields.h"
#include "textutil/process.h"
#include "textutil/system.h"

namespace textutil {
namespace {

using Clock = std::chrono::steady_clock;

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

unsigned char AsciiLower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

std::string Trim(std::string_view s, const char* blanks = " ") {
  size_t begin = s.find_first_not_of(blanks);
  if (begin == std::string_view::npos) return "";
  return std::string(s.substr(begin, s.find_last_not_of(blanks) - begin + 1));
}

// Handles of one family: entries shared with the routines using them, so
// that a close while another thread still reads only drops the table's
// reference and the descriptor closes after the last use.
template <typename Entry>
class HandleTable {
public:
  void Add(int handle, std::shared_ptr<Entry> entry) {
    std::lock_guard<std::mutex> guard(lock_);
    entries_[handle] = std::move(entry);
  }
  std::shared_ptr<Entry> Find(unsigned handle) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = entries_.find(static_cast<int>(handle));
    return (handle <= INT_MAX && it != entries_.end()) ? it->second : nullptr;
  }
  std::shared_ptr<Entry> Remove(unsigned handle) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = entries_.find(static_cast<int>(handle));
    if (handle > INT_MAX || it == entries_.end()) return nullptr;
    std::shared_ptr<Entry> entry = std::move(it->second);
    entries_.erase(it);
    return entry;
  }
  // Calls visit(handle, entry) for every entry under the table's lock.
  template <typename Visit>
  void ForEach(Visit visit) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [handle, entry] : entries_) visit(handle, *entry);
  }
  std::mutex& Lock() { return lock_; }

private:
  std::mutex lock_;
  std::map<int, std::shared_ptr<Entry>> entries_;
};

// ---- serial ports ----

constexpr unsigned kMaxDword = 0xFFFFFFFFu;

// Read time-outs in ms: interval between two bytes, and a total of
// constant + multiplier per byte asked for. An interval of kMaxDword with
// no totals returns at once with what has come; all 0 waits for ever.
struct CommTimeouts {
  unsigned interval = kMaxDword;
  unsigned multiplier = 0;
  unsigned constant = 0;
};

constexpr int kWriteWaitMs = 5000;

struct CommPort {
  FileDescriptor fd;
  std::mutex lock;
  CommTimeouts timeouts;

  ~CommPort() {
    if (fd.Valid()) rtl::os::SetTerminalExclusive(fd.Get(), false);
  }
  CommTimeouts Timeouts() {
    std::lock_guard<std::mutex> guard(lock);
    return timeouts;
  }
  void SetTimeouts(const CommTimeouts& t) {
    std::lock_guard<std::mutex> guard(lock);
    timeouts = t;
  }
};

HandleTable<CommPort>& Ports() {
  static HandleTable<CommPort> table;
  return table;
}

// Reads up to n bytes under the time-outs; the count read.
size_t TimedRead(int fd, char* buffer, size_t n, const CommTimeouts& t) {
  const bool at_once = t.interval == kMaxDword && t.multiplier == 0 && t.constant == 0;
  const bool has_total = t.multiplier != 0 || t.constant != 0;
  const long long total = static_cast<long long>(t.multiplier) * static_cast<long long>(n) + t.constant;
  auto start = Clock::now();
  size_t got = 0;
  while (got < n) {
    long long wait = -1;
    if (at_once) {
      wait = 0;
    } else {
      if (has_total) wait = std::max(0LL, total - MillisecondsSince(start));
      if (got > 0 && t.interval != 0) {
        long long gap = t.interval == kMaxDword ? 0 : t.interval;
        wait = wait < 0 ? gap : std::min(wait, gap);
      }
    }
    if (!rtl::os::WaitReady(fd, rtl::os::kReady, wait)) break;
    const std::int64_t k = rtl::os::ReadSome(fd, buffer + got, n - got);
    if (k > 0) {
      got += static_cast<size_t>(k);
    } else if (k != -EAGAIN) {
      break;  // the line has gone
    }
  }
  return got;
}

// One write attempt: waits up to kWriteWaitMs for room, then writes what
// fits. The count written, 0 when nothing went.
size_t WriteSome(int fd, const char* data, size_t n) {
  if (!(rtl::os::WaitReady(fd, rtl::os::kRoom, kWriteWaitMs) & rtl::os::kRoom)) return 0;
  const std::int64_t k = rtl::os::WriteSome(fd, data, n);
  return k > 0 ? static_cast<size_t>(k) : 0;
}

bool ParseUnsigned(std::string_view text, unsigned& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

bool ParseBaud(std::string_view text, unsigned& baud) {
  unsigned rate;
  if (!ParseUnsigned(text, rate)) return false;
  // The mode command's two-digit abbreviations.
  static const std::pair<unsigned, unsigned> kShort[] = {
      {11, 110}, {15, 150}, {30, 300}, {60, 600}, {12, 1200},
      {24, 2400}, {48, 4800}, {96, 9600}, {19, 19200}};
  for (auto [abbreviation, full] : kShort) {
    if (rate == abbreviation) rate = full;
  }
  if (!rtl::os::SerialBaudSupported(rate)) return false;
  baud = rate;
  return true;
}

using PortMode = rtl::os::SerialMode;

bool ParseParity(std::string_view text, PortMode& mode) {
  if (text.size() != 1) return false;
  char p = static_cast<char>(AsciiLower(text[0]));
  if (std::string_view("neoms").find(p) == std::string_view::npos) return false;
  mode.parity = p;
  return true;
}

bool ParseDataBits(std::string_view text, PortMode& mode) {
  unsigned bits;
  if (!ParseUnsigned(text, bits) || bits < 5 || bits > 8) return false;
  mode.data_bits = static_cast<int>(bits);
  return true;
}

bool ParseStopBits(std::string_view text, PortMode& mode) {
  if (text == "1") {
    mode.two_stop_bits = false;
  } else if (text == "1.5" || text == "2") {
    mode.two_stop_bits = true;  // a port knows 1 or 2
  } else {
    return false;
  }
  return true;
}

bool ParseOnOff(std::string_view text, std::optional<bool>& flag) {
  if (rtl::SameText(text, "on")) {
    flag = true;
  } else if (rtl::SameText(text, "off")) {
    flag = false;
  } else {
    return false;
  }
  return true;
}

// "9600,n,8,1,x": rate, parity, data bits, stop bits, flow control.
bool ParseShortMode(const std::string& text, PortMode& mode) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    parts.push_back(Trim(std::string_view(text).substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (parts.size() > 5) return false;
  parts.resize(5);
  unsigned baud;
  if (!parts[0].empty()) {
    if (!ParseBaud(parts[0], baud)) return false;
    mode.baud = baud;
  }
  if (!parts[1].empty() && !ParseParity(parts[1], mode)) return false;
  if (!parts[2].empty() && !ParseDataBits(parts[2], mode)) return false;
  if (!parts[3].empty() && !ParseStopBits(parts[3], mode)) return false;
  std::string flow = parts[4];
  if (!flow.empty() && !rtl::SameText(flow, "x") && !rtl::SameText(flow, "p")) return false;
  mode.xon_xoff = rtl::SameText(flow, "x");
  mode.hardware_flow = rtl::SameText(flow, "p");
  return true;
}

// "baud=9600 parity=n data=8 stop=1 xon=off octs=off dtr=on rts=on".
bool ParseKeywordMode(const std::string& text, PortMode& mode) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    size_t equals = item.find('=');
    if (equals == std::string::npos) return false;
    std::string key = item.substr(0, equals);
    std::string value = item.substr(equals + 1);
    std::optional<bool> ignored;
    unsigned baud;
    if (rtl::SameText(key, "baud")) {
      if (!ParseBaud(value, baud)) return false;
      mode.baud = baud;
    } else if (rtl::SameText(key, "parity")) {
      if (!ParseParity(value, mode)) return false;
    } else if (rtl::SameText(key, "data")) {
      if (!ParseDataBits(value, mode)) return false;
    } else if (rtl::SameText(key, "stop")) {
      if (!ParseStopBits(value, mode)) return false;
    } else if (rtl::SameText(key, "xon")) {
      if (!ParseOnOff(value, mode.xon_xoff)) return false;
    } else if (rtl::SameText(key, "octs")) {
      if (!ParseOnOff(value, mode.hardware_flow)) return false;
    } else if (rtl::SameText(key, "dtr")) {
      if (!rtl::SameText(value, "hs") && !ParseOnOff(value, mode.dtr)) return false;
    } else if (rtl::SameText(key, "rts")) {
      if (rtl::SameText(value, "hs")) {
        mode.hardware_flow = true;
      } else if (!rtl::SameText(value, "tg") && !ParseOnOff(value, mode.rts)) {
        return false;
      }
    } else if (rtl::SameText(key, "to") || rtl::SameText(key, "odsr") || rtl::SameText(key, "idsr")) {
      if (!ParseOnOff(value, ignored)) return false;
    } else {
      return false;
    }
  }
  return true;
}

// Reads a mode text; false when it is not a valid mode.
bool ParseMode(const std::string& text, PortMode& mode) {
  std::string trimmed = Trim(text, " \t");
  if (trimmed.empty()) return true;
  return trimmed.find('=') != std::string::npos ? ParseKeywordMode(trimmed, mode) : ParseShortMode(trimmed, mode);
}

// "COM3" is /dev/ttyS2; a path stays; any other name is taken under /dev.
std::string DevicePath(const std::string& name) {
  if (name.empty()) return "";
  if (name[0] == '/') return name;
  if (name.find('/') != std::string::npos) return "";
  unsigned number;
  if (name.size() > 3 && rtl::SameText(name.substr(0, 3), "com") && ParseUnsigned(name.substr(3), number) &&
      number >= 1) {
    return "/dev/ttyS" + std::to_string(number - 1);
  }
  return "/dev/" + name;
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// ---- Unix sockets for mailslots and pipes ----

constexpr size_t kSocketPathMax = rtl::os::kMaxSocketPath;
constexpr int kPipeWaitMs = 5000;
constexpr int kMaxInstances = 255;

// The name after "\\.\<kind>\", "" when full is no local name of that kind.
std::string LocalName(const std::string& full, const std::string& kind) {
  std::string prefix = "\\\\.\\" + kind + "\\";
  if (full.size() <= prefix.size() || !rtl::SameText(full.substr(0, prefix.size()), prefix)) return "";
  return full.substr(prefix.size());
}

struct Mailslot {
  FileDescriptor fd;
  std::string path;
  ~Mailslot() {
    if (!path.empty()) rtl::os::RemoveSocketFile(path);
  }
};

HandleTable<Mailslot>& Slots() {
  static HandleTable<Mailslot> table;
  return table;
}

std::string SlotPath(const std::string& full_name) {
  std::string name = LocalName(full_name, "mailslot");
  return name.empty() ? "" : RuntimePath("mailslot", name, true, kSocketPathMax);
}

std::string PipePath(const std::string& name) {
  return name.empty() ? "" : RuntimePath("pipe", name, true, kSocketPathMax);
}

// A pipe handle: a server instance (a descriptor of the listening socket
// and the client it took) or a client's connection.
struct PipeEnd {
  bool server = false;
  FileDescriptor listener;  // server only
  std::string path;         // server only
  std::mutex lock;
  std::shared_ptr<FileDescriptor> connection;

  std::shared_ptr<FileDescriptor> Connection() {
    std::lock_guard<std::mutex> guard(lock);
    return connection;
  }
};

HandleTable<PipeEnd>& Pipes() {
  static HandleTable<PipeEnd> table;
  return table;
}

}  // namespace

namespace detail {

bool BuildPortSettings(const std::string& mode, struct termios& settings) {
  PortMode parsed;
  if (!ParseMode(mode, parsed)) return false;
  rtl::os::ApplySerialMode(parsed, settings);
  return true;
}

}  // namespace detail

// ---- Serial ports and modem ----

unsigned OpenComm(const std::string& mode) {
  size_t colon = mode.find(':');
  std::string name = (colon == std::string::npos || colon == 0) ? mode.substr(0, 4) : mode.substr(0, colon);
  std::string settings = colon == std::string::npos ? "" : mode.substr(colon + 1);
  std::string device = DevicePath(name);
  if (device.empty()) throw rtl::Exception("Error opening port");
  auto port = std::make_shared<CommPort>();
  // Exclusive: a port another open (here or elsewhere) holds is refused.
  const int opened = rtl::os::OpenSerialPort(device);
  if (opened < 0) throw rtl::Exception("Error opening port");
  port->fd.Reset(opened);
  int fd = port->fd.Get();
  if (!rtl::os::IsCharacterDevice(fd)) throw rtl::Exception("Invalid or unavailable port");
  if (!rtl::os::IsTerminal(fd)) throw rtl::Exception("Error reading port state");
  rtl::os::SetTerminalExclusive(fd, true);
  PortMode parsed;
  if (!ParseMode(settings, parsed)) throw rtl::Exception("Invalid mode");
  if (!rtl::os::ConfigureSerialPort(fd, parsed)) throw rtl::Exception("Error setting port state");
  if (parsed.dtr) rtl::os::SetModemLine(fd, rtl::os::ModemLine::Dtr, *parsed.dtr);
  if (parsed.rts) rtl::os::SetModemLine(fd, rtl::os::ModemLine::Rts, *parsed.rts);
  rtl::os::FlushSerial(fd, true, true);
  Ports().Add(fd, port);
  return static_cast<unsigned>(fd);
}

int ReadComm(unsigned handle, std::string& buffer) {
  std::shared_ptr<CommPort> port = Ports().Find(handle);
  if (!port || buffer.empty()) return 0;
  CommTimeouts timeouts = port->Timeouts();
  size_t got = 0;
  while (got < buffer.size()) {
    size_t n = TimedRead(port->fd.Get(), buffer.data() + got, buffer.size() - got, timeouts);
    if (n == 0) break;
    got += n;
    if (got < buffer.size()) Pause(110);
  }
  return static_cast<int>(got);
}

char GetComm(unsigned handle) {
  std::shared_ptr<CommPort> port = Ports().Find(handle);
  char byte = 0;
  if (!port || TimedRead(port->fd.Get(), &byte, 1, port->Timeouts()) != 1) return 0;
  return byte;
}

int WriteComm(unsigned handle, const std::string& text) {
  std::shared_ptr<CommPort> port = Ports().Find(handle);
  if (!port) return 0;
  size_t written = 0;
  while (written < text.size()) {
    size_t n = WriteSome(port->fd.Get(), text.data() + written, text.size() - written);
    if (n == 0) break;
    written += n;
    if (written < text.size()) Pause(55);
  }
  if (text.size() < 16) rtl::os::DrainSerial(port->fd.Get());
  return static_cast<int>(written);
}

int StatusComm(unsigned handle) {
  std::shared_ptr<CommPort> port = Ports().Find(handle);
  return port ? rtl::os::SerialBytesWaiting(port->fd.Get()) : -1;
}

bool SetRxTime(unsigned handle, unsigned total_constant, unsigned total_multiplier) {
  std::shared_ptr<CommPort> port = Ports().Find(handle);
  if (!port) return false;
  CommTimeouts t;
  if (total_constant != 0 || total_multiplier != 0) {
    t.interval = 0;
    t.multiplier = total_multiplier;
    t.constant = total_constant;
  }
  port->SetTimeouts(t);
  return true;
}

bool CloseComm(unsigned handle) { return Ports().Remove(handle) != nullptr; }

std::string ModemResponse(unsigned handle, std::string& response) {
  response.clear();
  std::shared_ptr<CommPort> port = Ports().Find(handle);
  if (!port) return "";
  CommTimeouts saved = port->Timeouts();
  CommTimeouts modem;
  modem.interval = 500;
  modem.multiplier = 30;
  modem.constant = 3000;
  port->SetTimeouts(modem);
  char buffer[80];
  size_t n = TimedRead(port->fd.Get(), buffer, sizeof buffer, modem);
  port->SetTimeouts(saved);
  response.assign(buffer, n);
  return response;
}

bool ModemThere(unsigned handle) {
  std::shared_ptr<CommPort> port = Ports().Find(handle);
  if (!port) return false;
  int fd = port->fd.Get();
  rtl::os::SetModemLine(fd, rtl::os::ModemLine::Dtr, true);
  rtl::os::SetModemLine(fd, rtl::os::ModemLine::Rts, true);
  const bool carrier = rtl::os::CarrierDetected(fd);
  rtl::os::FlushSerial(fd, true, true);
  std::string response;
  if (carrier) {
    Pause(1000);
    WriteComm(handle, "+++");
    Pause(1000);
    WriteComm(handle, "ATH\r");
    ModemResponse(handle, response);
  }
  WriteComm(handle, "ATZ\r");
  Pause(2500);
  ModemResponse(handle, response);
  return Contains(response, "OK");
}

bool ModemCommand(unsigned handle, const std::string& script) {
  std::shared_ptr<CommPort> port = Ports().Find(handle);
  if (!port) return false;
  rtl::os::FlushSerial(port->fd.Get(), true, false);
  std::string piece;
  std::string response;
  for (char c : Trim(script)) {
    switch (c) {
      case '|':
        WriteComm(handle, piece + "\r");
        piece.clear();
        Pause(125);
        ModemResponse(handle, response);
        if (!Contains(response, "OK")) return false;
        break;
      case ':':
        WriteComm(handle, piece + "\r");
        piece.clear();
        Pause(125);
        break;
      case '~':
        if (!piece.empty()) WriteComm(handle, piece);
        piece.clear();
        Pause(500);
        break;
      case '>':
        rtl::os::FlushSerial(port->fd.Get(), false, true);
        break;
      case '<':
        rtl::os::FlushSerial(port->fd.Get(), true, false);
        break;
      default:
        piece += c;
        break;
    }
  }
  piece = Trim(piece);
  if (!piece.empty()) {
    WriteComm(handle, piece);
    Pause(125);
  }
  return true;
}

std::string ListComm() {
  const std::string modems = "System\\CurrentControlSet\\Services\\Class\\Modem";
  std::vector<std::string> ports;
  auto add = [&](const std::string& port) {
    bool listed = std::any_of(ports.begin(), ports.end(),
                              [&](const std::string& p) { return rtl::SameText(p, port); });
    if (!port.empty() && !listed) ports.push_back(port);
  };
  for (const std::string& modem : GetSubkeyList(kHKeyLocalMachine, modems)) {
    std::string port;
    if (GetKeyValue(kHKeyLocalMachine, modems + "\\" + modem, "AttachedTo", port)) add(port);
  }
  for (const std::string& port : GetValueList(kHKeyLocalMachine, "hardware\\devicemap\\serialcomm")) {
    add(port);
  }
  std::string list;
  for (const std::string& port : ports) InsertToken(list, port, 0);
  return list;
}

// ---- Mailslots ----

unsigned OpenSlot(const std::string& name) {
  auto slot = std::make_shared<Mailslot>();
  std::string path = SlotPath(name);
  slot->fd.Reset(rtl::os::BindLocalSocket(rtl::os::SocketKind::Datagram, path));
  if (!slot->fd.Valid()) return 0;
  slot->path = path;
  int fd = slot->fd.Get();
  Slots().Add(fd, std::move(slot));
  return static_cast<unsigned>(fd);
}

bool WriteSlot(const std::string& name, const std::string& text) {
  std::string path = SlotPath(name);
  if (path.empty()) return false;
  return rtl::os::SendDatagram(path, text, kPipeWaitMs);
}

bool ReadSlot(unsigned handle, std::string& text) {
  std::shared_ptr<Mailslot> slot = Slots().Find(handle);
  if (!slot) return false;
  const std::int64_t size = rtl::os::NextMessageSize(slot->fd.Get());
  if (size < 0) return false;
  return rtl::os::ReceiveMessage(slot->fd.Get(), static_cast<size_t>(size), text);
}

bool CloseSlot(unsigned handle) { return Slots().Remove(handle) != nullptr; }

// ---- Named pipes ----

unsigned MakePipe(const std::string& name) {
  std::string path = PipePath(name);
  if (path.empty()) return kInvalidHandle;
  auto end = std::make_shared<PipeEnd>();
  end->server = true;
  end->path = path;
  HandleTable<PipeEnd>& pipes = Pipes();
  {
    // Another instance of a pipe this process made shares its socket.
    int instances = 0;
    int shared = -1;
    pipes.ForEach([&](int, PipeEnd& other) {
      if (other.server && other.path == path) {
        ++instances;
        shared = other.listener.Get();
      }
    });
    if (instances >= kMaxInstances) return kInvalidHandle;
    if (shared >= 0) end->listener.Reset(rtl::os::DuplicateDescriptor(shared));
  }
  if (!end->listener.Valid()) {
    end->listener.Reset(rtl::os::BindLocalSocket(rtl::os::SocketKind::SequencedPacket, path));
    if (!end->listener.Valid() || rtl::os::ListenLocal(end->listener.Get(), kMaxInstances) != 0) {
      if (end->listener.Valid()) rtl::os::RemoveSocketFile(path);
      end->path.clear();
      return kInvalidHandle;
    }
  }
  int fd = end->listener.Get();
  pipes.Add(fd, std::move(end));
  return static_cast<unsigned>(fd);
}

bool StartPipe(unsigned handle) {
  std::shared_ptr<PipeEnd> end = Pipes().Find(handle);
  if (!end || !end->server) {
    errno = EBADF;
    return false;
  }
  std::lock_guard<std::mutex> guard(end->lock);
  if (end->connection) {
    if (rtl::os::PeerHungUp(end->connection->Get())) {
      errno = EPIPE;
      return false;
    }
    return true;
  }
  const int client = rtl::os::AcceptClient(end->listener.Get());
  if (client < 0) {
    errno = -client;
    return false;
  }
  end->connection = std::make_shared<FileDescriptor>(client);
  return true;
}

bool StopPipe(unsigned handle) {
  std::shared_ptr<PipeEnd> end = Pipes().Find(handle);
  if (!end || !end->server) return false;
  std::lock_guard<std::mutex> guard(end->lock);
  end->connection.reset();
  return true;
}

unsigned OpenPipe(const std::string& full_name) {
  std::string path = PipePath(LocalName(full_name, "pipe"));
  if (path.empty()) return kInvalidHandle;
  auto end = std::make_shared<PipeEnd>();
  FileDescriptor fd(rtl::os::ConnectLocal(path, kPipeWaitMs));
  if (!fd.Valid()) return kInvalidHandle;
  int handle = fd.Get();
  end->connection = std::make_shared<FileDescriptor>(fd.Release());
  Pipes().Add(handle, std::move(end));
  return static_cast<unsigned>(handle);
}

bool SendPipe(unsigned handle, const std::string& text) {
  std::shared_ptr<PipeEnd> end = Pipes().Find(handle);
  std::shared_ptr<FileDescriptor> connection = end ? end->Connection() : nullptr;
  if (!connection) return false;
  if (text.empty()) return true;
  auto start = Clock::now();
  while (true) {
    const std::int64_t n = rtl::os::SendMessage(connection->Get(), text);
    if (n >= 0) return static_cast<size_t>(n) == text.size();
    if (n != -EAGAIN) return false;
    long long left = kPipeWaitMs - MillisecondsSince(start);
    if (left <= 0 || !(rtl::os::WaitReady(connection->Get(), rtl::os::kRoom, left) & rtl::os::kRoom)) return false;
  }
}

bool RecvPipe(unsigned handle, std::string& text) {
  std::shared_ptr<PipeEnd> end = Pipes().Find(handle);
  std::shared_ptr<FileDescriptor> connection = end ? end->Connection() : nullptr;
  if (!connection) {
    errno = EPIPE;
    return false;
  }
  const std::int64_t size = rtl::os::NextMessageSize(connection->Get());
  if (size == 0) {
    errno = EPIPE;  // empty messages are never sent: this is the end
    return false;
  }
  if (size < 0) {
    errno = static_cast<int>(-size);
    return false;
  }
  return rtl::os::ReceiveMessage(connection->Get(), static_cast<size_t>(size), text);
}

int StatusPipe(unsigned handle) {
  std::shared_ptr<PipeEnd> end = Pipes().Find(handle);
  std::shared_ptr<FileDescriptor> connection = end ? end->Connection() : nullptr;
  if (!connection) return -1;
  const std::int64_t size = rtl::os::NextMessageSize(connection->Get());
  if (size > 0) return static_cast<int>(std::min<std::int64_t>(size, INT_MAX));
  if (size == 0) return -1;
  return size == -EAGAIN ? 0 : -1;
}

bool KillPipe(unsigned handle) {
  HandleTable<PipeEnd>& pipes = Pipes();
  std::shared_ptr<PipeEnd> end = pipes.Remove(handle);
  if (!end) return false;
  if (end->server) {
    bool last = true;
    pipes.ForEach([&](int, PipeEnd& other) {
      if (other.server && other.path == end->path) last = false;
    });
    if (last) rtl::os::RemoveSocketFile(end->path);
  }
  return true;
}

}  // namespace textutil
