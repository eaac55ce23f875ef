// The screens the program writes to (standard output and standard error on
// a terminal): the window's size, where the cursor is, and Emit, the one
// way the console layer's output reaches a descriptor. Output to a screen
// is held (held_output.h) until Send: the console calls send it before
// every wait, every read of input and every question to the terminal.
#ifndef MCIPLAY_WINAPI_SCREEN_H
#define MCIPLAY_WINAPI_SCREEN_H

#include <cstddef>

#include "winapi/cursor_model.h"

namespace term {

// The window's size (TIOCGWINSZ), asked again only after SIGWINCH said it
// changed, or on every call where that signal is ignored; 80 x 24 when the
// terminal does not know it.
ScreenSize WindowSize(int fd);

// The cursor of screen `fd`, fitted to the window's size. Standard error
// shares the one of standard output when both are the same terminal.
CursorModel& CursorOf(int fd);

// The program was continued: the shell may have written meanwhile.
void ForgetCursors();

// Writes `bytes` to `fd`: on a screen, follows the cursor and holds them
// (a later error in sending them is not seen here); elsewhere writes them
// whole and gives the count written, less after an error such as a closed
// pipe.
std::size_t Emit(int fd, const char* bytes, std::size_t length);

// Sends the output held for a screen.
void Send();

}  // namespace term

#endif  // MCIPLAY_WINAPI_SCREEN_H
