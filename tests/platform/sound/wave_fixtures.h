// The wave files and "Data" streams written by make_waves.py (python3's
// wave and struct modules), once per test program, with their manifest.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/sound/player.h"
#include "support/temp_dir.h"

namespace qvtest {

struct WaveCase {
  std::string name;
  bool playable = false;
  int channels = 0;
  unsigned rate = 0;
  int frame_bytes = 0;
  std::size_t offset = 0, size = 0;
};

class WaveFixtures {
public:
  static const WaveFixtures& Get() {
    static WaveFixtures fixtures;
    return fixtures;
  }
  std::string File(const std::string& name) const { return dir_.File(name); }
  std::string Bytes(const std::string& name) const { return ReadFileBytes(dir_.File(name)); }
  const std::vector<WaveCase>& Cases() const { return cases_; }

private:
  WaveFixtures() {
    const std::string command =
        "python3 " + std::string(QV_SOURCE_DIR) + "/tests/platform/sound/make_waves.py " + dir_.Path();
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
    std::istringstream manifest(ReadFileBytes(dir_.File("manifest")));
    WaveCase c;
    int playable = 0;
    while (manifest >> c.name >> playable >> c.channels >> c.rate >> c.frame_bytes >> c.offset >> c.size) {
      c.playable = playable != 0;
      cases_.push_back(c);
    }
  }
  TempDir dir_;
  std::vector<WaveCase> cases_;
};

// A sink that records what the player does and takes its time over each
// write, as a real device would.
struct SoundLog {
  std::mutex mutex;
  std::vector<std::string> sounds;  // the bytes written, one entry per opened sound
  int drops = 0;
  // While set, the first sound's first write waits until it is cleared, so a
  // test can start a second sound while the first is surely still playing.
  bool hold_first = false;
  std::condition_variable released;
  void Release() {
    { std::lock_guard lock(mutex); hold_first = false; }
    released.notify_all();
  }
};

class RecordingSink : public snd::TSoundSink {
public:
  RecordingSink(SoundLog& log, int ms_per_write) : log_(log), ms_(ms_per_write) {}
  bool Open(const snd::TWaveInfo& format) override {
    frame_ = static_cast<std::size_t>(format.BytesPerFrame);
    std::lock_guard lock(log_.mutex);
    log_.sounds.emplace_back();
    return true;
  }
  bool Write(const char* data, std::size_t frames) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms_));
    std::unique_lock lock(log_.mutex);
    log_.sounds.back().append(data, frames * frame_);
    if (log_.sounds.size() == 1)
      log_.released.wait_for(lock, std::chrono::seconds(10), [this] { return !log_.hold_first; });
    return true;
  }
  void Drop() override {
    std::lock_guard lock(log_.mutex);
    ++log_.drops;
  }
  void Drain(const std::function<bool()>&) override {}

private:
  SoundLog& log_;
  int ms_;
  std::size_t frame_ = 1;
};

// Puts a recording sink in the device's place for the life of the object.
class RecordingPlayer {
public:
  explicit RecordingPlayer(int ms_per_write = 0) {
    snd::SetSoundSinkFactory([this, ms_per_write] { return std::make_unique<RecordingSink>(log, ms_per_write); });
  }
  ~RecordingPlayer() {
    snd::WaitSoundIdle(10000);
    snd::SetSoundSinkFactory(nullptr);
  }
  SoundLog log;
};

}  // namespace qvtest
