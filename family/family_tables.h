// The two family tables: families ("fams", database "Fams") and
// individuals ("inds", database "Inds"), both in the settings folder.
//
// Families, in field order:
//   Fid        autoincrement   family number
//   Husband    integer         Pid of the husband; 0 = none
//   Wife       integer         Pid of the wife; 0 = none
//   Child1..15 integer         Pids of the children in order; 0 = empty
// Individuals, in field order:
//   Pid        autoincrement   person number
//   Fname      string 31       given name(s); "(blank)" until filled
//   Lname      string 21       surname
//   Sex        string 2        "M" or "F"
//   Famc       float           Fid of the family the person is a child of
//   Fams1..5   float           Fids of the person's own families, from Fams1 on
//   Bdate      string 22       birth date (nothing writes it)
//   Bapdate    string 22       baptism date as read from a record line
// Each table has a unique primary index on its number, so a lookup by
// number is an index search and the table walks in number order. The float
// columns hold whole numbers: written from integers, read to the nearest.
//
// Older versions left Husband 999 on a family whose husband was not set
// yet; such a 999 names nobody unless individual 999 lists that family.
#pragma once

#include <array>
#include <memory>
#include <string>

namespace korvex {
class TKORVEXDatabase;
class TKORVEXTable;
}  // namespace korvex

namespace family {

inline constexpr int kChildSlots = 15;
inline constexpr int kSpouseSlots = 5;
inline constexpr char kBlankName[] = "(blank)";
// The husband number older versions stored for "not set yet".
inline constexpr int kLegacyNoHusband = 999;

inline constexpr char kFamiliesDatabase[] = "Fams";
inline constexpr char kIndividualsDatabase[] = "Inds";
inline constexpr char kFamiliesTable[] = "fams";
inline constexpr char kIndividualsTable[] = "inds";

// "Child1".."Child15", "Fams1".."Fams5" (slot is 0-based).
std::string ChildField(int slot);
std::string FamsField(int slot);

// One families record as the family code reads it.
struct FamilyRecord {
  int husband = 0;
  int wife = 0;
  std::array<int, kChildSlots> children{};
  bool operator==(const FamilyRecord&) const = default;
};

// One individuals record as the family code reads it.
struct IndividualRecord {
  std::string fname, lname, sex, bapdate;
  int famc = 0;
  std::array<int, kSpouseSlots> fams{};
  bool operator==(const IndividualRecord&) const = default;
};

// The stored definitions of the two table components: table and database
// names, fields in order and the primary index; definitions kept with the
// form, no automatic display labels, no copy on append.
void DefineFamiliesTable(korvex::TKORVEXTable& table);
void DefineIndividualsTable(korvex::TKORVEXTable& table);

// Opens a closed table; one missing at its first open is made from its
// stored definitions first. An existing table is opened as it is.
void OpenOrCreate(korvex::TKORVEXTable& table);

// The databases "Fams" and "Inds" of the default session, both pointing
// at one folder, for as long as this object lives.
class TFamilyDatabases {
public:
  explicit TFamilyDatabases(const std::string& folder);
  ~TFamilyDatabases();
  TFamilyDatabases(const TFamilyDatabases&) = delete;
  TFamilyDatabases& operator=(const TFamilyDatabases&) = delete;
  const std::string& Folder() const { return folder_; }
  korvex::TKORVEXDatabase& Families() { return *families_; }

private:
  std::string folder_;
  std::unique_ptr<korvex::TKORVEXDatabase> families_, individuals_;
};

}  // namespace family
