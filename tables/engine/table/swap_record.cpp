#include "tables/engine/table/swap_record.h"

#include <filesystem>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "platform/runtime/crc32.h"
#include "platform/runtime/filelock.h"
#include "platform/runtime/os_files.h"
#include "tables/engine/errors/errors.h"

namespace korvex {
namespace {

const char kMagic[] = "QVSWAP 1";
// How long a record held by a live swap is waited for.
constexpr auto kLiveSwapWait = std::chrono::seconds(10);

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// A name relative to the record's folder when it lies there, else the
// absolute path.
std::string Stored(const std::string& folder, const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path full = fs::absolute(path, ec);
  if (ec) return path;
  full = full.lexically_normal();
  std::string here = fs::absolute(folder, ec).lexically_normal().string();
  while (here.size() > 1 && here.back() == '/') here.pop_back();
  if (!ec && full.parent_path().string() == here) return full.filename().string();
  return full.string();
}

std::string Resolved(const std::string& folder, const std::string& name) {
  return name.find('/') == std::string::npos ? folder + name : name;
}

std::string Encode(const std::string& folder, const TSwapPlan& plan) {
  std::string text = std::string(kMagic) + "\n" + std::to_string(plan.aside.size()) + " " +
                     std::to_string(plan.in.size()) + " " + (plan.delete_aside ? "1" : "0") + "\n";
  for (const auto* moves : {&plan.aside, &plan.in})
    for (const TFileMove& m : *moves) {
      const std::string from = Stored(folder, m.from), to = Stored(folder, m.to);
      for (const std::string* p : {&from, &to})
        if (p->find_first_of("\t\n") != std::string::npos) RaiseError(err::kInvalidFileName, *p);
      text += from + "\t" + to + "\n";
    }
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", rtl::Crc32(text.data(), text.size()));
  return text + "CRC " + crc + "\n";
}

// False for a record that fails its check.
bool Decode(const std::string& folder, const std::string& text, TSwapPlan& plan) {
  const std::size_t crc_at = text.rfind("CRC ");
  if (crc_at == std::string::npos || text.size() < crc_at + 13 || text[crc_at + 12] != '\n') return false;
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", rtl::Crc32(text.data(), crc_at));
  if (text.compare(crc_at + 4, 8, crc) != 0) return false;
  std::istringstream in(text.substr(0, crc_at));
  std::string line;
  std::size_t aside = 0, moved_in = 0;
  int delete_aside = 0;
  if (!std::getline(in, line) || line != kMagic || !std::getline(in, line)) return false;
  if (std::sscanf(line.c_str(), "%zu %zu %d", &aside, &moved_in, &delete_aside) != 3) return false;
  for (std::size_t i = 0; i < aside + moved_in; ++i) {
    if (!std::getline(in, line)) return false;
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) return false;
    TFileMove m{Resolved(folder, line.substr(0, tab)), Resolved(folder, line.substr(tab + 1))};
    (i < aside ? plan.aside : plan.in).push_back(m);
  }
  plan.delete_aside = delete_aside != 0;
  return true;
}

// Puts the moves of a dead swap right; false when a step failed (the
// record then stays).
bool PutRight(const std::string& table_base, const TSwapPlan& plan) {
  // A target still holding the old file (its aside move not made) is no
  // copy cut short.
  auto old_in_place = [&plan](const std::string& name) {
    for (const TFileMove& a : plan.aside)
      if (a.from == name) return !Exists(a.to);
    return false;
  };
  bool any_in_done = false, new_whole = true;
  for (const TFileMove& m : plan.in) {
    const bool from = Exists(m.from), to = Exists(m.to);
    if (from && to && !old_in_place(m.to) && rtl::DeleteLockedFile(m.to) < 0) return false;  // a copy cut short
    if (!from && to) any_in_done = true;
    if (!from && !to) new_whole = false;
  }
  bool ok = true;
  if (new_whole) {
    if (!any_in_done)
      for (const TFileMove& m : plan.aside)
        if (Exists(m.from)) ok = ok && rtl::RenameLockedFile(m.from, m.to) == 0;
    for (const TFileMove& m : plan.in)
      if (ok && Exists(m.from)) ok = rtl::RenameLockedFile(m.from, m.to) == 0;
    if (!ok) return false;
    // The old files' journal is no journal of the new ones.
    const int rc = rtl::DeleteLockedFile(table_base + ".JNL");
    if (rc < 0 && rc != -ENOENT) return false;
    if (plan.delete_aside)
      for (const TFileMove& m : plan.aside) {
        const int gone = rtl::DeleteLockedFile(m.to);
        if (gone < 0 && gone != -ENOENT) return false;
      }
    return true;
  }
  // Some new file is lost: the old set goes back, the new files in place go.
  for (const TFileMove& m : plan.in)
    if (!Exists(m.from) && Exists(m.to)) ok = ok && rtl::DeleteLockedFile(m.to) == 0;
  for (const TFileMove& m : plan.aside)
    if (ok && Exists(m.to) && !Exists(m.from)) ok = rtl::RenameLockedFile(m.to, m.from) == 0;
  return ok;
}

}  // namespace

TSwapRecord::TSwapRecord(const std::string& table_base, const TSwapPlan& plan) : path_(RecordName(table_base)) {
  const std::string folder = FolderOf(path_);
  const std::string text = Encode(folder, plan);
  int rc = rtl::TLockedFile::Create(path_, true, file_, 0600);
  if (rc == 0 && file_->WriteAt(0, text.data(), static_cast<std::int64_t>(text.size())) !=
                     static_cast<std::int64_t>(text.size()))
    rc = -ENOSPC;
  if (rc == 0) rc = file_->Sync();
  if (rc == 0) rc = rtl::os::SyncFolder(folder);
  if (rc != 0) {
    const bool made = file_ != nullptr;
    file_.reset();
    if (made) rtl::DeleteLockedFile(path_);
    RaiseError(err::kWriteError, path_);
  }
}

TSwapRecord::~TSwapRecord() = default;

void TSwapRecord::Finish() noexcept {
  const std::string folder = FolderOf(path_);
  rtl::os::SyncFolder(folder);
  file_.reset();
  rtl::DeleteLockedFile(path_);
  rtl::os::SyncFolder(folder);
}

void TSwapRecord::Abandon(bool undone) noexcept {
  file_.reset();
  if (undone) rtl::DeleteLockedFile(path_);
}

bool RecoverTableSwap(const std::string& table_base) {
  const std::string path = TSwapRecord::RecordName(table_base);
  if (!Exists(path)) return false;
  std::unique_ptr<rtl::TLockedFile> file;
  const auto give_up = std::chrono::steady_clock::now() + kLiveSwapWait;
  int rc;
  while ((rc = rtl::TLockedFile::Open(path, rtl::FileAccess::ReadWrite, rtl::FileShare::Exclusive, file)) == -EBUSY &&
         std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (rc < 0) return false;
  const std::int64_t size = file->Size();
  std::string text(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)), '\0');
  if (file->ReadAt(0, text.data(), size) != size) return false;
  const std::string folder = FolderOf(path);
  TSwapPlan plan;
  const bool sound = Decode(folder, text, plan);
  if (sound && !PutRight(table_base, plan)) return false;
  rtl::os::SyncFolder(folder);
  file.reset();
  rtl::DeleteLockedFile(path);
  rtl::os::SyncFolder(folder);
  return true;
}

void RecoverFolderSwaps(const std::string& folder) {
  std::error_code ec;
  std::vector<std::string> bases;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".SWP") == 0)
      bases.push_back(it->path().string().substr(0, it->path().string().size() - 4));
  }
  for (const std::string& base : bases) RecoverTableSwap(base);
}

}  // namespace korvex
