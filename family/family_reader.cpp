#include "family/family_reader.h"

namespace family {

SexClass ClassOfSex(const std::string& sex) {
  if (!sex.empty() && sex[0] == 'M') return SexClass::kMale;
  if (!sex.empty() && sex[0] == 'U') return SexClass::kUndetermined;
  return SexClass::kFemale;
}

}  // namespace family
