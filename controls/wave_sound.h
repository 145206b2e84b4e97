// Wave sound components: TKelmCustomSound (what the controls call),
// TKelmWave (a component holding one TKelmWaveData) and the wave data, held
// either as the bytes of a wave file or as the name of a file read when it
// plays.
//
// The "Data" stream of a wave data (little-endian, in this order):
//   offset 0      1 byte   in-memory flag (0 or 1)
//   offset 1      4 bytes  n: length of the file name (signed 32 bits)
//   offset 5      n bytes  the file name, no terminator
//   offset 5 + n  4 bytes  m: count of wave bytes (signed 32 bits)
//   offset 9 + n  m bytes  the wave bytes
// The stream is written only when the data is not empty. A stream whose n or
// m is negative or runs past its end reads as empty data.
#pragma once

#include <cstdint>
#include <string>

#include "platform/runtime/classes.h"

namespace rtl {
class TStream;
}

namespace controls {

class TKelmCustomSound : public rtl::TComponent {
public:
  explicit TKelmCustomSound(rtl::TComponent* owner) : rtl::TComponent(owner) {}
  std::string ClassName() const override { return "TKelmCustomSound"; }
  virtual void Play() {}
  virtual bool Empty() const { return true; }
};

// A control's reference to a sound component, cleared when the component
// is destroyed (through the component's free notification).
class TKelmSoundLink : public rtl::TComponent {
public:
  TKelmSoundLink() : rtl::TComponent(nullptr) {}
  TKelmCustomSound* Get() const { return sound_; }
  void Set(TKelmCustomSound* sound);
  // Plays the sound when there is one and it holds something.
  void Play() const {
    if (sound_ && !sound_->Empty()) sound_->Play();
  }
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

private:
  TKelmCustomSound* sound_ = nullptr;
};

class TKelmWaveData : public rtl::TPersistent {
public:
  std::string ClassName() const override { return "TKelmWaveData"; }

  bool IsEmpty() const { return in_memory_ ? bytes_.empty() : file_name_.empty(); }
  bool HasData() const { return !IsEmpty(); }
  // Drops the bytes; the file name and the flag stay.
  void Clear() { bytes_.clear(); }
  // Clear, then with the in-memory flag keeps a copy of the bytes.
  void SetData(const std::string& bytes);
  const std::string& Data() const { return bytes_; }

  bool InMemory() const { return in_memory_; }
  void SetInMemory(bool in_memory) { in_memory_ = in_memory; }
  const std::string& FileName() const { return file_name_; }
  void SetFileName(const std::string& name) { file_name_ = name; }

  // nullptr clears; another wave data is copied; anything else raises
  // EConvertError.
  void Assign(const rtl::TPersistent* source) override;
  // Clears; an existing file (up to 2^31 - 1 bytes) becomes the file name
  // and its bytes the data. A missing, unreadable or larger file leaves the
  // data cleared and the file name as it was.
  void LoadFromFile(const std::string& name);
  // Returns at once; the player keeps its own copy of the bytes.
  void Play() const;

  void ReadData(rtl::TStream& stream);
  void WriteData(rtl::TStream& stream) const;

private:
  std::string bytes_;
  bool in_memory_ = true;
  std::string file_name_;
};

class TKelmWave : public TKelmCustomSound {
public:
  explicit TKelmWave(rtl::TComponent* owner) : TKelmCustomSound(owner) {}
  std::string ClassName() const override { return "TKelmWave"; }
  void Play() override { wave_.Play(); }
  bool Empty() const override { return wave_.IsEmpty(); }
  TKelmWaveData& Wave() { return wave_; }
  const TKelmWaveData& Wave() const { return wave_; }
  void SetWave(const TKelmWaveData* data) { wave_.Assign(data); }

private:
  TKelmWaveData wave_;
};

}  // namespace controls
