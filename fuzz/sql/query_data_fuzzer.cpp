// libFuzzer entry for the parameters' "Data" stream and the marker scan.
#include "fuzz/sql/query_data_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korvex::fuzz::QueryData(data, size);
  return 0;
}
