// ALSA's default device, opened directly and never waited on (non-blocking
// mode), for machines where no sound server runs. What was heard is what
// was written less the device's delay. The output's error names the first
// call that failed ("snd_pcm_open: No such file or directory").
#include <alsa/asoundlib.h>

#include <algorithm>
#include <mutex>

#include "pvl_mci/output.h"

namespace pvl {
namespace {

// ALSA writes its complaints (no card, a bad configuration) to standard
// error unless given a handler of its own.
void IgnoreAlsa(const char*, int, const char*, int, const char*, ...) {}

// The device's buffer, in microseconds, as for a sound server's stream.
constexpr unsigned kBufferUs = 200000;

class AlsaOutput final : public Output {
 public:
  AlsaOutput() {
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(&IgnoreAlsa); });
    Open();
  }

  ~AlsaOutput() override {
    if (pcm_ == nullptr) return;
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
  }

  State Poll(Nanos) override {
    if (!failed_ && snd_pcm_state(pcm_) == SND_PCM_STATE_DISCONNECTED)
      Fail("snd_pcm_state", -ENODEV);
    return failed_ ? State::kFailed : State::kReady;
  }
  std::string Error() const override {
    return std::string(failed_call_) + ": " + Reason();
  }
  std::string Reason() const override { return snd_strerror(error_); }
  std::size_t Capacity() const override { return capacity_; }

  void Start(Nanos) override {
    Halt();
    if (int e = snd_pcm_prepare(pcm_); e < 0) Fail("snd_pcm_prepare", e);
    written_ = 0;
  }
  void Halt() override {
    if (int e = snd_pcm_drop(pcm_); e < 0) Fail("snd_pcm_drop", e);
  }

  std::size_t Room(Nanos) override {
    snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
    if (avail == -EPIPE) {
      // It ran dry (the last frame was heard): it starts again once full.
      ++xruns_;
      if (int e = snd_pcm_prepare(pcm_); e < 0) {
        Fail("snd_pcm_prepare", e);
        return 0;
      }
      avail = snd_pcm_avail_update(pcm_);
    }
    if (avail < 0) {
      if (avail != -EAGAIN)
        Fail("snd_pcm_avail_update", static_cast<int>(avail));
      return 0;
    }
    return std::min(static_cast<std::size_t>(avail), capacity_);
  }

  Nanos WhenRoom(std::size_t frames, Nanos now) override {
    return WhenRoomFor(frames, Room(now), now);
  }

  // The device writes no more than Room, so all of it is taken; anything
  // else is a fault, and a new output takes over.
  void Write(const float* frames, std::size_t count, Nanos) override {
    if (failed_) return;
    snd_pcm_sframes_t n = snd_pcm_writei(pcm_, frames, count);
    if (n == -EPIPE && snd_pcm_prepare(pcm_) == 0) {
      ++xruns_;
      n = snd_pcm_writei(pcm_, frames, count);
    }
    if (n < 0) return Fail("snd_pcm_writei", static_cast<int>(n));
    written_ += static_cast<std::uint64_t>(n);
    if (static_cast<std::size_t>(n) < count) Fail("snd_pcm_writei", -EIO);
  }

  void Trigger(Nanos) override {
    if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED) return;
    if (int e = snd_pcm_start(pcm_); e < 0) Fail("snd_pcm_start", e);
  }
  // A stream shorter than the buffer starts without waiting to fill it.
  void Finish(Nanos now) override { Trigger(now); }

  // Each time the device ran dry; the renderer counts those of a run that
  // plays on, not those of its end or of a stopped process.
  std::uint64_t Underruns() override { return xruns_; }

  Progress Heard(Nanos now) override {
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(pcm_, &delay) < 0)
      return {written_, now, false, written_};  // ran dry
    const auto queued =
        static_cast<std::uint64_t>(std::max<snd_pcm_sframes_t>(delay, 0));
    const bool running = snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING;
    return {written_ > queued ? written_ - queued : 0, now, running, written_};
  }

 private:
  // Opens the default device for 48 kHz stereo floats.
  void Open() {
    if (int e = snd_pcm_open(&pcm_, "default", SND_PCM_STREAM_PLAYBACK,
                             SND_PCM_NONBLOCK);
        e < 0) {
      pcm_ = nullptr;
      return Fail("snd_pcm_open", e);
    }
    if (int e = snd_pcm_set_params(pcm_, SND_PCM_FORMAT_FLOAT_LE,
                                   SND_PCM_ACCESS_RW_INTERLEAVED, 2,
                                   kSampleRate, 1, kBufferUs);
        e < 0)
      return Fail("snd_pcm_set_params", e);
    snd_pcm_uframes_t buffer = 0, period = 0;
    if (int e = snd_pcm_get_params(pcm_, &buffer, &period); e < 0)
      return Fail("snd_pcm_get_params", e);
    capacity_ = static_cast<std::size_t>(buffer);
  }

  // Keeps the first failure: the call, and its error number.
  void Fail(const char* call, int e) {
    if (failed_) return;
    failed_ = true;
    failed_call_ = call;
    error_ = e;
  }

  snd_pcm_t* pcm_ = nullptr;
  std::size_t capacity_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t xruns_ = 0;
  bool failed_ = false;
  const char* failed_call_ = "";
  int error_ = 0;
};

}  // namespace

std::unique_ptr<Output> OpenAlsaOutput() {
  return std::make_unique<AlsaOutput>();
}

}  // namespace pvl
