// TDataCursor: the record sort and the verification and repair of tables.
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/maintenance/record_sort.h"
#include "tables/engine/maintenance/table_repair.h"
#include "tables/engine/maintenance/table_upgrade.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/names.h"

namespace korvex {

template <class Request>
void TDataCursor::DescribeTableFiles(Request& request) const {
  const bool memory = in_memory_ || directory_->IsMemory();
  request.DataPath = memory ? name_ : directory_->TableFileName(name_);
  request.TableName = name_;
  request.InMemory = memory;
  request.PrivateDirectory = directory_->Session()->GetPrivateDirectory();
}

TRecordSortResult TDataCursor::SortRecordBuffers(const TRecordSortRequest& request) {
  CheckExclusive();
  RequireOpen();
  TIndexFile& index = table_->IndexFile();
  if (index.GetIndexCount() > 0 || !index.GetNoPrimaryIndex()) return {};
  FreeAllBlobs(true);
  TRecordSortResult result = korvex::SortRecordBuffers(table_->DataFile(), request);
  index.SetActualRecordCount(result.Records);
  // The records moved: the deleted-records index follows them.
  RebuildSystemIndex();
  SetToBegin();
  return result;
}

void TDataCursor::RepairTable(bool verify_only, bool adopt_blob_signatures) {
  CheckNotOpen();
  CheckExclusive();
  if (!verify_only) CheckNotReadOnly();
  TDataHeader header;
  GetDataHeader(header);  // the password of an encrypted table
  TRepairRequest request;
  DescribeTableFiles(request);
  request.VerifyOnly = verify_only;
  request.AdoptBlobSignatures = adopt_blob_signatures;
  request.Log = [this](const std::string& line) { DoRepairLog(line); };
  request.Progress = [this](std::uint32_t step, std::uint8_t percent) { DoRepairProgress(step, percent); };
  TTableRepair(std::move(request)).Run();
}

bool TDataCursor::RepairProgressBridge(std::uint32_t step, std::uint8_t percent) {
  (void)step;
  DoUpgradeProgress("Repairing table " + name_, percent);
  return true;
}

bool TDataCursor::RepairLogBridge(const std::string& line) {
  DoUpgradeLog(line);
  return true;
}

void TDataCursor::UpgradeTable() {
  CheckNotOpen();
  TDataHeader header;
  GetDataHeader(header);  // the password of an encrypted table
  TUpgradeRequest request;
  DescribeTableFiles(request);
  request.Log = [this](const std::string& line) { DoUpgradeLog(line); };
  request.Progress = [this](const std::string& text, std::uint8_t percent) { DoUpgradeProgress(text, percent); };
  request.RepairLog = [this](const std::string& line) { RepairLogBridge(line); };
  request.RepairProgress = [this](std::uint32_t step, std::uint8_t percent) { RepairProgressBridge(step, percent); };
  korvex::UpgradeTable(request);
}

}  // namespace korvex
