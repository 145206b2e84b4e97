#include "tests/tables/sql/dml_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "support/run_command.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/fieldtypes.h"
#include "tables/sql/statement.h"

namespace korvex::testing {

namespace fs = std::filesystem;

const char* const kSqliteDump =
    "def f(v):\n"
    "  if v is None: return 'NULL'\n"
    "  if isinstance(v, float): return '%.9g' % v\n"
    "  return str(v)\n"
    "def dump(t):\n"
    "  for line in sorted('|'.join(f(v) for v in r) for r in c.execute('SELECT * FROM ' + t)): print(line)\n"
    "  print('--')\n";

void DmlTest::SetUp() {
  InitializeKORVEX();
  SqlTest::SetUp();
  path_ = (fs::temp_directory_path() / ("qv_dml_" + std::to_string(std::random_device{}()))).string();
  fs::create_directories(path_);
  session_ = std::make_unique<TDataSession>();
  dir_ = session_->OpenDataDirectory("data", path_);
}

void DmlTest::TearDown() {
  session_.reset();
  fs::remove_all(path_);
  SqlTest::TearDown();
  ExitKORVEX();
}

namespace {

TFieldDefinition Field(const char* name, std::uint8_t type, std::uint8_t size = 0, std::uint8_t sub_type = 0) {
  TFieldDefinition f;
  f.Name = name;
  f.DataType = type;
  f.Size = size;
  f.SubType = sub_type;
  return f;
}

}  // namespace

void DmlTest::MakeDmlTables() {
  for (const char* name : {"P", "N"}) {
    std::vector<TFieldDefinition> fields = {Field("Id", dtInteger), Field("A", dtInteger), Field("S", dtString, 8),
                                            Field("F", dtFloat)};
    TTableCreation creation;
    creation.Overwrite = true;
    if (name[0] == 'P') {
      fields.push_back(Field("M", dtBlob, 0, fstMemo));
      TIndexDefinition primary;
      primary.FieldCount = 1;
      primary.Fields[0] = 1;
      creation.Indexes = {primary};
    }
    TDataCursor cursor(dir_);
    cursor.SetTableName(name);
    cursor.SetExclusive(true);
    cursor.CreateTable(creation, fields);
  }
}

void DmlTest::DropDmlTables() {
  for (const char* name : {"P", "N"}) {
    TDataCursor cursor(dir_);
    cursor.SetTableName(name);
    cursor.SetExclusive(true);
    cursor.DeleteTable();
  }
}

std::string DmlTest::Run(const std::string& text) {
  try {
    TQueryStatement statement(dir_);
    Execute(statement, text);
    return "OK " + std::to_string(statement.GetRowsAffected());
  } catch (const EKORVEXEngineError&) {
    return "ERR";
  }
}

std::string DmlTest::RunError(const std::string& text) { return ExecuteError(dir_, text); }

std::string FieldText(TDataCursor& cursor, int field, std::uint8_t* record) {
  const TFieldDefinition& f = cursor.GetFieldDefinitionByPos(field);
  if (f.DataType == dtBlob) {
    std::int64_t size = 0;
    std::string text;
    if (cursor.OpenBlob(field, record, 0) == 0 && cursor.GetBlobSize(field, record, size) == 0 && size > 0) {
      text.resize(static_cast<std::size_t>(size));
      std::int64_t got = 0;
      cursor.GetBlob(field, record, 0, reinterpret_cast<std::uint8_t*>(text.data()), size, got);
    }
    cursor.FreeBlob(field, record);
    return text.empty() ? "NULL" : text;
  }
  std::uint8_t data[256] = {};
  if (cursor.GetField(field, record, data)) return "NULL";
  switch (f.DataType) {
    case dtString: return reinterpret_cast<const char*>(data);
    case dtSmallInt: { std::int16_t v; std::memcpy(&v, data, 2); return std::to_string(v); }
    case dtWord:
    case dtBoolean: { std::uint16_t v; std::memcpy(&v, data, 2); return std::to_string(v); }
    case dtInteger:
    case dtDate:
    case dtTime: { std::int32_t v; std::memcpy(&v, data, 4); return std::to_string(v); }
    case dtFloat: {
      double v;
      std::memcpy(&v, data, 8);
      char text[64];
      std::snprintf(text, sizeof text, "%.9g", v);
      return text;
    }
    case dtBCD: {
      // Scaled to four places; printed as a number.
      std::uint8_t buffer[kConvertBufferSize + 1] = {};
      std::memcpy(buffer, data, 8);
      if (!ConvertExpression(dtBCD, 8, f.PhysicalDecimals, dtFloat, 8, 0, buffer)) return "?";
      double v;
      std::memcpy(&v, buffer, 8);
      char text[64];
      std::snprintf(text, sizeof text, "%.9g", v);
      return text;
    }
    default: return "?";
  }
}

std::vector<std::string> ResultRows(TDataCursor& result) {
  std::vector<std::string> rows;
  std::vector<std::uint8_t> record(result.GetRecordSize());
  result.SetToBegin();
  while (result.GetNextRecord(record.data()) == 0) {
    std::string line;
    bool first = true;
    for (int i = 1; i <= result.GetFieldCount(); ++i) {
      if (result.GetFieldDefinitionByPos(i).Hidden) continue;
      line += (first ? "" : "|") + FieldText(result, i, record.data());
      first = false;
    }
    rows.push_back(line);
  }
  return rows;
}

std::vector<std::string> DmlTest::Dump(const std::string& table) {
  TDataCursor cursor(dir_);
  cursor.SetTableName(table);
  cursor.OpenCursor();
  std::vector<std::uint8_t> record(cursor.GetRecordSize());
  std::vector<std::string> rows;
  cursor.SetToBegin();
  while (cursor.GetNextRecord(record.data()) == 0) {
    std::string line;
    for (int i = 1; i <= cursor.GetFieldCount(); ++i) line += (i > 1 ? "|" : "") + FieldText(cursor, i, record.data());
    rows.push_back(line);
  }
  cursor.CloseCursor();
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::map<std::string, std::string> DmlTest::TableFileBytes(const std::vector<std::string>& tables) const {
  std::map<std::string, std::string> bytes;
  for (const std::string& table : tables) {
    for (const char* extension : {".DAT", ".IDX", ".BLB"}) {
      const fs::path file = fs::path(path_) / (table + extension);
      if (!fs::exists(file)) continue;
      std::ifstream in(file, std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      bytes[file.filename().string()] = content.str();
    }
  }
  return bytes;
}

bool DmlTest::SubSelectsSupported() {
  MakeDmlTables();
  const bool answered = RunError("DELETE FROM N WHERE Id IN (SELECT Id FROM P)").empty();
  DropDmlTables();
  return answered;
}

std::vector<DmlTest::Answer> DmlTest::SqliteAnswers(const std::string& program, std::size_t tables) {
  const fs::path script = fs::path(path_) / "answers.py";
  {
    std::ofstream out(script);
    out << program;
  }
  const auto result = qvtest::RunShell("python3 " + script.string());
  EXPECT_EQ(result.status, 0) << result.output;
  std::vector<Answer> answers;
  std::istringstream in(result.output);
  std::string line;
  while (std::getline(in, line)) {
    Answer answer;
    answer.outcome = line;
    for (std::size_t t = 0; t < tables; ++t) {
      answer.tables.emplace_back();
      while (std::getline(in, line) && line != "--") answer.tables.back().push_back(line);
    }
    answers.push_back(std::move(answer));
  }
  return answers;
}

}  // namespace korvex::testing
