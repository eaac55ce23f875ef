// The console and file calls of kernel32 on a POSIX terminal, as thin entry
// points over the parts of the layer. The program takes the terminal with
// AttachConsole as it starts; until then the layer is a console without
// input whose cursor is not known. The parts:
//   std_handles     the standard handles and what each descriptor is;
//   terminal_owner  raw mode, the protocol's flags, the signal handlers;
//   input_reader    the terminal's bytes into input records and answers;
//   screen          the window's size, the cursor model, the output.
// Output to a screen is held and goes out, in one write, before the
// program waits, reads input or asks the terminal where the cursor is.
// How a Windows console maps onto a terminal is in winapi/README.md.
#include <windows.h>

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string_view>

#include "winapi/input_reader.h"
#include "winapi/screen.h"
#include "winapi/std_handles.h"
#include "winapi/terminal_owner.h"

namespace {

// The terminal's input, from AttachConsole on; destroyed at exit, which
// gives the terminal back.
term::InputReader* g_reader = nullptr;

term::InputReader& Reader() { return *g_reader; }

SHORT ToShort(long value) {
  return static_cast<SHORT>(std::clamp<long>(value, 0, 32767));
}

// The cursor of screen `fd`, 0-based: followed, else asked of the terminal,
// else (a terminal that does not answer) guessed.
void WhereIs(int fd, term::CursorModel& model, int& row, int& column) {
  term::CursorReport where{};
  if (!model.known && g_reader != nullptr && Reader().CursorPosition(fd, where))
    term::Learn(model, where.row - 1, where.column - 1, model.size);
  if (model.known) {
    row = model.row;
    column = model.column;
  } else {
    term::Guess(model, row, column);
  }
}

// A console call on the input handle, which only a terminal on standard
// input is.
bool IsConsoleInput(HANDLE handle) {
  return term::FdOf(handle) == 0 && g_reader != nullptr && Reader().HasKeys();
}

}  // namespace

extern "C" {

// The process has no console of its own here: it takes its terminal (raw
// mode, the signal handlers, the keyboard protocol's question) for the run,
// once. The terminal is given back at exit and by the handlers.
BOOL WINAPI AttachConsole(DWORD dwProcessId) {
  if (dwProcessId != ATTACH_PARENT_PROCESS || g_reader != nullptr) return FALSE;
  static term::InputReader reader;
  g_reader = &reader;
  return TRUE;
}

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
  const int fd = nStdHandle == STD_INPUT_HANDLE    ? 0
                 : nStdHandle == STD_OUTPUT_HANDLE ? 1
                 : nStdHandle == STD_ERROR_HANDLE  ? 2
                                                   : -1;
  return term::HandleOf(fd);
}

BOOL WINAPI GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
  if (lpMode == nullptr) return FALSE;
  *lpMode = 0;
  const int fd = term::FdOf(hConsoleHandle);
  if (!term::IsTerminal(fd)) return FALSE;
  // A terminal takes escape sequences, as a console does in this mode.
  *lpMode = fd == 0
                ? ENABLE_PROCESSED_INPUT
                : ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING;
  if (fd != 0 && term::g_handler_state.unwrapped != fd)
    *lpMode |= ENABLE_WRAP_AT_EOL_OUTPUT;
  return TRUE;
}

// On a screen, line wrap is the one mode that changes: off and on are
// ESC [ ? 7 l and h, held with the output around them. The handlers that
// give the terminal back turn it on again (terminal_owner.h).
BOOL WINAPI SetConsoleMode(HANDLE hConsoleHandle, DWORD dwMode) {
  const int fd = term::FdOf(hConsoleHandle);
  constexpr DWORD kFixed =
      ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING;
  if (!term::IsScreen(fd) ||
      (dwMode & ~(kFixed | ENABLE_WRAP_AT_EOL_OUTPUT)) != 0 ||
      (dwMode & kFixed) != kFixed)
    return FALSE;
  const bool wrap = (dwMode & ENABLE_WRAP_AT_EOL_OUTPUT) != 0;
  term::HandlerState& state = term::g_handler_state;
  if (wrap == (state.unwrapped != fd)) return TRUE;
  // Marked before the bytes go out, and cleared after: a handler that comes
  // between turns wrap on once more, which does no harm.
  if (!wrap) state.unwrapped = fd;
  const std::string_view bytes = wrap ? term::kWrapOn : term::kWrapOff;
  const bool sent = term::Emit(fd, bytes.data(), bytes.size()) == bytes.size();
  if (wrap && sent) state.unwrapped = -1;
  return sent ? TRUE : FALSE;
}

BOOL WINAPI GetConsoleScreenBufferInfo(
    HANDLE hConsoleOutput,
    PCONSOLE_SCREEN_BUFFER_INFO lpConsoleScreenBufferInfo) {
  const int fd = term::FdOf(hConsoleOutput);
  if (lpConsoleScreenBufferInfo == nullptr || !term::IsScreen(fd)) return FALSE;
  term::CursorModel& model = term::CursorOf(fd);
  const term::ScreenSize size = model.size;
  int row = 0;
  int column = 0;
  WhereIs(fd, model, row, column);

  CONSOLE_SCREEN_BUFFER_INFO& info = *lpConsoleScreenBufferInfo;
  info = CONSOLE_SCREEN_BUFFER_INFO{};
  info.dwSize = COORD{ToShort(size.columns), ToShort(size.rows)};
  info.dwCursorPosition = COORD{ToShort(column), ToShort(row)};
  info.wAttributes = 0x07;  // light grey on black
  info.srWindow =
      SMALL_RECT{0, 0, ToShort(size.columns - 1), ToShort(size.rows - 1)};
  info.dwMaximumWindowSize = info.dwSize;
  return TRUE;
}

BOOL WINAPI SetConsoleCursorPosition(HANDLE hConsoleOutput,
                                     COORD dwCursorPosition) {
  const int fd = term::FdOf(hConsoleOutput);
  if (!term::IsScreen(fd)) return FALSE;
  term::CursorModel& model = term::CursorOf(fd);
  // As on Windows, a position outside the buffer is refused.
  const int row = dwCursorPosition.Y;
  const int column = dwCursorPosition.X;
  if (column < 0 || row < 0 || column >= model.size.columns ||
      row >= model.size.rows)
    return FALSE;
  char move[32];
  bool relative = false;
  const std::size_t length =
      term::MoveBytes(model, row, column, move, relative);
  if (length > 0 && term::Emit(fd, move, length) != length) return FALSE;
  term::Moved(model, row, column, relative);
  return TRUE;
}

BOOL WINAPI PeekConsoleInputA(HANDLE hConsoleInput, PINPUT_RECORD lpBuffer,
                              DWORD nLength, LPDWORD lpNumberOfEventsRead) {
  if (lpNumberOfEventsRead == nullptr) return FALSE;
  *lpNumberOfEventsRead = 0;
  if (!IsConsoleInput(hConsoleInput)) return FALSE;
  if (lpBuffer == nullptr && nLength > 0) return FALSE;
  term::Send();
  Reader().Poll();
  *lpNumberOfEventsRead = Reader().queue().Peek(lpBuffer, nLength);
  return TRUE;
}

BOOL WINAPI ReadConsoleInputA(HANDLE hConsoleInput, PINPUT_RECORD lpBuffer,
                              DWORD nLength, LPDWORD lpNumberOfEventsRead) {
  if (lpNumberOfEventsRead == nullptr) return FALSE;
  *lpNumberOfEventsRead = 0;
  if (!IsConsoleInput(hConsoleInput)) return FALSE;
  if (lpBuffer == nullptr || nLength == 0) return FALSE;
  term::Send();
  Reader().WaitForRecord();
  *lpNumberOfEventsRead = Reader().queue().Take(lpBuffer, nLength);
  return TRUE;
}

BOOL WINAPI WriteConsoleInputA(HANDLE hConsoleInput,
                               const INPUT_RECORD* lpBuffer, DWORD nLength,
                               LPDWORD lpNumberOfEventsWritten) {
  if (lpNumberOfEventsWritten == nullptr) return FALSE;
  *lpNumberOfEventsWritten = 0;
  if (!IsConsoleInput(hConsoleInput)) return FALSE;
  if (lpBuffer == nullptr && nLength > 0) return FALSE;
  *lpNumberOfEventsWritten = Reader().queue().Append(lpBuffer, nLength);
  return TRUE;
}

// Drops the records queued, what is held of a sequence, and the bytes the
// terminal sent that were not read yet.
BOOL WINAPI FlushConsoleInputBuffer(HANDLE hConsoleInput) {
  if (!IsConsoleInput(hConsoleInput)) return FALSE;
  return Reader().Discard() ? TRUE : FALSE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer,
                      DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  const int fd = term::FdOf(hFile);
  if (fd < 0 || (lpBuffer == nullptr && nNumberOfBytesToWrite > 0))
    return FALSE;
  const DWORD done = static_cast<DWORD>(term::Emit(
      fd, static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite));
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
  return done == nNumberOfBytesToWrite ? TRUE : FALSE;
}

// A terminal's Ctrl+C, Ctrl+\ and hang-up are signals, which the terminal
// owner takes: it gives the terminal back and exits with 0, as a program
// does on a control event. A handler is taken, and never called.
BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE, BOOL) { return TRUE; }

DWORD WINAPI GetFileType(HANDLE hFile) {
  return term::FileTypeOf(term::FdOf(hFile));
}

// Signalled while the input queue holds a record, as a console input
// handle is; only that handle can be waited on here.
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  if (!IsConsoleInput(hHandle)) return WAIT_FAILED;
  term::Send();
  const std::chrono::milliseconds wait(
      dwMilliseconds == INFINITE ? -1 : static_cast<long long>(dwMilliseconds));
  return Reader().WaitForRecord(wait) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

// Milliseconds of the monotonic clock, wrapping as Windows' count does.
DWORD WINAPI GetTickCount(void) {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  return static_cast<DWORD>(static_cast<unsigned long long>(now.tv_sec) * 1000 +
                            static_cast<unsigned long long>(now.tv_nsec) /
                                1000000);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
  term::Send();
  timespec left{static_cast<time_t>(dwMilliseconds / 1000),
                static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr)
    return lpString1 == lpString2 ? 0 : lpString1 == nullptr ? -1 : 1;
  auto lower = [](char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? u - 'A' + 'a' : u;
  };
  for (std::size_t i = 0;; ++i) {
    int a = lower(lpString1[i]);
    int b = lower(lpString2[i]);
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
}

}  // extern "C"
