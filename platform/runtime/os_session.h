// Ending the user's session or the machine's run: log off, reboot or power
// off, asked of the service manager (systemctl) and the login manager
// (loginctl). Neither asks for a password: without the right the command
// fails and the answer is false.
//
//   log off    loginctl --no-ask-password terminate-session $XDG_SESSION_ID
//              (terminate-user <uid> when the variable is unset)
//   reboot     systemctl --no-ask-password reboot
//   power off  systemctl --no-ask-password poweroff
#pragma once

#include <string>

namespace rtl::os {

enum class SessionEnd { kLogOff, kReboot, kPowerOff };

// Asks for it; true when the command ran and answered success.
bool EndSession(SessionEnd how);

// The files the commands run (by default the system's systemctl and
// loginctl, looked up in the system's program folders). Tests put recording
// fakes here, so they never reach the real ones; an empty path restores the
// default.
struct SessionTools {
  std::string systemctl;
  std::string loginctl;
};
void SetSessionTools(const SessionTools& tools);

}  // namespace rtl::os
