// The three standard handles of a POSIX process: a HANDLE is the address of
// one of them, and stands for file descriptor 0, 1 or 2. What each
// descriptor is (open, a terminal, its file type) does not change while the
// program runs, so it is looked at once, on first use.
#ifndef MCIPLAY_WINAPI_STD_HANDLES_H
#define MCIPLAY_WINAPI_STD_HANDLES_H

#include <windows.h>

namespace term {

// The handle of descriptor 0, 1 or 2; nullptr when it is closed.
HANDLE HandleOf(int fd);

// The descriptor of a standard handle, or -1.
int FdOf(HANDLE handle);

bool IsTerminal(int fd);

// Standard output or standard error on a terminal: a console screen buffer.
bool IsScreen(int fd);

// A FILE_TYPE_ value.
DWORD FileTypeOf(int fd);

}  // namespace term

#endif  // MCIPLAY_WINAPI_STD_HANDLES_H
