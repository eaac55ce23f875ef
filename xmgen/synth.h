// Synthesised instrument samples for the XM writer. Every sample is made for
// relative note +24: at C-4 it plays kRate samples per second, and the
// pitched ones then sound C-4.
#ifndef MCIPLAY_XMGEN_SYNTH_H
#define MCIPLAY_XMGEN_SYNTH_H

#include <vector>

#include "xmgen/xm_writer.h"

namespace xmgen {

constexpr int kRate = 8363 * 4;
// Samples per cycle of C-4 at kRate.
constexpr int kPeriod = 128;

// A looped tone: harmonic k (from 1) has amplitude harmonics[k-1]. With
// `detune`, a second copy a few cents sharp beats against the first.
Sample Tone(const char* name, const std::vector<double>& harmonics,
            bool detune);

// A plucked string that dies away within `seconds` (not looped).
Sample Pluck(const char* name, double seconds, unsigned seed);

// Unpitched drums, played at C-4.
Sample Kick();
Sample Snare();
Sample HiHat();

}  // namespace xmgen

#endif  // MCIPLAY_XMGEN_SYNTH_H
