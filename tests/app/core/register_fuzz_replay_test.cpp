// Replays the register core's fuzz corpus and mutations of it through the
// fuzz body.
#include <gtest/gtest.h>

#define QV_FUZZ_CHECK_FAILED(text) ADD_FAILURE() << "fuzz check failed: " << (text)
#include "fuzz/app/register_fuzz.h"
#include "support/fuzz_replay.h"

namespace {

TEST(RegisterFuzzReplay, RegisterCore) {
  // The large file's seed at its full size, searched in two blocks; then
  // every seed and the mutations with large files of some 2,000 lines
  // (mapped rather than read once they pass 64 KiB).
  const std::filesystem::path large = std::filesystem::path(QV_SOURCE_DIR) / "fuzz/app/corpus/register/large_file";
  std::ifstream in(large, std::ios::binary);
  const std::string seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(seed.empty()) << large;
  appcore::fuzz::RegisterCore(reinterpret_cast<const std::uint8_t*>(seed.data()), seed.size());
  qvtest::ReplayFuzzBody(
      "fuzz/app/corpus/register",
      [](const std::uint8_t* data, std::size_t size) { appcore::fuzz::RegisterCore(data, size, 2000); }, 600);
}

}  // namespace
