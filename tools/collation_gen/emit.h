// Writing the generated tables as C++ source: collation_tables.cpp and
// language_formats.cpp. Identical parts (weights, case maps, contraction
// lists, name lists) are written once and shared.
#pragma once

#include <string>
#include <vector>

#include "tools/collation_gen/icu_source.h"

namespace collgen {

std::string EmitCollationTables(std::vector<GeneratedTable> tables, std::uint32_t version,
                                const std::string& icu_version);
std::string EmitLanguageFormats(std::vector<FormatSource> formats, std::uint32_t version,
                                const std::string& icu_version);

}  // namespace collgen
