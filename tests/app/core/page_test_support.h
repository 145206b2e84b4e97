// Helpers for the page command tests.
#pragma once

#include <string>
#include <string_view>

#include "app/core/data_file.h"
#include "app/core/record_line.h"
#include "textutil/fields.h"

namespace appcore_test {

// The father's surname in the first record line of a file: a search term
// with hits in a generated register.
inline std::string FirstFatherSurname(const appcore::DataFile& file) {
  for (int i = 1; i < file.LineCount(); ++i) {
    const std::string_view line = appcore::TrimLine(file.Line(i));
    if (!appcore::IsRecordLine(line)) continue;
    const std::string rest(appcore::RestOf(line));
    int pos = 1;
    textutil::ParseWord(rest, " ,;", pos);
    return textutil::ParseWord(rest, " ,;", pos);
  }
  return {};
}

}  // namespace appcore_test
