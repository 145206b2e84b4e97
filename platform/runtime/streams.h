// Byte streams: TStream (abstract), TMemoryStream, TStringStream and
// TFileStream. Read and Write transfer what they can and return the count;
// ReadBuffer and WriteBuffer raise EReadError / EWriteError when less than
// asked was transferred.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/classes.h"

namespace rtl {

enum TSeekOrigin : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream : public TObject {
public:
  std::string ClassName() const override { return "TStream"; }

  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // The new position; a position before the start raises EStreamError.
  virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;

  std::int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soFromBeginning); }
  virtual std::int64_t Size();
  virtual void SetSize(std::int64_t size) = 0;

  // EReadError "Stream read error" / EWriteError "Stream write error".
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies count bytes from source's position; count 0 copies the whole
  // source from its start. Returns the bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
  // Everything from the position to the end.
  std::string ReadToEnd();
};

class TMemoryStream : public TStream {
public:
  std::string ClassName() const override { return "TMemoryStream"; }

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  // Growing fills with zero bytes; the position is kept.
  void SetSize(std::int64_t size) override;

  char* Memory() { return data_.data(); }
  const char* Memory() const { return data_.data(); }
  void Clear();
  // Replaces the contents with the whole of stream (or file); position 0.
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& file_name);
  void SaveToStream(TStream& stream) const;
  // Written safely: a failure leaves any previous file as it was.
  void SaveToFile(const std::string& file_name) const;

protected:
  std::string data_;
  std::int64_t position_ = 0;
};

// A memory stream over a string.
class TStringStream : public TMemoryStream {
public:
  explicit TStringStream(std::string_view data = {});
  std::string ClassName() const override { return "TStringStream"; }
  const std::string& DataString() const { return data_; }
  // Up to count bytes from the position.
  std::string ReadString(std::int64_t count);
  void WriteString(std::string_view s);
};

// A read-only stream over bytes that stay with the caller, so that reading
// them through a stream copies nothing. Writing and resizing throw.
class TViewStream : public TStream {
public:
  explicit TViewStream(std::string_view data) : data_(data) {}
  std::string ClassName() const override { return "TViewStream"; }
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;
  std::string_view View() const { return data_; }

private:
  std::string_view data_;
  std::int64_t position_ = 0;
};

// Modes of TFileStream: one access mode, optionally or-ed with a share
// mode, or fmCreate (create or truncate, read and write).
enum : unsigned {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFFFF,
};

// A stream over a file. The share bits are accepted and not enforced
// (Linux has no mandatory sharing modes). Files are opened without waiting
// (a pipe never blocks the open); opened for reading only, anything but a
// plain file is refused ('Cannot open file "<name>". "<name>" is not a
// file'). A failing read raises EReadError instead of ending the data.
class TFileStream : public TStream {
public:
  // EFOpenError 'Cannot open file "<name>". <reason>' or, with fmCreate,
  // EFCreateError 'Cannot create file "<name>". <reason>'.
  TFileStream(const std::string& file_name, unsigned mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::string ClassName() const override { return "TFileStream"; }

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override;
  // EStreamError when the file cannot be resized.
  void SetSize(std::int64_t size) override;

  const std::string& FileName() const { return file_name_; }
  int Handle() const { return fd_; }
  // Writes the file's data to the device; EWriteError on failure.
  void Flush();

private:
  std::string file_name_;
  int fd_ = -1;
};

}  // namespace rtl
