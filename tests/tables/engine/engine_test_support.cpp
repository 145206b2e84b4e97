#include "tests/tables/engine/engine_test_support.h"

#include <filesystem>
#include <fstream>

#include "support/run_command.h"
#include "tables/engine/base/cipher_keys.h"
#include "tables/engine/errors/engine_error.h"
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

FaultAt::FaultAt(int k) : target(k) {
  TFileHandler::SetFaultHook([this](TFaultSite site) {
    if (++reached != target) return;
    RaiseError(site == TFaultSite::Read       ? err::kReadError
               : site == TFaultSite::Allocate ? err::kTableFull
                                              : err::kWriteError,
               "injected");
  });
}

FaultAt::~FaultAt() { TFileHandler::SetFaultHook(nullptr); }

std::map<std::string, std::string> FolderFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (auto& e : std::filesystem::directory_iterator(folder)) files[e.path().filename()] = qvtest::ReadFileBytes(e.path());
  return files;
}

CheckResult RunTableCheck(const std::string& dat_path, const std::string& options) {
  qvtest::CommandResult run =
      qvtest::RunShell("python3 '" QV_SOURCE_DIR "/tools/tablecheck.py' " + options + " '" + dat_path + "' 2>&1");
  return {run.status, run.output};
}

std::string EngineKeysOption() {
  std::string keys;
  for (TCipherKeys k : {kHeaderTextKeys, kDataKeys, kIndexBlobKeys})
    keys += (keys.empty() ? "" : ",") + std::to_string(k.key1) + "," + std::to_string(k.key2);
  return "--keys " + keys;
}

namespace {

// A python3 script binding `path`, then the statements.
std::string PythonScript(const qvtest::TempDir& dir, const std::string& path, const std::string& python) {
  std::string script = dir.File("run.py");
  std::ofstream(script) << "import struct, os\npath = '" << path << "'\n" << python << "\n";
  return "python3 '" + script + "'";
}

}  // namespace

std::string RunPython(const std::string& path, const std::string& python) {
  qvtest::TempDir dir;
  return qvtest::RunShell(PythonScript(dir, path, python)).output;
}

void PatchFile(const std::string& path, const std::string& python) {
  qvtest::TempDir dir;
  ASSERT_EQ(qvtest::RunShell(PythonScript(dir, path, python)).status, 0) << python;
}

void AppendRecords(TDataFile& file, int count, const std::function<void(TRecord*, int)>& fill) {
  for (int i = 0; i < count; ++i) {
    TRecord* r = nullptr;
    ASSERT_TRUE(file.GetNextFreeRecord(nullptr, r));
    if (fill) fill(r, i);
    r->Modified = true;
    file.PutRecord(r);
  }
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
