// A scripted platform for the unit tests, linked in place of the real
// console and media service: an in-memory console (a screen of cells with a
// cursor, an input queue of INPUT_RECORDs) and a media service that answers
// as each test scripts it. Time is a fake clock that only Sleep and the
// waits on the input handle move, so runs are exact and instant.
#ifndef MCIPLAY_TESTS_SUPPORT_FAKE_PLATFORM_H
#define MCIPLAY_TESTS_SUPPORT_FAKE_PLATFORM_H

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fake {

struct Console {
  int width = 80;
  int height = 25;
  std::vector<std::string> rows;  // height rows of width cells
  int x = 0;                      // 0-based cursor
  int y = 0;

  bool output_is_console = true;  // false: standard output is a file
  bool input_is_console = true;   // false: standard input is redirected
  // The console takes escape sequences (ESC [ K erases to the end of the
  // row), as a terminal does.
  bool takes_sequences = false;
  bool wrap = true;  // ENABLE_WRAP_AT_EOL_OUTPUT
  // Runs once, as the next WriteFile on standard output begins.
  std::function<void()> before_write;

  std::deque<INPUT_RECORD> queue;
  // Records that arrive when the clock reaches a time, earliest first.
  std::deque<std::pair<std::uint64_t, INPUT_RECORD>> scheduled;
  // Records that arrive right after the next ReadConsoleInputA returns.
  std::vector<INPUT_RECORD> arrive_after_read;

  std::string bytes;                // every byte written to standard output
  std::vector<std::string> writes;  // each WriteFile call on standard output
  std::vector<std::uint64_t> write_times;  // the clock at each of them
  std::vector<HANDLE>
      cursor_calls;  // handles given to SetConsoleCursorPosition
  std::vector<DWORD> sleeps;
  std::vector<DWORD> waits;        // timeouts given to WaitForSingleObject
  std::vector<DWORD> write_backs;  // counts given to WriteConsoleInputA
  int reads = 0;
  std::vector<std::uint64_t> flushes;  // the clock at each input flush
  // The console control handler the program installed, if any.
  PHANDLER_ROUTINE control_handler = nullptr;
};

struct Media {
  using Handler = std::function<MCIERROR(const std::string& command,
                                         char* reply, UINT length)>;
  Handler handler;
  std::vector<std::string> commands;  // in the order received
  // What mciGetErrorStringA knows; any other number has no text.
  std::map<MCIERROR, std::string> error_texts;
};

Console& console();
Media& media();
std::uint64_t NowMs();

// When the program took the key that ended its prompt, with the input that
// came with it: its first flush of the input (0 when there was none).
std::uint64_t KeyTakenAt();

HANDLE InputHandle();
HANDLE OutputHandle();
HANDLE ErrorHandle();

// A fresh console of the given size with an empty queue, a media service
// that knows no command, and the clock at 0.
void Reset(int width = 80, int height = 25);

// Row y of the screen, without its trailing blanks.
std::string Row(int y);

INPUT_RECORD KeyDown(char c, WORD virtual_key = 0);
INPUT_RECORD KeyUp(char c, WORD virtual_key = 0);
INPUT_RECORD Mouse();
INPUT_RECORD Focus();
void Schedule(std::uint64_t at_ms, INPUT_RECORD record);
// The console's width changes to `width`, as when its window is resized.
void Resize(int width);
// A press and a release of `c` at `at_ms`.
void Type(std::uint64_t at_ms, char c);

// How many of `v` (commands, writes) are `s`.
inline int Count(const std::vector<std::string>& v, const std::string& s) {
  return static_cast<int>(std::count(v.begin(), v.end(), s));
}

// Copies `text` into a reply buffer of `length`, NUL-terminated, truncated.
void Reply(char* reply, UINT length, const std::string& text);

// A device that opens, takes the time format, and plays `length_ms` from
// the play command on: mode "playing" then "stopped", the position in
// milliseconds. Every command not listed fails with "unknown command".
struct DeviceScript {
  std::uint32_t length_ms = 1000;
  std::string mode_word = "playing";
  std::function<MCIERROR(const std::string&, char*, UINT)> override_command;
};
void UseDevice(DeviceScript script);

}  // namespace fake

#endif  // MCIPLAY_TESTS_SUPPORT_FAKE_PLATFORM_H
