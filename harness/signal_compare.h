// Compares a recording with the rendering it should hold: finds where the
// rendering starts in the recording, then measures the signal-to-noise
// ratio, the places where the recording departs from it (gaps, clicks,
// a skip that shifts the rest) and the difference in length.
// Signals are interleaved stereo at 48 kHz.
#ifndef MCIPLAY_HARNESS_SIGNAL_COMPARE_H
#define MCIPLAY_HARNESS_SIGNAL_COMPARE_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace audio {

using Samples = std::vector<float>;

// A run of 10 ms windows where the recording departs from the rendering,
// in milliseconds of the rendering.
struct Gap {
  double at_ms = 0;
  double length_ms = 0;
  // How much later the music goes on after it than before it: + for a
  // delay (silence inserted), - for a skip.
  double shift_ms = 0;
};

struct Comparison {
  bool aligned = false;
  long offset = 0;    // recording frame = rendering frame + offset
  double snr_db = 0;  // from the frame compared from to the end
  std::vector<Gap> gaps;
  // Where the sound ends in the recording, less where it ends in the
  // rendering, after alignment.
  double length_error_ms = 0;
};

// The first and last frames with a sample beyond `threshold`.
std::optional<std::size_t> FirstSound(const Samples& s, float threshold,
                                      std::size_t from = 0);
std::optional<std::size_t> LastSound(const Samples& s, float threshold);

// The offset of `reference` in `recording`, judged on about a second of the
// reference from `from_frame` on; nothing when no place matches.
std::optional<long> Align(const Samples& recording, const Samples& reference,
                          std::size_t from_frame);

// Aligns, then compares from `from_frame` of the reference to its end. Where
// the recording departs for a while, the music is looked for again within
// a few seconds, so that a delay or a skip is one gap and a shift, and what
// follows is compared where it is.
Comparison Compare(const Samples& recording, const Samples& reference,
                   std::size_t from_frame);

// One line: offset, SNR, gaps, length error.
std::string Describe(const Comparison& c);

}  // namespace audio

#endif  // MCIPLAY_HARNESS_SIGNAL_COMPARE_H
