// Serial ports with a Hayes-style modem dialogue, mailslots and named pipes.
//
// Handles are file descriptors handed out as unsigned integers. Every
// routine accepts only handles that its own family opened and has not
// closed yet: any other number is refused (failure value), so a second
// close can never close a descriptor that meanwhile belongs to someone else.
//
// Serial ports are terminals (platform/runtime/os_serial.h); the read
// time-outs are kept per handle and carried out by waiting on the port. A
// port is named by its device path ("/dev/ttyUSB0"), "COMn" (/dev/ttyS<n-1>)
// or a device name under /dev ("ttyACM0").
//
// Mailslots and named pipes live in the per-user runtime folder
// (GetRuntimeDir): a mailslot "\\.\mailslot\<name>" is a Unix datagram
// socket in "mailslot/", a pipe "\\.\pipe\<name>" a Unix sequenced-packet
// socket in "pipe/", both named without regard to case. Mailslots and pipes
// on other machines ("\\server\..." or "\\*\...") cannot be reached: their
// routines answer the failure value. Only the user's own processes can
// reach the runtime folder.
#pragma once

#include <string>

struct termios;

namespace textutil {

// What MakePipe and OpenPipe answer on failure (-1 as an unsigned).
inline constexpr unsigned kInvalidHandle = 0xFFFFFFFFu;

// ---- Serial ports and modem ----

// Opens the port named before the ':' of mode (the first four characters
// when there is no ':' or it comes first), exclusive, and applies the rest
// of mode: "9600,n,8,1[,x|p]" (the two-digit rates 11, 15, 30, 60, 12, 24,
// 48, 96 and 19 stand for 110 ... 19200) or "baud=9600 parity=n data=8
// stop=1 xon=off octs=off dtr=on rts=on"; an empty mode keeps the port's
// rate and framing. The port is raw, reads return at once, both buffers are
// purged. Raises rtl::Exception "Error opening port", "Invalid or
// unavailable port" (not a character device), "Error reading port state"
// (not a terminal), "Invalid mode" or "Error setting port state", and then
// leaves nothing open.
unsigned OpenComm(const std::string& mode);

// Fills buffer (keeping its length), reading again 110 ms after each
// partial read until it is full or a read brings nothing; the count read.
int ReadComm(unsigned handle, std::string& buffer);
// One byte read; 0 when none comes.
char GetComm(unsigned handle);
// Writes text, the rest again after 55 ms pauses until all is written or a
// write brings nothing (5 s without room); waits for texts of fewer than 16
// bytes to be sent. The count written.
int WriteComm(unsigned handle, const std::string& text);
// Bytes waiting to be read; -1 on failure.
int StatusComm(unsigned handle);
// Read time-outs in ms: both 0 makes reads return at once; otherwise a read
// of n bytes waits at most total_constant + n * total_multiplier.
bool SetRxTime(unsigned handle, unsigned total_constant, unsigned total_multiplier);
bool CloseComm(unsigned handle);

// Reads up to 80 bytes (at most 3000 ms + 30 ms a byte, ending 500 ms after
// the last byte) into response, restores the port's time-outs and answers
// the response; "" for a handle that is not an open port.
std::string ModemResponse(unsigned handle, std::string& response);
// Raises DTR and RTS; when the carrier is present hangs up ("+++", "ATH");
// then resets the modem ("ATZ") and answers whether it said "OK".
bool ModemThere(unsigned handle);
// Runs a modem script (blanks round it removed): "|" sends the piece before
// it with a carriage return and needs an "OK" answer (false otherwise,
// ending the script); ":" sends it with a carriage return without waiting
// for an answer; "~" sends it as it is and pauses 500 ms; ">" and "<" purge
// the output and the input buffer. The rest is sent as it is at the end.
// True when the script ran to its end.
bool ModemCommand(unsigned handle, const std::string& script);
// The ports of the modems (their "AttachedTo" values under HKEY_LOCAL_MACHINE
// "System\CurrentControlSet\Services\Class\Modem\<n>"), then every port named
// under "hardware\devicemap\serialcomm" not yet listed, read from the
// registry store and joined as a token list.
std::string ListComm();

// ---- Mailslots ----

// Creates the mailslot; 0 when the name is not a local mailslot name or the
// mailslot exists already.
unsigned OpenSlot(const std::string& name);
// Sends text as one message to the mailslot (waiting up to 5 s while its
// queue is full); true when all of it went.
bool WriteSlot(const std::string& name, const std::string& text);
// When a message waits: reads it into text (sized to it) and answers true.
// False, text unchanged, when none waits.
bool ReadSlot(unsigned handle, std::string& text);
// Closes the mailslot and removes its name.
bool CloseSlot(unsigned handle);

// ---- Named pipes ----

// Creates an instance of the pipe "\\.\pipe\<name>" (up to 255 instances
// in this process); kInvalidHandle when the name is in use elsewhere or is
// empty.
unsigned MakePipe(const std::string& name);
// Takes the next waiting client, without blocking. True when this instance
// has a connected client; false while none has come (errno EAGAIN) or when
// the client has gone (errno EPIPE).
bool StartPipe(unsigned handle);
// Lets the connected client go (what was sent stays readable for it) and
// makes the instance ready for the next one; true for a server instance.
bool StopPipe(unsigned handle);
// Connects to "\\.\pipe\<name>", waiting up to 5 s while every instance is
// busy; kInvalidHandle when there is no such pipe.
unsigned OpenPipe(const std::string& full_name);
// Sends text as one message (waiting up to 5 s for room); true when all of
// it went. An empty text sends nothing and is true.
bool SendPipe(unsigned handle, const std::string& text);
// When a message waits: reads it into text (sized to it) and answers true.
// False, text unchanged, with errno EAGAIN when none waits and EPIPE when the
// other end has gone.
bool RecvPipe(unsigned handle, std::string& text);
// The size of the next message, 0 when none waits, -1 when the handle is not
// connected or the other end has gone.
int StatusPipe(unsigned handle);
// Closes the handle (an instance with its client); the pipe's name goes with
// its last instance.
bool KillPipe(unsigned handle);

namespace detail {
// Makes the settings raw and applies a mode text as OpenComm does; false,
// settings unchanged, when the text is not a valid mode.
bool BuildPortSettings(const std::string& mode, struct termios& settings);
}  // namespace detail

}  // namespace textutil
