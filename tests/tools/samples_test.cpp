// The committed sample registers and an independent python3 reading of
// generated files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/gen_command_line.h"
#include "tools/register_generator.h"
#include "tools/test_support.h"

namespace regtools {
namespace {

namespace fs = std::filesystem;
using regtools_test::Quote;
using regtools_test::ReadFolder;
using regtools_test::RunCommand;
using regtools_test::TempDir;

const fs::path kRoot = QV_SOURCE_DIR;

// The arguments of the quorvane-gen command that samples/README.md documents.
std::vector<std::string> DocumentedSampleCommand() {
  std::ifstream readme(kRoot / "samples" / "README.md");
  std::string line;
  while (std::getline(readme, line)) {
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
      if (word.size() >= 12 && word.compare(word.size() - 12, 12, "quorvane-gen") == 0) {
        std::vector<std::string> args;
        while (words >> word) args.push_back(word);
        return args;
      }
    }
  }
  return {};
}

TEST(SampleRegisters, AreExactlyWhatTheDocumentedCommandWrites) {
  const std::vector<std::string> args = DocumentedSampleCommand();
  ASSERT_FALSE(args.empty()) << "samples/README.md shows no quorvane-gen command";
  GenCommandLine command;
  std::string error;
  ASSERT_TRUE(ParseGenCommandLine(args, &command, &error)) << error;
  EXPECT_EQ(command.options.out_dir, fs::path("samples/registers"));

  TempDir dir;
  command.options.out_dir = dir.path();
  const GeneratorResult result = GenerateRegisters(command.options);
  const auto expected = ReadFolder(dir.path());
  const auto committed = ReadFolder(kRoot / "samples" / "registers");
  ASSERT_EQ(committed.size(), expected.size());
  for (const auto& [name, bytes] : expected) {
    auto it = committed.find(name);
    ASSERT_NE(it, committed.end()) << name << " is not committed";
    EXPECT_TRUE(it->second == bytes) << name << " differs from the generator's output";
  }

  // What the set must hold.
  std::map<RegisterKind, int> kinds;
  for (const GeneratedFile& file : result.files) ++kinds[file.plan.kind];
  EXPECT_GE(kinds[RegisterKind::kBaptisms], 2);
  EXPECT_GE(kinds[RegisterKind::kMarriages], 1);
  EXPECT_GE(kinds[RegisterKind::kMembers], 1);
  EXPECT_GE(kinds[RegisterKind::kWills], 1);
  EXPECT_GE(kinds[RegisterKind::kPassengers], 1);
  EXPECT_GE(result.record_lines, 1500);
  EXPECT_LE(result.record_lines, 2500);
}

// python3 reads the files on its own (cp1252 codec, CR LF, record rules) and
// must count the same record lines per file as the generator planned.
void ExpectPythonAgrees(const fs::path& folder, const GeneratorResult& result) {
  const auto run = RunCommand("python3 " + Quote((kRoot / "tests/tools/check_registers.py").string()) +
                              " " + Quote(folder.string()));
  ASSERT_EQ(run.exit_code, 0) << run.output;
  std::map<std::string, std::pair<int64_t, int64_t>> counted;
  std::istringstream out(run.output);
  std::string name;
  int64_t records, lines;
  while (out >> name >> records >> lines) counted[name] = {records, lines};
  ASSERT_EQ(counted.size(), result.files.size()) << run.output;
  for (const GeneratedFile& file : result.files) {
    EXPECT_EQ(counted[file.plan.file_name].first, file.plan.record_lines) << file.plan.file_name;
    EXPECT_EQ(counted[file.plan.file_name].second, file.lines) << file.plan.file_name;
  }
}

bool HavePython() { return RunCommand("python3 -c pass").exit_code == 0; }

TEST(SampleRegisters, PythonReadsTheCommittedSet) {
  if (!HavePython()) GTEST_SKIP() << "python3 not found";
  GenCommandLine command;
  std::string error;
  ASSERT_TRUE(ParseGenCommandLine(DocumentedSampleCommand(), &command, &error)) << error;
  TempDir dir;
  command.options.out_dir = dir.path();
  ExpectPythonAgrees(kRoot / "samples" / "registers", GenerateRegisters(command.options));
}

TEST(SampleRegisters, PythonReadsLargerSetsOfOtherSeeds) {
  if (!HavePython()) GTEST_SKIP() << "python3 not found";
  for (uint64_t seed : {2u, 77u, 123456789u}) {
    TempDir dir;
    GeneratorOptions options;
    options.seed = seed;
    options.files = 13;
    options.record_lines = 40000;
    options.out_dir = dir.path();
    ExpectPythonAgrees(dir.path(), GenerateRegisters(options));
  }
}

TEST(SampleRegisters, PythonCheckCatchesBrokenFiles) {
  if (!HavePython()) GTEST_SKIP() << "python3 not found";
  const std::string script = Quote((kRoot / "tests/tools/check_registers.py").string());
  struct Case {
    const char* bytes;
    const char* fault;
  };
  const Case cases[] = {
      {"Title\r\n1687 12 Mar A, B; C; D\nmore\r\n", "bare CR or LF"},
      {"Title\r\n1687 12 Mar A, B; C; D", "no CR LF"},
      {"Title\r\n1687 12 March A, B; C; D\r\n", "without a date prefix"},
      {"Title\r\n1687 12 Mar A, B; ; D\r\n", "no father or child"},
      {"Title\r\n1687 12 Mar A\x81, B; C; D\r\n", "not Windows-1252"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::ofstream(dir.path() / "x_bap.txt", std::ios::binary) << c.bytes;
    const auto run = RunCommand("python3 " + script + " " + Quote(dir.path().string()));
    EXPECT_EQ(run.exit_code, 1) << c.fault;
    EXPECT_NE(run.output.find(c.fault), std::string::npos) << run.output;
  }
}

}  // namespace
}  // namespace regtools
