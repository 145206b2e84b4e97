// The wave data component: its "Data" stream against python3's struct, file
// loading limits, assignment, and playing while the data goes away.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "controls/wave_sound.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/streams.h"
#include "tests/platform/sound/wave_fixtures.h"

namespace {

using controls::TKelmWave;
using controls::TKelmWaveData;
using qvtest::WaveFixtures;

std::string Written(const TKelmWaveData& data) {
  rtl::TStringStream out;
  data.WriteData(out);
  return out.DataString();
}

TEST(WaveData, DataStreamMatchesPythonStruct) {
  const auto& fx = WaveFixtures::Get();
  TKelmWaveData fresh;
  EXPECT_TRUE(fresh.IsEmpty());
  EXPECT_TRUE(fresh.InMemory());

  const std::string named = fx.Bytes("named.stream");
  ASSERT_EQ(named.size(), 17u);
  rtl::TStringStream in(named);
  TKelmWaveData data;
  data.ReadData(in);
  EXPECT_FALSE(data.InMemory());
  EXPECT_EQ(data.FileName(), "ding.wav");
  EXPECT_TRUE(data.HasData());  // played from the file
  EXPECT_EQ(Written(data), named);

  const std::string memory = fx.Bytes("memory.stream");
  rtl::TStringStream in2(memory);
  data.ReadData(in2);
  EXPECT_TRUE(data.InMemory());
  EXPECT_EQ(data.Data(), fx.Bytes("mono8.wav"));
  EXPECT_EQ(Written(data), memory);

  // Negative lengths and lengths past the end read as empty data.
  for (const char* bad : {"negative_name", "negative_bytes", "name_past_end", "bytes_past_end"}) {
    SCOPED_TRACE(bad);
    rtl::TStringStream in3(fx.Bytes(std::string(bad) + ".stream"));
    data.ReadData(in3);
    EXPECT_TRUE(data.Data().empty());
  }
}

TEST(WaveData, LoadFromFileAssignAndClear) {
  const auto& fx = WaveFixtures::Get();
  qvtest::TempDir dir;
  TKelmWaveData data;
  data.LoadFromFile(fx.File("mono16.wav"));
  EXPECT_EQ(data.Data(), fx.Bytes("mono16.wav"));
  EXPECT_EQ(data.FileName(), fx.File("mono16.wav"));

  // A missing file or one above 2^31 - 1 bytes clears and keeps the name.
  const std::string big = dir.File("big.wav");
  { std::ofstream(big).put('x'); }
  std::filesystem::resize_file(big, 0x80000000ull);
  for (const std::string& name : {dir.File("missing.wav"), big}) {
    data.LoadFromFile(name);
    EXPECT_TRUE(data.IsEmpty());
    EXPECT_EQ(data.FileName(), fx.File("mono16.wav"));
  }

  // An empty file: empty in memory, kept name; played from the name otherwise.
  const std::string empty = dir.File("empty.wav");
  { std::ofstream(empty).flush(); }
  data.LoadFromFile(empty);
  EXPECT_TRUE(data.IsEmpty());
  EXPECT_EQ(data.FileName(), empty);
  data.SetInMemory(false);
  EXPECT_TRUE(data.HasData());

  TKelmWave wave(nullptr);
  wave.Wave().LoadFromFile(fx.File("mono8.wav"));
  TKelmWaveData copy;
  copy.Assign(&wave.Wave());
  EXPECT_EQ(copy.Data(), fx.Bytes("mono8.wav"));
  EXPECT_FALSE(wave.Empty());
  wave.SetWave(nullptr);
  EXPECT_TRUE(wave.Empty());
  struct Other : rtl::TPersistent {} other;
  EXPECT_THROW(copy.Assign(&other), rtl::Exception);
}

TEST(WaveData, PlayingSurvivesTheDataGoingAway) {
  const auto& fx = WaveFixtures::Get();
  qvtest::RecordingPlayer player(2);
  const std::string bytes = fx.Bytes("stereo8.wav");
  for (int how = 0; how < 3; ++how) {
    auto wave = std::make_unique<TKelmWave>(nullptr);
    wave->Wave().SetData(bytes);
    wave->Play();
    if (how == 0) wave.reset();
    if (how == 1) wave->Wave().Clear();
    if (how == 2) wave->Wave().SetData("RIFF");
    ASSERT_TRUE(snd::WaitSoundIdle(10000));
  }
  std::lock_guard lock(player.log.mutex);
  ASSERT_EQ(player.log.sounds.size(), 3u);
  for (const auto& sound : player.log.sounds) EXPECT_EQ(sound, fx.Bytes("stereo8.wav.data"));
}

}  // namespace
