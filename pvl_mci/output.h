// Where the device's audio goes: a sound system's stream, or a silent
// output that only counts what a listener would have heard. Frames are
// 48 kHz stereo, two floats each.
//
// One Output is one connection to a sound system that plays one stream at
// a time. Only the device's render thread calls it, never under the
// device's lock, and no call waits on the sound system: a server that
// hangs makes the calls answer with what they know. `now` is the device
// clock's time.
#ifndef MCIPLAY_PVL_MCI_OUTPUT_H
#define MCIPLAY_PVL_MCI_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "pvl_mci/clock.h"

namespace pvl {

constexpr int kSampleRate = 48000;
constexpr int kFramesPerMs = kSampleRate / 1000;
// Where the sound is cut or comes in again mid-piece, it fades over this
// long, without a click.
constexpr std::size_t kFadeFrames = 5 * kFramesPerMs;

// What the listener has heard of a stream, by the output's own clock:
// `frames` by `at`, and from there on one frame every 1/48000 s while
// `moving`, but never more than `limit` (what was written).
struct Progress {
  std::uint64_t frames = 0;
  Nanos at{0};
  bool moving = false;
  std::uint64_t limit = 0;
};

// Frames heard by `now` according to `p`.
std::uint64_t HeardBy(const Progress& p, Nanos now);
// How long `frames` last, rounded up to the nanosecond.
Nanos TimeOf(std::uint64_t frames);
// The earliest time by which `p` has `frames` heard; kForever if never.
Nanos WhenHeard(const Progress& p, std::uint64_t frames);
// What was heard by a sound server's timing report, received at `now`: the
// server had read `read` frames from the stream, and `ahead_us` is the time
// the report travelled less what the sink still held then. What the sink
// holds plays out even while the stream waits for data, so the count moves
// on up to what was read (no further while the stream is not playing).
Progress HeardFromServer(std::uint64_t read, std::int64_t ahead_us,
                         bool playing, Nanos now);
// What was heard by the report `told`, received at `now`, from a server
// that takes a stream's frames a graph cycle at a time and tells nothing of
// its sink (PipeWire): its read index leaps by a cycle once a cycle. The
// frames told were taken since the last report, `since`: what is heard now
// lies between `told` and that plus the time between the reports.
// `carried`, the clock so far, is kept within those bounds, so the count
// moves on smoothly rather than leaping back at each report that came
// late in its cycle.
Progress HeardInCycles(const Progress& carried, const Progress& told,
                       Nanos since, Nanos now);
// By when a sound system that has room for `room` frames at `now`, and
// frees room as it plays, has room for `frames`.
Nanos WhenRoomFor(std::size_t frames, std::size_t room, Nanos now);

class Output {
 public:
  enum class State { kOpening, kReady, kFailed };

  // Closes the connection; what was written and not yet heard is dropped.
  virtual ~Output() = default;

  // Moves an opening on, and tells whether the output can play: kFailed
  // once the sound system is gone or refused it.
  virtual State Poll(Nanos now) = 0;
  // After kFailed: true when the sound system is there but does not answer
  // (the next kind of output may go through the same hanging system).
  virtual bool Hangs() const { return false; }
  // After kFailed: why, in a few words, naming the call that failed
  // ("snd_pcm_open: No such file or directory").
  virtual std::string Error() const = 0;
  // The same without the call, where a line has no room for it.
  virtual std::string Reason() const { return Error(); }
  // Where this output's kind stands among those its opener tries: 0 is
  // the first choice; a later one is left for an earlier as soon as that
  // opens again.
  virtual std::size_t Rank() const { return 0; }

  // Frames the output buffers at most: the device writes until this much is
  // queued, and comes back when about half of it has been heard.
  virtual std::size_t Capacity() const = 0;

  // Begins a stream (once kReady): nothing written, nothing heard.
  virtual void Start(Nanos now) = 0;
  // Ends the stream at once, dropping what is queued.
  virtual void Halt() = 0;
  // How many frames Write takes now, and by when it may take `frames` (the
  // device looks again then).
  virtual std::size_t Room(Nanos now) = 0;
  virtual Nanos WhenRoom(std::size_t frames, Nanos now) = 0;
  virtual void Write(const float* frames, std::size_t count, Nanos now) = 0;
  // Plays what was written at once, where a stream waits for its buffer
  // to fill before it starts.
  virtual void Trigger(Nanos) {}
  // Nothing more will be written to this stream: the rest plays out.
  virtual void Finish(Nanos now) = 0;
  // What the listener has heard of this stream.
  virtual Progress Heard(Nanos now) = 0;

  // How many times a stream of this output ran dry while it played, so far
  // (a stream ended or drained included; the device tells which count).
  virtual std::uint64_t Underruns() { return 0; }
  // After an underrun: asks for a longer buffer (the sink's share stays as
  // it is, so a close is as quick as before); false when it is as long as
  // it gets.
  virtual bool Grow() { return false; }
};

// Opens outputs after the first. `open` begins opening one, trying the
// first `kinds` kinds of output it knows one after the other (all of them:
// kAllKinds). `server_came`, where the system can tell (else empty), says
// whether a sound server may have come since it was last asked: a socket
// made where clients look for one, or a sound card added.
constexpr std::size_t kAllKinds = ~std::size_t{0};
struct OutputOpener {
  std::function<std::unique_ptr<Output>(std::size_t kinds)> open;
  std::function<bool()> server_came;
  explicit operator bool() const { return static_cast<bool>(open); }
};

// Plays nothing, paced by the clock, as a sound card with a buffer of
// Capacity() would: a frame is heard once its time has come since Start,
// and when the writer falls behind (the process was stopped) the clock
// waits at the last frame written, then goes on from there.
std::unique_ptr<Output> MakeSilentOutput();

// The sound outputs, each built only for its system (the file's suffix).
// Each begins opening at once and never prints.
std::unique_ptr<Output> OpenPulseOutput();  // PulseAudio, or PipeWire's
std::unique_ptr<Output> OpenAlsaOutput();   // ALSA's default device
std::unique_ptr<Output> OpenWaveOutput();   // waveOut's default device

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_OUTPUT_H
