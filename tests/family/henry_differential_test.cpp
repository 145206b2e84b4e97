// The Henry list against a python3 numbering written on its own from the
// list's rules (henry_reference.py): 200 seeded random forests of up to 8
// generations, several spouse families, shared spouses and cousin
// marriages, childless couples, up to 15 children a family and 35 a person.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "family/henry_list.h"
#include "family_fixture.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, sep)) out.push_back(part);
  if (!s.empty() && s.back() == sep) out.push_back("");
  return out;
}

// A forest file as henry_reference.py writes it; its subject.
int LoadForest(const std::string& text, familytest::MemoryFamilies& m) {
  int subject = 0;
  for (const std::string& row : Split(text, '\n')) {
    const std::vector<std::string> f = Split(row, '\t');
    if (f.empty() || f[0].empty()) continue;
    if (f[0] == "S") subject = std::stoi(f[1]);
    if (f[0] == "P") {
      m.P(std::stoi(f[1]), f[2], f[3], f[4], f[5], std::stoi(f[6]));
      for (int s = 0; s < family::kSpouseSlots; ++s) m.tables.persons.back().fams[s] = std::stoi(f[7 + s]);
    }
    if (f[0] == "F") {
      m.F(std::stoi(f[1]), std::stoi(f[2]), std::stoi(f[3]));
      for (int s = 0; s < family::kChildSlots; ++s) m.tables.families.back().children[s] = std::stoi(f[4 + s]);
    }
  }
  return subject;
}

TEST(HenryDifferential, TwoHundredForestsAgainstPython) {
  qvtest::TempDir dir;
  const std::string cmd = "python3 " QV_SOURCE_DIR "/tests/family/henry_reference.py " + dir.Path() + " 1 200";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  size_t lines = 0;
  for (int seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    familytest::MemoryFamilies m;
    const int subject = LoadForest(qvtest::ReadFileBytes(dir.File("forest_" + std::to_string(seed) + ".txt")), m);
    const auto page = family::HenryList(m).Run(subject);
    ASSERT_TRUE(page);
    std::string got;
    for (const std::string& line : *page) got += line + "\n";
    ASSERT_EQ(got, qvtest::ReadFileBytes(dir.File("page_" + std::to_string(seed) + ".txt")));
    EXPECT_TRUE(m.messages.empty());
    lines += page->size();
  }
  EXPECT_GT(lines, 10000u);
}

}  // namespace
