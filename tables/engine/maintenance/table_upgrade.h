// TTableUpgrade: converts a closed table written by an older version of the
// engine (table versions 0 to 3, "1.00" to "1.08") to version 4 ("2.00"),
// then repairs it (table_repair.h), which rebuilds every index and gives
// the old BLOB blocks their records' signatures.
//
// Old layouts read here and nowhere else (little-endian):
//   data header      the 127 bytes of data_header.h, version 0..3 at 8
//   field, v0-2      265 bytes: 0 u16 number; 2 name (length + 30); 33
//                    description (length + 50); 84 type; 85 sub type; 86
//                    size; 87 decimals; 88 u16 offset in the record; 90
//                    flag byte (required); 92 minimum, 143 maximum, 194
//                    default (each length + 50)
//   field, v3        the 768 bytes of version 4
//   records          record n at 127 + F*265 (v0-2) or 127 + F*768 (v3)
//                    + (n-1)*old record size: the 9-byte header, then each
//                    field at its old offset; a BLOB field takes 5 bytes
//                    (flag, reference) and has no signature
//   index, v0-2      2560 bytes: 0 u32 stamp; 13 u8 index count; from 14
//                    one 76-byte definition per index (primary first): 0
//                    name (length + 30); 31 u8 key size; 32 descending; 33
//                    case-insensitive; 34 unique; 35 key field count; 36
//                    16 u16 field numbers; 68 u32 root; 72 u32 free page
//   index, v3        the 4096-byte header of version 4
// Encrypted tables pass headers, definitions and records through the same
// cipher keys as version 4 (definitions as one stream of F*size bytes,
// taken mod 65536 as for files without the engine stamp).
//
// The files are held exclusively while they are read (a table in use is
// refused with 11013); the new data file and (v0-2) index file are written
// to temporary files in the private directory and swapped in only when
// complete: the old ones stay as ".DUP" and ".IUP" (earlier ones replaced).
// A failure before the swap leaves every file as it was and no temporary
// file behind. The old index pages are not carried over: the converted
// definitions start without pages and the repair builds them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace korvex {

struct TUpgradeRequest {
  std::string DataPath;   // the ".DAT" file (a memory name for in-memory tables)
  std::string TableName;  // for the log lines and errors
  bool InMemory = false;
  std::string PrivateDirectory;
  std::function<void(const std::string& line)> Log;
  std::function<void(const std::string& text, std::uint8_t percent)> Progress;
  // The repair's reports (a cursor passes them on to the two above).
  std::function<void(const std::string& line)> RepairLog;
  std::function<void(std::uint32_t step, std::uint8_t percent)> RepairProgress;
};

void UpgradeTable(const TUpgradeRequest& request);

}  // namespace korvex
