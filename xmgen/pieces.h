// The pieces the XM writer makes: the bundled music, and the small ones the
// tests play.
#ifndef MCIPLAY_XMGEN_PIECES_H
#define MCIPLAY_XMGEN_PIECES_H

#include "xmgen/xm_writer.h"

namespace xmgen {

// The bundled piece: about a minute in A minor for pad, bass, plucked
// arpeggio, lead and drums.
Module ComposePiece();

// A piece that lasts exactly `length_ms` milliseconds, rounded down to a
// multiple of 10 (one row lasts 10 ms), at least one row: a soft tone
// struck every half second.
Module TimedPiece(int length_ms);

// A piece of `channels` channels (1 to 64) that all sound for `seconds`:
// chords of looped tones changing every 960 ms, so that every channel is
// mixed all the time and no stretch of it is silent.
Module DensePiece(int channels, int seconds);

// A piece with no orders, no patterns and no instruments.
Module EmptyPiece();

}  // namespace xmgen

#endif  // MCIPLAY_XMGEN_PIECES_H
