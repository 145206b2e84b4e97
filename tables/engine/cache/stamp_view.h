// TStampView: the first bytes of a table file (its update stamp) read
// without a system call, through the file's first page mapped read-only.
//
// Every read of a shared cursor begins by comparing the files' stamps with
// the ones it saw last. The mapping shows the system's cache of the file,
// so another process's write of the header is seen at once, as a read
// would see it. In-memory files, a file that cannot be mapped and a map
// whose page the file lost (cut short by another program) fall back to
// reading. The owner drops the view whenever it closes its file, so a view
// never outlives the file it was made for.
#pragma once

#include <cstdint>

namespace korvex {

class TFileHandler;

class TStampView {
public:
  TStampView() = default;
  ~TStampView() { Drop(); }
  TStampView(const TStampView&) = delete;
  TStampView& operator=(const TStampView&) = delete;

  // The file's first `count` bytes (at most 16) into `out`.
  void Read(TFileHandler& file, std::uint8_t* out, std::uint32_t count);
  void Drop();
  bool Mapped() const { return map_ != nullptr; }

private:
  const char* map_ = nullptr;
  bool failed_ = false;  // mapping was refused: read until dropped
};

// The index and BLOB files' headers begin with their stamp, enciphered
// with the pair of keys both use when the table is: whether `file` holds
// another stamp than `stamp`.
bool HeaderStampMoved(TStampView& view, TFileHandler& file, bool encrypted, std::uint32_t stamp);

}  // namespace korvex
