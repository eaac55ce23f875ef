// Where the cursor is on a screen, as far as the program's own output
// tells, so that the terminal is asked (ESC [ 6 n) only when that cannot
// be known, and a terminal that never answers still gets its line redrawn
// in place. Pure: no system calls. The rules are in winapi/README.md (the
// cursor position rows of the table).
#ifndef MCIPLAY_WINAPI_CURSOR_MODEL_H
#define MCIPLAY_WINAPI_CURSOR_MODEL_H

#include <cstddef>
#include <string_view>

namespace term {

struct ScreenSize {
  int rows = 0;
  int columns = 0;
  bool operator==(const ScreenSize&) const = default;
};

struct CursorModel {
  ScreenSize size;              // of the window the position is known for
  bool known = false;           // row and column are certain
  bool column_known = false;    // the column is certain
  bool on_guessed_row = false;  // still on the row last given as a guess
  int row = 0;                  // 0-based
  int column = 0;               // 0-based
};

// The terminal answered, or the cursor was moved there absolutely.
void Learn(CursorModel& model, int row, int column, ScreenSize size);

// Nothing is known any more (the program was stopped and continued).
void Forget(CursorModel& model);

// The window now has `size`: a change forgets the position.
void Fit(CursorModel& model, ScreenSize size);

// The program wrote `bytes` to the screen.
void Follow(CursorModel& model, std::string_view bytes);

// The position for a terminal that did not answer: the guess above.
void Guess(CursorModel& model, int& row, int& column);

// The bytes that put the cursor at (row, column), into `out` (at least 32
// characters); their count, 0 when the cursor already stands there.
// `relative` tells whether they are a move along the guessed row.
std::size_t MoveBytes(const CursorModel& model, int row, int column, char* out,
                      bool& relative);

// The move was written.
void Moved(CursorModel& model, int row, int column, bool relative);

}  // namespace term

#endif  // MCIPLAY_WINAPI_CURSOR_MODEL_H
