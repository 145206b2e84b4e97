#include "tools/gen_command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/test_support.h"

namespace regtools {
namespace {

namespace fs = std::filesystem;
using regtools_test::Quote;
using regtools_test::RunCommand;
using regtools_test::TempDir;

bool Parse(const std::vector<std::string>& args, GenCommandLine* out, std::string* error) {
  return ParseGenCommandLine(args, out, error);
}

TEST(GenCommandLine, ReadsEveryOptionInBothForms) {
  GenCommandLine cl;
  std::string error;
  ASSERT_TRUE(Parse({"--seed", "18446744073709551615", "--out", "x y", "--files", "100",
                     "--lines=1000000"},
                    &cl, &error))
      << error;
  EXPECT_EQ(cl.options.seed, 18446744073709551615ull);
  EXPECT_EQ(cl.options.out_dir, fs::path("x y"));
  EXPECT_EQ(cl.options.files, 100);
  EXPECT_EQ(cl.options.record_lines, 1000000);
  EXPECT_FALSE(cl.help);

  ASSERT_TRUE(Parse({"--out=dir"}, &cl, &error)) << error;
  const GeneratorOptions defaults;
  EXPECT_EQ(cl.options.seed, defaults.seed);
  EXPECT_EQ(cl.options.files, defaults.files);
  EXPECT_EQ(cl.options.record_lines, defaults.record_lines);

  ASSERT_TRUE(Parse({"--help"}, &cl, &error));
  EXPECT_TRUE(cl.help);
}

TEST(GenCommandLine, RefusesBadInputWithAClearMessage) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{}, "--out is required"},
      {{"--seed", "5"}, "--out is required"},
      {{"--out"}, "needs a value"},
      {{"--out="}, "needs a folder"},
      {{"--out", "d", "--colour", "red"}, "unknown option '--colour'"},
      {{"--out", "d", "extra"}, "unknown option 'extra'"},
      {{"--out", "d", "--seed", "-1"}, "--seed must be"},
      {{"--out", "d", "--seed", "18446744073709551616"}, "--seed must be"},
      {{"--out", "d", "--seed", "12a"}, "--seed must be"},
      {{"--out", "d", "--files", "0"}, "--files must be"},
      {{"--out", "d", "--files", "10001"}, "--files must be"},
      {{"--out", "d", "--files", " 5"}, "--files must be"},
      {{"--out", "d", "--lines", "100000001"}, "--lines must be"},
      {{"--out", "d", "--lines", ""}, "--lines must be"},
      {{"--out", "d", "--lines", "1e6"}, "--lines must be"},
  };
  for (const Case& c : cases) {
    GenCommandLine cl;
    std::string error;
    EXPECT_FALSE(Parse(c.args, &cl, &error)) << c.message;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

// The tool itself: exit codes and messages.
TEST(QuorvaneGenTool, WritesTheSetAndReportsIt) {
  TempDir dir;
  const fs::path out = dir.path() / "set";
  const auto run = RunCommand(Quote(QV_GEN_TOOL) + " --seed 9 --files 6 --lines 600 --out " +
                              Quote(out.string()));
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_NE(run.output.find("6 files, 600 record lines"), std::string::npos) << run.output;
  EXPECT_EQ(regtools_test::ReadFolder(out).size(), 6u);
}

TEST(QuorvaneGenTool, BadArgumentsExitTwoFailedWritesExitOne) {
  auto run = RunCommand(Quote(QV_GEN_TOOL) + " --files 3");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.output.find("--out is required"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Usage:"), std::string::npos) << run.output;

  run = RunCommand(Quote(QV_GEN_TOOL) + " --help");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.output.find("Usage:"), std::string::npos);

  TempDir dir;
  std::ofstream(dir.path() / "plain") << "x";
  run = RunCommand(Quote(QV_GEN_TOOL) + " --out " + Quote((dir.path() / "plain").string()));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.output.find("Cannot create folder"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace regtools
