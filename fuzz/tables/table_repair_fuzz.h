// Body of the table repair fuzz target: a table made from the input is
// verified, repaired and repaired again. Every failure must be an engine
// error: no crash, no hang, nothing else thrown; a repair that completes
// leaves nothing for a second repair to report.
//
// Input: u32 length of the data file, u32 length of the index file
// (0xFFFFFFFF: no index file), the data file, the index file, then the BLOB
// file. The files live in the in-memory file registry for the run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/runtime/coding.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/maintenance/table_repair.h"
#include "tables/lib/file_handler.h"
#include "tables/lib/file_list.h"
#include "tables/lib/support.h"

namespace korvex::fuzz {

inline const char* const kRepairFiles[] = {"FUZZR/t.DAT", "FUZZR/t.IDX", "FUZZR/t.BLB"};

// The repaired files, or empty strings for files that are not there.
struct RepairOutcome {
  bool repaired = false;
  std::string files[3];
};

inline std::vector<std::string> RunRepair(bool verify_only) {
  std::vector<std::string> lines;
  TRepairRequest request;
  request.DataPath = kRepairFiles[0];
  request.TableName = "t.DAT";
  request.InMemory = true;
  request.VerifyOnly = verify_only;
  request.Log = [&](const std::string& line) { lines.push_back(line); };
  try {
    TTableRepair(std::move(request)).Run();
  } catch (const EKORVEXEngineError&) {
    lines.assign(1, "raised");
  }
  return lines;
}

inline RepairOutcome TableRepair(const std::uint8_t* data, std::size_t size) {
  static const bool started = (InitializeSupportFunctions(), true);
  (void)started;
  RepairOutcome outcome;
  if (size < 8) return outcome;
  const std::size_t dat = std::min<std::size_t>(rtl::DecodeFixed32(data), size - 8);
  const std::uint32_t idx_field = rtl::DecodeFixed32(data + 4);
  const bool has_idx = idx_field != 0xFFFFFFFFu;
  const std::size_t idx = has_idx ? std::min<std::size_t>(idx_field, size - 8 - dat) : 0;
  const std::uint8_t* parts[] = {data + 8, data + 8 + dat, data + 8 + dat + idx};
  const std::size_t sizes[] = {dat, idx, size - 8 - dat - idx};
  for (int i = 0; i < 3; ++i) {
    if (i == 1 && !has_idx) continue;
    TFileHandler file;
    file.SetFileName(kRepairFiles[i]);
    file.SetInMemory(true);
    file.CreateFile();
    if (sizes[i]) file.Write(parts[i], static_cast<std::int64_t>(sizes[i]));
    file.CloseFile();
  }
  RunRepair(true);
  std::vector<std::string> repaired = RunRepair(false);
  outcome.repaired = repaired.size() >= 2 && repaired.back().find(" completed at ") != std::string::npos;
  if (outcome.repaired) {
    std::vector<std::string> again = RunRepair(false);
    QV_FUZZ_CHECK(again.size() == 2);
    RunRepair(true);
  }
  for (int i = 0; i < 3; ++i) {
    if (!FileList().FileExists(kRepairFiles[i], true)) continue;
    TFileHandler file;
    file.SetFileName(kRepairFiles[i]);
    file.SetInMemory(true);
    file.OpenFile();
    outcome.files[i].resize(static_cast<std::size_t>(file.GetSize()));
    if (!outcome.files[i].empty()) file.Read(outcome.files[i].data(), static_cast<std::int64_t>(outcome.files[i].size()));
    file.CloseFile();
    FileList().DeleteFile(kRepairFiles[i], true);
  }
  return outcome;
}

}  // namespace korvex::fuzz
