#include "player/player.h"

#include <windows.h>

#include <cstring>

#include "console/console.h"
#include "console/interrupt.h"
#include "console/text_out.h"
#include "player/mci_command.h"
#include "player/position.h"

namespace {

// The final wait wakes on input, and once a second besides, so that a
// terminal that went away is noticed without a poll every few milliseconds.
constexpr std::uint32_t kPromptWakeMs = 1000;

// The status line as a pass last drew it, and where.
struct ShownLine {
  std::uint16_t row = 0;  // 0: nothing drawn
  std::uint16_t width = 0;
  std::size_t length = 0;
  char text[kStatusLineMax] = {};
};

// The reply may fill its buffer without a NUL; compare a terminated copy.
bool SaysPlaying(const char* reply) {
  char text[kReplyLength + 1];
  std::string_view mode = ReplyText(reply);
  std::memcpy(text, mode.data(), mode.size());
  text[mode.size()] = '\0';
  return lstrcmpiA(text, "playing") == 0;
}

// The loop test, in its order: the mode query succeeds, its reply is
// "playing" in any letter case, and no key release is waiting.
bool StillPlaying(char* reply) {
  return SendQuery(kModeQuery, reply) && SaysPlaying(reply) && !KeyWaiting();
}

// The status line stops one column short of the buffer's right edge: a
// line that reached it would wrap, and every pass would then start on the
// next row. Read afresh each pass, so a resize is followed.
std::size_t FitOnRow(std::size_t length, std::uint16_t width) {
  if (width == 0 || length < width) return length;
  return width - 1u;
}

// A window made narrower since the line was drawn: a terminal that
// rewraps its lines has put the rest of the old line on the rows below the
// status row, which are blanked, as far as the buffer goes. Nothing of the
// program's own is there: the status line is the last thing it wrote.
void BlankRewrapped(std::uint16_t row, const ShownLine& shown,
                    std::uint16_t width) {
  const std::size_t rows = (shown.length - 1) / width;
  for (std::size_t i = 1; i <= rows; ++i) {
    const auto below = static_cast<std::uint16_t>(row + i);
    MoveCursor(1, below);
    if (CursorRow() != below) break;  // past the bottom of the buffer
    ClearLineEnd();
  }
}

// One pass: the position line at the start of the current row, then the
// rest of the row blanked, and the cursor back in column 1, the one place
// of the line that stays on its row when a terminal rewraps the line. A
// line that is already there, on the same row of a buffer as wide, is not
// drawn again; in one column nothing fits, and nothing is drawn.
//
// Line wrap is off while the line is drawn. The window may shrink after
// the pass read its width: the line then loses its end on its own row,
// where with wrap on it would run onto the rows below, and in a window of
// one row scroll copies of itself away, out of reach of later passes.
void DrawPosition(char* reply, ShownLine& shown) {
  const std::uint16_t row = CursorRow();
  SendQuery(kPositionQuery, reply);
  char line[kStatusLineMax + 1];
  const std::size_t length =
      FormatStatusLine(ParsePosition(ReplyText(reply)), line);
  const std::uint16_t width = BufferWidth();
  const std::string_view text(line, FitOnRow(length, width));
  if (text.empty() || (row != 0 && row == shown.row && width == shown.width &&
                       text == std::string_view(shown.text, shown.length)))
    return;

  SetLineWrap(false);
  if (shown.row != 0 && row != 0 && width != 0 && width < shown.width)
    BlankRewrapped(row, shown, width);
  MoveCursor(1, row);
  WriteText(text);
  ClearLineEnd();
  MoveCursor(1, row);
  SetLineWrap(true);
  shown.row = row;
  shown.width = width;
  shown.length = text.size();
  std::memcpy(shown.text, text.data(), text.size());
}

}  // namespace

bool ShowProgress() {
  char reply[kReplyLength];
  // On a file or a pipe there is no line to redraw: every pass would append
  // another copy of it.
  const bool draw = OutputIsConsole();
  ShownLine shown;

  while (!Interrupted() && StillPlaying(reply)) {
    if (draw) DrawPosition(reply, shown);
    WaitForInput(kPassMs);
  }

  if (Interrupted()) {
    // Ctrl+C, Ctrl+Break or the window closing: the status line stays as
    // drawn and is ended, and the device closes without a word, as the
    // program leaves a POSIX terminal on Ctrl+C.
    if (shown.row != 0) EndLine();
    SendQuery(kCloseCommand, reply);
    return false;
  }
  if (draw) {
    MoveCursor(1, CursorRow());
    ClearLineEnd();
  }
  return true;
}

int RunPlayer() {
  CatchInterrupts();
  if (SendCommand(kOpenCommand) && SendCommand(kTimeFormatCommand) &&
      SendCommand(kPlayCommand) && ShowProgress() &&
      SendCommand(kCloseCommand)) {
    WriteText("Done!");
    EndLine();
  }

  if (Interrupted()) {
    FlushTextAtExit();
    return 0;
  }
  while (KeyWaiting()) TakeKey();

  WriteText("Press a key to exit");
  EndLine();

  // Without a console on standard input no key can ever arrive. The key
  // is taken with whatever came with it (the rest of a paste, a held key's
  // repeats): left in the queue, it would reach the shell as typed there.
  if (InputIsConsole()) {
    while (!KeyWaiting() && !Interrupted()) WaitForInput(kPromptWakeMs);
    DiscardInput();
  }

  FlushTextAtExit();
  return 0;
}
