// Seeds of the native image fuzz target and its replay in the normal build:
// the committed corpus (fuzz/memo/corpus/native_image) and mutations of it go
// through the fuzz body. With QV_MEMO_SEED_DIR set, the seed images are written
// into that folder.
#include <gtest/gtest.h>

#define QV_FUZZ_CHECK_FAILED(text) ADD_FAILURE() << "fuzz check failed: " << (text)
#include "fuzz/memo/native_image_fuzz.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "memo_test_util.h"

using namespace memo;

namespace {

using Bytes = std::string;

class FakeWindow : public TMemoWindow {
public:
  TTextMeasurer& Measurer() override { return measurer; }
  int ClientWidth() const override { return 120; }
  int ClientHeight() const override { return 100; }
  TFixedWidthMeasurer measurer{8};
};

// Native images of small highlighted memos: keywords, a start/stop pair
// across paragraphs, a user run, wrapped lines (with a window), long text.
std::vector<Bytes> SeedImages() {
  const std::vector<std::string> texts = {
      "", "a", "John Smith\r\n\r\nsmith (x)\r\n", std::string(300, 'w') + " end",
      "(open smith\r\nstill open) Smith \x02" "bold\x02\r\nlast", "Mary Smith, wid; Joan Smith\twitness"};
  std::vector<Bytes> images;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    TVellMemo m;
    FakeWindow window;
    if (i % 2 == 1) m.AttachWindow(&window);
    m.Keywords().AddKeyWord("smith", 0, fsBold, 1, 0, clWhite, clRed);
    m.StartStopKeys().AddStartStopKey("(", ")", 0, 0, 0, 0, clYellow, clBlue, false);
    m.SetText(texts[i]);
    m.FormatNow(0, m.GetParCount() - 1, false);
    if (m.GetTextLen() > 3) m.SetDynStyle(1, 3, fsItalic, false, 7, 0, clNone, clGreen);
    m.FormatNow(0, m.GetParCount() - 1, false);
    rtl::TStringStream s;
    m.SaveToNativeStream(s);
    images.push_back(s.DataString());
    m.AttachWindow(nullptr);
  }
  return images;
}

std::vector<Bytes> Corpus() {
  std::vector<Bytes> seeds;
  const std::filesystem::path dir = std::filesystem::path(QV_SOURCE_DIR) / "fuzz/memo/corpus/native_image";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return seeds;
}

// Flips, inserts, deletes and overwrites bytes, and sets 32-bit words to
// edge values (the image is made of counts and lengths).
Bytes Mutate(const std::vector<Bytes>& seeds, std::mt19937& rng) {
  Bytes b = seeds[rng() % seeds.size()];
  for (int k = 0, n = 1 + static_cast<int>(rng() % 4); k < n && !b.empty(); ++k) {
    const std::size_t at = rng() % b.size();
    switch (rng() % 5) {
      case 0:
        b[at] = static_cast<char>(b[at] ^ (1 << (rng() % 8)));
        break;
      case 1:
        b.insert(b.begin() + static_cast<long>(at), static_cast<char>(rng()));
        break;
      case 2:
        b.erase(at, 1 + rng() % 8);
        break;
      case 3: {
        static const std::int32_t kEdges[] = {0, 1, -1, 2, 36, 60, 0x7FFFFFFF, -0x7FFFFFFF - 1, 65535};
        const std::int32_t v = kEdges[rng() % 9];
        const std::size_t word = at / 4 * 4;
        if (word + 4 <= b.size()) std::memcpy(b.data() + word, &v, 4);
        break;
      }
      default:
        b.resize(at);
        break;
    }
  }
  return b;
}

void Feed(const Bytes& b) { fuzz::NativeImage(reinterpret_cast<const std::uint8_t*>(b.data()), b.size()); }

}  // namespace

TEST(NativeImageSeeds, ImagesReadBackAndWriteTheSameBytes) {
  const char* dir = std::getenv("QV_MEMO_SEED_DIR");
  int n = 0;
  for (const Bytes& image : SeedImages()) {
    if (dir) std::ofstream(std::string(dir) + "/seed" + std::to_string(n++), std::ios::binary) << image;
    TVellMemo back;
    rtl::TStringStream in(image);
    back.LoadFromNativeStream(in, true);
    rtl::TStringStream out;
    back.SaveToNativeStream(out);
    EXPECT_EQ(out.DataString(), image);
    Feed(image);
  }
}

TEST(NativeImageSeeds, CorpusAndMutationsThroughTheFuzzBody) {
  const std::vector<Bytes> seeds = Corpus();
  ASSERT_FALSE(seeds.empty());
  for (const Bytes& seed : seeds) Feed(seed);
  std::mt19937 rng(20260);
  for (int i = 0; i < 3000 && !HasFailure(); ++i) Feed(Mutate(seeds, rng));
}
