#include "console/console.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "console/text_out.h"
#include "tests/support/fake_platform.h"

namespace {

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(80, 25); }
  void TearDown() override { FlushTextAtExit(); }
};

using CursorTest = ConsoleTest;

TEST_F(CursorTest, RowIsOneBasedAndMoveKeepsTheRow) {
  fake::console().x = 17;
  fake::console().y = 6;
  EXPECT_EQ(CursorRow(), 7);
  MoveCursor(1, CursorRow());
  EXPECT_EQ(fake::console().x, 0);
  EXPECT_EQ(fake::console().y, 6);
}

TEST_F(CursorTest, MoveGoesToOutputThenInputThenError) {
  MoveCursor(5, 3);
  ASSERT_EQ(fake::console().cursor_calls.size(), 3u);
  EXPECT_EQ(fake::console().cursor_calls[0], fake::OutputHandle());
  EXPECT_EQ(fake::console().cursor_calls[1], fake::InputHandle());
  EXPECT_EQ(fake::console().cursor_calls[2], fake::ErrorHandle());
  EXPECT_EQ(fake::console().x, 4);
  EXPECT_EQ(fake::console().y, 2);
}

TEST_F(CursorTest, WithoutAConsoleThereIsNoRowToGoBackTo) {
  fake::console().output_is_console = false;
  EXPECT_EQ(CursorRow(), 0);
  fake::console().output_is_console = true;
  fake::console().x = 3;
  fake::console().y = 4;
  // Row 0 lies outside the buffer: the console refuses it and the cursor
  // does not jump to the top.
  MoveCursor(1, 0);
  EXPECT_EQ(fake::console().x, 3);
  EXPECT_EQ(fake::console().y, 4);
}

using ClearLineEndTest = ConsoleTest;

TEST_F(ClearLineEndTest, FromColumnOneBlanksTheWholeRow) {
  fake::console().rows[3] = std::string(80, 'x');
  fake::console().y = 3;
  ClearLineEnd();
  EXPECT_EQ(fake::console().bytes, std::string(80, ' '));
  EXPECT_EQ(fake::Row(3), "");
  EXPECT_EQ(fake::console().x, 0);
  EXPECT_EQ(fake::console().y, 3);
}

TEST_F(ClearLineEndTest, BlanksOnlyAfterTheCursorAndPutsItBack) {
  fake::console().rows[0] = std::string(80, 'x');
  fake::console().x = 41;
  ClearLineEnd();
  EXPECT_EQ(fake::console().bytes, std::string(39, ' '));
  EXPECT_EQ(fake::Row(0), std::string(41, 'x'));
  EXPECT_EQ(fake::console().x, 41);
  EXPECT_EQ(fake::console().y, 0);
  // Nothing wrapped onto the next row.
  EXPECT_EQ(fake::Row(1), "");
}

TEST_F(ClearLineEndTest, InTheLastColumnWritesOneBlank) {
  fake::console().x = 79;
  fake::console().y = 2;
  ClearLineEnd();
  EXPECT_EQ(fake::console().bytes, " ");
  EXPECT_EQ(fake::console().x, 79);
  EXPECT_EQ(fake::console().y, 2);
}

TEST_F(ClearLineEndTest, OnTheLastRowTheBufferScrollsButTheCursorReturns) {
  fake::console().rows[24] = "bottom" + std::string(74, ' ');
  fake::console().y = 24;
  fake::console().x = 6;
  ClearLineEnd();
  // The last blank wrapped and scrolled the buffer; the cursor goes back to
  // the position read before the blanks.
  EXPECT_EQ(fake::Row(23), "bottom");
  EXPECT_EQ(fake::console().x, 6);
  EXPECT_EQ(fake::console().y, 24);
}

// A console that takes escape sequences gets erase to the end of the line:
// the same row and cursor as the blanks give, and no scroll on the last row.
TEST_F(ClearLineEndTest, WithEscapeSequencesErasesInThreeBytes) {
  fake::console().takes_sequences = true;
  fake::console().rows[24] = std::string(80, 'x');
  fake::console().y = 24;
  fake::console().x = 41;
  ClearLineEnd();
  EXPECT_EQ(fake::console().bytes, "\x1b[K");
  EXPECT_EQ(fake::Row(24), std::string(41, 'x'));
  EXPECT_EQ(fake::console().x, 41);
  EXPECT_EQ(fake::console().y, 24);
}

TEST_F(ClearLineEndTest, WritesNothingWithoutAScreenBuffer) {
  fake::console().output_is_console = false;
  ClearLineEnd();
  FlushTextAtExit();
  EXPECT_EQ(fake::console().bytes, "");
}

using KeyWaitingTest = ConsoleTest;

TEST_F(KeyWaitingTest, OnlyTheReleaseOfACharacterKeyCounts) {
  auto& q = fake::console().queue;
  EXPECT_FALSE(KeyWaiting());
  // A held key repeats its press and never qualifies.
  q.push_back(fake::KeyDown('a'));
  q.push_back(fake::KeyDown('a'));
  EXPECT_FALSE(KeyWaiting());
  q.push_back(fake::KeyUp('a'));
  EXPECT_TRUE(KeyWaiting());
  EXPECT_TRUE(KeyWaiting());
  EXPECT_EQ(q.size(), 3u);
}

TEST_F(KeyWaitingTest, KeysWithoutACharacterAndOtherEventsNeverCount) {
  auto& q = fake::console().queue;
  q.push_back(fake::KeyDown(0, VK_SHIFT));
  q.push_back(fake::KeyUp(0, VK_SHIFT));
  q.push_back(fake::KeyUp(0, VK_LEFT));
  q.push_back(fake::KeyUp(0, VK_F1));
  q.push_back(fake::Mouse());
  q.push_back(fake::Focus());
  EXPECT_FALSE(KeyWaiting());
}

TEST_F(KeyWaitingTest, ControlCharactersCountLikeLetters) {
  for (char c : {'\r', '\x1b', '\t', '\b'}) {
    fake::Reset();
    fake::console().queue.push_back(fake::KeyUp(c));
    EXPECT_TRUE(KeyWaiting()) << int(c);
  }
}

TEST_F(KeyWaitingTest, LooksAt128RecordsAndLeavesThemWhenOneQualifies) {
  auto& q = fake::console().queue;
  for (int i = 0; i < 127; ++i) q.push_back(fake::KeyDown('a'));
  q.push_back(fake::KeyUp('z'));
  q.push_back(fake::KeyUp('y'));
  EXPECT_TRUE(KeyWaiting());
  EXPECT_EQ(q.size(), 129u);
  EXPECT_EQ(fake::console().reads, 0);
  // Fewer than 128 records that cannot qualify stay where they are.
  q.pop_back();
  q.pop_back();
  EXPECT_FALSE(KeyWaiting());
  EXPECT_EQ(q.size(), 127u);
}

TEST_F(KeyWaitingTest, FullBatchesThatCannotQualifyNoLongerHideAKey) {
  auto& q = fake::console().queue;
  // 300 records without a release of a character: held presses, cursor
  // keys, other events.
  for (int i = 0; i < 100; ++i) {
    q.push_back(fake::KeyDown('a'));
    q.push_back(fake::KeyUp(0, VK_LEFT));
    q.push_back(fake::Mouse());
  }
  EXPECT_FALSE(KeyWaiting());
  // Two full batches were dropped; the last 44 wait for more.
  EXPECT_EQ(q.size(), 44u);
  EXPECT_EQ(fake::console().reads, 2);
  q.push_back(fake::KeyDown(0, VK_UP));
  q.push_back(fake::KeyUp('z'));
  EXPECT_TRUE(KeyWaiting());
  EXPECT_EQ(q.size(), 46u);
  EXPECT_EQ(TakeKey(), 'z');
}

TEST_F(KeyWaitingTest, NoConsoleMeansNoKey) {
  fake::console().queue.push_back(fake::KeyUp('z'));
  fake::console().input_is_console = false;
  EXPECT_FALSE(KeyWaiting());
}

using TakeKeyTest = ConsoleTest;

TEST_F(TakeKeyTest, WritesTheOtherRecordsBackInOrderBehindNewArrivals) {
  auto& q = fake::console().queue;
  q.push_back(fake::Mouse());
  q.push_back(fake::KeyDown('a'));
  q.push_back(fake::KeyUp('a'));
  q.push_back(fake::Focus());
  fake::console().arrive_after_read.push_back(fake::KeyDown('b'));

  EXPECT_EQ(TakeKey(), 'a');
  ASSERT_EQ(q.size(), 4u);
  EXPECT_EQ(q[0].Event.KeyEvent.uChar.AsciiChar, 'b');
  EXPECT_EQ(q[1].EventType, MOUSE_EVENT);
  EXPECT_EQ(q[2].EventType, KEY_EVENT);
  EXPECT_TRUE(q[2].Event.KeyEvent.bKeyDown);
  EXPECT_EQ(q[3].EventType, FOCUS_EVENT);
  EXPECT_EQ(fake::console().write_backs, (std::vector<DWORD>{2, 1}));
  EXPECT_TRUE(fake::console().sleeps.empty());
}

TEST_F(TakeKeyTest, NoWriteBackWhenTheKeyStandsAlone) {
  fake::console().queue.push_back(fake::KeyUp('q'));
  EXPECT_EQ(TakeKey(), 'q');
  EXPECT_TRUE(fake::console().write_backs.empty());
  EXPECT_TRUE(fake::console().queue.empty());
}

TEST_F(TakeKeyTest, DropsABatchWithoutAKeyAndPausesBeforeReadingAgain) {
  auto& q = fake::console().queue;
  q.push_back(fake::Mouse());
  q.push_back(fake::Focus());
  q.push_back(fake::KeyDown('x'));
  fake::Type(50, 'y');

  EXPECT_EQ(TakeKey(), 'y');
  EXPECT_EQ(fake::console().reads, 2);
  EXPECT_EQ(fake::console().sleeps, (std::vector<DWORD>{10}));
  // The first batch was dropped whole; the press of y was put back.
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].Event.KeyEvent.uChar.AsciiChar, 'y');
  EXPECT_TRUE(q[0].Event.KeyEvent.bKeyDown);
}

TEST_F(TakeKeyTest, PressesReadWithAReleaseStayQueuedUntilABatchDropsThem) {
  auto& q = fake::console().queue;
  q.push_back(fake::KeyDown('a'));
  q.push_back(fake::KeyUp('a'));
  q.push_back(fake::KeyDown('b'));
  q.push_back(fake::KeyUp('b'));
  EXPECT_EQ(TakeKey(), 'a');
  EXPECT_EQ(TakeKey(), 'b');
  ASSERT_EQ(q.size(), 2u);
  EXPECT_TRUE(q[0].Event.KeyEvent.bKeyDown);
  EXPECT_TRUE(q[1].Event.KeyEvent.bKeyDown);
}

TEST_F(TakeKeyTest, TakesTheFirstQualifyingKeyBeyondABatchOf128) {
  auto& q = fake::console().queue;
  for (int i = 0; i < 130; ++i) q.push_back(fake::Mouse());
  q.push_back(fake::KeyUp('k'));
  EXPECT_EQ(TakeKey(), 'k');
  EXPECT_EQ(fake::console().reads, 2);
  // The first 128 were dropped; the two read with the key went back.
  EXPECT_EQ(q.size(), 2u);
}

using WaitForInputTest = ConsoleTest;

// What cannot qualify is taken out before the wait, which would otherwise
// end at once, and again at once; a key that qualifies stays and ends it.
TEST_F(WaitForInputTest, DropsWhatCannotQualifyAndWaitsForWhatComesNext) {
  auto& q = fake::console().queue;
  q.push_back(fake::KeyDown('a'));
  q.push_back(fake::Mouse());
  fake::Schedule(25, fake::KeyUp(0, VK_SHIFT));
  WaitForInput(1000);
  EXPECT_EQ(fake::NowMs(), 25u);
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].Event.KeyEvent.wVirtualKeyCode, VK_SHIFT);

  WaitForInput(10);
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(fake::NowMs(), 35u);

  q.push_back(fake::KeyDown('b'));
  q.push_back(fake::KeyUp('b'));
  WaitForInput(10);
  EXPECT_EQ(fake::NowMs(), 35u);
  EXPECT_EQ(q.size(), 2u);
  EXPECT_EQ(fake::console().waits, (std::vector<DWORD>{1000, 10, 10}));
}

TEST_F(WaitForInputTest, AFloodOfRecordsIsDroppedWhole) {
  auto& q = fake::console().queue;
  for (int i = 0; i < 1000; ++i) q.push_back(fake::KeyDown(0, VK_LEFT));
  WaitForInput(10);
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(fake::NowMs(), 10u);
}

TEST_F(WaitForInputTest, WithoutAConsoleOnInputItPauses) {
  fake::console().input_is_console = false;
  WaitForInput(10);
  EXPECT_EQ(fake::console().sleeps, (std::vector<DWORD>{10}));
  EXPECT_TRUE(fake::console().waits.empty());
  EXPECT_EQ(fake::NowMs(), 10u);
}

using DiscardInputTest = ConsoleTest;

// The rest of a paste in three waves, then nothing: each wave is dropped as
// it comes, and the input is left once quiet for 100 ms. Input that never
// quiets down is dropped for a second, no longer.
TEST_F(DiscardInputTest, DropsWhatKeepsComingUntilTheInputIsQuiet) {
  fake::console().queue.push_back(fake::KeyUp('a'));
  for (std::uint64_t at : {30, 90, 180}) fake::Type(at, 'b');
  DiscardInput();
  EXPECT_EQ(fake::console().flushes,
            (std::vector<std::uint64_t>{0, 30, 90, 180}));
  EXPECT_EQ(fake::NowMs(), 280u);
  EXPECT_TRUE(fake::console().queue.empty());

  fake::Reset(80, 25);
  for (std::uint64_t at = 0; at < 5000; at += 30) fake::Type(at, 'r');
  DiscardInput();
  EXPECT_EQ(fake::NowMs(), 1020u);
  EXPECT_FALSE(fake::console().scheduled.empty());
}

}  // namespace
