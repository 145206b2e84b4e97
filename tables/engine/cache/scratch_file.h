// TScratchFile: a private temporary file of the engine's maintenance work
// (sort runs, merge output, rewritten tables), named by GetTempFileName in a
// given directory and deleted when the object goes, also after a failure.
// Closing and deleting never raise.
#pragma once

#include <string>

#include "tables/lib/file_handler.h"

namespace korvex {

class TScratchFile {
public:
  // Reserves a name in `directory` (the system's temporary folder when
  // empty) with `extension`, and creates the file exclusively; the error of
  // the file layer when it cannot be made.
  TScratchFile(const std::string& directory, const std::string& extension, bool in_memory);
  ~TScratchFile();
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;

  TFileHandler& File() { return file_; }
  const std::string& Name() const { return file_.FileName(); }
  // Keeps the file: it is no longer deleted at the end (after a rename).
  void Release() { keep_ = true; }
  // Closes and deletes now; errors are swallowed.
  void Discard();

private:
  TFileHandler file_;
  bool keep_ = false;
};

}  // namespace korvex
