#include "family/family_reader.h"

#include <algorithm>

namespace family {

SexClass ClassOfSex(const std::string& sex) {
  if (!sex.empty() && sex[0] == 'M') return SexClass::kMale;
  if (!sex.empty() && sex[0] == 'U') return SexClass::kUndetermined;
  return SexClass::kFemale;
}

int HusbandOf(const FamilyView& family, FamilyReader& reader) {
  if (family.husband != kHusbandPlaceholder) return family.husband;
  const std::optional<PersonView> p = reader.Person(kHusbandPlaceholder, true);
  if (!p) return 0;
  const auto end = p->fams.begin() + SlotCount(p->fams);
  return std::find(p->fams.begin(), end, family.fid) != end ? family.husband : 0;
}

int PartnerOf(const FamilyView& family, SexClass sex, FamilyReader& reader) {
  return sex == SexClass::kMale ? family.wife : HusbandOf(family, reader);
}

}  // namespace family
