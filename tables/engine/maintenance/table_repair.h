// TTableRepair: verification and repair of a closed table, working on the
// table's three files directly under exclusive opens (a table open
// anywhere, in this process or another, is refused with 11013).
//
// The pass: the header checks of the data, index and BLOB files (each
// finding a log line); then every physical record in order: record IDs,
// BLOB references and chains; when repairing, every index is rebuilt from
// the live records (of two records with one key of a unique index the one
// whose fields a write could have left is kept, else the first; the other
// is deleted, with its BLOBs), every deleted record goes on a new free
// chain with its BLOB blocks freed, and the header counters follow the
// records.
//
// Damaged files: an index or BLOB file that is missing or shorter than its
// header is made anew (the index definitions are lost; BLOB references
// that lead nowhere are cleared), and put back as it was should the repair
// fail; an index file whose header holds neither this version nor the
// system index (another table's, or one deciphered with the wrong key) is
// reported in one line and emptied of its definitions; every header fault
// that makes open refuse the table is reported, by a line of its own or
// "Invalid <file> header"; a data file cut inside its field
// definitions, past the last one's values, gets them written whole and no
// records; one cut before that, or inside its header, raises 8961 with the
// table's name and changes nothing.
//
// Verification writes nothing at all: no record, header, counter or
// journal. It reports a hot journal (a writer died inside a flush) instead
// of playing it back, and walks the free chain read-only with cycle
// detection. It also checks the index file's length against its header
// and each tree against the records: its key count (live records; every
// physical record for the system index) and each key against the record it
// names; a tree it cannot read is reported, not raised. A repair rebuilds
// the trees instead, and plays a hot journal back before it reads anything;
// for each tree a verification would have reported it logs "Index <name>
// rebuilt from the records, error fixed".
//
// Log lines, in order: "Repair of table " / "Verification of table " +
// name + " started at " + time; the findings; the same head + " completed
// at " + time. Times use language 0's fixed formats ("yyyy-mm-dd
// hh:nn:ss"), so logs differ only there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tables/engine/cache/table_host.h"
#include "tables/engine/files/blob_file.h"
#include "tables/engine/files/data_file.h"
#include "tables/engine/files/index_file.h"
#include "tables/engine/files/index_key.h"

namespace korvex {

struct TRepairRequest {
  std::string DataPath;     // the ".DAT" file (a memory name for in-memory tables)
  std::string TableName;    // for the log lines and errors
  bool InMemory = false;
  bool VerifyOnly = false;
  // A BLOB block whose signature differs from its record's takes the
  // record's, silently (the upgrade's old blocks carry none).
  bool AdoptBlobSignatures = false;
  std::string PrivateDirectory;
  std::function<void(const std::string& line)> Log;
  std::function<void(std::uint32_t step, std::uint8_t percent)> Progress;
};

class TTableRepair {
public:
  explicit TTableRepair(TRepairRequest request);
  ~TTableRepair();
  void Run();

  // "yyyy-mm-dd hh:nn:ss" of the current time.
  static std::string TimeText();

private:
  // The checks and, when repairing, the writes, from the first log line on.
  void Pass(const std::string& head);
  TTableHost* Host() { return &host_; }
  void Log(const std::string& line) const;
  // Findings made while the files are opened, logged after the first line.
  void Pending(const std::string& line) { pending_.push_back(line); }
  std::string Fixed() const { return request_.VerifyOnly ? "error not fixed" : "error fixed"; }
  std::string Sibling(const char* extension) const;
  // The log's first and last lines round PassOnFiles: "... completed at",
  // or "... failed at" with the error when it raises.
  void RunOnFiles();
  // The pass, under the repair's journal unless it only verifies.
  void PassOnFiles(const std::string& head);
  // The file named for an exclusive open by the repair.
  void Prepare(TFileHandler& file, const std::string& name) const;
  // A hot journal: played back when repairing, else reported.
  void CheckJournal();
  void OpenFiles();
  // A file cut inside its header is mended as a missing one: made anew
  // (an index file without its definitions, a BLOB file without blocks).
  // "" when the file is there whole, else what is wrong with it. A repair
  // notes what it replaces, to put it back should it fail.
  std::string Unusable(TFileHandler& file, std::int64_t header, const char* what);
  void CloseFiles();
  // The files a failed repair had replaced, as they were.
  void PutBackReplaced();
  void RepairHeaders();
  void CheckFreeChain(std::uint32_t first_free);
  void CheckIndexPointers();
  // Indexes past the header's index count that still own pages.
  void CheckIndexCount();
  // The highest record ID of all records, read before anything changes.
  std::uint32_t HighestRecordID();
  void RecordPass();
  void CheckBlobFields(TRecord* record, std::uint32_t n, bool free_chains);
  void FreeBlobs(TRecord* record, std::uint32_t n);
  // Adds the live record's keys to every index; false (nothing added) when
  // a unique index already holds one of them for a record that passes the
  // field checks as well as this one does. A holder that fails them where
  // this record passes is taken out of the table instead (damage turned its
  // key into this one's), and logged.
  bool AddIndexKeys(TRecord* record, std::uint32_t n);
  // Whether every stored field is as a write leaves it: a null flag of 0
  // or 1, a null field all zeros, a string ended and zero after its end,
  // a boolean 0 or 1.
  bool FieldsSound(const TRecord* record) const;
  // Takes live record n, already keyed, out of the table: its keys, its
  // BLOBs, onto the free chain.
  void DropKeyedRecord(std::uint32_t n);
  void AddSystemKey(TRecord* record, std::uint32_t n);
  // Verification: the index file's length against its header, and every
  // tree against the records: its key count, and each key against the
  // record it names (in order, live for a table index, built from it).
  void VerifyIndexes();
  // True when the tree of the slot has a finding (each logged).
  bool VerifyIndex(std::uint8_t slot);
  // Whether the record length and every field's offset are the layout the
  // definitions give.
  bool LayoutSound() const;
  // Whether the header promises no more records than the file holds, in
  // that layout.
  bool RecordsReadable();
  // A repair's look at the trees before it rebuilds them: the slots a
  // verification would report, found without a line logged.
  std::vector<std::uint8_t> FaultyIndexes();
  void Finish();

  TRepairRequest request_;
  TStandaloneHost host_;  // the repair's own, exclusive view of the files
  std::unique_ptr<TDataFile> data_;
  std::unique_ptr<TIndexFile> index_;
  std::unique_ptr<TBlobFile> blob_;
  bool has_blobs_ = false;
  bool index_missing_ = false;
  bool index_foreign_ = false;  // its header was written for another table
  struct TReplaced {
    std::string path;
    bool existed;       // else the repair made it
    std::string bytes;  // of a file shorter than its header
  };
  std::vector<TReplaced> replaced_;
  mutable std::size_t logged_ = 0;  // lines logged so far
  std::uint32_t counted_ = 0, highest_id_ = 0, next_id_ = 0, free_head_ = 0;
  std::uint32_t last_id_before_ = 0;
  // The BLOB references a deleted record keeps may name blocks freed long
  // ago: walking them to free what is left is no finding.
  bool quiet_ = false;
  bool started_ = false;  // the log's first line is out
  std::vector<std::string> pending_;
  std::vector<std::uint8_t> slots_;  // the indexes to rebuild
  std::vector<std::uint8_t> faulty_;  // of those, the ones found faulty first
  std::vector<TKeyComparator> comparators_;
  TKeyComparator system_order_;
};

}  // namespace korvex
