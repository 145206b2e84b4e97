// Where things live on this system: the user's configuration folder, the
// temporary folder, the private runtime folder, the program itself. One
// rule each, for every caller.
#pragma once

#include <cstddef>
#include <string>

namespace rtl::os {

// The user's configuration base: $XDG_CONFIG_HOME when it is an absolute
// path, else $HOME/.config; an empty HOME counts as unset. "" when neither
// gives one. No trailing '/'.
std::string ConfigHome();

// The longest temporary folder answered, its trailing '/' included.
inline constexpr std::size_t kMaxTempPath = 260;

// The temporary folder with a trailing '/': $TMPDIR when set and not empty,
// else "/tmp/". A TMPDIR longer than kMaxTempPath is refused whole (the
// answer is then "/tmp/"), never cut.
std::string TempFolder();

// The base of the private runtime folder: "$XDG_RUNTIME_DIR/quorvane" when
// XDG_RUNTIME_DIR is an absolute path, else "/tmp/quorvane-<uid>". Not
// created here (see EnsurePrivateDir).
std::string RuntimeFolder();

// The system's configuration folder, "/etc": what the text utility library
// and the table storage library both answer for the Windows folder.
std::string SystemConfigFolder();

// The running program's file ("" when the system does not tell).
std::string ExecutablePath();

}  // namespace rtl::os
