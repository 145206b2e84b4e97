#include "tables/engine/table/interrupted_work.h"

#include <filesystem>

#include <memory>

#include "platform/runtime/filelock.h"
#include "platform/runtime/files.h"
#include "platform/runtime/os_files.h"
#include "tables/engine/errors/errors.h"
#include "tables/engine/table/swap_record.h"

namespace korvex {
namespace {

TUpgradeFinisher& Finisher() {
  static TUpgradeFinisher finisher = nullptr;
  return finisher;
}

std::string Base(const std::string& data_path) {
  return data_path.size() > 4 ? data_path.substr(0, data_path.size() - 4) : data_path;
}

// The path of an existing file, found ignoring the case of its name; ""
// when there is none.
std::string Found(const std::string& path) { return rtl::FindFileIgnoringCase(path); }

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

}  // namespace

std::string UpgradeMarkName(const std::string& table_base) { return table_base + ".UPG"; }

void WriteUpgradeMark(const std::string& table_base) {
  const std::string path = UpgradeMarkName(table_base);
  std::unique_ptr<rtl::TLockedFile> file;
  int rc = rtl::TLockedFile::Create(path, false, file, 0600);
  if (rc == 0) rc = file->Sync();
  file.reset();
  if (rc == 0) rc = rtl::os::SyncFolder(rtl::ExtractFileDir(path));
  if (rc != 0) {
    rtl::DeleteLockedFile(path);
    RaiseError(err::kWriteError, path);
  }
}

void DeleteUpgradeMark(const std::string& table_base) noexcept {
  const std::string path = UpgradeMarkName(table_base);
  if (rtl::DeleteLockedFile(path) == 0) rtl::os::SyncFolder(rtl::ExtractFileDir(path));
}

void SetUpgradeFinisher(TUpgradeFinisher finisher) { Finisher() = finisher; }

void FinishInterruptedWork(const std::string& data_path, const std::string& private_directory) {
  // Names as the files have them (a table opened as "mt" may be "MT.DAT");
  // with the data file moved aside the record is looked for by the name.
  std::string dat = Found(data_path);
  std::string base = Base(dat.empty() ? data_path : dat);
  std::string record = TSwapRecord::RecordName(base);
  if (!Exists(record) && dat.empty()) record = Found(record);
  if (!record.empty() && Exists(record)) {
    RecoverTableSwap(record.substr(0, record.size() - 4));
    dat = Found(data_path);
    base = Base(dat.empty() ? data_path : dat);
  }
  if (dat.empty() || !Exists(UpgradeMarkName(base))) return;
  if (Finisher() == nullptr) RaiseError(err::kWrongVersion, data_path);
  Finisher()(dat, private_directory);
}

}  // namespace korvex
