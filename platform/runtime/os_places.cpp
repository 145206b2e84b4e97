#include "platform/runtime/os_places.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace rtl::os {
namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string ConfigHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') return WithoutTrailingSlash(xdg);
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
    return WithoutTrailingSlash(home) + "/.config";
  return "";
}

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp != nullptr ? tmp : "";
  if (!dir.empty() && dir.back() != '/') dir += '/';
  if (dir.empty() || dir.size() > kMaxTempPath) return "/tmp/";
  return dir;
}

std::string RuntimeFolder() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && xdg[0] == '/') return WithoutTrailingSlash(xdg) + "/quorvane";
  return "/tmp/quorvane-" + std::to_string(::geteuid());
}

std::string SystemConfigFolder() { return "/etc"; }

std::string ExecutablePath() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

}  // namespace rtl::os
