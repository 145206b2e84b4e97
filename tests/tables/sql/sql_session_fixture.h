// A fixture for SQL tests over tables on disk: the engine started, one
// session with its private directory and a data directory "data" (dir_),
// each in a folder of its own that goes with the test.
#pragma once

#include <memory>

#include "support/temp_dir.h"
#include "tables/engine/table/data_session.h"
#include "tests/tables/sql/sql_test_support.h"

namespace korvex::testing {

class SqlSessionTest : public SqlTest {
protected:
  void SetUp() override {
    InitializeKORVEX();
    SqlTest::SetUp();
    session_ = std::make_unique<TDataSession>();
    session_->SetPrivateDirectory(private_.path().string());
    dir_ = session_->OpenDataDirectory("data", data_.path().string());
  }
  void TearDown() override {
    session_.reset();
    SqlTest::TearDown();
    ExitKORVEX();
  }

  qvtest::TempDir private_, data_;
  std::unique_ptr<TDataSession> session_;
  TDataDirectory* dir_ = nullptr;
};

}  // namespace korvex::testing
