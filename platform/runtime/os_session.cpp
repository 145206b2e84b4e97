#include "platform/runtime/os_session.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/runtime/os_process.h"

namespace rtl::os {
namespace {

std::mutex tools_lock;
SessionTools tools;

// name in the system's program folders; the bare name when it is in none
// (the start then fails and the answer is false).
std::string SystemTool(const char* name) {
  for (const char* dir : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
    const std::string path = std::string(dir) + name;
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return name;
}

}  // namespace

void SetSessionTools(const SessionTools& t) {
  std::lock_guard<std::mutex> guard(tools_lock);
  tools = t;
}

bool EndSession(SessionEnd how) {
  std::string systemctl, loginctl;
  {
    std::lock_guard<std::mutex> guard(tools_lock);
    systemctl = tools.systemctl;
    loginctl = tools.loginctl;
  }
  std::string program;
  std::vector<std::string> args{"--no-ask-password"};
  switch (how) {
    case SessionEnd::kLogOff: {
      program = loginctl.empty() ? SystemTool("loginctl") : loginctl;
      const char* session = std::getenv("XDG_SESSION_ID");
      if (session != nullptr && session[0] != '\0') {
        args.insert(args.end(), {"terminate-session", session});
      } else {
        args.insert(args.end(), {"terminate-user", std::to_string(::getuid())});
      }
      break;
    }
    case SessionEnd::kReboot:
      program = systemctl.empty() ? SystemTool("systemctl") : systemctl;
      args.push_back("reboot");
      break;
    case SessionEnd::kPowerOff:
      program = systemctl.empty() ? SystemTool("systemctl") : systemctl;
      args.push_back("poweroff");
      break;
  }
  return RunProgram(program, args) == 0;
}

}  // namespace rtl::os
