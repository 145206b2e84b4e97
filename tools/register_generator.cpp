// Writing a planned set of register files to disk.
#include "tools/register_generator.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace regtools {
namespace fs = std::filesystem;

namespace {

// One output file: lines buffered, each ended by CR LF. A file that is not
// closed successfully is removed, so no half-written register stays behind.
class FileWriter {
 public:
  explicit FileWriter(fs::path path) : path_(std::move(path)) {
    file_ = std::fopen(path_.c_str(), "wb");
    if (file_ == nullptr) Fail();
    buffer_.reserve(kFlushAt + 4096);
  }

  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  ~FileWriter() {
    if (file_ != nullptr) {
      std::fclose(file_);
      std::error_code ignored;
      fs::remove(path_, ignored);
    }
  }

  void Line(std::string_view text) {
    buffer_.append(text);
    buffer_ += "\r\n";
    ++lines_;
    if (buffer_.size() >= kFlushAt) Flush();
  }

  void Close() {
    Flush();
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) {
      const int error = errno;
      std::error_code ignored;
      fs::remove(path_, ignored);
      errno = error;
      Fail();
    }
  }

  int64_t lines() const { return lines_; }
  int64_t bytes() const { return bytes_; }

 private:
  static constexpr size_t kFlushAt = 1 << 20;

  void Flush() {
    if (buffer_.empty()) return;
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size() ||
        std::fflush(file_) != 0) {
      Fail();
    }
    bytes_ += static_cast<int64_t>(buffer_.size());
    buffer_.clear();
  }

  [[noreturn]] void Fail() {
    const int error = errno;
    throw GeneratorError("Cannot write " + path_.string() + ": " +
                         (error != 0 ? std::strerror(error) : "write failed"));
  }

  fs::path path_;
  std::FILE* file_ = nullptr;
  std::string buffer_;
  int64_t lines_ = 0;
  int64_t bytes_ = 0;
};

void MakeFolder(const fs::path& folder) {
  if (folder.empty()) throw GeneratorError("No output folder given");
  std::error_code error;
  fs::create_directories(folder, error);
  if (error || !fs::is_directory(folder)) {
    throw GeneratorError("Cannot create folder " + folder.string() + ": " +
                         (error ? error.message() : "a file of that name is in the way"));
  }
}

}  // namespace

GeneratorResult GenerateRegisters(const GeneratorOptions& options) {
  std::vector<RegisterFilePlan> plans = PlanRegisters(options);
  MakeFolder(options.out_dir);
  GeneratorResult result;
  for (RegisterFilePlan& plan : plans) {
    GeneratedFile file;
    file.path = options.out_dir / plan.file_name;
    FileWriter writer(file.path);
    ComposeRegisterFile(plan, [&writer](LineKind, std::string_view text) {
      writer.Line(text);
    });
    writer.Close();
    file.lines = writer.lines();
    file.bytes = writer.bytes();
    result.record_lines += plan.record_lines;
    result.lines += file.lines;
    result.bytes += file.bytes;
    file.plan = std::move(plan);
    result.files.push_back(std::move(file));
  }
  return result;
}

}  // namespace regtools
