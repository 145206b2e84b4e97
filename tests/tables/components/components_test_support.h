// Shared pieces of the component tests: a fixture that tears the sessions
// down and checks the counted allocator, and a dataset over one table.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/exceptions.h"
#include "support/child_process.h"
#include "support/raised.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/components/datasets.h"
#include "tables/components/korvex_table.h"
#include "tables/components/sessions.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/files/field_definition.h"
#include "tables/engine/files/index_definition.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/allocator.h"

namespace korvex::testing {

// The message of what `action` raises; "" when it raises nothing.
inline std::string Raised(const std::function<void()>& action) { return qvtest::WhatRaised<rtl::Exception>(action); }

// "<file> <sha256>" of each file of table `name` in `dir` (computed by
// python3), to see whether anything wrote them.
inline std::string TableFileHashes(const std::string& dir, const std::string& name) {
  qvtest::CommandResult run = qvtest::RunPythonScript(
      "import glob, hashlib\nfor f in sorted(glob.glob('" + dir + "/" + name + ".*')):\n"
      "    print(f, hashlib.sha256(open(f, 'rb').read()).hexdigest())\n",
      " 2>&1");
  EXPECT_EQ(run.status, 0) << run.output;
  return run.output;
}

// A forked process holding a lock on a table until it is killed: `hold`
// opens the child's own Table and takes a record, table or semaphore lock
// (false when it could not). Once the child holds it, this process tries
// each lock once, without waiting.
template <class Table>
class LockHolder {
public:
  explicit LockHolder(const std::function<bool(Table&)>& hold)
      : child_([&](qvtest::ChildProcess& self) {
          Table t;
          if (!hold(t)) return 1;
          self.Ready();
          self.WaitTold();
          return 0;
        }) {
    holding_ = child_.WaitReady();
    Session().SetLockRetryCount(1);
    Session().SetLockWaitTime(1);
  }
  bool Holding() const { return holding_; }
  // Kills the holder as a crash would; its exit status (128 + SIGKILL).
  int Kill() {
    child_.Kill(SIGKILL);
    return child_.Wait();
  }

private:
  qvtest::ChildProcess child_;
  bool holding_ = false;
};

class ComponentsTest : public ::testing::Test {
protected:
  void TearDown() override {
    FinalizeSessions();
    EXPECT_FALSE(KORVEXInitialized());
    EXPECT_EQ(GetTotalMemoryAllocated(), 0) << "bytes of the counted allocator left behind";
  }
};

// A dataset on one table of its database (what the table component adds
// to TKORVEXDBDataSet, cut down to what the tests need).
class TestTable : public TKORVEXDBDataSet {
public:
  explicit TestTable(rtl::TComponent* owner = nullptr) : TKORVEXDBDataSet(owner) {}
  ~TestTable() override { Close(); }
  std::string TableName;
  bool Exclusive = false;
  bool InMemory = false;

  using TKORVEXDataSet::GetActiveRecordBuffer;
  using TKORVEXDataSet::InitBufferPointers;

protected:
  TDataCursor* CreateHandle() override {
    auto cursor = std::make_unique<TDataCursor>(DBHandle());
    cursor->SetTableName(TableName);
    cursor->SetExclusive(Exclusive);
    cursor->SetInMemory(InMemory);
    TKORVEXSession* session = DBSession();
    cursor->SetPasswordCallback([session] { return session->GetPassword(); });
    cursor->OpenCursor();
    return cursor.release();
  }
};

// A field definition for table creation (sizes and offsets are the
// engine's to fill in).
inline TFieldDefinition Field(const std::string& name, std::uint8_t type, std::uint8_t size = 0,
                              std::uint8_t sub = 0) {
  TFieldDefinition f;
  f.Name = name;
  f.DataType = type;
  f.Size = size;
  f.SubType = sub;
  return f;
}

// An index definition: its key fields by number.
inline TIndexDefinition Index(const std::string& name, std::vector<std::uint16_t> fields,
                              bool case_insensitive = false, bool descending = false) {
  TIndexDefinition d;
  d.Name = name;
  d.CaseInsensitive = case_insensitive ? 1 : 0;
  d.Descending = descending ? 1 : 0;
  for (std::size_t i = 0; i < fields.size(); ++i) d.Fields[i] = fields[i];
  return d;
}

// Creates a table in the directory `database` names (a path or a database
// of the default session), with secondary indexes when given (the primary
// one has no key).
inline void MakeTable(const std::string& database, const std::string& name, std::vector<TFieldDefinition> fields,
                      bool in_memory = false, std::vector<TIndexDefinition> indexes = {}) {
  TKORVEXDatabase* db = Session().OpenDatabase(database);
  {
    TDataCursor cursor(db->Handle());
    cursor.SetTableName(name);
    cursor.SetExclusive(true);
    cursor.SetInMemory(in_memory);
    TTableCreation creation;
    creation.Overwrite = true;
    if (!indexes.empty()) {
      creation.IndexCount = static_cast<std::uint8_t>(indexes.size());
      indexes.insert(indexes.begin(), Index("", {}));
      creation.Indexes = std::move(indexes);
    }
    cursor.CreateTable(creation, fields);
  }
  Session().CloseDatabase(db);
}

// The table "recs" in `dir` with the fields ID (the primary key), G, F
// (text of 8) and M (memo) and the indexes ByG on G and ByGDown on G
// descending; `t` is left on it, closed.
inline void CreateRecsTable(TKORVEXTable& t, const std::string& dir) {
  t.SetDatabaseName(dir);
  t.SetTableName("recs");
  t.FieldDefs().Add("ID", db::ftInteger, 0, true);
  t.FieldDefs().Add("G", db::ftInteger);
  t.FieldDefs().Add("F", db::ftString, 8);
  t.FieldDefs().Add("M", db::ftMemo);
  t.IndexDefs().Add("", "ID", db::ixPrimary | db::ixUnique);
  t.IndexDefs().Add("ByG", "G", 0);
  t.IndexDefs().Add("ByGDown", "G", db::ixDescending);
  t.CreateTable();
}

}  // namespace korvex::testing
