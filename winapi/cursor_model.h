// Where the cursor is on a screen, as far as the program's own output tells,
// so that the console layer asks the terminal (ESC [ 6 n) only when it
// cannot know. Pure: no system calls.
//
// After the terminal's answer, or one of the program's own cursor moves,
// row and column are known. Printable ASCII moves the cursor one column
// right as long as it stays short of the last column (where terminals
// differ); CR goes to column 0. Anything else makes the position unknown,
// and so does a change of the window's size (Fit) or a stop and continue
// (Forget: the shell may have written meanwhile).
//
// A terminal that does not answer still obeys CR. The position reported
// for it is a guess: the last row, and the column the output tells (0 when
// even that is unknown). A move back to that row stays on the cursor's own
// row (CR, then right), so a line is redrawn in place; it takes the common
// behaviour of a cursor that waits in the last column after a character
// there. The table of these rules is in winapi/README.md.
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
  ScreenSize size;             // of the window the position is known for
  bool known = false;          // row and column are certain
  bool column_known = false;   // the column is certain
  bool on_guessed_row = false; // still on the row last given as a guess
  int row = 0;                 // 0-based
  int column = 0;              // 0-based
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
std::size_t MoveBytes(const CursorModel& model, int row, int column,
                      char* out, bool& relative);

// The move was written.
void Moved(CursorModel& model, int row, int column, bool relative);

}  // namespace term

#endif  // MCIPLAY_WINAPI_CURSOR_MODEL_H
