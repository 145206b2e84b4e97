// Local (Unix-domain) sockets: the datagram and sequenced-packet sockets
// behind mailslots and named pipes. Descriptors are non-blocking,
// close-on-exec and never 0, 1 or 2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rtl::os {

// The longest socket path.
inline constexpr std::size_t kMaxSocketPath = 107;

enum class SocketKind { Datagram, SequencedPacket };

// A socket of the kind bound to path: the descriptor, or -1. A socket file
// left by a process that has ended is replaced; a live one makes it fail.
int BindLocalSocket(SocketKind kind, const std::string& path);
// Starts accepting clients; 0 or -errno.
int ListenLocal(int fd, int backlog);
// Takes the next waiting client: its descriptor, or -errno (-EAGAIN when
// none waits).
int AcceptClient(int listener);
// Connects a sequenced-packet socket to path, retrying for up to wait_ms
// while every instance is busy: the descriptor, or -1.
int ConnectLocal(const std::string& path, int wait_ms);
// Removes a socket's file; false when it fails.
bool RemoveSocketFile(const std::string& path);

// The size of the next message (its whole length), 0 at the end of the
// stream, -errno (-EAGAIN when none waits).
std::int64_t NextMessageSize(int fd);
// Reads the next message into text; true when it came whole.
bool ReceiveMessage(int fd, std::size_t size, std::string& text);
// Sends one message without waiting and without SIGPIPE: the count sent,
// or -errno.
std::int64_t SendMessage(int fd, const std::string& text);
// Sends one datagram to the socket bound to path, waiting up to wait_ms for
// room; true when all of it went.
bool SendDatagram(const std::string& path, const std::string& text, int wait_ms);
// Whether the peer has hung up.
bool PeerHungUp(int fd);
// A copy of the descriptor (above 2), -1 on failure.
int DuplicateDescriptor(int fd);

}  // namespace rtl::os
