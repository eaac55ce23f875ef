#include "winapi/cursor_model.h"

#include <cstdio>

namespace term {

void Learn(CursorModel& model, int row, int column, ScreenSize size) {
  model.size = size;
  model.known = model.column_known = true;
  model.on_guessed_row = false;
  model.row = row;
  model.column = column;
}

void Forget(CursorModel& model) {
  model.known = model.column_known = model.on_guessed_row = false;
}

void Fit(CursorModel& model, ScreenSize size) {
  if (model.size == size) return;
  Forget(model);
  model.size = size;
}

// Sequences after which the cursor stays where it is: erase to the end of
// the line, and line wrap off and on.
constexpr std::string_view kStill[] = {"\x1b[K", "\x1b[?7l", "\x1b[?7h"};

// The length of the sequence of kStill at bytes[i], or 0.
std::size_t StillAt(std::string_view bytes, std::size_t i) {
  for (std::string_view still : kStill)
    if (bytes.substr(i, still.size()) == still) return still.size();
  return 0;
}

void Follow(CursorModel& model, std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (const std::size_t still = StillAt(bytes, i); still > 0) {
      i += still - 1;
    } else if (c == '\r') {
      model.column = 0;
      model.column_known = true;
    } else if (c >= 0x20 && c < 0x7f && model.column_known &&
               model.column + 1 < model.size.columns) {
      ++model.column;
    } else if (c >= 0x20 && c < 0x7f && model.column_known) {
      // The last column: the cursor waits there or goes to the next row.
      model.known = model.column_known = false;
    } else if (c == '\n') {
      // Column 0 stays 0 whether or not the terminal adds a CR.
      model.known = model.on_guessed_row = false;
      model.column_known = model.column_known && model.column == 0;
    } else {
      Forget(model);
    }
  }
}

void Guess(CursorModel& model, int& row, int& column) {
  model.on_guessed_row = true;
  model.row = model.size.rows - 1;
  row = model.row;
  column = model.column_known ? model.column : 0;
}

std::size_t MoveBytes(const CursorModel& model, int row, int column, char* out,
                      bool& relative) {
  relative = !model.known && model.on_guessed_row && row == model.row;
  if (relative) {
    if (model.column_known && model.column == column) return 0;
    if (column == 0) {
      out[0] = '\r';
      return 1;
    }
    return static_cast<std::size_t>(
        std::snprintf(out, 32, "\r\x1b[%dC", column));
  }
  if (model.known && model.row == row && model.column == column) return 0;
  if (model.known && model.row == row && column == 0) {
    out[0] = '\r';
    return 1;
  }
  return static_cast<std::size_t>(
      std::snprintf(out, 32, "\x1b[%d;%dH", row + 1, column + 1));
}

void Moved(CursorModel& model, int row, int column, bool relative) {
  if (!relative) {
    Learn(model, row, column, model.size);
    return;
  }
  model.known = false;
  model.on_guessed_row = model.column_known = true;
  model.row = row;
  model.column = column;
}

}  // namespace term
