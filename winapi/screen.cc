#include "winapi/screen.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "winapi/std_handles.h"
#include "winapi/terminal_owner.h"

namespace term {

namespace {

struct KnownSize {
  int resizes = -1;
  ScreenSize size;
};
KnownSize g_sizes[3];
CursorModel g_cursors[3];  // for descriptors 1 and 2 (0 unused)

bool SameTerminalOnOutputAndError() {
  static const bool same = [] {
    struct stat out, err;
    return fstat(1, &out) == 0 && fstat(2, &err) == 0 &&
           out.st_rdev == err.st_rdev && S_ISCHR(out.st_mode);
  }();
  return same;
}

}  // namespace

ScreenSize WindowSize(int fd) {
  const bool cached = ResizesAreSignalled() && fd >= 0 && fd <= 2;
  const int resizes = g_handler_state.resizes.load();
  if (cached && g_sizes[fd].resizes == resizes) return g_sizes[fd].size;
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
    size.ws_col = 80;
    size.ws_row = 24;
  }
  if (size.ws_row == 0) size.ws_row = 24;
  const ScreenSize found{size.ws_row, size.ws_col};
  if (cached) g_sizes[fd] = KnownSize{resizes, found};
  return found;
}

CursorModel& CursorOf(int fd) {
  CursorModel& model =
      g_cursors[fd == 2 && SameTerminalOnOutputAndError() ? 1 : fd];
  Fit(model, WindowSize(fd));
  return model;
}

void ForgetCursors() {
  for (CursorModel& model : g_cursors) Forget(model);
}

std::size_t Emit(int fd, const char* bytes, std::size_t length) {
  if (!IsScreen(fd)) return WriteWhole(fd, bytes, length);
  Follow(CursorOf(fd), std::string_view(bytes, length));
  Hold(g_handler_state.held, fd, bytes, length);
  return length;
}

void Send() { SendHeld(g_handler_state.held); }

}  // namespace term
