#include "platform/runtime/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/os_files.h"

namespace rtl {

namespace {
constexpr const char* kReadError = "Stream read error";
constexpr const char* kWriteError = "Stream write error";
constexpr const char* kSeekError = "Invalid stream position";

std::int64_t Target(std::int64_t offset, int origin, std::int64_t position, std::int64_t size) {
  std::int64_t base = origin == soFromBeginning ? 0 : origin == soFromCurrent ? position : size;
  if (origin < soFromBeginning || origin > soFromEnd) throw EStreamError(kSeekError);
  std::int64_t target = base + offset;
  if (target < 0) throw EStreamError(kSeekError);
  return target;
}
}  // namespace

// ---- TStream --------------------------------------------------------------

std::int64_t TStream::Size() {
  std::int64_t position = Seek(0, soFromCurrent);
  std::int64_t size = Seek(0, soFromEnd);
  Seek(position, soFromBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError(kReadError);
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError(kWriteError);
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::int64_t total = count;
  std::vector<char> buffer(static_cast<size_t>(std::min<std::int64_t>(count, 1 << 16)));
  while (count > 0) {
    std::int64_t n = std::min<std::int64_t>(count, static_cast<std::int64_t>(buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    count -= n;
  }
  return total;
}

std::string TStream::ReadToEnd() {
  std::int64_t left = Size() - Position();
  std::string out;
  if (left > 0) {
    out.resize(static_cast<size_t>(left));
    out.resize(static_cast<size_t>(Read(out.data(), left)));
  }
  // Streams whose size is unknown (pipes, devices) are read until empty.
  char chunk[65536];
  for (std::int64_t n; (n = Read(chunk, sizeof chunk)) > 0;) out.append(chunk, static_cast<size_t>(n));
  return out;
}

// ---- TMemoryStream --------------------------------------------------------

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  std::int64_t left = Size() - position_;
  if (count <= 0 || left <= 0) return 0;
  std::int64_t n = std::min(count, left);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t end = position_ + count;
  if (end > Size()) data_.resize(static_cast<size_t>(end), '\0');
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, int origin) {
  position_ = Target(offset, origin, position_, Size());
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0) throw EStreamError(kSeekError);
  data_.resize(static_cast<size_t>(size), '\0');
}

std::int64_t TViewStream::Read(void* buffer, std::int64_t count) {
  const std::int64_t n = std::clamp<std::int64_t>(Size() - position_, 0, std::max<std::int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TViewStream::Write(const void*, std::int64_t) { throw EWriteError(kWriteError); }

std::int64_t TViewStream::Seek(std::int64_t offset, int origin) {
  position_ = Target(offset, origin, position_, Size());
  return position_;
}

void TViewStream::SetSize(std::int64_t) { throw EStreamError(kWriteError); }

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  data_ = stream.ReadToEnd();
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& file_name) {
  TFileStream file(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& stream) const {
  stream.WriteBuffer(data_.data(), static_cast<std::int64_t>(data_.size()));
}

void TMemoryStream::SaveToFile(const std::string& file_name) const {
  SaveFileSafely(file_name, data_);
}

// ---- TStringStream --------------------------------------------------------

TStringStream::TStringStream(std::string_view data) { data_.assign(data); }

std::string TStringStream::ReadString(std::int64_t count) {
  std::int64_t n = std::clamp<std::int64_t>(count, 0, std::max<std::int64_t>(0, Size() - position_));
  std::string out = data_.substr(static_cast<size_t>(position_), static_cast<size_t>(n));
  position_ += n;
  return out;
}

void TStringStream::WriteString(std::string_view s) {
  Write(s.data(), static_cast<std::int64_t>(s.size()));
}

// ---- TFileStream ----------------------------------------------------------

TFileStream::TFileStream(const std::string& file_name, unsigned mode) : file_name_(file_name) {
  int flags = O_CLOEXEC;
  bool read_only = false;
  if (mode == fmCreate) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    // A pipe or a device must never make the open (or a read) wait.
    flags |= O_NONBLOCK;
    switch (mode & 3) {
      case fmOpenWrite: flags |= O_WRONLY; break;
      case fmOpenReadWrite: flags |= O_RDWR; break;
      default: flags |= O_RDONLY; read_only = true; break;
    }
  }
  do {
    fd_ = ::open(file_name.c_str(), flags, 0666);
  } while (fd_ < 0 && errno == EINTR);
  const std::string shown = PathToText(file_name);
  std::string refused;
  if (fd_ >= 0) {
    struct stat st;
    if (::fstat(fd_, &st) != 0)
      refused = std::strerror(errno);
    else if (S_ISDIR(st.st_mode))
      refused = std::strerror(EISDIR);
    else if (!S_ISREG(st.st_mode) && read_only)
      refused = "\"" + shown + "\" is not a file";
    else if (!S_ISREG(st.st_mode))
      ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);  // a device written to on purpose
    if (!refused.empty()) {
      ::close(fd_);
      fd_ = -1;
    }
  } else {
    refused = std::strerror(errno);
  }
  if (fd_ < 0) {
    if (mode == fmCreate) throw EFCreateError("Cannot create file \"" + shown + "\". " + refused);
    throw EFOpenError("Cannot open file \"" + shown + "\". " + refused);
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  char* p = static_cast<char*>(buffer);
  while (done < count) {
    const std::int64_t n = os::ReadSome(fd_, p + done, static_cast<size_t>(std::min<std::int64_t>(count - done, 1 << 30)));
    // A failing read is no end of the file: what was read so far must not
    // pass for the whole.
    if (n < 0) throw EReadError("Cannot read file \"" + PathToText(file_name_) + "\". " + std::strerror(static_cast<int>(-n)));
    if (n == 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  const char* p = static_cast<const char*>(buffer);
  while (done < count) {
    ssize_t n = ::write(fd_, p + done, static_cast<size_t>(std::min<std::int64_t>(count - done, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, int origin) {
  int whence = origin == soFromBeginning ? SEEK_SET : origin == soFromCurrent ? SEEK_CUR : SEEK_END;
  if (origin < soFromBeginning || origin > soFromEnd) throw EStreamError(kSeekError);
  off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (result < 0) throw EStreamError(kSeekError);
  return result;
}

std::int64_t TFileStream::Size() {
  struct stat st;
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) return st.st_size;
  return TStream::Size();
}

void TFileStream::SetSize(std::int64_t size) {
  if (size < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0)
    throw EStreamError("Cannot resize file \"" + PathToText(file_name_) + "\". " + std::strerror(errno));
  if (Position() > size) SetPosition(size);
}

void TFileStream::Flush() {
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) throw EWriteError(kWriteError);
}

}  // namespace rtl
