// SQLite through its C API as the benchmarks use it: one connection whose
// failures end the program, and a column's text.
#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

class Lite {
public:
  explicit Lite(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Die("open");
  }
  ~Lite() { sqlite3_close(db); }
  Lite(const Lite&) = delete;
  Lite& operator=(const Lite&) = delete;
  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) Die(error ? error : sql);
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) Die(sqlite3_errmsg(db));
    return s;
  }
  // Steps a statement that answers no row, then resets it.
  void Done(sqlite3_stmt* s) {
    if (sqlite3_step(s) != SQLITE_DONE) Die(sqlite3_errmsg(db));
    sqlite3_reset(s);
  }
  [[noreturn]] static void Die(const std::string& why) {
    std::fprintf(stderr, "sqlite: %s\n", why.c_str());
    std::exit(3);
  }
  sqlite3* db = nullptr;
};

inline std::string Text(sqlite3_stmt* s, int column) {
  const unsigned char* t = sqlite3_column_text(s, column);
  return t ? reinterpret_cast<const char*>(t) : "";
}

}  // namespace bench
