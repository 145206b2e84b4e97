// Word lists the register generator draws from: period given names,
// surnames with their spelling variants, places, trades and remarks.
// Every string is Windows-1252 bytes.
#pragma once

#include <string>
#include <vector>

namespace regtools {

// One surname as clerks spelt it; the spellings sound alike, so that a
// phonetic search finds them together.
struct SurnameGroup {
  std::vector<std::string> spellings;
};

struct NameTables {
  // Given names, repeated by how common they were; "early" before 1700.
  std::vector<std::string> male_early, male_late;
  std::vector<std::string> female_early, female_late;
  // Huguenot, German and Dutch settlers and emigrants (accented letters).
  std::vector<std::string> male_foreign, female_foreign;

  // The commonest surnames first.
  std::vector<SurnameGroup> surnames;
  std::vector<SurnameGroup> foreign_surnames;

  std::vector<std::string> dedications;      // "St Mary"
  std::vector<std::string> places;           // "Ashcombe"
  std::vector<std::string> meetings;         // "Independent Meeting"
  std::vector<std::string> courts;           // "Archdeaconry of"
  std::vector<std::string> ports;            // "Bristol"
  std::vector<std::string> ships;            // "Abigail"
  std::vector<std::string> destinations;     // "Virginia"

  std::vector<std::string> occupations;      // "labourer"
  std::vector<std::string> groom_terms;      // "bachelor"
  std::vector<std::string> bride_terms;      // "spinster"
  std::vector<std::string> member_terms;     // "admitted by letter"
  std::vector<std::string> member_wife_terms;
  std::vector<std::string> executor_terms;   // "relict, extx"

  std::vector<std::string> baptism_notes;    // continuation lines per kind
  std::vector<std::string> marriage_notes;
  std::vector<std::string> member_notes;
  std::vector<std::string> will_notes;
  std::vector<std::string> passenger_notes;
  std::vector<std::string> remarks;          // free remark lines
};

const NameTables& Names();

}  // namespace regtools
