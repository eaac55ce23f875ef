// ALSA's default device, in non-blocking mode, for machines where no sound
// server runs. What was heard is what was given to the device less its
// delay. The output's error names the first call that failed
// ("snd_pcm_open: No such file or directory").
//
// `default` often leads to a sound server through ALSA's pulse plugin,
// which waits for that server's answer to open, halt, start, close, and to
// tell the delay once a write has left it without a timing report: a
// server that hangs held the render thread, and with it every call of the
// device, until it went on. So the device is served by a thread of its
// own, as libpulse's main loop serves a server's stream: the output only
// hands it frames and asks, and reads what it last found. An open not done
// within kOpenTimeout counts as a system that does not answer; a device
// whose thread stops answering later stands still, and the renderer lets
// go of it as of any output that stands still.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "pvl_mci/clock.h"
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
// How often the thread looks at a device that plays: what it has heard,
// and room for frames it could not take yet. A device given frames that
// has not begun to play is looked at more often: a stream joining the
// music waits to be told when it is heard.
constexpr auto kLook = std::chrono::milliseconds(20);
constexpr auto kLookStarting = std::chrono::milliseconds(5);

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

// What the output and the device's thread share, under `mutex`; the thread
// never holds it over a call to ALSA.
struct Link {
  std::mutex mutex;
  std::condition_variable wake;
  bool poked = false;  // the output asked for something
  // Asked by the output: a new stream (each Start or Halt; after a Start
  // the device is made ready for frames), the frames written and not yet
  // given to the device, that it play what it has, that it end.
  std::uint64_t epoch = 0;
  bool prepare = false;
  std::vector<float> pending;
  bool trigger = false;
  bool abandoned = false;
  bool abandoned_opening = false;
  // Found by the thread: the open, the first failure, and of the stream
  // now, how much was given to the device, and what was heard of it and
  // the room left in it when it last looked; how often the device ran dry.
  bool opened = false;
  std::size_t capacity = 0;
  const char* failed_call = nullptr;
  int error = 0;
  std::uint64_t given = 0;
  Progress heard;
  std::size_t room = 0;
  std::uint64_t xruns = 0;
};

// Opens given up on that still wait. While one waits on a system that does
// not answer, the next fails at once, rather than one more thread waiting
// with each attempt.
std::atomic<int> g_abandoned{0};
// Devices let go of whose threads have not closed them yet. As the program
// ends they are given a moment: the plugin's libraries free their own
// state as the program ends.
std::atomic<int> g_closing{0};

// Keeps the first failure: the call, and its error number.
void Fail(Link& link, const char* call, int e) {
  if (link.failed_call != nullptr) return;
  link.failed_call = call;
  link.error = e;
}

// Gives the device what it has room for of the frames pending, and starts
// it when asked (either `touches` it); with `lock` held on entry and on
// return.
void Feed(snd_pcm_t* pcm, Link& link, std::unique_lock<std::mutex>& lock,
          std::vector<float>& chunk, bool& touched) {
  const std::uint64_t epoch = link.epoch;
  lock.unlock();
  snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
  int e = 0;
  const bool dry = avail == -EPIPE;
  // It ran dry (the last frame was heard): it starts again once full.
  if (dry && (e = snd_pcm_prepare(pcm)) == 0) avail = snd_pcm_avail_update(pcm);
  lock.lock();
  if (dry) ++link.xruns;
  if (e < 0) return Fail(link, "snd_pcm_prepare", e);
  if (avail < 0 && avail != -EAGAIN)
    return Fail(link, "snd_pcm_avail_update", static_cast<int>(avail));
  if (link.epoch != epoch) return;
  const std::size_t free = avail > 0 ? static_cast<std::size_t>(avail) : 0;
  const std::size_t frames = std::min(free, link.pending.size() / 2);
  chunk.assign(link.pending.begin(), link.pending.begin() + 2 * frames);
  link.pending.erase(link.pending.begin(), link.pending.begin() + 2 * frames);
  const bool trigger = std::exchange(link.trigger, false);
  lock.unlock();
  snd_pcm_sframes_t n =
      frames > 0 ? snd_pcm_writei(pcm, chunk.data(), frames) : 0;
  const bool dry_now = n == -EPIPE && snd_pcm_prepare(pcm) == 0;
  if (dry_now) n = snd_pcm_writei(pcm, chunk.data(), frames);
  if (n == -EAGAIN) n = 0;
  touched = touched || n > 0 || trigger;
  if (n >= 0 && trigger && snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED)
    e = snd_pcm_start(pcm);
  const snd_pcm_state_t state = snd_pcm_state(pcm);
  snd_pcm_sframes_t delay = 0;
  const bool told = snd_pcm_delay(pcm, &delay) >= 0;
  const Nanos now = SteadyClock().Now();
  lock.lock();
  if (dry_now) ++link.xruns;
  if (n < 0) return Fail(link, "snd_pcm_writei", static_cast<int>(n));
  if (e < 0) return Fail(link, "snd_pcm_start", e);
  if (state == SND_PCM_STATE_DISCONNECTED)
    return Fail(link, "snd_pcm_state", -ENODEV);
  if (link.epoch != epoch) return;
  const auto written = static_cast<std::size_t>(n);
  // What the device did not take goes first next time.
  link.pending.insert(link.pending.begin(), chunk.begin() + 2 * written,
                      chunk.end());
  link.given += written;
  const std::uint64_t queued = std::min<std::uint64_t>(
      link.given, static_cast<std::uint64_t>(
                      std::max<snd_pcm_sframes_t>(told ? delay : 0, 0)));
  // A delay not told: it ran dry, all of it heard.
  link.heard = {link.given - queued, now,
                told && state == SND_PCM_STATE_RUNNING, link.given};
  link.room = free - std::min(free, written);
}

// The device's thread: opens it, then does what the output asks and looks
// at it, until the output is gone; then closes it.
void Serve(const std::shared_ptr<Link>& link) {
  const Opened o = OpenDefault();
  MakeRealtime();
  std::unique_lock<std::mutex> lock(link->mutex);
  link->opened = true;
  link->capacity = o.capacity;
  if (o.failed_call != nullptr) Fail(*link, o.failed_call, o.error);
  std::vector<float> chunk;
  std::uint64_t epoch = link->epoch;
  // Opened, the device is prepared; until it is given a frame or started,
  // a new stream needs no drop and prepare. Behind ALSA's pulse plugin each
  // waits on the server, and a prepare makes the server's stream anew: the
  // first sound came up to 350 ms after the play line with both cores busy.
  bool touched = false;
  while (!link->abandoned && link->failed_call == nullptr) {
    if (link->epoch != epoch) {
      epoch = link->epoch;
      const bool prepare = link->prepare;
      if (prepare && !touched && snd_pcm_state(o.pcm) == SND_PCM_STATE_PREPARED)
        continue;
      lock.unlock();
      int e = snd_pcm_drop(o.pcm);
      const char* call = "snd_pcm_drop";
      if (e == 0 && prepare) {
        e = snd_pcm_prepare(o.pcm);
        call = "snd_pcm_prepare";
      }
      lock.lock();
      if (e < 0) Fail(*link, call, e);
      touched = false;
      continue;
    }
    if (link->prepare) Feed(o.pcm, *link, lock, chunk, touched);
    const bool starting = link->prepare && link->given > 0;
    const auto asked = [&] { return link->poked; };
    if (link->heard.moving || !link->pending.empty())
      link->wake.wait_for(lock, kLook, asked);
    else if (starting)
      link->wake.wait_for(lock, kLookStarting, asked);
    else
      link->wake.wait(lock, asked);
    link->poked = false;
  }
  link->wake.wait(lock, [&] { return link->abandoned; });
  const bool counted = link->abandoned_opening;
  lock.unlock();
  if (counted) --g_abandoned;
  if (o.pcm != nullptr) snd_pcm_close(o.pcm);
  --g_closing;
}

class AlsaOutput final : public Output {
 public:
  AlsaOutput() : link_(std::make_shared<Link>()) {
    static std::once_flag once;
    std::call_once(once, [] {
      snd_lib_error_set_handler(&IgnoreAlsa);
      std::atexit([] {
        for (int i = 0; i < 100 && g_closing > 0; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
      });
    });
    if (g_abandoned > 0) {
      hangs_ = true;
      Fail(*link_, "snd_pcm_open", -ETIMEDOUT);
      return;
    }
    serving_ = true;
    StartThreadsWithoutSignals(
        [link = link_] { std::thread([link] { Serve(link); }).detach(); });
  }

  ~AlsaOutput() override {
    if (!serving_) return;
    std::lock_guard<std::mutex> lock(link_->mutex);
    link_->abandoned = true;
    if (!link_->opened) {
      link_->abandoned_opening = true;
      ++g_abandoned;
    }
    ++g_closing;
    Poke();
  }

  // The first failure, the thread's or this one's, is kept in the link: an
  // open that ends after it was given up on changes nothing.
  State Poll(Nanos now) override {
    std::lock_guard<std::mutex> lock(link_->mutex);
    if (link_->failed_call != nullptr) return State::kFailed;
    if (link_->opened) {
      capacity_ = link_->capacity;
      return State::kReady;
    }
    if (opening_since_ == Nanos{0}) opening_since_ = now;
    if (now - opening_since_ <= kOpenTimeout) return State::kOpening;
    hangs_ = true;
    Fail(*link_, "snd_pcm_open", -ETIMEDOUT);
    return State::kFailed;
  }
  bool Hangs() const override { return hangs_; }
  std::string Error() const override {
    std::lock_guard<std::mutex> lock(link_->mutex);
    const char* call = link_->failed_call;
    return std::string(call != nullptr ? call : "") + ": " + ReasonLocked();
  }
  std::string Reason() const override {
    std::lock_guard<std::mutex> lock(link_->mutex);
    return ReasonLocked();
  }
  std::size_t Capacity() const override { return capacity_; }

  void Start(Nanos now) override { NewStream(true, now); }
  void Halt() override { NewStream(false, Nanos{0}); }

  // The room the device had when last looked at, and what it has played
  // since, less what it has not been given yet.
  std::size_t Room(Nanos now) override {
    std::lock_guard<std::mutex> lock(link_->mutex);
    const Progress& heard = link_->heard;
    const std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>(
        capacity_, link_->room + HeardBy(heard, now) - heard.frames));
    return room - std::min(room, link_->pending.size() / 2);
  }

  Nanos WhenRoom(std::size_t frames, Nanos now) override {
    return WhenRoomFor(frames, Room(now), now);
  }

  void Write(const float* frames, std::size_t count, Nanos) override {
    std::lock_guard<std::mutex> lock(link_->mutex);
    if (!link_->prepare) return;
    link_->pending.insert(link_->pending.end(), frames, frames + 2 * count);
    Poke();
  }

  void Trigger(Nanos) override {
    std::lock_guard<std::mutex> lock(link_->mutex);
    link_->trigger = true;
    Poke();
  }
  // A stream shorter than the buffer starts without waiting to fill it.
  void Finish(Nanos now) override { Trigger(now); }

  // Each time the device ran dry; the renderer counts those of a run that
  // plays on, not those of its end or of a stopped process.
  std::uint64_t Underruns() override {
    std::lock_guard<std::mutex> lock(link_->mutex);
    return link_->xruns;
  }

  Progress Heard(Nanos) override {
    std::lock_guard<std::mutex> lock(link_->mutex);
    return link_->heard;
  }

 private:
  // A new stream, ready for frames or not; what the old one held is
  // dropped.
  void NewStream(bool prepare, Nanos now) {
    std::lock_guard<std::mutex> lock(link_->mutex);
    ++link_->epoch;
    link_->prepare = prepare;
    link_->pending.clear();
    link_->trigger = false;
    link_->given = 0;
    link_->heard = {0, now, false, 0};
    link_->room = capacity_;
    Poke();
  }

  // With the link's lock held.
  void Poke() {
    link_->poked = true;
    link_->wake.notify_one();
  }

  std::string ReasonLocked() const {
    return hangs_ ? "the sound system does not answer"
                  : snd_strerror(link_->error);
  }

  std::shared_ptr<Link> link_;
  bool serving_ = false;  // a thread serves the device
  Nanos opening_since_{0};
  bool hangs_ = false;
  std::size_t capacity_ = 0;
};

}  // namespace

std::unique_ptr<Output> OpenAlsaOutput() {
  return std::make_unique<AlsaOutput>();
}

}  // namespace pvl
