// TDataCursor: the entries of whole-table maintenance work.
#include "tables/engine/data_cursor.h"
#include "tables/engine/data_table.h"

namespace korvex {

void TDataCursor::SortRecordBuffers(const TRecordSortRequest& request) {
  CheckExclusive();
  RequireOpen();
  TIndexFile& index = table_->IndexFile();
  if (index.GetIndexCount() > 0 || !index.GetNoPrimaryIndex()) return;
  FreeAllBlobs(true);
  TRecordSortResult result = korvex::SortRecordBuffers(table_->DataFile(), request);
  index.SetActualRecordCount(result.Records);
  SetToBegin();
}

}  // namespace korvex
