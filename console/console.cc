#include "console/console.h"

#include <windows.h>

#include "console/text_out.h"

namespace {

constexpr DWORD kBatch = 128;

// KeyWaiting drops at most this many full batches that cannot qualify in
// one call, so that a flood of input cannot hold the playback loop up; the
// next call goes on where it stopped.
constexpr int kMaxDroppedBatches = 256;

// DiscardInput: input is quiet once nothing has come for longer than a
// held key's repeats (25 to 40 ms apart) or the gaps in a paste on a busy
// machine take; and it stops after a second whatever comes.
constexpr DWORD kQuietMs = 100;
constexpr DWORD kDiscardMs = 1000;

bool Qualifies(const INPUT_RECORD& record) {
  return record.EventType == KEY_EVENT && !record.Event.KeyEvent.bKeyDown &&
         record.Event.KeyEvent.uChar.AsciiChar != 0;
}

bool ScreenInfo(CONSOLE_SCREEN_BUFFER_INFO* info) {
  return GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), info) != 0;
}

// A console that takes escape sequences (a terminal always does) blanks
// the rest of the row for three bytes: erase to the end of the line.
bool TakesSequences() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0 &&
         (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

// Peeks at the first 128 records (at most) and tells whether one of them
// qualifies. False when the console cannot be peeked at.
bool PeekBatch(HANDLE input, INPUT_RECORD* batch, DWORD& count,
               bool& qualifies) {
  count = 0;
  qualifies = false;
  if (!PeekConsoleInputA(input, batch, kBatch, &count)) {
    count = 0;
    return false;
  }
  if (count > kBatch) count = kBatch;
  for (DWORD i = 0; i < count && !qualifies; ++i)
    qualifies = Qualifies(batch[i]);
  return true;
}

}  // namespace

// AttachConsole fails at once for a process that has a console already, as
// every Windows console program has.
void StartConsole() { AttachConsole(ATTACH_PARENT_PROCESS); }

std::uint16_t CursorRow() {
  // A failed query gives no position: row 0, which lies outside every
  // buffer, so a MoveCursor to it is refused instead of jumping to the top.
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!ScreenInfo(&info)) return 0;
  return static_cast<std::uint16_t>(info.dwCursorPosition.Y + 1);
}

void MoveCursor(std::uint16_t column, std::uint16_t row) {
  COORD position;
  position.X = static_cast<SHORT>(static_cast<std::uint16_t>(column - 1));
  position.Y = static_cast<SHORT>(static_cast<std::uint16_t>(row - 1));
  SetConsoleCursorPosition(GetStdHandle(STD_OUTPUT_HANDLE), position);
  SetConsoleCursorPosition(GetStdHandle(STD_INPUT_HANDLE), position);
  SetConsoleCursorPosition(GetStdHandle(STD_ERROR_HANDLE), position);
}

void ClearLineEnd() {
  // Without the buffer's width there is no count to blank.
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!ScreenInfo(&info)) return;
  const SHORT x = info.dwCursorPosition.X;
  const SHORT y = info.dwCursorPosition.Y;
  const std::int32_t count =
      static_cast<std::int32_t>(info.dwSize.X) - static_cast<std::int32_t>(x);

  if (count >= 1 && TakesSequences()) {
    WriteText("\x1b[K");
  } else {
    // count - 1 blanks and one more: count blanks, and at least one.
    if (count - 1 > 0) WriteRepeated(' ', static_cast<std::size_t>(count - 1));
    WriteText(" ");
    FlushText();
  }

  MoveCursor(static_cast<std::uint16_t>(x + 1),
             static_cast<std::uint16_t>(y + 1));
}

void SetLineWrap(bool on) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(output, &mode)) return;
  const DWORD wanted =
      on ? mode | ENABLE_WRAP_AT_EOL_OUTPUT
         : mode & ~static_cast<DWORD>(ENABLE_WRAP_AT_EOL_OUTPUT);
  if (wanted != mode) SetConsoleMode(output, wanted);
}

std::uint16_t BufferWidth() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!ScreenInfo(&info) || info.dwSize.X <= 0) return 0;
  return static_cast<std::uint16_t>(info.dwSize.X);
}

bool KeyWaiting() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  INPUT_RECORD batch[kBatch];
  for (int dropped = 0;; ++dropped) {
    DWORD count = 0;
    bool qualifies = false;
    PeekBatch(input, batch, count, qualifies);
    if (qualifies) return true;
    // Fewer than 128 records: a release that comes later is seen. A full
    // batch that holds none would hide it for good (held keys, cursor keys,
    // the presses TakeKey put back), so it is read out and dropped. The
    // console only adds records at the end: the read takes the same ones.
    if (count < kBatch || dropped == kMaxDroppedBatches) return false;
    if (!ReadConsoleInputA(input, batch, kBatch, &count)) return false;
  }
}

char TakeKey() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  for (;;) {
    INPUT_RECORD batch[kBatch];
    DWORD n = 0;
    if (!ReadConsoleInputA(input, batch, kBatch, &n)) n = 0;
    if (n > kBatch) n = kBatch;
    for (DWORD p = 0; p < n; ++p) {
      if (!Qualifies(batch[p])) continue;
      DWORD written = 0;
      if (p > 0) WriteConsoleInputA(input, batch, p, &written);
      if (p + 1 < n)
        WriteConsoleInputA(input, batch + p + 1, n - p - 1, &written);
      return batch[p].Event.KeyEvent.uChar.AsciiChar;
    }
    Sleep(10);
  }
}

void WaitForInput(std::uint32_t ms) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  INPUT_RECORD batch[kBatch];
  for (int dropped = 0; dropped <= kMaxDroppedBatches; ++dropped) {
    DWORD count = 0;
    bool qualifies = false;
    if (!PeekBatch(input, batch, count, qualifies)) {
      Sleep(ms);  // no console to wait on
      return;
    }
    if (qualifies || count == 0) break;
    // Records that can never qualify would keep the wait below signalled:
    // read them out (the console only adds at the end, so the read takes
    // the same ones), a full batch after a full batch.
    DWORD read = 0;
    if (!ReadConsoleInputA(input, batch, count, &read)) {
      Sleep(ms);
      return;
    }
    if (count < kBatch) break;
  }
  if (WaitForSingleObject(input, ms) == WAIT_FAILED) Sleep(ms);
}

void DiscardInput() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  const DWORD start = GetTickCount();
  while (FlushConsoleInputBuffer(input) &&
         GetTickCount() - start < kDiscardMs &&
         WaitForSingleObject(input, kQuietMs) == WAIT_OBJECT_0) {
  }
}

bool OutputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool InputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}
