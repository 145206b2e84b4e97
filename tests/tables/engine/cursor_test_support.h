// Shared helpers of the data cursor tests: a session with short lock
// waits and its directory, a cursor on a table of it, and tables made
// through a cursor.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_session.h"

namespace korvex::testing {

struct Env {
  explicit Env(const std::string& path) {
    session.Timing.InternalSleepMs = 1;
    session.LockWaitTime = 5;
    dir = session.OpenDataDirectory("data", path);
  }
  TDataSession session;
  TDataDirectory* dir = nullptr;
};

inline std::unique_ptr<TDataCursor> Cursor(TDataDirectory* dir, bool exclusive, const std::string& name = "t") {
  auto c = std::make_unique<TDataCursor>(dir);
  c->SetTableName(name);
  c->SetExclusive(exclusive);
  return c;
}

// A primary key on field `key` and a secondary index "S" on field `name`.
inline TTableCreation KeyAndNameIndexes(std::uint16_t key, std::uint16_t name) {
  TTableCreation creation;
  TIndexDefinition primary, names;
  primary.Fields[primary.FieldCount++] = key;
  names.Name = "S";
  names.Fields[names.FieldCount++] = name;
  creation.IndexCount = 1;
  creation.Indexes = {primary, names};
  return creation;
}

inline void CreateWithCursor(TDataDirectory* dir, std::vector<TFieldDefinition> fields, TTableCreation creation = {},
                             const std::string& name = "t", bool in_memory = false) {
  auto c = Cursor(dir, true, name);
  c->SetInMemory(in_memory);
  c->CreateTable(creation, fields);
}

}  // namespace korvex::testing
