#include "tools/register_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/raised.h"
#include "tools/name_tables.h"
#include "tools/record_line_rules.h"
#include "tools/test_support.h"

namespace regtools {
namespace {

namespace fs = std::filesystem;
using regtools_test::ReadBytes;
using regtools_test::ReadFolder;
using regtools_test::TempDir;
using regtools_test::TrimControls;

struct Line {
  LineKind kind;
  std::string text;
};

std::vector<Line> Compose(const RegisterFilePlan& plan) {
  std::vector<Line> lines;
  ComposeRegisterFile(plan, [&lines](LineKind kind, std::string_view text) {
    lines.push_back({kind, std::string(text)});
  });
  return lines;
}

GeneratorOptions Options(uint64_t seed, int files, int64_t record_lines, fs::path out = {}) {
  GeneratorOptions options;
  options.seed = seed;
  options.files = files;
  options.record_lines = record_lines;
  options.out_dir = std::move(out);
  return options;
}

// ---------------------------------------------------------------------------
// Same seed, same bytes.

TEST(RegisterGeneratorDeterminism, SameSeedWritesSameBytesAnotherSeedDiffers) {
  TempDir first, second, other;
  GenerateRegisters(Options(42, 9, 3000, first.path()));
  GenerateRegisters(Options(42, 9, 3000, second.path()));
  GenerateRegisters(Options(43, 9, 3000, other.path()));
  const auto a = ReadFolder(first.path());
  const auto b = ReadFolder(second.path());
  const auto c = ReadFolder(other.path());
  ASSERT_EQ(a.size(), 9u);
  EXPECT_EQ(a, b);
  ASSERT_EQ(c.size(), 9u);
  for (const auto& [name, bytes] : a) {
    auto it = c.find(name);
    if (it != c.end()) {
      EXPECT_NE(bytes, it->second) << name;
    }
  }
}

TEST(RegisterGeneratorDeterminism, WrittenFileIsComposedLinesWithCrLf) {
  TempDir dir;
  const GeneratorResult result = GenerateRegisters(Options(7, 6, 900, dir.path()));
  ASSERT_EQ(result.files.size(), 6u);
  for (const GeneratedFile& file : result.files) {
    std::string expected;
    int64_t lines = 0;
    for (const Line& line : Compose(file.plan)) {
      expected += line.text + "\r\n";
      ++lines;
    }
    const std::string bytes = ReadBytes(file.path);
    EXPECT_EQ(bytes, expected) << file.plan.file_name;
    EXPECT_EQ(file.lines, lines);
    EXPECT_EQ(file.bytes, static_cast<int64_t>(bytes.size()));
  }
}

// ---------------------------------------------------------------------------
// Every line marked as a record is one by the application's rules, and no
// other line is.

class RegisterLinesBySeed : public ::testing::TestWithParam<uint64_t> {};

TEST_P(RegisterLinesBySeed, RecordsFollowTheRecordLineRules) {
  const std::vector<RegisterFilePlan> plans = PlanRegisters(Options(GetParam(), 11, 12000));
  int64_t records = 0;
  for (const RegisterFilePlan& plan : plans) {
    SCOPED_TRACE(plan.file_name);
    const std::vector<Line> lines = Compose(plan);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].kind, LineKind::kTitle);
    EXPECT_EQ(lines[0].text, plan.title);
    int64_t file_records = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string& text = lines[i].text;
      const std::string trimmed = TrimControls(text);
      ASSERT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
      if (lines[i].kind != LineKind::kRecord) {
        EXPECT_FALSE(regtools_test::IsRecordLine(trimmed)) << "line " << i << ": " << text;
        continue;
      }
      ++file_records;
      ASSERT_TRUE(regtools_test::IsRecordLine(trimmed)) << text;
      ASSERT_TRUE(regtools_test::HasDatePrefix(trimmed)) << text;
      const std::string rest = trimmed.substr(12);
      if (plan.kind == RegisterKind::kBaptisms) {
        const regtools_test::BaptismFields f = regtools_test::SplitBaptismRest(rest);
        EXPECT_TRUE(regtools_test::HasLetter(f.father)) << text;
        EXPECT_TRUE(regtools_test::HasLetter(f.children)) << text;
        EXPECT_EQ(f.children.back(), ';') << text;
        EXPECT_TRUE(regtools_test::HasLetter(f.witness)) << text;
      } else {
        const regtools_test::CoupleParts parts = regtools_test::SplitCoupleRest(rest);
        EXPECT_TRUE(regtools_test::HasLetter(parts.husband)) << text;
        EXPECT_TRUE(regtools_test::HasLetter(parts.wife)) << text;
      }
    }
    EXPECT_EQ(file_records, plan.record_lines);
    records += file_records;
  }
  EXPECT_EQ(records, 12000);
}

TEST_P(RegisterLinesBySeed, DatesRiseWithinTheTitleYears) {
  for (const RegisterFilePlan& plan : PlanRegisters(Options(GetParam(), 8, 4000))) {
    SCOPED_TRACE(plan.file_name);
    long previous = 0;
    for (const Line& line : Compose(plan)) {
      if (line.kind != LineKind::kRecord) continue;
      const long value = regtools_test::DateValue(line.text);
      if (value < 0) continue;  // an unreadable digit
      EXPECT_GE(value, previous) << line.text;
      EXPECT_GE(value / 10000, plan.first_year) << line.text;
      EXPECT_LE(value / 10000, plan.last_year) << line.text;
      previous = value;
    }
  }
}

TEST_P(RegisterLinesBySeed, BytesAreDefinedInWindows1252) {
  for (const RegisterFilePlan& plan : PlanRegisters(Options(GetParam(), 6, 6000))) {
    for (const Line& line : Compose(plan)) {
      for (unsigned char c : line.text) {
        EXPECT_TRUE(c == '\t' || c >= 32) << line.text;
        EXPECT_TRUE(c != 0x7F && c != 0x81 && c != 0x8D && c != 0x8F && c != 0x90 &&
                    c != 0x9D)
            << line.text;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RegisterLinesBySeed,
                         ::testing::Values(0u, 1u, 1687u, 20240601u, 0xFFFFFFFFFFFFFFFFull));

// The test's own reading of the rules, against the cases they spell out.
TEST(RecordLineRules, ReadTheWorkedExamples) {
  using regtools_test::IsRecordLine;
  EXPECT_TRUE(IsRecordLine("?712 05 Mar A, B; C; D"));
  EXPECT_FALSE(IsRecordLine("- 1712 -"));
  EXPECT_FALSE(IsRecordLine("Anno Domini 1712"));
  EXPECT_FALSE(IsRecordLine(""));
  EXPECT_EQ(TrimControls("\t 1712 05 Mar x \t\x1f"), "1712 05 Mar x");
  EXPECT_TRUE(regtools_test::HasDatePrefix("1687 Mar 12 John"));
  EXPECT_TRUE(regtools_test::HasDatePrefix("16?7 ?? Mar John"));
  EXPECT_FALSE(regtools_test::HasDatePrefix("1687 March 12 John"));
  EXPECT_FALSE(regtools_test::HasDatePrefix("1687 5 Mar John"));

  regtools_test::BaptismFields f = regtools_test::SplitBaptismRest("A, B; C; D");
  EXPECT_EQ(f.father, "A");
  EXPECT_EQ(f.mother, " B");
  EXPECT_EQ(f.children, "C;");
  EXPECT_EQ(f.witness, " D");
  f = regtools_test::SplitBaptismRest("John Smyth,; Anne");
  EXPECT_EQ(f.father, "John Smyth");
  EXPECT_EQ(f.mother, "");
  EXPECT_EQ(f.children, "");
  EXPECT_EQ(f.witness, "John Smyth,; Anne");
  f = regtools_test::SplitBaptismRest("Will[iam] Smyth, Mary; Anne; [illeg.] Hall");
  EXPECT_EQ(f.father, "William Smyth");
  EXPECT_EQ(f.witness, " illeg. Hall");
}

// ---------------------------------------------------------------------------
// The material a search needs.

struct SetContents {
  std::map<RegisterKind, int> files;
  std::set<std::string> words;
  int before_1700 = 0, from_1700 = 0;
  int unknown_year = 0, leading_unknown = 0, unknown_day = 0;
  int day_first = 0, month_first = 0;
  int brackets = 0, widowers = 0, accented = 0;
  std::map<LineKind, int> lines;
};

SetContents Survey(const GeneratorOptions& options) {
  SetContents s;
  for (const RegisterFilePlan& plan : PlanRegisters(options)) {
    ++s.files[plan.kind];
    for (const Line& line : Compose(plan)) {
      ++s.lines[line.kind];
      if (line.kind != LineKind::kRecord) continue;
      const std::string& t = line.text;
      (t.compare(0, 4, "1700") < 0 ? s.before_1700 : s.from_1700) += 1;
      if (t.substr(0, 4).find('?') != std::string::npos) ++s.unknown_year;
      if (t[0] == '?') ++s.leading_unknown;
      (t[7] == ' ' ? s.day_first : s.month_first) += 1;
      const std::string day = t[7] == ' ' ? t.substr(5, 2) : t.substr(9, 2);
      if (day.find('?') != std::string::npos) ++s.unknown_day;
      if (t.find('[') != std::string::npos) ++s.brackets;
      if (plan.kind == RegisterKind::kMarriages && t.find(" wid,") != std::string::npos) {
        ++s.widowers;
      }
      if (std::any_of(t.begin(), t.end(), [](char c) { return (c & 0x80) != 0; })) {
        ++s.accented;
      }
      std::string word;
      for (char c : t + " ") {
        if (c == ' ' || c == ',' || c == ';') {
          if (!word.empty()) s.words.insert(word);
          word.clear();
        } else {
          word += c;
        }
      }
    }
  }
  return s;
}

TEST(RegisterGeneratorContents, SetHoldsWhatSearchesNeed) {
  const SetContents s = Survey(Options(1687, 8, 20000));
  EXPECT_GE(s.files.at(RegisterKind::kBaptisms), 2);
  EXPECT_GE(s.files.at(RegisterKind::kMarriages), 1);
  EXPECT_GE(s.files.at(RegisterKind::kMembers), 1);
  EXPECT_GE(s.files.at(RegisterKind::kWills), 1);
  EXPECT_GE(s.files.at(RegisterKind::kPassengers), 1);
  EXPECT_GT(s.before_1700, 2000);
  EXPECT_GT(s.from_1700, 2000);
  EXPECT_GT(s.unknown_year, 50);
  EXPECT_GT(s.leading_unknown, 0);
  EXPECT_GT(s.unknown_day, 20);
  EXPECT_GT(s.day_first, 1000);
  EXPECT_GT(s.month_first, 1000);
  EXPECT_GT(s.brackets, 200);
  EXPECT_GT(s.widowers, 50);
  EXPECT_GT(s.accented, 200);
  EXPECT_GT(s.lines.at(LineKind::kContinuation), 200);
  EXPECT_GT(s.lines.at(LineKind::kRemark), 50);
  EXPECT_GT(s.lines.at(LineKind::kSeparator), 50);
  EXPECT_GT(s.lines.at(LineKind::kEmpty), 0);
  for (const char* word : {"Will[iam]", "[illeg.]", "Ren\xE9" "e", "Fran\xE7ois", "M\xFCller"}) {
    EXPECT_TRUE(s.words.count(word)) << word;
  }
}

TEST(RegisterGeneratorContents, SurnamesComeInSeveralSpellings) {
  const SetContents s = Survey(Options(1687, 8, 2000));
  int groups_with_variants = 0;
  for (const SurnameGroup& group : Names().surnames) {
    int seen = 0;
    for (const std::string& spelling : group.spellings) seen += s.words.count(spelling);
    if (seen >= 2) ++groups_with_variants;
  }
  EXPECT_GE(groups_with_variants, 20);
  for (const char* word : {"Smith", "Smyth", "Clark", "Clerk", "Thompson", "Tomson"}) {
    EXPECT_TRUE(s.words.count(word)) << word;
  }
}

// ---------------------------------------------------------------------------
// Planning: kinds, names, titles, exact counts, bad options.

TEST(RegisterPlan, KindsNamesAndTitles) {
  const std::vector<RegisterFilePlan> plans = PlanRegisters(Options(3, 300, 30000));
  std::set<std::string> names;
  for (const RegisterFilePlan& plan : plans) {
    EXPECT_TRUE(names.insert(plan.file_name).second) << plan.file_name;
    const std::string suffix = KindSuffix(plan.kind);
    ASSERT_GT(plan.file_name.size(), suffix.size());
    EXPECT_EQ(plan.file_name.substr(plan.file_name.size() - suffix.size()), suffix);
    EXPECT_EQ(plan.file_name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_."),
              std::string::npos);
    const std::string years =
        " " + std::to_string(plan.first_year) + "-" + std::to_string(plan.last_year);
    ASSERT_GT(plan.title.size(), years.size());
    EXPECT_EQ(plan.title.substr(plan.title.size() - years.size()), years) << plan.title;
    EXPECT_NE(plan.title.find(" - "), std::string::npos);
    EXPECT_LT(plan.first_year, 1700);
    EXPECT_GE(plan.last_year, 1700);
  }
  // Any five files in a row hold every kind.
  const std::vector<RegisterFilePlan> few = PlanRegisters(Options(3, 6, 100));
  std::set<RegisterKind> kinds;
  for (const RegisterFilePlan& plan : few) kinds.insert(plan.kind);
  EXPECT_EQ(kinds.size(), 5u);
  EXPECT_EQ(few[0].file_name, "stmary_bap.txt");
  EXPECT_EQ(few[0].title.substr(0, 29), "St Mary, Ashcombe - Baptisms ");
}

TEST(RegisterPlan, RecordLinesAddUpExactly) {
  for (int64_t total : {int64_t{0}, int64_t{1}, int64_t{7}, int64_t{999}, int64_t{1000003}}) {
    for (int files : {1, 3, 8, 100}) {
      int64_t sum = 0;
      for (const RegisterFilePlan& plan : PlanRegisters(Options(11, files, total))) {
        EXPECT_GE(plan.record_lines, 0);
        sum += plan.record_lines;
      }
      EXPECT_EQ(sum, total) << files << " files";
    }
  }
}

TEST(RegisterPlan, EmptyFilesHoldOnlyTheirTitle) {
  const std::vector<RegisterFilePlan> plans = PlanRegisters(Options(5, 4, 0));
  for (const RegisterFilePlan& plan : plans) {
    const std::vector<Line> lines = Compose(plan);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].kind, LineKind::kTitle);
  }
}

TEST(RegisterPlan, BadOptionsAreRefused) {
  EXPECT_THROW(PlanRegisters(Options(1, 0, 10)), GeneratorError);
  EXPECT_THROW(PlanRegisters(Options(1, -3, 10)), GeneratorError);
  EXPECT_THROW(PlanRegisters(Options(1, kMaxFiles + 1, 10)), GeneratorError);
  EXPECT_THROW(PlanRegisters(Options(1, 5, -1)), GeneratorError);
  EXPECT_THROW(PlanRegisters(Options(1, 5, kMaxRecordLines + 1)), GeneratorError);
  EXPECT_NO_THROW(PlanRegisters(Options(1, kMaxFiles, 0)));
  const std::string error = qvtest::WhatRaised<GeneratorError>([&] { PlanRegisters(Options(1, 0, 10)); });
  EXPECT_NE(error.find("files"), std::string::npos) << error;
}

// ---------------------------------------------------------------------------
// Writing: folders, failures, large sets.

TEST(RegisterGeneratorWrite, MakesMissingFoldersAndLeavesOtherFilesAlone) {
  TempDir dir;
  const fs::path out = dir.path() / "a" / "b";
  fs::create_directories(out);
  std::ofstream(out / "notes.txt") << "mine";
  const GeneratorResult result = GenerateRegisters(Options(1, 3, 30, out));
  EXPECT_EQ(result.files.size(), 3u);
  EXPECT_EQ(ReadBytes(out / "notes.txt"), "mine");
  EXPECT_EQ(ReadFolder(out).size(), 4u);
}

TEST(RegisterGeneratorWrite, NoFolderOrAFileInTheWayIsAnError) {
  TempDir dir;
  EXPECT_THROW(GenerateRegisters(Options(1, 3, 30, "")), GeneratorError);
  std::ofstream(dir.path() / "plain") << "x";
  const std::string error = qvtest::WhatRaised<GeneratorError>([&] { GenerateRegisters(Options(1, 3, 30, dir.path() / "plain")); });
  EXPECT_NE(error.find("plain"), std::string::npos) << error;
}

TEST(RegisterGeneratorWrite, UnopenableFileIsAnError) {
  TempDir dir;
  const std::vector<RegisterFilePlan> plans = PlanRegisters(Options(1, 3, 30));
  fs::create_directory(dir.path() / plans[1].file_name);  // a folder in the way
  const std::string error = qvtest::WhatRaised<GeneratorError>([&] { GenerateRegisters(Options(1, 3, 30, dir.path())); });
  EXPECT_NE(error.find(plans[1].file_name), std::string::npos) << error;
  EXPECT_TRUE(fs::is_regular_file(dir.path() / plans[0].file_name));
  EXPECT_FALSE(fs::exists(dir.path() / plans[2].file_name));
}

TEST(RegisterGeneratorWrite, FullDiskLeavesNoHalfFile) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  const std::vector<RegisterFilePlan> plans = PlanRegisters(Options(1, 3, 3000));
  fs::create_symlink("/dev/full", dir.path() / plans[1].file_name);
  const std::string error = qvtest::WhatRaised<GeneratorError>([&] { GenerateRegisters(Options(1, 3, 3000, dir.path())); });
  EXPECT_NE(error.find("No space"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path() / plans[1].file_name)));
  // The file written before is complete.
  std::string expected;
  for (const Line& line : Compose(plans[0])) expected += line.text + "\r\n";
  EXPECT_EQ(ReadBytes(dir.path() / plans[0].file_name), expected);
}

TEST(RegisterGeneratorWrite, LargeSetHasExactCounts) {
  TempDir dir;
  const GeneratorResult result = GenerateRegisters(Options(99, 100, 200000, dir.path()));
  ASSERT_EQ(result.files.size(), 100u);
  EXPECT_EQ(result.record_lines, 200000);
  int64_t bytes = 0;
  for (const GeneratedFile& file : result.files) bytes += fs::file_size(file.path);
  EXPECT_EQ(bytes, result.bytes);
  EXPECT_GT(result.lines, result.record_lines);
}

}  // namespace
}  // namespace regtools
