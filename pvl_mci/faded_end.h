// A stream whose writer may stop at any moment (Ctrl+Z, SIGSTOP, the
// machine suspended) plays out what it holds, then falls silent: ending on
// music at full level, that is a click. So what is written always ends in a
// fade to silence over its last kFadeFrames, and the next write steps back
// over them and writes them again as the music has them. A sound system
// that lets a writer overwrite what it has not played yet (PulseAudio's and
// PipeWire's streams) then ends softly wherever the writer stopped, and
// nothing is skipped: the frames faded out were heard, and the music goes
// on after them. Silence follows the fade, for a system that plays a
// stream's data a whole cycle at a time and drops a last piece shorter than
// that (PipeWire's): the fade is then heard, and the silence dropped.
#ifndef MCIPLAY_PVL_MCI_FADED_END_H
#define MCIPLAY_PVL_MCI_FADED_END_H

#include <cstddef>
#include <vector>

#include "pvl_mci/output.h"

namespace pvl {

class FadedEnd {
 public:
  // `silence` frames follow the fade.
  explicit FadedEnd(std::size_t silence) : silence_(silence) {}
  // A new stream: nothing written.
  void Reset() { kept_.clear(); }
  // How many frames to step back before writing what Next gives: the
  // faded end written last, and the silence after it.
  std::size_t Back() const {
    return kept_.empty() ? 0 : kept_.size() / 2 + silence_;
  }
  // What to write after stepping Back(): the end written last, at full
  // level, then `count` new frames, the whole ending in a fade, then the
  // silence.
  const std::vector<float>& Next(const float* frames, std::size_t count);
  // The end written last as the music has it, to write after stepping
  // Back() when the stream ends there (what lies beyond is not played).
  const std::vector<float>& Whole() const { return kept_; }

 private:
  std::size_t silence_;
  std::vector<float> kept_;  // the last frames written, unfaded
  std::vector<float> out_;
};

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_FADED_END_H
