#include "controls/wave_sound.h"

#include "platform/runtime/coding.h"
#include "platform/runtime/files.h"
#include "platform/runtime/streams.h"
#include "platform/sound/player.h"

namespace controls {

void TKelmSoundLink::Set(TKelmCustomSound* sound) {
  if (sound == sound_) return;
  if (sound_) RemoveFreeNotification(sound_);
  sound_ = sound;
  if (sound_) FreeNotification(sound_);
}

void TKelmSoundLink::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  if (operation == rtl::opRemove && component == sound_) sound_ = nullptr;
  rtl::TComponent::Notification(component, operation);
}

void TKelmWaveData::SetData(const std::string& bytes) {
  Clear();
  if (in_memory_) bytes_ = bytes;
}

void TKelmWaveData::Assign(const rtl::TPersistent* source) {
  if (source == nullptr) {
    Clear();
    return;
  }
  if (auto* other = dynamic_cast<const TKelmWaveData*>(source)) {
    if (other == this) return;
    file_name_ = other->file_name_;
    in_memory_ = other->in_memory_;
    SetData(other->bytes_);
    return;
  }
  rtl::TPersistent::Assign(source);
}

void TKelmWaveData::LoadFromFile(const std::string& name) {
  Clear();
  if (!rtl::FileExists(name)) return;
  std::string bytes;
  if (!snd::ReadWaveFile(name, bytes)) return;
  file_name_ = name;
  bytes_ = std::move(bytes);
}

void TKelmWaveData::Play() const {
  if (IsEmpty()) return;
  if (in_memory_)
    snd::PlayWave(bytes_);
  else
    snd::PlayWaveFile(file_name_);
}

void TKelmWaveData::ReadData(rtl::TStream& stream) {
  Clear();
  const std::int64_t end = stream.Size();
  auto remaining = [&] { return end - stream.Position(); };
  auto read_count = [&](std::int32_t& count) {
    if (remaining() < 4) return false;
    count = static_cast<std::int32_t>(rtl::ReadFixed32(stream));
    return count >= 0 && count <= remaining();
  };
  std::uint8_t flag = 0;
  if (stream.Read(&flag, 1) != 1) return;
  std::int32_t n = 0, m = 0;
  if (!read_count(n)) return;
  std::string name(static_cast<std::size_t>(n), '\0');
  if (n > 0) stream.ReadBuffer(name.data(), n);
  if (!read_count(m)) return;
  std::string bytes(static_cast<std::size_t>(m), '\0');
  if (m > 0) stream.ReadBuffer(bytes.data(), m);
  in_memory_ = flag != 0;
  file_name_ = std::move(name);
  bytes_ = std::move(bytes);
}

void TKelmWaveData::WriteData(rtl::TStream& stream) const {
  const std::uint8_t flag = in_memory_ ? 1 : 0;
  stream.WriteBuffer(&flag, 1);
  rtl::WriteFixed32(stream, static_cast<std::uint32_t>(file_name_.size()));
  stream.WriteBuffer(file_name_.data(), static_cast<std::int64_t>(file_name_.size()));
  rtl::WriteFixed32(stream, static_cast<std::uint32_t>(bytes_.size()));
  stream.WriteBuffer(bytes_.data(), static_cast<std::int64_t>(bytes_.size()));
}

}  // namespace controls
