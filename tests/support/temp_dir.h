// Scratch folders and whole-file reads and writes for the tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qvtest {

// The one scratch-folder helper of the tests: a fresh folder under the
// system's temporary folder (a failure to make it fails the test, never
// aborts the program), readable by everyone (tests that drop root rights
// still reach it), removed with everything in it at the end of the test. The owner's rights on the folder come back first,
// so a test may leave it read-only.
class TempDir {
public:
  TempDir() : TempDir(std::filesystem::temp_directory_path()) {}
  // Under another folder (tests that write many small tables choose one in
  // memory).
  explicit TempDir(const std::filesystem::path& parent) {
    std::string pattern = (parent / "qv-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "no scratch folder under " << std::filesystem::temp_directory_path();
      return;
    }
    path_ = pattern;
    chmod(path_.c_str(), 0755);
  }
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // The same for code that works in std::filesystem paths.
  std::filesystem::path path() const { return path_; }
  const std::string& str() const { return path_; }
  std::string operator/(const std::string& name) const { return File(name); }

  // Lets every user write here too (a child that dropped root rights).
  void OpenToEveryone() const { chmod(path_.c_str(), 0777); }

private:
  std::string path_;
};

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace qvtest
