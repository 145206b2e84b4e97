#include "tests/tables/engine/engine_test_support.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "tables/engine/cipher_keys.h"
#include "tables/engine/engine_error.h"
#include "tables/lib/support.h"

namespace korvex::testing {
namespace {

// Starts the storage library for the whole run.
class EngineEnvironment : public ::testing::Environment {
public:
  void SetUp() override { InitializeSupportFunctions(); }
  void TearDown() override { ExitSupportFunctions(); }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

}  // namespace

TFieldDefinition Field(const std::string& name, std::uint8_t type, std::uint8_t size, std::uint8_t sub,
                       std::uint8_t decimals) {
  TFieldDefinition f;
  f.Name = name;
  f.DataType = type;
  f.Size = size;
  f.SubType = sub;
  f.Decimals = decimals;
  return f;
}

void AssignLayout(std::vector<TFieldDefinition>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    fields[i].FieldNumber = static_cast<std::uint16_t>(i + 1);
    fields[i].UpdatePhysicalSize();
  }
  AssignFieldOffsets(fields);
}

std::unique_ptr<TDataFile> CreateTable(FakeHost& host, const std::string& path, std::vector<TFieldDefinition> fields,
                                       const TDataFileSettings& settings) {
  AssignLayout(fields);
  auto file = std::make_unique<TDataFile>(&host);
  file->SetFileName(path);
  file->CreateDataFile(settings, fields);
  file->WriteHeader(true, false);
  file->WriteFields();
  return file;
}

CheckResult RunTableCheck(const std::string& dat_path, const std::string& options) {
  std::string command = "python3 '" QV_SOURCE_DIR "/tools/tablecheck.py' " + options + " '" + dat_path + "' 2>&1";
  CheckResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string EngineKeysOption() {
  std::string keys;
  for (TCipherKeys k : {kHeaderTextKeys, kDataKeys, kIndexBlobKeys})
    keys += (keys.empty() ? "" : ",") + std::to_string(k.key1) + "," + std::to_string(k.key2);
  return "--keys " + keys;
}

std::string RunPython(const std::string& path, const std::string& python) {
  qvtest::TempDir dir;
  std::string script = dir.File("run.py");
  std::ofstream(script) << "import struct, os\npath = '" << path << "'\n" << python << "\n";
  std::string out;
  FILE* pipe = popen(("python3 '" + script + "'").c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

void PatchFile(const std::string& path, const std::string& python) {
  qvtest::TempDir dir;
  std::string script = dir.File("patch.py");
  std::ofstream(script) << "import struct, os\npath = '" << path << "'\n" << python << "\n";
  ASSERT_EQ(std::system(("python3 '" + script + "'").c_str()), 0) << python;
}

int RaisedNumber(const std::function<void()>& body) {
  try {
    body();
  } catch (const EKORVEXEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

void ExpectClean(TDataFile& file, const std::string& options) {
  file.FlushRecordBuffers(false);
  file.WriteHeader(false, false);
  file.WriteFields();
  CheckResult check = RunTableCheck(file.FileName(), options);
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(check.output, "");
}

}  // namespace korvex::testing
