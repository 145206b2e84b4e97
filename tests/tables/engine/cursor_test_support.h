// Shared helpers of the data cursor tests: a session with short lock
// waits and its directory, and a cursor on a table of it.
#pragma once

#include <memory>
#include <string>

#include "tables/engine/data_cursor.h"
#include "tables/engine/data_session.h"

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

}  // namespace korvex::testing
