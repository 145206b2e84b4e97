// What the relationship report, the descendant list and the GEDCOM composer
// read of the two family tables: persons and families by number, and both
// tables whole in their order.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace family {

inline constexpr int kSpouseSlots = 5;
inline constexpr int kChildSlots = 15;
// A new family's husband until its creator names him; a person only when
// individual 999 lists that family among its spouse families.
inline constexpr int kHusbandPlaceholder = 999;
// The given name of a person not yet named.
inline constexpr char kBlankName[] = "(blank)";

struct PersonView {
  int pid = 0;
  std::string fname, lname, sex, bapdate;
  int famc = 0;
  std::array<int, kSpouseSlots> fams{};
};

struct FamilyView {
  int fid = 0;
  int husband = 0;
  int wife = 0;
  std::array<int, kChildSlots> child{};
};

// Number lookups. A number not in its table gives nothing and the reader
// tells the user ("Could not locate ...") unless asked to keep quiet; 0
// gives nothing silently.
class FamilyReader {
public:
  virtual ~FamilyReader() = default;
  virtual std::optional<PersonView> Person(int pid, bool quiet = false) = 0;
  virtual std::optional<FamilyView> Family(int fid, bool quiet = false) = 0;
};

// Both tables whole, each in its table's order.
struct FamilyTables {
  std::vector<PersonView> persons;
  std::vector<FamilyView> families;
};

// Slots filled from the first: the numbers before the first 0.
template <size_t N>
int SlotCount(const std::array<int, N>& slots) {
  int n = 0;
  while (n < static_cast<int>(N) && slots[n] != 0) ++n;
  return n;
}

// Sex classes of the reports: "M..." male, "U..." undetermined, else female.
enum class SexClass { kMale, kFemale, kUndetermined };
SexClass ClassOfSex(const std::string& sex);

// The family's husband as a person: 0 for none, and for the placeholder
// 999 unless individual 999 lists the family (read through reader, quietly).
int HusbandOf(const FamilyView& family, FamilyReader& reader);
// The partner of a person of that sex class in family: the wife of a man,
// else the husband.
int PartnerOf(const FamilyView& family, SexClass sex, FamilyReader& reader);

}  // namespace family
