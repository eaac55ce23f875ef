#include "console/interrupt.h"

#include <windows.h>

#include <atomic>

namespace {

// A closing window ends the process as soon as its handler returns, and
// Windows waits about 5 s for that: the handler holds on this long, so
// that the main thread, which notices within a pass, ends the run first.
constexpr DWORD kCloseGraceMs = 4000;

std::atomic<bool> g_interrupted{false};

// A record that never qualifies as a key: it ends the main thread's wait
// for input at once, and the wait then drops it.
void WakeTheWait() {
  INPUT_RECORD record{};
  record.EventType = FOCUS_EVENT;
  record.Event.FocusEvent.bSetFocus = TRUE;
  DWORD written = 0;
  WriteConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), &record, 1, &written);
}

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT &&
      event != CTRL_CLOSE_EVENT)
    return FALSE;  // log-off and shut-down: the system's default
  g_interrupted = true;
  WakeTheWait();
  if (event == CTRL_CLOSE_EVENT) Sleep(kCloseGraceMs);
  return TRUE;
}

}  // namespace

void CatchInterrupts() {
  g_interrupted = false;
  SetConsoleCtrlHandler(OnControl, TRUE);
}

bool Interrupted() { return g_interrupted; }
