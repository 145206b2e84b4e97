// Where the program keeps its settings and lists, and the two folders it
// remembers.
//
// The settings file "Quorvane.INI" lies beside the executable when that
// folder is writable, otherwise in $XDG_CONFIG_HOME/quorvane/ (by default
// ~/.config/quorvane/). "Files.txt" and "Sources.txt" are written beside it.
//
//   [Directories]
//   Search=<source folder of the data files>
//   Save=<folder offered when a new page is saved>
//
// A missing file or key, or the value "Empty", means no folder.
#pragma once

#include <string>

namespace appcore {

// Folder of the settings file (with a trailing '/') for an executable at
// exe_path: its own folder when writable, else the user's configuration
// folder, which is created when missing.
std::string SettingsFolder(const std::string& exe_path);

class AppSettings {
public:
  explicit AppSettings(std::string folder);

  const std::string& Folder() const { return folder_; }
  std::string IniPath() const { return folder_ + "Quorvane.INI"; }

  // Reads both folders from the settings file.
  void Read();
  const std::string& SearchDir() const { return search_dir_; }
  const std::string& SaveDir() const { return save_dir_; }

  // Store a folder in the settings file at once; raise
  // rtl::EIniFileException when the file cannot be written (the folder is
  // remembered all the same).
  void WriteSearchDir(const std::string& dir);
  void WriteSaveDir(const std::string& dir);

private:
  std::string folder_;
  std::string search_dir_;
  std::string save_dir_;
};

}  // namespace appcore
