// Family tables held in memory for the report, list and composer tests, with
// a reader that records what it would tell the user and resolves an old
// husband 999 as the tables do.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <stdexcept>
#include <map>
#include <string>
#include <vector>

#include "family/family_reader.h"

namespace familytest {

struct MemoryFamilies : family::FamilyReader {
  family::FamilyTables tables;
  std::vector<std::string> messages;
  long reads = 0;

  MemoryFamilies& P(int pid, std::string fname, std::string lname, std::string sex, std::string bap = "", int famc = 0,
                    std::initializer_list<int> fams = {}) {
    family::PersonView p;
    p.pid = pid;
    p.fname = std::move(fname);
    p.lname = std::move(lname);
    p.sex = std::move(sex);
    p.bapdate = std::move(bap);
    p.famc = famc;
    int i = 0;
    for (int f : fams) p.fams[i++] = f;
    tables.persons.push_back(std::move(p));
    return *this;
  }
  MemoryFamilies& F(int fid, int husband, int wife, std::initializer_list<int> children = {}) {
    family::FamilyView f;
    f.fid = fid;
    f.husband = husband;
    f.wife = wife;
    int i = 0;
    for (int c : children) f.children[i++] = c;
    tables.families.push_back(f);
    return *this;
  }
  family::PersonView& Ind(int pid) {
    for (auto& p : tables.persons)
      if (p.pid == pid) return p;
    throw std::out_of_range("no person " + std::to_string(pid));
  }
  family::FamilyView& Fam(int fid) {
    for (auto& f : tables.families)
      if (f.fid == fid) return f;
    throw std::out_of_range("no family " + std::to_string(fid));
  }

  std::optional<family::PersonView> Person(int pid, bool quiet) override {
    ++reads;
    if (pid == 0) return std::nullopt;
    for (const auto& p : tables.persons)
      if (p.pid == pid) return p;
    if (!quiet) messages.push_back("Could not locate Individual #" + std::to_string(pid));
    return std::nullopt;
  }
  std::optional<family::FamilyView> Family(int fid, bool quiet) override {
    ++reads;
    if (fid == 0) return std::nullopt;
    for (family::FamilyView f : tables.families) {
      if (f.fid != fid) continue;
      // The old "not set yet" husband 999, as the tables resolve it.
      if (f.husband == family::kLegacyNoHusband) {
        const auto p = Person(f.husband, true);
        if (!p || std::find(p->fams.begin(), p->fams.end(), fid) == p->fams.end()) f.husband = 0;
      }
      return f;
    }
    if (!quiet) messages.push_back("Could not locate Family #" + std::to_string(fid));
    return std::nullopt;
  }
};

}  // namespace familytest
