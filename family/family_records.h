// Record access of the family code: append an empty family or person, read
// one by its number into the buffers, write one back. Lookups by number are
// searches of the tables' primary index.
//
// Each append is stored at once and answers the number the stored record
// got (never "the last record's number": another process may have appended
// since). Reads that find nothing tell the user ("Could not locate
// Family #12") and leave the buffers as they were; number 0 is quietly
// nobody.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "family/family_tables.h"
#include "platform/dataset/dataset.h"

namespace family {

inline constexpr char kNoFamilyText[] = "Could not locate Family #";
inline constexpr char kNoPersonText[] = "Could not locate Individual #";
// Followed by the given names and surname kept of a name longer than the
// columns of the individuals table.
inline constexpr char kNameCutText[] = "Name too long for the table, kept: ";

// Fields of a table found by name once, kept while the table keeps them:
// a field list made anew (the table closed and opened again) is searched
// again. Slot k stands for names[k].
class TFieldSlots {
public:
  explicit TFieldSlots(const std::vector<std::string>& names) : names_(names), slots_(names.size()) {}
  // The field of slot k; raises as FieldByName does when there is none.
  db::TField* Get(const db::TDataSet& table, std::size_t k);

private:
  struct Slot {
    db::TField* field = nullptr;
    int index = -1;
  };
  const std::vector<std::string>& names_;
  std::vector<Slot> slots_;
};

class TFamilyRecords {
public:
  using MessageSink = std::function<void(const std::string&)>;
  TFamilyRecords(korvex::TKORVEXTable& families, korvex::TKORVEXTable& individuals, MessageSink show_message);

  korvex::TKORVEXTable& Families() { return families_; }
  korvex::TKORVEXTable& Individuals() { return individuals_; }
  void ShowMessage(const std::string& text) const { show_message_(text); }

  // Opens whichever table is closed, making a missing one first.
  void OpenTables();
  // Posts a pending record of either table; both then browse.
  void PostPending();
  // Drops a pending edit of either table.
  void CancelPending();
  // Writes what exclusive use keeps in memory to the files, and the files
  // to disk.
  void FlushBuffers();
  // Whether anything was written since the last call.
  bool TakeWritten() { return std::exchange(written_, false); }

  // Appends a family with no husband, wife or children (a person named
  // "(blank)"), stores it and answers its number; the table stays on it in
  // edit mode so that the caller may set further fields.
  int addfam();
  int addinv();
  // Appends a whole record, stores it and answers its number; the table
  // browses on it. Names longer than their columns (given names 31,
  // surname 21) keep what fits, and the message says what was kept (so
  // also WriteIndividual).
  int AppendFamily(const FamilyRecord& record);
  int AppendIndividual(const IndividualRecord& record);

  // 1 when found: the buffers (and the last surname) take the record and
  // the table stays on it; -1 when not (0 quietly, else with the message).
  int getfam(int fid);
  int getinv(int pid);
  const FamilyRecord& FamilyBuffer() const { return family_; }
  const IndividualRecord& IndividualBuffer() const { return individual_; }
  const std::string& LastSurname() const { return last_surname_; }

  // Reads without message or buffers; nullopt when there is no such record.
  std::optional<FamilyRecord> ReadFamily(int fid);
  std::optional<IndividualRecord> ReadIndividual(int pid);
  // Writes every field of the record of that number; false (nothing
  // written) when there is none.
  bool WriteFamily(int fid, const FamilyRecord& record);
  bool WriteIndividual(int pid, const IndividualRecord& record);

  // How many stored men (Sex "M") are called exactly `full_name` (given
  // names, a blank, surname). A scan of its own: the table stays where it
  // was.
  int CountMenNamed(const std::string& full_name);

  // The husband of a family as stored, with the old "not set yet" 999
  // read as 0 unless individual 999 lists the family.
  int ResolveHusband(int fid, int stored);

private:
  bool LocateFamily(int fid);
  bool LocateIndividual(int pid);
  FamilyRecord FamilyFields();
  IndividualRecord IndividualFields();
  // Every field of the record in edit or insert mode.
  void SetFamilyFields(const FamilyRecord& record);
  void SetIndividualFields(const IndividualRecord& record);

  korvex::TKORVEXTable& families_;
  korvex::TKORVEXTable& individuals_;
  TFieldSlots family_fields_, individual_fields_;
  MessageSink show_message_;
  bool written_ = false;
  FamilyRecord family_;
  IndividualRecord individual_;
  std::string last_surname_;
};

}  // namespace family
