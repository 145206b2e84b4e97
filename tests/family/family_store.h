// Family tables stored through the table component with the numbers a
// test asks for.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "family/family_reader.h"
#include "family/family_records.h"
#include "tables/components/korvex_table.h"

namespace familytest {

// Stores tables through the table component: numbers come from the
// autoincrement, so numbers missing from want are appended and deleted.
// Closed tables are opened exclusively (kept in memory until closed).
inline void Store(family::TFamilyRecords& records, const family::FamilyTables& want) {
  for (korvex::TKORVEXTable* t : {&records.Families(), &records.Individuals()})
    if (!t->Active()) t->SetExclusive(true);
  records.OpenTables();
  auto fill = [&](auto& rows, auto add, auto write, korvex::TKORVEXTable& table) {
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [number, record] : rows) {
      for (;;) {
        const int got = add();
        table.Cancel();
        if (got == number) break;
        ASSERT_LT(got, number);
        table.Delete();
      }
      ASSERT_TRUE(write(number, record));
    }
  };
  std::vector<std::pair<int, family::IndividualRecord>> persons;
  for (const auto& p : want.persons) persons.emplace_back(p.pid, p);
  std::vector<std::pair<int, family::FamilyRecord>> families;
  for (const auto& f : want.families) families.emplace_back(f.fid, f);
  fill(
      persons, [&] { return records.addinv(); },
      [&](int n, const family::IndividualRecord& r) { return records.WriteIndividual(n, r); }, records.Individuals());
  fill(
      families, [&] { return records.addfam(); },
      [&](int n, const family::FamilyRecord& r) { return records.WriteFamily(n, r); }, records.Families());
}

}  // namespace familytest
