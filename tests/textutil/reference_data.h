// Reads the reference tables in tests/textutil/data (written by
// make_reference.py from Python's standard library and coreutils).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace textutil::testdata {

// The whitespace-separated fields of every line that is not a comment; a
// field "-" stands for the empty string.
inline std::vector<std::vector<std::string>> ReadTable(const std::string& name) {
  std::ifstream in(std::string(QV_SOURCE_DIR) + "/tests/textutil/data/" + name);
  EXPECT_TRUE(in.good()) << "missing reference table " << name;
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::vector<std::string> row;
    std::string field;
    while (fields >> field) row.push_back(field == "-" ? "" : field);
    rows.push_back(row);
  }
  return rows;
}

inline std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

}  // namespace textutil::testdata
