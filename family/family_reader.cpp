#include "family/family_reader.h"

namespace family {

SexClass ClassOfSex(const std::string& sex) {
  if (!sex.empty() && sex[0] == 'M') return SexClass::kMale;
  if (!sex.empty() && sex[0] == 'U') return SexClass::kUndetermined;
  return SexClass::kFemale;
}

namespace {

// A quiet miss is not kept: a later read that tells the user still does.
template <class Map, class Read>
auto Remembered(Map& map, int number, bool quiet, Read read) -> typename Map::mapped_type {
  if (number == 0) return std::nullopt;
  auto it = map.find(number);
  if (it != map.end()) return it->second;
  auto answer = read(number, quiet);
  if (answer || !quiet) map.emplace(number, answer);
  return answer;
}

}  // namespace

std::optional<PersonView> CachedReader::Person(int pid, bool quiet) {
  return Remembered(persons_, pid, quiet, [this](int n, bool q) { return source_.Person(n, q); });
}

std::optional<FamilyView> CachedReader::Family(int fid, bool quiet) {
  return Remembered(families_, fid, quiet, [this](int n, bool q) { return source_.Family(n, q); });
}

}  // namespace family
