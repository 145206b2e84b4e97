// Body of the table-file fuzz target: a data file and a BLOB file made from
// the input are opened, checked, verified by repair without fixing, and
// read. Every failure must be an engine error: no crash, no hang, nothing
// else thrown.
//
// Input: u32 length L of the data file, L bytes of it, then the BLOB file.
// Both live in the in-memory file registry for the run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/runtime/coding.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/files/blob_buffer.h"
#include "tables/engine/files/blob_file.h"
#include "tables/engine/files/data_file.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/file_list.h"
#include "tables/lib/support.h"

namespace korvex::fuzz {

// A standalone table named "FUZZ" with a primary index.
struct FuzzHost : TStandaloneHost {
  FuzzHost() {
    name = "FUZZ";
    primary_index = true;
  }
};

inline void PutMemoryFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  TFileHandler file;
  file.SetFileName(name);
  file.SetInMemory(true);
  file.CreateFile();
  if (size) file.Write(data, static_cast<std::int64_t>(size));
  file.CloseFile();
}

// Runs `step`, taking an engine error as an answer.
template <class Step>
bool Engine(Step step) {
  try {
    step();
    return true;
  } catch (const EKORVEXEngineError&) {
    return false;
  }
}

// Splits an input into two in-memory files, a data file and the file beside
// it: the first four bytes give the data file's length. False when the input
// is too short to say.
inline bool PutFilePair(const std::uint8_t* data, std::size_t size, const std::string& dat_name,
                        const std::string& other_name) {
  static const bool started = (InitializeSupportFunctions(), true);
  (void)started;
  if (size < 4) return false;
  const std::size_t dat_size = std::min<std::size_t>(rtl::DecodeFixed32(data), size - 4);
  PutMemoryFile(dat_name, data + 4, dat_size);
  PutMemoryFile(other_name, data + 4 + dat_size, size - 4 - dat_size);
  return true;
}

// Opens the in-memory data file of such a pair; false on an engine error.
inline bool OpenMemoryDataFile(TDataFile& dat, const std::string& name) {
  dat.SetFileName(name);
  dat.SetInMemory(true);
  return Engine([&] { dat.OpenFile(); });
}

inline void TableFiles(const std::uint8_t* data, std::size_t size) {
  const std::string dat_name = "FUZZ/t.DAT", blb_name = "FUZZ/t.BLB";
  if (!PutFilePair(data, size, dat_name, blb_name)) return;
  {
    FuzzHost host;
    TDataFile dat(&host);
    if (OpenMemoryDataFile(dat, dat_name)) {
      Engine([&] { dat.CheckHeader(); });
      host.repairing = true;
      Engine([&] { dat.RepairHeader(nullptr, true); });
      host.repairing = false;
      const std::uint32_t records = std::min<std::uint32_t>(dat.GetPhysicalRecordsUsed(), 32);
      TBlobFile blob(&host, dat.GetEncrypted());
      blob.SetFileName(blb_name);
      blob.SetInMemory(true);
      const bool blobs = dat.GetBlobFieldCount() > 0 && Engine([&] {
                           blob.SetBlockSize(dat.GetBlobBlockSize());
                           blob.OpenFile();
                           blob.CheckHeader();
                         });
      for (std::uint32_t n = 1; n <= records; ++n) {
        std::vector<std::uint8_t> record;
        if (!Engine([&] {
              TRecord* r = nullptr;
              if (!dat.GetRecord(nullptr, n, true, false, 1, r)) return;
              record = r->Data;
              dat.PutRecord(r);
            }))
          continue;
        if (!blobs || record.empty() || record[0] != 0) continue;
        for (const TFieldDefinition& f : dat.Fields()) {
          if (f.DataType != dtBlob || std::size_t{f.Offset} + 9 > record.size()) continue;
          std::uint32_t ref = rtl::DecodeFixed32(record.data() + f.Offset + 1);
          const std::uint32_t sig = rtl::DecodeFixed32(record.data() + f.Offset + 5);
          host.repairing = true;
          Engine([&] { blob.RepairBlobBlocks(nullptr, true, ref, n, sig, false); });
          Engine([&] { blob.FreeBlobBlocks(nullptr, true, ref, n, sig, false); });
          host.repairing = false;
          Engine([&] {
            TBlobBuffer buffer(&blob, nullptr, n, f.FieldNumber, ref, sig, true);
            buffer.Open();
            buffer.Read();
          });
        }
      }
    }
  }
  FileList().DeleteFile(dat_name, true);
  FileList().DeleteFile(blb_name, true);
}

}  // namespace korvex::fuzz
