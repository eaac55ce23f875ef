// The console operations the player needs: the cursor row, placing the
// cursor, blanking the rest of a line, and polling and taking key events.
// Columns and rows are 1-based here; the console counts from 0.
//
// The only input the program reacts to is a qualifying key event: a
// KEY_EVENT record with bKeyDown false and a non-zero AsciiChar, that is,
// the release of a key that produces a character.
#ifndef MCIPLAY_CONSOLE_CONSOLE_H
#define MCIPLAY_CONSOLE_CONSOLE_H

#include <cstdint>

// Takes the console for the run; the program calls it first. A Windows
// console program has its console from the start, so there it does
// nothing; over a POSIX terminal it takes the terminal (winapi/).
void StartConsole();

// The 1-based row of the cursor on standard output.
std::uint16_t CursorRow();

// Places the cursor at (column, row) on the standard output, standard input
// and standard error handles, in that order.
void MoveCursor(std::uint16_t column, std::uint16_t row);

// Blanks the row from the cursor to the right edge of the buffer, then puts
// the cursor back where it was: with blanks, or on a console that takes
// escape sequences with erase to the end of the line.
void ClearLineEnd();

// Turns the wrapping of text at the right edge of the buffer off or on
// (ENABLE_WRAP_AT_EOL_OUTPUT); with it off, text that reaches the edge
// overwrites the last column. Nothing where there is no screen buffer.
void SetLineWrap(bool on);

// The width of the screen buffer in columns; 0 when there is none.
std::uint16_t BufferWidth();

// True if a qualifying key event is among the first 128 records of the input
// queue. The queue is left as it was, except that 128 records in a row that
// hold none are taken away (they never will), so that they cannot hide a key
// released behind them.
bool KeyWaiting();

// Waits for a qualifying key event, removes it and returns its character.
// The other records of its batch of 128 go back to the end of the queue,
// keeping their order among themselves, behind anything that arrived
// meanwhile; a batch without a qualifying event is dropped.
char TakeKey();

// Waits until a record arrives in the console input queue, or `ms`
// milliseconds pass. Records already queued that cannot qualify are taken
// out first: the console input handle is signalled while the queue holds
// any record, so they would end every wait at once. Without a console on
// standard input, a pause of `ms`.
void WaitForInput(std::uint32_t ms);

// Drops what is in the console input queue, and what keeps coming with it
// (the rest of a paste, a held key's repeats), until the input has been
// quiet for a moment, or a second has passed: none of it is then left for
// the program that reads the console next (the shell).
void DiscardInput();

// True when standard output is a console screen buffer.
bool OutputIsConsole();

// True when standard input is a console input queue.
bool InputIsConsole();

#endif  // MCIPLAY_CONSOLE_CONSOLE_H
