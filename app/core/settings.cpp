#include "app/core/settings.h"

#include "platform/runtime/files.h"
#include "platform/runtime/inifiles.h"
#include "platform/runtime/os_files.h"
#include "platform/runtime/os_places.h"

namespace appcore {
namespace {

constexpr const char* kSection = "Directories";

std::string FolderOrEmpty(const std::string& value) { return value == "Empty" ? std::string() : value; }

}  // namespace

std::string SettingsFolder(const std::string& exe_path) {
  const std::string own = rtl::ExtractFilePath(rtl::ExpandFileName(exe_path));
  if (!own.empty() && rtl::os::Writable(own)) return own;
  const std::string base = rtl::os::ConfigHome();
  if (base.empty()) return own;  // nowhere better; writes will report their failure
  const std::string folder = rtl::IncludeTrailingPathDelimiter(base) + "quorvane/";
  rtl::ForceDirectories(rtl::ExcludeTrailingPathDelimiter(folder));
  return folder;
}

AppSettings::AppSettings(std::string folder) : folder_(rtl::IncludeTrailingPathDelimiter(folder)) {}

void AppSettings::Read() {
  rtl::TIniFile ini(IniPath());
  search_dir_ = FolderOrEmpty(ini.ReadString(kSection, "Search", "Empty"));
  save_dir_ = FolderOrEmpty(ini.ReadString(kSection, "Save", "Empty"));
}

void AppSettings::WriteSearchDir(const std::string& dir) {
  search_dir_ = dir;
  rtl::TIniFile(IniPath()).WriteString(kSection, "Search", dir);
}

void AppSettings::WriteSaveDir(const std::string& dir) {
  save_dir_ = dir;
  rtl::TIniFile(IniPath()).WriteString(kSection, "Save", dir);
}

}  // namespace appcore
