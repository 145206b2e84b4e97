#include "tables/engine/table/work_claim.h"

#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/runtime/filelock.h"
#include "tables/engine/table/swap_record.h"

namespace korvex {
namespace {

constexpr const char* kClaim = ".WRK";
// The data file last: while it is there no new work takes the stem.
constexpr const char* kWorkFiles[] = {".JNL", ".IDX", ".BLB", ".DAT"};

}  // namespace

TWorkClaim::TWorkClaim(const std::string& stem) : path_(stem + kClaim) {
  int rc = rtl::TLockedFile::Create(path_, true, file_, 0600);
  // A dead process's claim of the same stem is taken over.
  if (rc == -EEXIST) rc = rtl::TLockedFile::Open(path_, rtl::FileAccess::ReadWrite, rtl::FileShare::Exclusive, file_);
  if (rc < 0) file_.reset();
}

void TWorkClaim::Note(const std::string& table_base) noexcept {
  if (file_ == nullptr) return;
  file_->WriteAt(0, table_base.data(), static_cast<std::int64_t>(table_base.size()));
}

TWorkClaim::~TWorkClaim() {
  if (file_ == nullptr) return;
  file_.reset();
  rtl::DeleteLockedFile(path_);
}

int RemoveDeadWorkFiles(const std::string& folder) {
  std::error_code ec;
  std::vector<std::string> stems;
  for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string path = it->path().string();
    if (it->path().extension() == kClaim) stems.push_back(path.substr(0, path.size() - 4));
  }
  int removed = 0;
  for (const std::string& stem : stems) {
    std::unique_ptr<rtl::TLockedFile> claim;
    // Held by a live process (or gone meanwhile): its files stay.
    if (rtl::TLockedFile::Open(stem + kClaim, rtl::FileAccess::ReadWrite, rtl::FileShare::Exclusive, claim) < 0)
      continue;
    const std::int64_t size = claim->Size();
    if (size > 0 && size < 4096) {
      std::string table_base(static_cast<std::size_t>(size), '\0');
      if (claim->ReadAt(0, table_base.data(), size) == size) RecoverTableSwap(table_base);
    }
    bool all = true;
    for (const char* ext : kWorkFiles) {
      const int rc = rtl::DeleteLockedFile(stem + ext);
      if (rc == 0) ++removed;
      if (rc < 0 && rc != -ENOENT) all = false;
    }
    claim.reset();
    if (all) rtl::DeleteLockedFile(stem + kClaim);
  }
  return removed;
}

}  // namespace korvex
