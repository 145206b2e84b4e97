// The committed collation tables and formats against the ICU they were
// generated from: every table agrees with ICU's comparison on random
// strings, and generating again gives the committed sources byte for byte.
// Skipped where another ICU version is installed.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tables/lib/collation_tables.h"
#include "tools/collation_gen/emit.h"
#include "tools/collation_gen/icu_source.h"

namespace {

constexpr const char* kRecordedIcu = "72.";

std::string ReadSource(const std::string& name) {
  std::ifstream in(std::string(QV_SOURCE_DIR) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class CollationGen : public ::testing::Test {
protected:
  void SetUp() override {
    if (collgen::IcuVersion().rfind(kRecordedIcu, 0) != 0)
      GTEST_SKIP() << "ICU " << collgen::IcuVersion() << " is not the recorded version";
  }
};

// Other seeds than the generator's own check.
TEST_F(CollationGen, CommittedTablesAgreeWithIcu) {
  for (const collgen::LanguageSource& source : collgen::Languages()) {
    const korvex::TCollationTable* table = korvex::FindCollationTable(source.language, source.sort);
    ASSERT_NE(table, nullptr) << source.locale;
    EXPECT_EQ(collgen::CheckAgainstIcu(*table, source, 100000, 0x5EED0000u + source.language + source.sort), "");
  }
}

// The check can fail: Swedish weights are not German ones.
TEST_F(CollationGen, TheCheckSeesAForeignTable) {
  const korvex::TCollationTable* swedish = korvex::FindCollationTable(0x041D, 0);
  ASSERT_NE(swedish, nullptr);
  const collgen::LanguageSource german{0x0407, 0, "de_DE", 1252};
  EXPECT_NE(collgen::CheckAgainstIcu(*swedish, german, 100000, 1), "");
}

TEST_F(CollationGen, GeneratingAgainGivesTheCommittedSources) {
  std::vector<collgen::GeneratedTable> tables;
  std::vector<collgen::FormatSource> formats;
  for (const collgen::LanguageSource& source : collgen::Languages()) {
    tables.push_back(collgen::BuildTable(source));
    if (source.sort == 0) formats.push_back(collgen::BuildFormats(source));
  }
  const std::string icu = collgen::IcuVersion();
  EXPECT_TRUE(collgen::EmitCollationTables(tables, korvex::kCollationVersion, icu) ==
              ReadSource("tables/lib/collation_tables.cpp"));
  EXPECT_TRUE(collgen::EmitLanguageFormats(formats, korvex::kCollationVersion, icu) ==
              ReadSource("tables/lib/language_formats.cpp"));
}

}  // namespace
