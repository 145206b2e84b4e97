// Body of the index-file fuzz target: an index file made from the input is
// opened beside a data file, its header checked and repaired without
// fixing, and each tree walked (count, first and last key, a search).
// Every failure must be an engine error: no crash, no hang, nothing else
// thrown.
//
// Input: u32 length L of the data file, L bytes of it, then the index file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/tables/table_files_fuzz.h"
#include "tables/engine/files/index_file.h"
#include "tables/engine/files/index_tree.h"

namespace korvex::fuzz {

inline void IndexFiles(const std::uint8_t* data, std::size_t size) {
  const std::string dat_name = "FUZZ/i.DAT", idx_name = "FUZZ/i.IDX";
  if (!PutFilePair(data, size, dat_name, idx_name)) return;
  {
    FuzzHost host;
    TDataFile dat(&host);
    if (OpenMemoryDataFile(dat, dat_name)) {
      TIndexFile idx(&host, dat.GetEncrypted());
      idx.SetFileName(idx_name);
      idx.SetInMemory(true);
      idx.SetFields(&dat.Fields());
      host.repairing = true;
      if (Engine([&] { idx.OpenForRepair(); })) {
        Engine([&] { idx.RepairHeader(nullptr, false); });
        host.repairing = false;
        if (Engine([&] { idx.CheckHeader(); })) {
          std::vector<std::uint8_t> slots;
          for (std::uint8_t s = 0; s <= idx.GetIndexCount(); ++s) slots.push_back(s);
          slots.push_back(kSystemSlot);
          for (std::uint8_t s : slots) {
            if (idx.GetIndexDefinition(s).KeySize == 0) continue;
            Engine([&] {
              const TKeyComparator compare =
                  s == kSystemSlot ? TKeyComparator()
                                   : TKeyComparator(dat.GetLanguageID(), dat.GetSortID(), idx.GetIndexDefinition(s),
                                                    dat.Fields());
              TIndexTree tree(idx, s, compare);
              const std::uint32_t count = tree.Count();
              std::vector<std::uint8_t> key;
              std::uint32_t record = 0;
              if (tree.KeyAt(1, key, record)) {
                bool found = false;
                tree.Find(key.data(), static_cast<std::uint16_t>(key.size()), found);
              }
              tree.KeyAt(count, key, record);
            });
          }
        }
      }
    }
  }
  FileList().DeleteFile(dat_name, true);
  FileList().DeleteFile(idx_name, true);
}

}  // namespace korvex::fuzz
