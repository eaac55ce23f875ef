// A stream whose writer may stop at any moment (Ctrl+Z, SIGSTOP, the
// machine suspended) plays out what it holds, then falls silent: ending on
// music at full level, that is a click. So what is written ends in a fade
// to silence over its last kFadeFrames, and the next write steps back
// over them and writes them again as the music has them. A PulseAudio
// stream, which lets a writer overwrite what it has not played yet, then
// ends softly wherever the writer stopped, and nothing is skipped: the
// frames faded out were heard, and the music goes on after them.
//
// Only an end well ahead of what the server reads is faded: one it has
// read already would be taken back (PulseAudio rewinds the stream to the
// overwrite), which a stream joining the music, fed only a little ahead,
// would meet at every write.
//
// PipeWire takes the overwrite too. It plays a stream's data a graph
// cycle at a time, and would hold back a last piece shorter than a cycle,
// fade and all, from a stream with a prebuffer: a stream that has played
// a while has none (pulse_buffer_posix.h).
#ifndef MCIPLAY_PVL_MCI_FADED_END_H
#define MCIPLAY_PVL_MCI_FADED_END_H

#include <cstddef>
#include <vector>

#include "pvl_mci/output.h"

namespace pvl {

class FadedEnd {
 public:
  // A new stream: nothing written.
  void Reset() { kept_.clear(); }
  // How many frames to step back before writing what Next gives: the
  // faded end written last.
  std::size_t Back() const { return kept_.size() / 2; }
  // What to write after stepping Back(): the end written last, at full
  // level, then `count` new frames, the whole ending in a fade if `faded`.
  const std::vector<float>& Next(const float* frames, std::size_t count,
                                 bool faded);
  // The end written last as the music has it, to write after stepping
  // Back() when the stream ends there.
  const std::vector<float>& Whole() const { return kept_; }

 private:
  std::vector<float> kept_;  // the last frames written, unfaded
  std::vector<float> out_;
};

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_FADED_END_H
