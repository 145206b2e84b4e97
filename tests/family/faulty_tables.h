// Random family tables with the faults stored tables may hold, and what
// tools/gramps_check.py should find in their GEDCOM file.
#pragma once

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "family/family_tables.h"
#include "family_fixture.h"
#include "platform/runtime/cp1252.h"

namespace familytest {

// Random tables with the faults the family tables may hold: husband 999
// with and without person 999 behind it, wife 0, removed numbers in slots
// and fields, one-way Famc and Fams, "(blank)" names, letters beyond ASCII
// and '@', '/' and blanks at either end in names.
inline MemoryFamilies FaultyTables(unsigned seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::set<int> pids, fids;
  const int np = 5 + pick(60), nf = 1 + pick(25);
  while (static_cast<int>(pids.size()) < np) pids.insert(1 + pick(np + np / 3));
  if (pick(2)) pids.insert(999);
  while (static_cast<int>(fids.size()) < nf) fids.insert(1 + pick(nf + nf / 3));
  const std::vector<int> p(pids.begin(), pids.end()), f(fids.begin(), fids.end());
  auto some_person = [&] { return pick(10) == 0 ? 1 + pick(np * 2) : p[pick(np)]; };  // sometimes removed
  auto some_family = [&] { return pick(10) == 0 ? 1 + pick(nf * 2) : f[pick(nf)]; };
  const char* given[] = {"Jan",    "(blank)",      "\x8c\x9e\xeb", "\x9a@\xe9", "Anna Maria", "x@@y",
                         "Pieter", "Jan/Johannes", " Anna ",        "@Kees/",    " / Maria"};
  const char* sur[] = {"Smit",      "(blank)", "\x9a" "imek", "de Wit", "Bront\xeb", "@home",
                       "Dekker",    "Smit/Smid", " de Vries ", "/Mol@", "van / der Berg"};
  const char* sexes[] = {"M", "F", "M", "F", "U", "", "?"};
  MemoryFamilies m;
  for (int pid : p) m.P(pid, given[pick(11)], sur[pick(11)], sexes[pick(7)]);
  for (int fid : f) m.F(fid, 0, 0);
  // Mostly sound links, made from both sides.
  for (auto& fam : m.tables.families) {
    const int h = some_person(), w = some_person();
    fam.husband = pick(6) == 0 ? 999 : h;
    fam.wife = pick(8) == 0 ? 0 : w;
    int slot = 0;
    for (int c = pick(6); c > 0; --c) fam.children[slot++] = some_person();
    for (int pid : {fam.husband, fam.wife})
      for (auto& per : m.tables.persons)
        if (per.pid == pid && pick(4) != 0) {
          int s = 0;
          while (s < 5 && per.fams[s] != 0) ++s;
          if (s < 5) per.fams[s] = fam.fid;
        }
    for (int s = 0; s < slot; ++s)
      for (auto& per : m.tables.persons)
        if (per.pid == fam.children[s] && pick(4) != 0) per.famc = fam.fid;
  }
  // One-way links and gaps.
  for (auto& per : m.tables.persons) {
    if (pick(8) == 0) per.famc = some_family();
    if (pick(8) == 0) per.fams[pick(5)] = some_family();
  }
  return m;
}

// The expectation file of tools/gramps_check.py (UTF-8): every word of each
// name part as written, a '/' counting as a blank between words, with no
// blanks at either end.
inline std::string Expectation(const MemoryFamilies& m) {
  auto part = [](std::string s) {
    if (s == family::kBlankName) return std::string();
    std::replace(s.begin(), s.end(), '/', ' ');
    const size_t b = s.find_first_not_of(' ');
    return b == std::string::npos ? std::string() : rtl::Cp1252ToUtf8(s.substr(b, s.find_last_not_of(' ') - b + 1));
  };
  std::string e = "P " + std::to_string(m.tables.persons.size()) + "\nF " + std::to_string(m.tables.families.size()) + "\n";
  for (const auto& per : m.tables.persons) e += std::to_string(per.pid) + "\t" + part(per.fname) + "\t" + part(per.lname) + "\n";
  return e;
}

}  // namespace familytest
