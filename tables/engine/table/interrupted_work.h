// What maintenance killed half-way leaves for the next open of its table to
// finish: a swap record (swap_record.h) and the upgrade mark.
//
// The upgrade mark "<table>.UPG" is an empty file beside the data file,
// written and synced before an upgrade moves its first file and deleted
// once the upgrade's repair completed: while it is there the table is being
// upgraded, and its BLOB blocks may still lack their records' signatures.
// The upgrade registers the finisher that completes such a table (its
// adopting repair); the open of a marked table runs it first.
#pragma once

#include <string>

namespace korvex {

std::string UpgradeMarkName(const std::string& table_base);
// Raises 9218 when the mark cannot be made durable.
void WriteUpgradeMark(const std::string& table_base);
void DeleteUpgradeMark(const std::string& table_base) noexcept;

// Completes the upgrade of a marked table: its ".DAT" path and the
// private directory for the work.
using TUpgradeFinisher = void (*)(const std::string& data_path, const std::string& private_directory);
void SetUpgradeFinisher(TUpgradeFinisher finisher);

// Before a disk table's files are opened: a dead swap put right, then a
// marked upgrade finished (raising what the finisher raises; 12035 when no
// finisher is registered).
void FinishInterruptedWork(const std::string& data_path, const std::string& private_directory);

}  // namespace korvex
