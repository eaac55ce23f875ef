// ALSA's default device, in non-blocking mode, for machines where no sound
// server runs. What was heard is what was written less the device's delay.
// The output's error names the first call that failed ("snd_pcm_open: No
// such file or directory").
//
// `default` often leads to a sound server through ALSA's pulse plugin,
// which waits for that server's answer to open, halt and close, whatever
// the mode: a server that hangs held the render thread in snd_pcm_close
// until it went on. So the device is opened and closed on threads of their
// own, and an open not done within kOpenTimeout counts as a system that
// does not answer. (A close never halts first: module_device.cc.)
#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>

#include "pvl_mci/output.h"
#include "pvl_mci/system.h"

namespace pvl {
namespace {

// ALSA writes its complaints (no card, a bad configuration) to standard
// error unless given a handler of its own.
void IgnoreAlsa(const char*, int, const char*, int, const char*, ...) {}

// The device's buffer, in microseconds, as for a sound server's stream.
constexpr unsigned kBufferUs = 200000;
// As long as a sound server's connection is given.
constexpr Nanos kOpenTimeout = std::chrono::milliseconds(1000);

// What an open came to: the device, or the call that failed and its error.
struct Opened {
  snd_pcm_t* pcm = nullptr;
  std::size_t capacity = 0;
  const char* failed_call = nullptr;
  int error = 0;
};

// Opens the default device for 48 kHz stereo floats.
Opened OpenDefault() {
  Opened o;
  if (int e = snd_pcm_open(&o.pcm, "default", SND_PCM_STREAM_PLAYBACK,
                           SND_PCM_NONBLOCK);
      e < 0)
    return {nullptr, 0, "snd_pcm_open", e};
  snd_pcm_uframes_t buffer = 0, period = 0;
  if (int e = snd_pcm_set_params(o.pcm, SND_PCM_FORMAT_FLOAT_LE,
                                 SND_PCM_ACCESS_RW_INTERLEAVED, 2, kSampleRate,
                                 1, kBufferUs);
      e < 0) {
    o.failed_call = "snd_pcm_set_params";
    o.error = e;
  } else if (e = snd_pcm_get_params(o.pcm, &buffer, &period); e < 0) {
    o.failed_call = "snd_pcm_get_params";
    o.error = e;
  }
  o.capacity = static_cast<std::size_t>(buffer);
  return o;
}

// Closes `pcm` (which drops what it holds) without waiting for it. A close
// still under way when the program ends is given a moment first: the
// plugin's libraries free their own state as the program ends.
std::atomic<int> g_closing{0};
void CloseInBackground(snd_pcm_t* pcm) {
  if (pcm == nullptr) return;
  static std::once_flag at_exit;
  std::call_once(at_exit, [] {
    std::atexit([] {
      for (int i = 0; i < 100 && g_closing > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
  });
  ++g_closing;
  StartThreadsWithoutSignals([pcm] {
    std::thread([pcm] {
      snd_pcm_close(pcm);
      --g_closing;
    }).detach();
  });
}

// An open under way, shared by its thread and the output.
struct Opening {
  std::mutex mutex;
  bool done = false;
  bool abandoned = false;  // the output is gone: the thread closes
  Opened result;
};
// Opens given up on that still wait. While one waits on a system that does
// not answer, the next fails at once, rather than one more thread waiting
// with each attempt.
std::atomic<int> g_abandoned{0};

class AlsaOutput final : public Output {
 public:
  AlsaOutput() {
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(&IgnoreAlsa); });
    if (g_abandoned > 0) {
      hangs_ = true;
      Fail("snd_pcm_open", -ETIMEDOUT);
      return;
    }
    opening_ = std::make_shared<Opening>();
    StartThreadsWithoutSignals([opening = opening_] {
      std::thread([opening] {
        const Opened o = OpenDefault();
        std::unique_lock<std::mutex> lock(opening->mutex);
        opening->result = o;
        opening->done = true;
        if (!opening->abandoned) return;
        lock.unlock();
        --g_abandoned;
        if (o.pcm != nullptr) snd_pcm_close(o.pcm);
      }).detach();
    });
  }

  ~AlsaOutput() override {
    if (opening_ != nullptr) {
      std::lock_guard<std::mutex> lock(opening_->mutex);
      if (!opening_->done) {
        opening_->abandoned = true;
        ++g_abandoned;
        return;
      }
      if (pcm_ == nullptr) pcm_ = opening_->result.pcm;
    }
    CloseInBackground(pcm_);
  }

  State Poll(Nanos now) override {
    if (!failed_ && pcm_ == nullptr) Opens(now);
    if (!failed_ && pcm_ != nullptr &&
        snd_pcm_state(pcm_) == SND_PCM_STATE_DISCONNECTED)
      Fail("snd_pcm_state", -ENODEV);
    if (failed_) return State::kFailed;
    return pcm_ != nullptr ? State::kReady : State::kOpening;
  }
  bool Hangs() const override { return hangs_; }
  std::string Error() const override {
    return std::string(failed_call_) + ": " + Reason();
  }
  std::string Reason() const override {
    return hangs_ ? "the sound system does not answer" : snd_strerror(error_);
  }
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
  // Takes the device once its thread has opened it (or found why not);
  // fails as a system that does not answer after kOpenTimeout.
  void Opens(Nanos now) {
    std::lock_guard<std::mutex> lock(opening_->mutex);
    if (opening_->done) {
      const Opened o = std::exchange(opening_->result, Opened{});
      pcm_ = o.pcm;
      capacity_ = o.capacity;
      if (o.failed_call != nullptr) Fail(o.failed_call, o.error);
      return;
    }
    if (opening_since_ == Nanos{0}) opening_since_ = now;
    if (now - opening_since_ > kOpenTimeout) {
      hangs_ = true;
      Fail("snd_pcm_open", -ETIMEDOUT);
    }
  }

  // Keeps the first failure: the call, and its error number.
  void Fail(const char* call, int e) {
    if (failed_) return;
    failed_ = true;
    failed_call_ = call;
    error_ = e;
  }

  std::shared_ptr<Opening> opening_;
  Nanos opening_since_{0};
  bool hangs_ = false;
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
