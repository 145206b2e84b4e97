#include "platform/runtime/os_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <thread>

namespace rtl::os {
namespace {

static_assert(kMaxSocketPath == sizeof(sockaddr_un::sun_path) - 1);

sockaddr_un SocketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), std::min(path.size(), kMaxSocketPath));
  return address;
}

// True when a live socket is bound to path (the system lists it).
bool SocketInUse(const std::string& path) {
  std::ifstream sockets("/proc/net/unix");
  std::string line;
  std::string tail = " " + path;
  while (std::getline(sockets, line)) {
    if (line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0) return true;
  }
  return false;
}

// Moves fd above the standard descriptors, so that no handle is ever 0.
int AboveStdio(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return moved;
}

int NewSocket(SocketKind kind) {
  const int type = kind == SocketKind::Datagram ? SOCK_DGRAM : SOCK_SEQPACKET;
  return AboveStdio(::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

}  // namespace

int BindLocalSocket(SocketKind kind, const std::string& path) {
  if (path.empty() || path.size() > kMaxSocketPath) return -1;
  const int fd = NewSocket(kind);
  if (fd < 0) return -1;
  sockaddr_un address = SocketAddress(path);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (errno == EADDRINUSE && !SocketInUse(path)) {
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  }
  ::close(fd);
  return -1;
}

int ListenLocal(int fd, int backlog) { return ::listen(fd, backlog) == 0 ? 0 : -errno; }

int AcceptClient(int listener) {
  int client;
  do {
    client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  } while (client < 0 && errno == EINTR);
  if (client >= 0) return client;
  return errno == EWOULDBLOCK ? -EAGAIN : -errno;
}

int ConnectLocal(const std::string& path, int wait_ms) {
  if (path.empty() || path.size() > kMaxSocketPath) return -1;
  const int fd = NewSocket(SocketKind::SequencedPacket);
  if (fd < 0) return -1;
  sockaddr_un address = SocketAddress(path);
  const auto start = std::chrono::steady_clock::now();
  while (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    // Every instance busy (the queue of waiting clients full): wait for one.
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    if ((errno != EAGAIN && errno != EINTR) || waited >= wait_ms) {
      ::close(fd);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return fd;
}

bool RemoveSocketFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::int64_t NextMessageSize(int fd) {
  ssize_t n;
  do {
    n = ::recv(fd, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n >= 0) return n;
  return errno == EWOULDBLOCK ? -EAGAIN : -errno;
}

bool ReceiveMessage(int fd, std::size_t size, std::string& text) {
  std::string message(size, '\0');
  ssize_t n;
  do {
    n = ::recv(fd, message.data(), size, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0 || static_cast<std::size_t>(n) != size) return false;
  text = std::move(message);
  return true;
}

std::int64_t SendMessage(int fd, const std::string& text) {
  ssize_t n;
  do {
    n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n >= 0) return n;
  return errno == EWOULDBLOCK ? -EAGAIN : -errno;
}

bool SendDatagram(const std::string& path, const std::string& text, int wait_ms) {
  if (path.empty() || path.size() > kMaxSocketPath) return false;
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  struct timeval wait = {wait_ms / 1000, (wait_ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  int room = static_cast<int>(std::min<std::size_t>(text.size() + 4096, INT_MAX / 2));
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
  sockaddr_un address = SocketAddress(path);
  ssize_t n;
  do {
    n = ::sendto(fd, text.data(), text.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n >= 0 && static_cast<std::size_t>(n) == text.size();
}

bool PeerHungUp(int fd) {
  struct pollfd p = {fd, POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLRDHUP));
}

int DuplicateDescriptor(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 3); }

}  // namespace rtl::os
