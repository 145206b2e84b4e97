// The process-wide wave player: one sound at a time, played in the
// background like the system's asynchronous sound call.
//
// PlayWave copies the bytes (PlayWaveFile reads the file on the worker) and
// returns at once; a worker thread opens the output, sets it from the wave
// header and writes the frames. A new sound stops the one playing (its
// queued frames are dropped). No device, an unreadable file or a wave that
// is not playable (see wave_file.h) means silence, never an error.
//
// The output is an ALSA device, "default" unless SetSoundDevice names
// another ("null", "file:FILE=/tmp/out.raw,FORMAT=raw", "hw:0", ...).
// Tests may put a recording sink in ALSA's place.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/sound/wave_file.h"

namespace snd {

// Where the frames go.
class TSoundSink {
public:
  virtual ~TSoundSink() = default;
  // False when there is no device for this format (the sound is skipped).
  virtual bool Open(const TWaveInfo& format) = 0;
  // Writes frames (whole frames of format.BytesPerFrame); false on an error
  // that ends the sound.
  virtual bool Write(const char* data, std::size_t frames) = 0;
  // Stops at once, dropping what is queued.
  virtual void Drop() = 0;
  // Waits for the queued frames to play out; returns early, dropping them,
  // when stop() turns true.
  virtual void Drain(const std::function<bool()>& stop) = 0;
};

using TSinkFactory = std::function<std::unique_ptr<TSoundSink>()>;

void PlayWave(std::string bytes);
void PlayWaveFile(std::string file_name);
// Ends the current sound, if any.
void StopSound();

void SetSoundDevice(const std::string& name);
std::string SoundDevice();
// nullptr restores the ALSA sink.
void SetSoundSinkFactory(TSinkFactory factory);
// Waits until nothing is queued or playing; false after timeout_ms.
bool WaitSoundIdle(int timeout_ms);

// Files above this size are not read.
inline constexpr long long kMaxWaveFileSize = 0x7FFFFFFF;
// Reads a whole file of at most kMaxWaveFileSize bytes; false when it cannot
// be opened or read, or is larger.
bool ReadWaveFile(const std::string& name, std::string& bytes);

}  // namespace snd
