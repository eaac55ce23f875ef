// The player: the open, play and close sequence, the playback loop with its
// position line, and the closing prompt.
#ifndef MCIPLAY_PLAYER_PLAYER_H
#define MCIPLAY_PLAYER_PLAYER_H

#include <cstdint>

// The playback loop waits this long for input after each pass: 25 redraws
// a second, about a frame of a display, and the hundredths still move on
// every redraw. A terminal's cost follows the redraws, and a pass every
// 10 ms made kitty spend over three times openmpt123's CPU; at 40 ms it
// stays near it (docs/benchmarks.md). A key ends the wait at once.
inline constexpr std::uint32_t kPassMs = 40;

// Keeps the position line on the current row, redrawn in place, while the
// device reports "playing" and no key release is waiting; then blanks the
// row and leaves the cursor in its column 1, and returns true. On Ctrl+C,
// Ctrl+Break or the window closing (console/interrupt.h) it ends the line
// drawn instead, closes the device and returns false.
bool ShowProgress();

// The whole run: open, set the time format, play, show the progress, close,
// "Done!", drain the keyboard, prompt, wait for a key, and discard it with
// the input that came with it; Ctrl+C and its kin end it where they come.
// Returns the exit code, which is always 0.
int RunPlayer();

#endif  // MCIPLAY_PLAYER_PLAYER_H
