// Replays the register core's fuzz corpus and mutations of it through the
// fuzz body.
#include <gtest/gtest.h>

#define QV_FUZZ_CHECK_FAILED(text) ADD_FAILURE() << "fuzz check failed: " << (text)
#include "fuzz/app/register_fuzz.h"
#include "support/fuzz_replay.h"

namespace {

TEST(RegisterFuzzReplay, RegisterCore) {
  // The large file's seed once with a file of some 40,000 lines, searched
  // in two blocks; then every seed and mutations of them as the fuzzer
  // runs them.
  const std::filesystem::path large = std::filesystem::path(QV_SOURCE_DIR) / "fuzz/app/corpus/register/large_file";
  std::ifstream in(large, std::ios::binary);
  const std::string seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(seed.empty()) << large;
  appcore::fuzz::RegisterCore(reinterpret_cast<const std::uint8_t*>(seed.data()), seed.size(), 40000);
  qvtest::ReplayFuzzBody(
      "fuzz/app/corpus/register",
      [](const std::uint8_t* data, std::size_t size) { appcore::fuzz::RegisterCore(data, size); }, 600);
}

}  // namespace
