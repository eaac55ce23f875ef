// Where the device's audio goes: the sound card through PortAudio, or a
// silent output that only counts the frames a listener would have heard.
// Frames are 48 kHz stereo, two floats each. All calls come from the
// device with its lock held; `now` is the device clock's time.
#ifndef MCIPLAY_PVL_MCI_OUTPUT_H
#define MCIPLAY_PVL_MCI_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "pvl_mci/clock.h"

namespace pvl {

constexpr int kSampleRate = 48000;
constexpr int kFramesPerMs = kSampleRate / 1000;

class Output {
 public:
  virtual ~Output() = default;
  // Starts a run: nothing written yet, nothing heard.
  virtual void Start(Nanos now) = 0;
  // Ends the run at once; what was written and not yet heard is dropped.
  virtual void Halt() = 0;
  // How many frames Write takes now.
  virtual std::size_t Room(Nanos now) = 0;
  virtual void Write(const float* frames, std::size_t count, Nanos now) = 0;
  // Nothing more will be written in this run: the rest plays out.
  virtual void Finish(Nanos now) = 0;
  // Frames of this run the listener has heard: at most those written.
  virtual std::uint64_t Heard(Nanos now) = 0;
  // The time by which Room may have reached `frames`.
  virtual Nanos WhenRoom(std::size_t frames, Nanos now) = 0;
  // The time by which Heard may have reached `frames`.
  virtual Nanos WhenHeard(std::uint64_t frames, Nanos now) = 0;
  // True once the output cannot play this run any more (its stream did not
  // start, ended or stopped taking frames). Heard then counts on as if the
  // frames written were still being heard in time, and the device hands
  // the run to a silent output.
  virtual bool Failed(Nanos now) = 0;
};

// Plays nothing, paced by the clock: a frame counts as heard once its time
// has passed since Start. When rendering falls behind, the clock does not
// wait for it; frames are heard as soon as they are written.
std::unique_ptr<Output> MakeSilentOutput();

// A silent output that takes over a run from one that failed at `now`:
// `written` frames of the run are written, `heard` of them heard, and the
// rest is heard on from there in time.
std::unique_ptr<Output> MakeSilentOutputFrom(std::uint64_t heard,
                                             std::uint64_t written, Nanos now);

// The default output device through PortAudio, or null with the reason in
// `error` when none can be opened. Nothing of the audio libraries reaches
// standard output or standard error.
std::unique_ptr<Output> MakeDeviceOutput(std::string& error);

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_OUTPUT_H
