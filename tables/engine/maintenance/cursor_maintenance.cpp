// TDataCursor's whole-table work, passed on to the maintenance classes:
// the record sort, verification and repair, upgrade, copy, optimize and
// restructure. The cursor layer declares these; their work lives here, on
// the cursor's public interface.
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/maintenance/record_sort.h"
#include "tables/engine/maintenance/table_copy.h"
#include "tables/engine/maintenance/table_repair.h"
#include "tables/engine/maintenance/table_restructure.h"
#include "tables/engine/maintenance/table_upgrade.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

namespace {

// The closed table's files as the repair and the upgrade open them.
template <class Request>
void DescribeTableFiles(const TDataCursor& cursor, Request& request) {
  TDataDirectory* directory = cursor.Directory();
  const std::string& name = cursor.GetTableName();
  const bool memory = cursor.GetInMemory() || directory->IsMemory();
  request.DataPath = memory ? name : directory->TableFileName(name);
  request.TableName = name;
  request.InMemory = memory;
  request.PrivateDirectory = directory->Session()->GetPrivateDirectory();
}

TRecordSortResult SortTableRecords(TDataCursor& cursor, const TRecordSortRequest& request) {
  cursor.CheckExclusive();
  if (!cursor.IsOpen()) RaiseError(err::kNoCurrentRecord, cursor.GetTableName());
  TIndexFile& index = cursor.Table()->IndexFile();
  if (index.GetIndexCount() > 0 || !index.GetNoPrimaryIndex()) return {};
  cursor.FreeAllBlobs(true);
  TRecordSortResult result = SortRecordBuffers(cursor.Table()->DataFile(), request);
  index.SetActualRecordCount(result.Records);
  // The records moved: the deleted-records index follows them.
  cursor.RebuildSystemIndex();
  cursor.SetToBegin();
  return result;
}

void RepairTableOf(TDataCursor& cursor, bool verify_only, bool adopt_blob_signatures) {
  cursor.CheckNotOpen();
  cursor.CheckExclusive();
  if (!verify_only) cursor.CheckNotReadOnly();
  TDataHeader header;
  cursor.GetDataHeader(header);  // the password of an encrypted table
  TRepairRequest request;
  DescribeTableFiles(cursor, request);
  request.VerifyOnly = verify_only;
  request.AdoptBlobSignatures = adopt_blob_signatures;
  request.Log = [&cursor](const std::string& line) { cursor.DoRepairLog(line); };
  request.Progress = [&cursor](std::uint32_t step, std::uint8_t percent) { cursor.DoRepairProgress(step, percent); };
  TTableRepair(std::move(request)).Run();
}

// The repair that ends an upgrade reports through the upgrade's callbacks.
void UpgradeTableOf(TDataCursor& cursor) {
  cursor.CheckNotOpen();
  TDataHeader header;
  cursor.GetDataHeader(header);  // the password of an encrypted table
  TUpgradeRequest request;
  DescribeTableFiles(cursor, request);
  request.Log = [&cursor](const std::string& line) { cursor.DoUpgradeLog(line); };
  request.Progress = [&cursor](const std::string& text, std::uint8_t percent) {
    cursor.DoUpgradeProgress(text, percent);
  };
  request.RepairLog = [&cursor](const std::string& line) { cursor.DoUpgradeLog(line); };
  request.RepairProgress = [&cursor](std::uint32_t, std::uint8_t percent) {
    cursor.DoUpgradeProgress("Repairing table " + cursor.GetTableName(), percent);
  };
  UpgradeTable(request);
}

}  // namespace

TRecordSortResult TDataCursor::SortRecordBuffers(const TRecordSortRequest& request) {
  return SortTableRecords(*this, request);
}

void TDataCursor::RepairTable(bool verify_only, bool adopt_blob_signatures) {
  RaisingOutOfMemory(GetTableName(), [&] { RepairTableOf(*this, verify_only, adopt_blob_signatures); });
}

void TDataCursor::UpgradeTable() {
  RaisingOutOfMemory(GetTableName(), [&] { UpgradeTableOf(*this); });
}

void TDataCursor::CopyTable(const std::string& new_name, bool copy_indexes) {
  RaisingOutOfMemory(GetTableName(), [&] { TTableCopy(*this, new_name, copy_indexes).Run(); });
}

void TDataCursor::OptimizeTable(const std::string& index_name, bool no_backup) {
  RaisingOutOfMemory(GetTableName(), [&] { korvex::OptimizeTable(*this, index_name, no_backup); });
}

void TDataCursor::RestructureTable(const TRestructureRequest& request) {
  RaisingOutOfMemory(GetTableName(), [&] { TTableRestructure(*this, request).Run(); });
}

void TDataCursor::ResetFieldNumbers() { RenumberFieldsByPosition(*this); }

}  // namespace korvex
