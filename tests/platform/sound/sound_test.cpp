// The wave reader and the player against files written by python3's wave and
// struct modules; the player through alsa-lib's "file" device over "null"
// and through a recording sink.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/sound/player.h"
#include "platform/sound/wave_file.h"
#include "tests/platform/sound/wave_fixtures.h"

namespace {

using qvtest::WaveFixtures;

TEST(WaveFile, HeadersMatchWhatPythonWrote) {
  const auto& fx = WaveFixtures::Get();
  ASSERT_EQ(fx.Cases().size(), 13u);
  for (const auto& c : fx.Cases()) {
    SCOPED_TRACE(c.name);
    snd::TWaveInfo info;
    std::string why;
    const std::string bytes = fx.Bytes(c.name);
    ASSERT_EQ(snd::ParseWave(bytes, info, &why), c.playable) << why;
    if (!c.playable) continue;
    EXPECT_EQ(info.Channels, c.channels);
    EXPECT_EQ(info.Rate, c.rate);
    EXPECT_EQ(info.BytesPerFrame, c.frame_bytes);
    EXPECT_EQ(info.DataOffset, c.offset);
    EXPECT_EQ(info.DataSize, c.size);
    EXPECT_EQ(bytes.substr(info.DataOffset, info.DataSize), fx.Bytes(c.name + ".data"));
  }
  snd::TWaveInfo info;
  for (const char* bad : {"", "RIFF", "RIFF\x04\0\0\0WAVE", "RIFX\0\0\0\0WAVEfmt "}) EXPECT_FALSE(snd::ParseWave(bad, info));
}

TEST(WavePlayer, FileDeviceRecordsExactlyEachDataChunk) {
  const auto& fx = WaveFixtures::Get();
  qvtest::TempDir dir;
  for (const auto& c : fx.Cases()) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.File(c.name + ".raw");
    snd::SetSoundDevice("file:FILE=" + out + ",FORMAT=raw");
    if (c.name.size() % 2)
      snd::PlayWave(fx.Bytes(c.name));
    else
      snd::PlayWaveFile(fx.File(c.name));
    ASSERT_TRUE(snd::WaitSoundIdle(10000));
    if (c.playable)
      EXPECT_EQ(qvtest::ReadFileBytes(out), fx.Bytes(c.name + ".data"));
    else
      EXPECT_FALSE(std::filesystem::exists(out));
  }
  // A missing file and an unknown device are silence, not errors.
  snd::PlayWaveFile(dir.File("missing.wav"));
  EXPECT_TRUE(snd::WaitSoundIdle(10000));
  snd::SetSoundDevice("no_such_device_here");
  const auto start = std::chrono::steady_clock::now();
  snd::PlayWave(fx.Bytes("mono16.wav"));
  EXPECT_TRUE(snd::WaitSoundIdle(10000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(snd::SoundDevice(), "no_such_device_here");
  snd::SetSoundDevice("default");
}

TEST(WavePlayer, NewSoundStopsTheCurrentOne) {
  const auto& fx = WaveFixtures::Get();
  qvtest::RecordingPlayer player(5);
  const std::string first = fx.Bytes("stereo16.wav");  // 100 writes of 20 ms
  const std::string second = fx.Bytes("mono8.wav");
  player.log.hold_first = true;  // the first sound stops after its first write until released
  snd::PlayWave(first);
  for (int i = 0; i < 1000; ++i) {
    {
      std::lock_guard lock(player.log.mutex);
      if (!player.log.sounds.empty() && player.log.sounds[0].size() > 0) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  snd::PlayWave(second);
  player.log.Release();
  ASSERT_TRUE(snd::WaitSoundIdle(10000));
  std::lock_guard lock(player.log.mutex);
  ASSERT_EQ(player.log.sounds.size(), 2u);
  EXPECT_EQ(player.log.drops, 1);
  EXPECT_GT(player.log.sounds[0].size(), 0u);
  EXPECT_LT(player.log.sounds[0].size(), 17640u);
  EXPECT_EQ(player.log.sounds[0], first.substr(44, player.log.sounds[0].size()));
  EXPECT_EQ(player.log.sounds[1], fx.Bytes("mono8.wav.data"));
}

}  // namespace
