// libFuzzer entry for SQL statement scripts.
#include "fuzz/sql/sql_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korvex::fuzz::Statements(data, size);
  return 0;
}
