// The record sort: rewrites a data file's records in the order of a list of
// sort fields, renumbered 1, 2, 3, ..., optionally dropping records whose
// sort values repeat the record before them (DISTINCT) or folding every group
// of records with equal sort values into one through the caller's callbacks
// (GROUP BY with aggregates and HAVING). The SQL layer orders and condenses
// its result tables with it; the cursor offers it on exclusive tables
// without indexes.
//
// Keys are those of TSortKeys (index_key.h): the sort values, then the
// record ID, so the order is total and equal values keep the order of
// their record IDs. Deleted records take no part: afterwards the free chain
// is empty and the file ends after the last record written.
//
// Two paths, the same result:
// - every record cached: sorted in memory and written back in one write;
// - otherwise external: runs of at most R records (R = min(8191,
//   2097120 div RecordSize)) are sorted and spilled to ".TMP" files in the
//   session's private directory, then merged (a heap of run heads) into one
//   more ".TMP" file that replaces the records only once it is complete.
// Run and output files hold records exactly as the data file does
// (enciphered when the table is); callbacks always see plain records.
//
// A failure (or an exception from a callback) before the write-back leaves
// the data file as it was; the temporary files are deleted whatever
// happens.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "tables/engine/files/index_key.h"

namespace korvex {

class TDataFile;

inline constexpr std::size_t kMaxSortFields = 1024;

struct TRecordSortRequest {
  // (first, record, group record): `first` starts a group whose record is
  // `group record` (then the same as `record`); otherwise `record` is folded
  // into the group's record. The answers of Group and Average are ignored;
  // Having answering false drops the group. Empty callbacks are off.
  using Callback = std::function<bool(bool first, std::uint8_t* record, std::uint8_t* group_record)>;

  std::vector<TSortField> Fields;  // most significant first
  bool CaseInsensitive = false;
  bool RemoveDuplicates = false;   // wins over grouping when both are set
  bool GroupRecords = false;
  Callback Group, Average, Having;
  // Called after each run of the external sort is spilled (1-based); an
  // exception from it ends the sort with the table unchanged (cancel).
  std::function<void(std::uint32_t run)> RunWritten;
  // Records per run; 0 means R. Tests shrink it.
  std::uint32_t RunCapacity = 0;
};

struct TRecordSortResult {
  std::uint32_t Records = 0;  // records written back
  std::uint32_t Runs = 0;     // 0: sorted in memory
};

// 9492 for more than 1024 sort fields or a key longer than 65535 bytes,
// before anything is touched.
TRecordSortResult SortRecordBuffers(TDataFile& file, const TRecordSortRequest& request);

}  // namespace korvex
