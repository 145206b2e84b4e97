#include "tables/engine/cache/scratch_file.h"

#include "tables/engine/errors/errors.h"
#include "tables/lib/names.h"

namespace korvex {

TScratchFile::TScratchFile(const std::string& directory, const std::string& extension, bool in_memory) {
  std::string dir = directory.empty() && !in_memory ? GetTempFilePath() : directory;
  std::string name = GetTempFileName(dir, extension, in_memory);
  if (name.empty()) RaiseError(err::kWriteError, dir);
  file_.SetFileName(name);
  file_.SetInMemory(in_memory);
  file_.SetExclusive(true);
  try {
    file_.CreateFile();
  } catch (...) {
    Discard();
    throw;
  }
}

TScratchFile::~TScratchFile() {
  if (keep_) {
    try {
      file_.CloseFile();
    } catch (...) {
    }
    return;
  }
  Discard();
}

void TScratchFile::Discard() {
  try {
    file_.CloseFile();
  } catch (...) {
  }
  try {
    file_.DeleteFile();
  } catch (...) {
  }
  keep_ = true;  // nothing left to do
}

}  // namespace korvex
