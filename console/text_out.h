// The program's standard-output text stream.
//
// Text goes out as 8-bit characters through a 128-byte buffer, which is
// written out whenever it fills. Every write ends with a flush, and the flush
// writes the buffer out only when standard output is a character device (a
// console): there each piece of text is on the screen before the next
// console or media call. A finished line goes out at once wherever standard
// output goes; on a file or a pipe, text of an unfinished line waits in the
// buffer until the line ends, the buffer fills, or the program exits
// (FlushTextAtExit). Write errors are ignored.
#ifndef MCIPLAY_CONSOLE_TEXT_OUT_H
#define MCIPLAY_CONSOLE_TEXT_OUT_H

#include <cstddef>
#include <string_view>

// Writes `text` without a line end, then flushes.
void WriteText(std::string_view text);

// Writes `count` copies of `c` as one piece of text, then flushes.
void WriteRepeated(char c, std::size_t count);

// Finishes a line: writes CR LF, then writes the buffer out, whatever
// standard output is.
void EndLine();

// Writes the buffer out if standard output is a character device.
void FlushText();

// Writes whatever the buffer still holds, wherever standard output goes.
void FlushTextAtExit();

#endif  // MCIPLAY_CONSOLE_TEXT_OUT_H
