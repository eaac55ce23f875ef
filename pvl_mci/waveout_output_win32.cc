// The default sound device on Windows through waveOut (winmm), opened at
// once and never waited on. The render thread fills blocks of 10 ms and
// queues each as it fills; what the listener has heard is waveOutGetPosition's
// count of samples played, less the lead it shows where it counts ahead of
// the speakers (below), and never more than was written.
//
// Windows counts the sample at the speakers. Some systems count what they
// have handed on to a sound server instead (Wine's winepulse does): when a
// stream starts, the count leaps by the server's whole buffer, then runs on
// in real time that far ahead of the sound. Nothing of a fill can be heard
// before it was taken, so the count's excess over the real time since the
// leap is its lead, and it is taken off. The leap is watched for closely,
// as the count runs ahead of the time since the first block by more than a
// block; a device that counts at the speakers never leaps, and keeps no lead.
//
// A stream is held (paused) until its first write has queued all there is
// room for, so that the device starts with a full queue. Wine's winmm hands
// a started device only what was queued when it started, and the rest when
// its own thread next runs; on a busy machine that thread is late, and the
// stream starts with 10 ms of music, then silence, and a count that trails
// the sound by as much as the thread was late.
#include <windows.h>
#include <mmreg.h>
#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "pvl_mci/output.h"

namespace pvl {
namespace {

constexpr std::size_t kBlockFrames = 10 * kFramesPerMs;
// 200 ms queued at most, as for the other systems' streams.
constexpr std::size_t kBlocks = 20;
// How long the count is watched for a leap after a stream's first block,
// and how often meanwhile; how long the lead is measured after the leap:
// long enough for a sample or two, too short for the clocks to drift.
constexpr Nanos kLeapWithin = std::chrono::milliseconds(200);
constexpr Nanos kLeapWatch = std::chrono::milliseconds(3);
constexpr Nanos kLeadFor = std::chrono::milliseconds(100);

struct Block {
  WAVEHDR header{};
  std::vector<char> bytes;
};

// The system's text for `result`, or its number.
std::string ErrorText(MMRESULT result) {
  char text[MAXERRORLENGTH] = "";
  const bool known =
      waveOutGetErrorTextA(result, text, sizeof text) == MMSYSERR_NOERROR &&
      *text;
  return known ? text : "error " + std::to_string(result);
}

class WaveOutput final : public Output {
 public:
  WaveOutput() {
    // Float samples where the device takes them, else 16 bits.
    MMRESULT result = Open(true);
    as_float_ = result == MMSYSERR_NOERROR;
    if (!as_float_) result = Open(false);
    if (result != MMSYSERR_NOERROR) {
      wave_ = nullptr;
      Fail("waveOutOpen", result);
      return;
    }
    frame_bytes_ = as_float_ ? 2 * sizeof(float) : 2 * sizeof(std::int16_t);
    blocks_.resize(kBlocks);
    for (Block& b : blocks_) {
      b.bytes.resize(kBlockFrames * frame_bytes_);
      b.header.lpData = b.bytes.data();
      b.header.dwBufferLength = static_cast<DWORD>(b.bytes.size());
      result = waveOutPrepareHeader(wave_, &b.header, sizeof b.header);
      if (result != MMSYSERR_NOERROR) {
        Fail("waveOutPrepareHeader", result);
        return;
      }
    }
  }

  ~WaveOutput() override {
    if (wave_ == nullptr) return;
    waveOutReset(wave_);
    for (Block& b : blocks_) {
      if (b.header.dwFlags & WHDR_PREPARED)
        waveOutUnprepareHeader(wave_, &b.header, sizeof b.header);
    }
    waveOutClose(wave_);
  }

  State Poll(Nanos) override {
    return failed_ ? State::kFailed : State::kReady;
  }
  std::string Error() const override { return failed_call_ + ": " + reason_; }
  std::string Reason() const override { return reason_; }
  std::size_t Capacity() const override { return kBlocks * kBlockFrames; }

  void Start(Nanos) override {
    Halt();
    held_ = true;
    if (MMRESULT r = waveOutPause(wave_); r != MMSYSERR_NOERROR)
      Fail("waveOutPause", r);
    next_ = filled_ = 0;
    written_ = played_ = lead_ = 0;
    last_samples_ = Samples();
    first_at_.reset();
    leap_at_.reset();
    finished_ = false;
    moved_at_ = Nanos{0};
  }

  // Every queued block comes back done, and the position starts again.
  void Halt() override {
    dry_ = true;  // emptied on purpose
    if (wave_ == nullptr) return;
    if (MMRESULT r = waveOutReset(wave_); r != MMSYSERR_NOERROR)
      Fail("waveOutReset", r);
  }

  // The render thread asks before it writes: a queue found empty since the
  // last block went to the device ran dry, and counts once.
  std::size_t Room(Nanos) override {
    std::size_t free_blocks = 0;
    while (free_blocks < kBlocks &&
           !InQueue(blocks_[(next_ + free_blocks) % kBlocks]))
      ++free_blocks;
    if (free_blocks == kBlocks && !dry_) {
      dry_ = true;
      ++underruns_;
    }
    return free_blocks == 0 ? 0 : free_blocks * kBlockFrames - filled_;
  }

  // The device frees a block as it plays it. While a leap may come, the
  // count is looked at often.
  Nanos WhenRoom(std::size_t frames, Nanos now) override {
    const Nanos when = WhenRoomFor(frames, Room(now), now);
    if (first_at_ && !leap_at_ && now - *first_at_ < kLeapWithin)
      return std::min(when, now + kLeapWatch);
    return when;
  }

  // The device writes no more than Room; a block the system refuses is a
  // fault, and a new output takes over.
  void Write(const float* frames, std::size_t count, Nanos now) override {
    count = std::min(count, Room(now));
    while (count > 0 && !failed_) {
      Block& b = blocks_[next_];
      const std::size_t n = std::min(count, kBlockFrames - filled_);
      Put(frames, n, b.bytes.data() + filled_ * frame_bytes_);
      frames += 2 * n;
      count -= n;
      filled_ += n;
      written_ += n;
      if (filled_ == kBlockFrames) Submit(now);
    }
    Release();
  }

  void Finish(Nanos now) override {
    if (filled_ > 0) Submit(now);
    Release();
    finished_ = true;
  }

  std::uint64_t Underruns() override { return underruns_; }

  Progress Heard(Nanos now) override {
    const DWORD samples = Samples();
    if (samples != last_samples_) moved_at_ = now;
    played_ +=
        static_cast<DWORD>(samples - last_samples_);  // it wraps at 32 bits
    last_samples_ = samples;
    if (first_at_ && !leap_at_ && now - *first_at_ < kLeapWithin &&
        played_ > HeardBy({0, *first_at_, true, played_}, now) + kBlockFrames)
      leap_at_ = now;
    if (leap_at_ && now - *leap_at_ <= kLeadFor)
      lead_ = std::max(lead_,
                       played_ - HeardBy({0, *leap_at_, true, played_}, now));
    const std::uint64_t heard =
        std::min(played_ - std::min(played_, lead_), written_);
    // Once the device holds the whole of a finished stream, its count stops
    // while the rest of it is still to be heard: that goes on in real time.
    const bool queued = std::any_of(blocks_.begin(), blocks_.end(), InQueue);
    if (finished_ && !queued) return {heard, moved_at_, true, written_};
    return {heard, now, heard < written_, written_};
  }

 private:
  MMRESULT Open(bool as_float) {
    WAVEFORMATEX format{};
    format.wFormatTag = as_float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = kSampleRate;
    format.wBitsPerSample = as_float ? 32 : 16;
    format.nBlockAlign =
        static_cast<WORD>(format.nChannels * format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    return waveOutOpen(&wave_, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
  }

  // A held stream starts playing what was queued.
  void Release() {
    if (!held_ || failed_) return;
    held_ = false;
    if (MMRESULT r = waveOutRestart(wave_); r != MMSYSERR_NOERROR)
      Fail("waveOutRestart", r);
  }

  // Keeps the first failure: the call, and the system's reason.
  void Fail(const char* call, MMRESULT result) {
    if (failed_) return;
    failed_ = true;
    failed_call_ = call;
    reason_ = ErrorText(result);
  }

  // winmm's own thread marks a block done; read the flags as it leaves them.
  static bool InQueue(const Block& b) {
    const volatile DWORD& flags = b.header.dwFlags;
    return (flags & WHDR_INQUEUE) != 0 && (flags & WHDR_DONE) == 0;
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

  void Submit(Nanos now) {
    if (!first_at_) first_at_ = now;
    Block& b = blocks_[next_];
    b.header.dwBufferLength = static_cast<DWORD>(filled_ * frame_bytes_);
    b.header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
    if (MMRESULT r = waveOutWrite(wave_, &b.header, sizeof b.header);
        r != MMSYSERR_NOERROR)
      Fail("waveOutWrite", r);
    next_ = (next_ + 1) % kBlocks;
    filled_ = 0;
    dry_ = false;
  }

  // The device's count of samples played since the last reset.
  DWORD Samples() {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    const MMRESULT r = waveOutGetPosition(wave_, &time, sizeof time);
    if (r != MMSYSERR_NOERROR) {
      Fail("waveOutGetPosition", r);
      return last_samples_;
    }
    return time.wType == TIME_SAMPLES ? time.u.sample : last_samples_;
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
  // The stream's first block went to the device then, and the count leapt
  // then; it runs this many frames ahead of what is heard; it last moved
  // then.
  std::optional<Nanos> first_at_;
  std::optional<Nanos> leap_at_;
  std::uint64_t lead_ = 0;
  Nanos moved_at_{0};
  bool finished_ = false;
  bool held_ = false;  // paused until the first write
  bool dry_ = false;   // nothing queued, and already counted
  std::uint64_t underruns_ = 0;
  bool failed_ = false;
  std::string failed_call_;
  std::string reason_;
};

}  // namespace

std::unique_ptr<Output> OpenWaveOutput() {
  return std::make_unique<WaveOutput>();
}

}  // namespace pvl
