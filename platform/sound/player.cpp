#include "platform/sound/player.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/runtime/streams.h"

namespace snd {
namespace {

void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

snd_pcm_format_t AlsaFormat(SampleKind kind) {
  switch (kind) {
    case SampleKind::Unsigned8: return SND_PCM_FORMAT_U8;
    case SampleKind::Signed16: return SND_PCM_FORMAT_S16_LE;
    case SampleKind::Signed24: return SND_PCM_FORMAT_S24_3LE;
    case SampleKind::Signed32: return SND_PCM_FORMAT_S32_LE;
    case SampleKind::Float32: return SND_PCM_FORMAT_FLOAT_LE;
  }
  return SND_PCM_FORMAT_UNKNOWN;
}

class TAlsaSink : public TSoundSink {
public:
  explicit TAlsaSink(std::string device) : device_(std::move(device)) {}
  ~TAlsaSink() override {
    if (pcm_) snd_pcm_close(pcm_);
  }

  bool Open(const TWaveInfo& format) override {
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(QuietAlsaErrors); });
    if (snd_pcm_open(&pcm_, device_.c_str(), SND_PCM_STREAM_PLAYBACK, 0) < 0) {
      pcm_ = nullptr;
      return false;
    }
    if (snd_pcm_set_params(pcm_, AlsaFormat(format.Kind), SND_PCM_ACCESS_RW_INTERLEAVED,
                           static_cast<unsigned>(format.Channels), format.Rate, 1, 200000) < 0)
      return false;
    frame_bytes_ = static_cast<std::size_t>(format.BytesPerFrame);
    return true;
  }

  bool Write(const char* data, std::size_t frames) override {
    while (frames > 0) {
      snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, frames);
      if (n < 0) {
        if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) return false;
        continue;
      }
      data += static_cast<std::size_t>(n) * frame_bytes_;
      frames -= static_cast<std::size_t>(n);
    }
    return true;
  }

  void Drop() override { snd_pcm_drop(pcm_); }

  void Drain(const std::function<bool()>& stop) override {
    for (;;) {
      snd_pcm_sframes_t delay = 0;
      if (snd_pcm_delay(pcm_, &delay) < 0 || delay <= 0) break;
      if (stop()) {
        snd_pcm_drop(pcm_);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    snd_pcm_drain(pcm_);
  }

private:
  std::string device_;
  snd_pcm_t* pcm_ = nullptr;
  std::size_t frame_bytes_ = 1;
};

// A sound waiting for the worker: the bytes, or a file to read.
struct TJob {
  std::string bytes;
  std::string file_name;
  bool from_file = false;
};

class TWavePlayer {
public:
  static TWavePlayer& Instance() {
    static TWavePlayer player;
    return player;
  }

  ~TWavePlayer() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
      ++generation_;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
  }

  void Submit(std::optional<TJob> job) {
    {
      std::lock_guard lock(mutex_);
      ++generation_;
      pending_ = std::move(job);
      if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
    }
    wake_.notify_all();
  }

  void SetDevice(const std::string& name) {
    std::lock_guard lock(mutex_);
    device_ = name;
  }
  std::string Device() {
    std::lock_guard lock(mutex_);
    return device_;
  }
  void SetFactory(TSinkFactory factory) {
    std::lock_guard lock(mutex_);
    factory_ = std::move(factory);
  }

  bool WaitIdle(int timeout_ms) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return !pending_ && !busy_; });
  }

private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return quit_ || pending_.has_value(); });
      if (quit_) return;
      TJob job = std::move(*pending_);
      pending_.reset();
      const unsigned long long generation = generation_;
      busy_ = true;
      std::unique_ptr<TSoundSink> sink = factory_ ? factory_() : std::make_unique<TAlsaSink>(device_);
      lock.unlock();
      Play(job, *sink, generation);
      sink.reset();
      lock.lock();
      busy_ = false;
      if (!pending_) idle_.notify_all();
    }
  }

  bool Stopped(unsigned long long generation) {
    std::lock_guard lock(mutex_);
    return generation != generation_;
  }

  void Play(TJob& job, TSoundSink& sink, unsigned long long generation) {
    if (job.from_file && !ReadWaveFile(job.file_name, job.bytes)) return;
    TWaveInfo info;
    if (!ParseWave(job.bytes, info) || info.DataSize == 0) return;
    if (!sink.Open(info)) return;
    // Chunks of about 20 ms, so that a new sound cuts in quickly.
    const std::size_t chunk = std::max<std::size_t>(1, info.Rate / 50);
    const char* data = job.bytes.data() + info.DataOffset;
    std::size_t frames = info.DataSize / static_cast<std::size_t>(info.BytesPerFrame);
    while (frames > 0) {
      if (Stopped(generation)) {
        sink.Drop();
        return;
      }
      const std::size_t n = std::min(chunk, frames);
      if (!sink.Write(data, n)) return;
      data += n * static_cast<std::size_t>(info.BytesPerFrame);
      frames -= n;
    }
    sink.Drain([this, generation] { return Stopped(generation); });
  }

  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::optional<TJob> pending_;
  unsigned long long generation_ = 0;
  bool busy_ = false;
  bool quit_ = false;
  std::string device_ = "default";
  TSinkFactory factory_;
  std::thread worker_;
};

}  // namespace

bool ReadWaveFile(const std::string& name, std::string& bytes) {
  try {
    rtl::TFileStream file(name, rtl::fmOpenRead | rtl::fmShareDenyNone);
    const std::int64_t size = file.Size();
    if (size < 0 || size > kMaxWaveFileSize) return false;
    bytes.resize(static_cast<std::size_t>(size));
    if (size > 0) file.ReadBuffer(bytes.data(), size);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void PlayWave(std::string bytes) {
  TJob job;
  job.bytes = std::move(bytes);
  TWavePlayer::Instance().Submit(std::move(job));
}

void PlayWaveFile(std::string file_name) {
  TJob job;
  job.file_name = std::move(file_name);
  job.from_file = true;
  TWavePlayer::Instance().Submit(std::move(job));
}

void StopSound() { TWavePlayer::Instance().Submit(std::nullopt); }
void SetSoundDevice(const std::string& name) { TWavePlayer::Instance().SetDevice(name); }
std::string SoundDevice() { return TWavePlayer::Instance().Device(); }
void SetSoundSinkFactory(TSinkFactory factory) { TWavePlayer::Instance().SetFactory(std::move(factory)); }
bool WaitSoundIdle(int timeout_ms) { return TWavePlayer::Instance().WaitIdle(timeout_ms); }

}  // namespace snd
