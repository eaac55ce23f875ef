// The sound device on Windows through waveOut (winmm). The device's audio
// thread fills blocks of 10 ms and queues each as it fills; what the
// listener has heard is waveOutGetPosition's count of samples played.
#include <windows.h>
#include <mmreg.h>
#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "pvl_mci/output.h"

namespace pvl {
namespace {

constexpr std::size_t kBlockFrames = 10 * kFramesPerMs;
// 250 ms queued at most, as much as the device renders ahead elsewhere.
constexpr std::size_t kBlocks = 25;
// The device's audio thread looks for room this often.
constexpr Nanos kPoll = std::chrono::milliseconds(20);
// A device that plays no frame for this long while frames wait has failed.
constexpr Nanos kStall = std::chrono::seconds(1);

struct Block {
  WAVEHDR header{};
  std::vector<char> bytes;
};

// What the device plays: float samples where it takes them, else 16 bits.
bool OpenWave(HWAVEOUT& wave, bool as_float, MMRESULT& result) {
  WAVEFORMATEX format{};
  format.wFormatTag = as_float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = kSampleRate;
  format.wBitsPerSample = as_float ? 32 : 16;
  format.nBlockAlign = static_cast<WORD>(format.nChannels * format.wBitsPerSample / 8);
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  result = waveOutOpen(&wave, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
  return result == MMSYSERR_NOERROR;
}

class WaveOutOutput final : public Output {
 public:
  ~WaveOutOutput() override {
    if (wave_ == nullptr) return;
    waveOutReset(wave_);
    for (Block& b : blocks_) {
      if (b.header.dwFlags & WHDR_PREPARED)
        waveOutUnprepareHeader(wave_, &b.header, sizeof b.header);
    }
    waveOutClose(wave_);
  }

  bool Open(std::string& error) {
    MMRESULT result = MMSYSERR_NOERROR;
    as_float_ = OpenWave(wave_, true, result);
    if (!as_float_ && !OpenWave(wave_, false, result)) {
      wave_ = nullptr;
      char text[MAXERRORLENGTH] = "";
      waveOutGetErrorTextA(result, text, sizeof text);
      error = *text ? text : "no wave output device opens";
      return false;
    }
    frame_bytes_ = as_float_ ? 2 * sizeof(float) : 2 * sizeof(std::int16_t);
    blocks_.resize(kBlocks);
    for (Block& b : blocks_) {
      b.bytes.resize(kBlockFrames * frame_bytes_);
      b.header.lpData = b.bytes.data();
      b.header.dwBufferLength = static_cast<DWORD>(b.bytes.size());
      if (waveOutPrepareHeader(wave_, &b.header, sizeof b.header) != MMSYSERR_NOERROR) {
        error = "the wave output device takes no buffers";
        return false;
      }
    }
    return true;
  }

  void Start(Nanos now) override {
    Halt();
    next_ = filled_ = 0;
    written_ = played_ = 0;
    last_samples_ = Samples();
    failed_ = false;
    seen_played_ = 0;
    seen_at_ = now;
    started_ = true;
  }

  void Halt() override {
    started_ = false;
    // Every queued block comes back done; the position starts again.
    waveOutReset(wave_);
  }

  bool Failed(Nanos now) override {
    if (!started_) return false;
    if (failed_) return true;
    const std::uint64_t played = Played();
    if (!Queued() || played != seen_played_) {
      seen_played_ = played;
      seen_at_ = now;
    }
    failed_ = now - seen_at_ > kStall;
    return failed_;
  }

  std::size_t Room(Nanos) override {
    std::size_t free_blocks = 0;
    for (std::size_t i = 0; i < kBlocks; ++i) {
      if (InQueue(blocks_[(next_ + i) % kBlocks])) break;
      ++free_blocks;
    }
    return free_blocks == 0 ? 0 : free_blocks * kBlockFrames - filled_;
  }

  void Write(const float* frames, std::size_t count, Nanos now) override {
    count = std::min(count, Room(now));
    while (count > 0) {
      Block& b = blocks_[next_];
      const std::size_t n = std::min(count, kBlockFrames - filled_);
      Put(frames, n, b.bytes.data() + filled_ * frame_bytes_);
      frames += 2 * n;
      count -= n;
      filled_ += n;
      written_ += n;
      if (filled_ == kBlockFrames) Submit();
    }
  }

  void Finish(Nanos) override {
    if (filled_ > 0) Submit();
  }

  std::uint64_t Heard(Nanos now) override {
    std::uint64_t heard = Played();
    if (failed_) {
      // Counted on from the last time the device was seen to play, so that
      // the silent output taking over keeps the time.
      const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                          now - seen_at_).count();
      heard = seen_played_ +
              static_cast<std::uint64_t>(us > 0 ? us : 0) * kFramesPerMs / 1000;
    }
    return std::min(heard, written_);
  }

  Nanos WhenRoom(std::size_t, Nanos now) override { return now + kPoll; }
  Nanos WhenHeard(std::uint64_t, Nanos now) override { return now + kPoll; }

 private:
  // winmm's thread marks a block done; the flags are read as it leaves them.
  static bool InQueue(const Block& b) {
    const volatile DWORD& flags = b.header.dwFlags;
    return (flags & WHDR_INQUEUE) != 0 && (flags & WHDR_DONE) == 0;
  }

  bool Queued() const {
    return std::any_of(blocks_.begin(), blocks_.end(), InQueue);
  }

  void Put(const float* frames, std::size_t n, char* out) const {
    if (as_float_) {
      std::memcpy(out, frames, n * frame_bytes_);
      return;
    }
    for (std::size_t i = 0; i < 2 * n; ++i) {
      const float v = std::clamp(frames[i], -1.0f, 1.0f) * 32767.0f;
      const auto s = static_cast<std::int16_t>(std::lround(v));
      std::memcpy(out + i * sizeof s, &s, sizeof s);
    }
  }

  void Submit() {
    Block& b = blocks_[next_];
    b.header.dwBufferLength = static_cast<DWORD>(filled_ * frame_bytes_);
    b.header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
    if (waveOutWrite(wave_, &b.header, sizeof b.header) != MMSYSERR_NOERROR)
      failed_ = true;
    next_ = (next_ + 1) % kBlocks;
    filled_ = 0;
  }

  // The device's count of samples played, which wraps at 32 bits.
  DWORD Samples() const {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    if (waveOutGetPosition(wave_, &time, sizeof time) != MMSYSERR_NOERROR ||
        time.wType != TIME_SAMPLES)
      return last_samples_;
    return time.u.sample;
  }

  // Frames of this run played so far, widened to 64 bits.
  std::uint64_t Played() {
    const DWORD samples = Samples();
    played_ += static_cast<DWORD>(samples - last_samples_);
    last_samples_ = samples;
    return played_;
  }

  HWAVEOUT wave_ = nullptr;
  bool as_float_ = false;
  std::size_t frame_bytes_ = 0;
  std::vector<Block> blocks_;
  std::size_t next_ = 0;    // the block being filled
  std::size_t filled_ = 0;  // frames in it
  std::uint64_t written_ = 0;
  std::uint64_t played_ = 0;
  DWORD last_samples_ = 0;
  bool started_ = false;
  bool failed_ = false;
  std::uint64_t seen_played_ = 0;
  Nanos seen_at_{0};
};

}  // namespace

std::unique_ptr<Output> MakeDeviceOutput(std::string& error) {
  auto output = std::make_unique<WaveOutOutput>();
  if (!output->Open(error)) return nullptr;
  return output;
}

}  // namespace pvl
