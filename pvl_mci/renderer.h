// The device's render thread at work: it owns the module and the outputs,
// plays one run (a stretch of the piece) at a time, and reports what the
// listener has heard of it. Nothing here is shared with the media-control
// calls; the device passes commands in and reports out under its lock.
//
// The run plays through the sound output while it works. When the output
// fails (its server is gone, or it takes no frame for a second while frames
// wait), the run goes on silently from the place the music has reached in
// real time, and a new output is opened once a second, or at once on a
// sign that a server has come. Once one is ready, the music goes on there
// from the place real time reaches when its first frame is heard. An
// output that is not the first choice (ALSA while the sound server is
// away) is left in the same way for a better one as soon as that opens,
// and plays on until the better one is heard.
#ifndef MCIPLAY_PVL_MCI_RENDERER_H
#define MCIPLAY_PVL_MCI_RENDERER_H

#include <cstdint>
#include <memory>
#include <vector>

#include "pvl_mci/output.h"

namespace openmpt {
class module;
}

namespace pvl {

class Renderer {
 public:
  // `output` plays first (null: silently until `reopen` gives one);
  // `reopen` (may be empty) opens a new one after a failure.
  Renderer(std::unique_ptr<openmpt::module> module,
           std::unique_ptr<Output> output, OutputOpener reopen);
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // Starts playing from `from_ms` up to `to_ms` of the piece.
  void Begin(std::uint32_t from_ms, std::uint32_t to_ms, Nanos now);
  // Ends the run at once; what is queued is dropped.
  void End();

  struct Report {
    // What has been heard of the run, in frames from its start.
    Progress heard;
    // The last frame has been heard; the run ended `done_at_ms` into the
    // piece (its end, or earlier where the module itself ended).
    bool done = false;
    std::uint32_t done_at_ms = 0;
    // The sound output the run played through failed since the last
    // report; the run goes on silently.
    bool output_failed = false;
    // When Step has more to do.
    Nanos wake = kForever;
  };
  // Does what the run needs at `now`.
  Report Step(Nanos now);

  // What the runs so far met with: underruns of a sound output while it
  // played (not counting a stop of this process), and how often a buffer
  // grew after one.
  struct Stats {
    std::uint64_t underruns = 0;
    std::uint64_t grown = 0;
  };
  const Stats& stats() const { return stats_; }

 private:
  bool Real() const { return real_ && active_ == real_.get(); }
  void PollOutput(Nanos now);
  void DropOutput(Nanos now);
  void PlayOn(Output& output, std::uint64_t heard, Nanos now);
  void MoveTo(Nanos now);
  bool Lead(Nanos now);
  void Reposition(std::uint64_t frame);
  void CountUnderruns();
  bool Fill(Nanos now);
  std::size_t Render(std::size_t want, float* into);
  std::uint64_t KeptTime(Nanos now) const;
  Nanos NextWake(const Progress& seg, bool more, Nanos now) const;

  std::unique_ptr<openmpt::module> module_;
  std::unique_ptr<Output> real_;      // the sound output, while there is one
  std::unique_ptr<Output> stand_in_;  // silent, while there is none
  std::unique_ptr<Output> better_;    // opening, to take over from real_
  std::unique_ptr<Output> leaving_;   // left for real_, heard until it is
  OutputOpener reopen_;
  Nanos next_attempt_{0};
  Nanos quick_until_{0};      // a server may have come: attempts come quicker
  Output* active_ = nullptr;  // the one the run plays through

  // The run: frames of the piece from start_ms_, run_frames_ of them; of
  // these written_ rendered so far, the output's stream holding those from
  // base_ on.
  bool running_ = false;
  std::uint32_t start_ms_ = 0;
  std::uint64_t run_frames_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t base_ = 0;
  bool finished_ = false;
  // Silence to play before the module's first row, or frames of it to pass
  // over, when it could not go exactly to the place asked.
  std::uint64_t lead_ = 0;
  std::uint64_t skip_ = 0;
  std::uint64_t fade_in_ = 0;  // frames still to come in softly
  // The last change seen in what was heard, and when it happened.
  std::uint64_t last_heard_ = 0;
  Nanos last_move_at_{0};
  // When Step was asked back last time: much later means this process
  // was stopped (or starved), which is no fault of the output.
  Nanos due_ = kForever;
  bool output_failed_ = false;  // not reported yet
  // A stream joining the music where real time has it: the line it is to
  // join, when the stream first answered, and when the music's first frame
  // in it is heard (once known).
  bool placing_ = false;
  Progress line_;
  Nanos answered_at_ = kForever;
  Nanos joined_at_{0};
  std::uint64_t seen_underruns_ = 0;
  Stats stats_;
  std::vector<float> buffer_;
};

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_RENDERER_H
