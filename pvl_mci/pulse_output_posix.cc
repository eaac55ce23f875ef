// A PulseAudio stream (PipeWire serves the same protocol), through
// libpulse's asynchronous API on a threaded main loop of its own. Nothing
// here waits for the server: writes go into its buffer as far as it asks
// for them, and what was heard comes from the stream's latest timing
// report, carried on by the clock from there. Every call that can fail is
// checked (those that take the stream and the connection down have nothing
// to say), and the output's error names the first that failed, with
// libpulse's reason: "pa_context_connect: Connection refused".
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "pvl_mci/faded_end.h"
#include "pvl_mci/output.h"
#include "pvl_mci/pulse_buffer_posix.h"
#include "pvl_mci/system.h"

namespace pvl {
namespace {

using std::chrono::milliseconds;

// A server that has not let us in by then does not answer.
constexpr Nanos kConnectTimeout = milliseconds(1000);
// The server's requests come in steps, not as the clock goes: until the
// next one is in, it is looked for this often.
constexpr Nanos kRequestPoll = milliseconds(20);
// The least buffer the device is told of, whatever the server grants.
constexpr std::size_t kMinFrames = 40 * kFramesPerMs;
// A stream heard for this long is asked for its timing every kTimingEvery,
// and counted on at real time between: each report wakes the server twice
// (its main thread, and its mixing thread for the sink's share), and asked
// at every wake of the render thread they were the server's main cost. A
// starting stream, whose first sound is placed by its reports, is asked at
// every wake.
constexpr std::size_t kSteadyFrames = 500 * kFramesPerMs;
constexpr Nanos kTimingEvery = milliseconds(100);
// How often a stream being set up is looked at.
constexpr Nanos kSetUpPoll = milliseconds(2);
// A write that leaves this much to hear ends in a fade: the next comes
// long before the server reads there (a request is written with 200 ms
// left, and this process was seen held up for 130 ms).
constexpr std::uint64_t kFadeAhead = 150 * kFramesPerMs;
// A timing report is carried on for at most this long: an older one means
// the reports have stopped (the server hangs, or this process was stopped).
constexpr std::uint64_t kCarryFrames = 300 * kFramesPerMs;
// No graph cycle seen yet.
constexpr std::uint64_t kNoCycle = ~std::uint64_t{0};

class PulseOutput final : public Output {
 public:
  PulseOutput() { Connect(); }

  ~PulseOutput() override {
    if (started_) pa_threaded_mainloop_stop(loop_);
    DropStream();
    if (context_ != nullptr) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_ != nullptr) pa_threaded_mainloop_free(loop_);
  }

  // The connection and the stream fail by changing state, after the calls
  // that began them: before it is ready, a failure is that call's; later,
  // the context's or the stream's own.
  State Poll(Nanos now) override {
    if (state_ != State::kOpening && state_ != State::kReady) return state_;
    if (!failed_call_.empty()) return state_ = State::kFailed;
    Lock lock(loop_);
    const pa_context_state_t context = pa_context_get_state(context_);
    if (!PA_CONTEXT_IS_GOOD(context))
      Fail(state_ == State::kReady ? "pa_context" : "pa_context_connect");
    if (stream_ != nullptr) {
      const pa_stream_state_t stream = pa_stream_get_state(stream_);
      if (stream == PA_STREAM_READY) stream_was_ready_ = true;
      if (!PA_STREAM_IS_GOOD(stream))
        Fail(stream_was_ready_ ? "pa_stream" : "pa_stream_connect_playback");
    }
    if (!failed_call_.empty()) return state_ = State::kFailed;
    if (context == PA_CONTEXT_READY) return state_ = State::kReady;
    if (opening_since_ == Nanos{0}) opening_since_ = now;
    if (now - opening_since_ > kConnectTimeout) {
      Fail("pa_context_connect", "the sound server does not answer");
      hangs_ = true;
      return state_ = State::kFailed;
    }
    return state_;
  }
  bool Hangs() const override { return hangs_; }
  std::string Error() const override { return failed_call_ + ": " + reason_; }
  std::string Reason() const override { return reason_; }
  std::size_t Capacity() const override { return capacity_; }

  void Start(Nanos now) override {
    Lock lock(loop_);
    DropStream();
    written_ = 0;
    end_.Reset();
    heard_ = {0, now, false, 0};
    told_playing_ = false;
    told_read_ = 0;
    cycle_ = kNoCycle;
    next_timing_at_ = now;
    // PipeWire's service names itself so; its timing is told otherwise
    // (OnTiming). The answer comes before the stream's first report.
    if (!asked_server_) {
      asked_server_ = true;
      pa_operation* op = pa_context_get_server_info(
          context_,
          [](pa_context*, const pa_server_info* info, void* user) {
            static_cast<PulseOutput*>(user)->pipewire_ =
                info != nullptr && info->server_name != nullptr &&
                std::strstr(info->server_name, "PipeWire") != nullptr;
          },
          this);
      if (op == nullptr) return Fail("pa_context_get_server_info");
      pa_operation_unref(op);
    }
    const pa_sample_spec format = {PA_SAMPLE_FLOAT32LE, kSampleRate, 2};
    stream_ = pa_stream_new(context_, "music", &format, nullptr);
    if (stream_ == nullptr) return Fail("pa_stream_new");
    pa_stream_set_latency_update_callback(stream_, &PulseOutput::OnTiming,
                                          this);
    pa_stream_set_underflow_callback(
        stream_,
        [](pa_stream*, void* user) {
          ++static_cast<PulseOutput*>(user)->underruns_;
        },
        this);
    const pa_buffer_attr attr = StreamAttributes(latency_, prebuf_);
    // No automatic timing reports: Heard asks for them (kTimingEvery).
    if (pa_stream_connect_playback(stream_, nullptr, &attr,
                                   PA_STREAM_ADJUST_LATENCY, nullptr,
                                   nullptr) < 0)
      Fail("pa_stream_connect_playback");
  }

  void Halt() override {
    Lock lock(loop_);
    DropStream();
  }

  std::size_t Room(Nanos) override {
    Lock lock(loop_);
    if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY)
      return 0;
    // The stream's own buffer and the server's requests, as it granted them.
    if (const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream_)) {
      capacity_ = std::clamp<std::size_t>(attr->tlength / kFrameBytes,
                                          kMinFrames, kMaxLatencyFrames);
      request_ = std::min<std::size_t>(attr->minreq / kFrameBytes, capacity_);
    }
    const std::size_t bytes = pa_stream_writable_size(stream_);
    if (bytes != static_cast<std::size_t>(-1)) return bytes / kFrameBytes;
    Fail("pa_stream_writable_size");
    return 0;
  }

  // The server asks for more as it plays what it has, a request at a time:
  // room for more than one request is never waited for, and the next
  // request is looked for until it is in. A stream still being set up is
  // ready in a moment.
  Nanos WhenRoom(std::size_t frames, Nanos now) override {
    {
      Lock lock(loop_);
      if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY)
        return now + kSetUpPoll;
    }
    return Room(now) >= std::min(frames, request_) ? now : now + kRequestPoll;
  }

  // What was written ends in a fade, written again at full level by the
  // next write (faded_end.h): a stream that runs dry because this process
  // was stopped ends without a click. Where less than kFadeAhead is left
  // to hear, the server may reach the end before the next write.
  void Write(const float* frames, std::size_t count, Nanos now) override {
    Lock lock(loop_);
    if (stream_ == nullptr) return;
    const std::size_t back = end_.Back();
    const bool fade = written_ + count >= HeardBy(heard_, now) + kFadeAhead;
    if (!WriteLocked(end_.Next(frames, count, fade), back)) return;
    written_ += count;
  }

  // The rest plays out, and the last frame counts as heard only once the
  // server says so (a drain): a server that leaves the sink's share out of
  // its timing (PipeWire's) would have the stream ended, and its last tens
  // of milliseconds cut, by a close right after. A stream shorter than the
  // buffer starts at once.
  void Finish(Nanos) override {
    Lock lock(loop_);
    if (stream_ == nullptr ||
        (!end_.Whole().empty() && !WriteLocked(end_.Whole(), end_.Back())) ||
        !TriggerLocked())
      return;
    finishing_ = true;
    drain_ = pa_stream_drain(
        stream_,
        [](pa_stream*, int, void* user) {
          static_cast<PulseOutput*>(user)->drained_ = true;
        },
        this);
    if (drain_ == nullptr) Fail("pa_stream_drain");
  }

  void Trigger(Nanos) override {
    Lock lock(loop_);
    TriggerLocked();
  }

  Progress Heard(Nanos now) override {
    Lock lock(loop_);
    // One report asked for at a time: a server that is slow to answer is
    // not sent more to answer meanwhile.
    if (timing_ != nullptr &&
        pa_operation_get_state(timing_) != PA_OPERATION_RUNNING) {
      pa_operation_unref(timing_);
      timing_ = nullptr;
    }
    if (timing_ == nullptr && stream_ != nullptr && now >= next_timing_at_ &&
        pa_stream_get_state(stream_) == PA_STREAM_READY) {
      timing_ = pa_stream_update_timing_info(stream_, nullptr, nullptr);
      if (timing_ == nullptr) Fail("pa_stream_update_timing_info");
      if (heard_.moving && heard_.frames >= kSteadyFrames)
        next_timing_at_ = now + kTimingEvery;
    }
    Progress p = heard_;
    p.limit = std::min({p.limit, written_, p.frames + kCarryFrames});
    if (finishing_ && !drained_ && written_ > 0)
      p.limit = std::min(p.limit, written_ - 1);
    return p;
  }

  std::uint64_t Underruns() override {
    Lock lock(loop_);
    return underruns_;
  }

  // The stream's buffer grows and the requests with it; the sink's share
  // stays.
  bool Grow() override {
    Lock lock(loop_);
    if (latency_ >= kMaxLatencyFrames) return false;
    latency_ = std::min(2 * latency_, kMaxLatencyFrames);
    if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY)
      return true;  // the next stream has it
    const pa_buffer_attr attr = StreamAttributes(latency_, prebuf_);
    pa_operation* op =
        pa_stream_set_buffer_attr(stream_, &attr, nullptr, nullptr);
    if (op == nullptr) {
      Fail("pa_stream_set_buffer_attr");
      return false;
    }
    pa_operation_unref(op);
    return true;
  }

 private:
  // Begins connecting to the server, on a main loop of its own.
  void Connect() {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) return Fail("pa_threaded_mainloop_new");
    const std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)> props(
        pa_proplist_new(), &pa_proplist_free);
    if (props == nullptr) return Fail("pa_proplist_new");
    if (pa_proplist_sets(props.get(), PA_PROP_APPLICATION_NAME, "mciplay") <
            0 ||
        pa_proplist_sets(props.get(), PA_PROP_MEDIA_ROLE, "music") < 0)
      return Fail("pa_proplist_sets");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_),
                                            "mciplay", props.get());
    if (context_ == nullptr) return Fail("pa_context_new_with_proplist");
    // The default server; a client never starts one of its own.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) <
        0)
      return Fail("pa_context_connect");
    StartThreadsWithoutSignals(
        [this] { started_ = pa_threaded_mainloop_start(loop_) >= 0; });
    if (!started_) return Fail("pa_threaded_mainloop_start");
    // The loop's thread sends what the device writes: it is as much a sound
    // thread as the render thread.
    Lock lock(loop_);
    pa_threaded_mainloop_once_unlocked(
        loop_, [](pa_threaded_mainloop*, void*) { MakeRealtime(); }, nullptr);
  }

  class Lock {
   public:
    explicit Lock(pa_threaded_mainloop* loop) : loop_(loop) {
      pa_threaded_mainloop_lock(loop_);
    }
    ~Lock() { pa_threaded_mainloop_unlock(loop_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* loop_;
  };

  // Keeps the first failure: the call, and libpulse's reason where the call
  // leaves one in the context.
  void Fail(const char* call) {
    const int e = context_ != nullptr ? pa_context_errno(context_) : PA_OK;
    Fail(call, e != PA_OK ? pa_strerror(e) : "failed");
  }
  void Fail(const char* call, const char* reason) {
    if (!failed_call_.empty()) return;
    failed_call_ = call;
    reason_ = reason;
  }

  // Writes `data` over the last `back` frames written; false when it failed.
  bool WriteLocked(const std::vector<float>& data, std::size_t back) {
    if (pa_stream_write(stream_, data.data(), data.size() * sizeof(float),
                        nullptr, -static_cast<std::int64_t>(back * kFrameBytes),
                        PA_SEEK_RELATIVE) >= 0)
      return true;
    Fail("pa_stream_write");
    return false;
  }

  // Starts playback before the buffer is full (the stream's prebuffer);
  // false when there is no stream to start.
  bool TriggerLocked() {
    if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY)
      return false;
    // Once it has none, the stream plays what comes at once, and libpulse
    // refuses a trigger (PA_ERR_BADSTATE).
    const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream_);
    if (attr != nullptr && attr->prebuf == 0) return true;
    pa_operation* trigger = pa_stream_trigger(stream_, nullptr, nullptr);
    if (trigger == nullptr) {
      Fail("pa_stream_trigger");
      return false;
    }
    pa_operation_unref(trigger);
    return true;
  }

  void DropStream() {
    for (pa_operation** op : {&drain_, &timing_}) {
      if (*op == nullptr) continue;
      pa_operation_cancel(*op);
      pa_operation_unref(*op);
      *op = nullptr;
    }
    finishing_ = drained_ = stream_was_ready_ = false;
    prebuf_ = true;
    if (stream_ == nullptr) return;
    pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }

  // On the main loop's thread, with its lock held.
  static void OnTiming(pa_stream* stream, void* user) {
    const Nanos now = SteadyClock().Now();
    const pa_timing_info* t = pa_stream_get_timing_info(stream);
    if (t == nullptr || t->read_index_corrupt || t->read_index < 0) return;
    auto* self = static_cast<PulseOutput*>(user);
    const auto read = static_cast<std::uint64_t>(t->read_index) / kFrameBytes;
    // PipeWire takes a stream's frames a graph cycle at a time, tells the
    // same read index until the next cycle, and nothing of its sink, where
    // what it took is heard a cycle later: the cycle, the least step of the
    // index seen (its first take is one), counts as the sink's share. The
    // clock carries on from the first report of each index, or the position
    // would stand still for the cycle and then leap, and a new index only
    // bounds it (HeardInCycles). (PulseAudio tells what its sink holds,
    // which each report brings up to date.)
    const bool playing = t->playing != 0;
    const bool cycles = self->pipewire_ && playing;
    if (cycles && read > self->told_read_ &&
        (self->told_playing_ || self->told_read_ == 0))
      self->cycle_ = std::min(self->cycle_, read - self->told_read_);
    const std::uint64_t sink_us =
        cycles && t->sink_usec == 0 && self->cycle_ != kNoCycle
            ? self->cycle_ * 1000 / kFramesPerMs
            : t->sink_usec;
    const Progress told =
        HeardFromServer(read,
                        static_cast<std::int64_t>(t->transport_usec) -
                            static_cast<std::int64_t>(sink_us),
                        playing, now);
    if (!cycles || !self->told_playing_)
      self->heard_ = told;
    else if (read != self->told_read_)
      self->heard_ = HeardInCycles(self->heard_, told, self->told_at_, now);
    self->told_read_ = read;
    self->told_playing_ = playing;
    self->told_at_ = now;
    // Heard for a while: no more prebuffer (StreamAttributes says why).
    if (self->prebuf_ && playing && self->heard_.frames >= kSteadyFrames) {
      self->prebuf_ = false;
      const pa_buffer_attr attr =
          StreamAttributes(self->latency_, self->prebuf_);
      // It fails only with the stream or the connection, which Poll finds.
      if (pa_operation* op =
              pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr))
        pa_operation_unref(op);
    }
  }

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  bool stream_was_ready_ = false;
  bool started_ = false;
  State state_ = State::kOpening;
  bool hangs_ = false;
  std::string failed_call_;  // none while it works
  std::string reason_;
  Nanos opening_since_{0};
  std::size_t capacity_ = kLatencyFrames;
  std::size_t request_ = kRequestFrames;
  // Under the main loop's lock.
  std::size_t latency_ = kLatencyFrames;
  std::uint64_t underruns_ = 0;
  std::uint64_t written_ = 0;
  FadedEnd end_;
  Progress heard_;
  // The last report's read index, whether it was playing then, and when
  // it came.
  std::uint64_t told_read_ = 0;
  bool told_playing_ = false;
  Nanos told_at_{0};
  bool asked_server_ = false;
  bool pipewire_ = false;  // the server is PipeWire's PulseAudio service
  std::uint64_t cycle_ = kNoCycle;  // PipeWire's graph cycle, once seen
  Nanos next_timing_at_{0};
  bool prebuf_ = true;  // not heard for kSteadyFrames yet
  bool finishing_ = false;
  bool drained_ = false;
  pa_operation* drain_ = nullptr;
  pa_operation* timing_ = nullptr;
};

}  // namespace

std::unique_ptr<Output> OpenPulseOutput() {
  return std::make_unique<PulseOutput>();
}

}  // namespace pvl
