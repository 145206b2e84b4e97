// What the relationship report, the descendant list and the GEDCOM composer
// read of the two family tables: persons and families by number, and both
// tables whole in their order.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "family/family_tables.h"

namespace family {

// A record with its number.
struct PersonView : IndividualRecord {
  int pid = 0;
};
struct FamilyView : FamilyRecord {
  int fid = 0;
};

// Number lookups. A number not in its table gives nothing and the reader
// tells the user ("Could not locate ...") unless asked to keep quiet; 0
// gives nothing silently. A family's husband comes resolved: an old
// "not set yet" 999 reads as 0 unless individual 999 lists the family.
class FamilyReader {
public:
  virtual ~FamilyReader() = default;
  virtual std::optional<PersonView> Person(int pid, bool quiet = false) = 0;
  virtual std::optional<FamilyView> Family(int fid, bool quiet = false) = 0;
};

// Keeps every answer of another reader for the length of one report or
// list: each number is read once, and one not in its table is told once.
class CachedReader : public FamilyReader {
public:
  explicit CachedReader(FamilyReader& source) : source_(source) {}
  std::optional<PersonView> Person(int pid, bool quiet = false) override;
  std::optional<FamilyView> Family(int fid, bool quiet = false) override;

private:
  FamilyReader& source_;
  std::unordered_map<int, std::optional<PersonView>> persons_;
  std::unordered_map<int, std::optional<FamilyView>> families_;
};

// Both tables whole, each in its table's order, husbands resolved.
struct FamilyTables {
  std::vector<PersonView> persons;
  std::vector<FamilyView> families;
};

// Slots filled from the first: the numbers before the first 0.
template <size_t N>
int SlotCount(const std::array<int, N>& numbers) {
  int n = 0;
  while (n < static_cast<int>(N) && numbers[n] != 0) ++n;
  return n;
}

// Sex classes of the reports: "M..." male, "U..." undetermined, else female.
enum class SexClass { kMale, kFemale, kUndetermined };
SexClass ClassOfSex(const std::string& sex);

// The partner of a person of that sex class in family: the wife of a man,
// else the husband.
inline int PartnerOf(const FamilyView& family, SexClass sex) {
  return sex == SexClass::kMale ? family.wife : family.husband;
}

}  // namespace family
