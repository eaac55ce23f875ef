// The cursor model on its own: what the program's output tells about the
// cursor, and the bytes a move takes.
#include "winapi/cursor_model.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using term::CursorModel;
using term::ScreenSize;

constexpr ScreenSize k24x40{24, 40};

std::string Move(const CursorModel& model, int row, int column,
                 bool* relative = nullptr) {
  char out[32];
  bool was_relative = false;
  std::size_t n = term::MoveBytes(model, row, column, out, was_relative);
  if (relative != nullptr) *relative = was_relative;
  return std::string(out, n);
}

TEST(CursorModel, FollowsPrintableTextAndCarriageReturnShortOfTheLastColumn) {
  CursorModel m;
  term::Learn(m, 5, 3, k24x40);
  // A redraw with line wrap off around it, and its erase, move nothing.
  term::Follow(m, "\x1b[?7lPlaying: 00:12.34\x1b[K\x1b[?7h");
  EXPECT_TRUE(m.known);
  EXPECT_EQ(m.row, 5);
  EXPECT_EQ(m.column, 20);
  term::Follow(m, "\r");
  EXPECT_TRUE(m.known);
  EXPECT_EQ(m.column, 0);
  // Up to the column before the last the cursor is certain; a character in
  // the last one leaves it where terminals differ.
  term::Follow(m, std::string(39, 'x'));
  EXPECT_TRUE(m.known);
  EXPECT_EQ(m.column, 39);
  term::Follow(m, "x");
  EXPECT_FALSE(m.known);
  EXPECT_FALSE(m.column_known);
}

TEST(CursorModel, LineEndsEscapesAndResizesLoseWhatIsKnown) {
  CursorModel m;
  term::Learn(m, 2, 0, k24x40);
  term::Follow(m, "\r\n");  // the row may have scrolled; column 0 stays
  EXPECT_FALSE(m.known);
  EXPECT_TRUE(m.column_known);
  EXPECT_EQ(m.column, 0);
  term::Follow(m, "ab\n");  // with or without a CR added: unknown
  EXPECT_FALSE(m.column_known);

  term::Learn(m, 2, 4, k24x40);
  term::Follow(m, "\x1b[6n");
  EXPECT_FALSE(m.known);
  EXPECT_FALSE(m.column_known);

  term::Learn(m, 2, 4, k24x40);
  term::Fit(m, k24x40);
  EXPECT_TRUE(m.known);
  term::Fit(m, ScreenSize{24, 30});
  EXPECT_FALSE(m.known);
  EXPECT_EQ(m.size, (ScreenSize{24, 30}));
}

// Absolute moves, except where the cursor already is, and a carriage
// return to column 1 of the row it is known to be on.
TEST(CursorModel, AbsoluteMovesUnlessTheCursorIsAlreadyThere) {
  CursorModel m;
  term::Fit(m, k24x40);
  EXPECT_EQ(Move(m, 4, 0), "\x1b[5;1H");
  EXPECT_EQ(Move(m, 4, 9), "\x1b[5;10H");
  term::Moved(m, 4, 9, false);
  EXPECT_TRUE(m.known);
  EXPECT_EQ(Move(m, 4, 9), "");
  EXPECT_EQ(Move(m, 4, 0), "\r");
  EXPECT_EQ(Move(m, 5, 0), "\x1b[6;1H");
  EXPECT_EQ(Move(m, 23, 9), "\x1b[24;10H");
}

// Erase to the end of the line leaves the cursor where it is; another
// escape sequence may have moved it.
TEST(CursorModel, EraseToTheLineEndKeepsThePosition) {
  CursorModel m;
  term::Learn(m, 3, 0, k24x40);
  term::Follow(m, "Playing\x1b[K");
  EXPECT_TRUE(m.known);
  EXPECT_EQ(m.column, 7);
  term::Follow(m, "\x1b[J");
  EXPECT_FALSE(m.known);
}

// A terminal that never answers: the row is guessed (the last), and a move
// back to it is made with CR, so the status line stays on the cursor's row
// wherever that is.
TEST(CursorModel, OnTheGuessedRowMovesAreACarriageReturnAndAMoveRight) {
  CursorModel m;
  term::Fit(m, k24x40);
  int row = -1;
  int column = -1;
  term::Guess(m, row, column);
  EXPECT_EQ(row, 23);
  EXPECT_EQ(column, 0);  // not even the column is known yet

  bool relative = false;
  EXPECT_EQ(Move(m, 23, 0, &relative), "\r");
  EXPECT_TRUE(relative);
  term::Moved(m, 23, 0, relative);
  term::Follow(m, "Playing: 00:00.00");
  term::Guess(m, row, column);
  EXPECT_EQ(column, 17);
  // The blanks of the line end run into the last column: the cursor waits
  // there on the same row.
  term::Follow(m, std::string(23, ' '));
  EXPECT_EQ(Move(m, 23, 17, &relative), "\r\x1b[17C");
  EXPECT_TRUE(relative);
  term::Moved(m, 23, 17, relative);
  EXPECT_EQ(Move(m, 23, 17), "");
  // Another row is reached absolutely, and known from then on.
  EXPECT_EQ(Move(m, 2, 0, &relative), "\x1b[3;1H");
  EXPECT_FALSE(relative);
}

TEST(CursorModel, TextPastTheLastColumnOrALineEndLeavesTheGuessedRow) {
  CursorModel m;
  term::Fit(m, k24x40);
  int row = 0;
  int column = 0;
  term::Guess(m, row, column);
  term::Moved(m, 23, 0, true);
  term::Follow(m, std::string(41, 'x'));  // wrapped onto the next row
  EXPECT_EQ(Move(m, 23, 0), "\x1b[24;1H");
  term::Guess(m, row, column);
  term::Moved(m, 23, 0, true);
  term::Follow(m, "\r\n");
  EXPECT_EQ(Move(m, 23, 0), "\x1b[24;1H");
}

}  // namespace
