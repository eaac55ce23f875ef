// What a pass of the playback loop costs: the waits between passes and at
// the prompt, input that never qualifies, lines that are already on screen,
// and a console that takes escape sequences.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "player/mci_command.h"
#include "player/player.h"
#include "tests/support/expected_lines.h"
#include "tests/support/fake_platform.h"

namespace {

using fake::Count;

// The clock when `command` was first sent, or -1.
struct CommandClock {
  std::int64_t at = -1;
};

fake::DeviceScript Noting(const std::string& command, CommandClock& clock) {
  fake::DeviceScript script;
  script.override_command = [command, &clock](const std::string& sent, char*,
                                              UINT) -> MCIERROR {
    if (sent == command && clock.at < 0)
      clock.at = static_cast<std::int64_t>(fake::NowMs());
    return static_cast<MCIERROR>(-1);
  };
  return script;
}

class PlayerPassTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(80, 25); }
};

TEST_F(PlayerPassTest, AKeyEndsThePauseBetweenPassesTheMomentItComes) {
  CommandClock closed;
  fake::DeviceScript script = Noting(kCloseCommand, closed);
  script.length_ms = 60000;
  fake::UseDevice(script);
  fake::Type(253, 's');
  fake::Type(900, 'x');
  RunPlayer();
  EXPECT_EQ(closed.at, 253);
  EXPECT_EQ(fake::KeyTakenAt(), 900u);
}

// A key held down since before the start, and Shift pressed and released
// every 30 ms: none of it qualifies, and none of it makes a wait end again
// and again without the clock moving.
TEST_F(PlayerPassTest, InputThatNeverQualifiesDoesNotMakeTheWaitsSpin) {
  fake::DeviceScript script;
  script.length_ms = 1000;
  fake::UseDevice(script);
  fake::console().queue.push_back(fake::KeyDown('h'));
  int arrivals = 0;
  for (std::uint64_t t = 5; t < 4000; t += 30, ++arrivals) {
    fake::Schedule(t, fake::KeyDown(0, VK_SHIFT));
    fake::Schedule(t, fake::KeyUp(0, VK_SHIFT));
  }
  fake::Type(4000, 'x');
  RunPlayer();

  EXPECT_EQ(fake::KeyTakenAt(), 4000u);
  const int passes = Count(fake::media().commands, kPositionQuery);
  // A pass every period, and at most one more for each arrival.
  const int periods = static_cast<int>(1000 / kPassMs);
  EXPECT_GE(passes, periods);
  EXPECT_LE(passes, periods + 1000 / 30 + 1);
  // Every wait of the run ended on an arrival or at its timeout.
  EXPECT_LE(fake::console().waits.size(),
            static_cast<std::size_t>(passes + arrivals + 4));
}

// The position stands still for half a second: the line is drawn once,
// while the mode and the keys are still looked at every pass. A window
// made narrower has the line drawn again, cut to the new width.
TEST_F(PlayerPassTest, ALineAlreadyOnScreenIsNotWrittenAgain) {
  fake::DeviceScript script;
  script.length_ms = 50 * kPassMs;
  script.override_command = [](const std::string& command, char* reply,
                               UINT length) -> MCIERROR {
    if (command != kPositionQuery) return static_cast<MCIERROR>(-1);
    if (fake::NowMs() == 30 * kPassMs) fake::Resize(30);
    fake::Reply(reply, length, "83456");
    return 0;
  };
  fake::UseDevice(script);
  fake::Type(100 * kPassMs, 'x');
  RunPlayer();

  EXPECT_EQ(Count(fake::media().commands, kModeQuery), 51);
  EXPECT_EQ(Count(fake::media().commands, kPositionQuery), 50);
  const auto& writes = fake::console().writes;
  const std::string line = "Playing: 01:23.45 ...press a Key to stop.";
  EXPECT_EQ(Count(writes, line), 1);
  EXPECT_EQ(Count(writes, line.substr(0, 29)), 1);
  EXPECT_EQ(fake::Row(3), kCloseLine);
}

// On a console that takes escape sequences each pass writes its line and
// ESC [ K, and the run leaves the same screen as with blanks.
TEST_F(PlayerPassTest, WithEscapeSequencesTheRowIsErasedNotPadded) {
  std::vector<std::string> screens[2];
  for (bool sequences : {false, true}) {
    fake::Reset(80, 25);
    fake::console().takes_sequences = sequences;
    fake::DeviceScript script;
    script.length_ms = 20 * kPassMs;
    fake::UseDevice(script);
    fake::Type(40 * kPassMs, 'x');
    RunPlayer();
    for (int y = 0; y < 25; ++y) screens[sequences].push_back(fake::Row(y));
  }
  EXPECT_EQ(screens[0], screens[1]);
  EXPECT_EQ(screens[1][2], kPlayLine);
  EXPECT_EQ(screens[1][3], kCloseLine);
  const auto& writes = fake::console().writes;
  EXPECT_EQ(Count(writes, "\x1b[K"), 21);  // 20 passes and the last blanking
  EXPECT_EQ(fake::console().bytes.find("   "), std::string::npos);
}

// A window narrowed after a pass read its width, before its write: the
// line, on the buffer's last row, keeps to that row rather than scroll its
// head out of reach of later passes; wrap is on again afterwards.
TEST_F(PlayerPassTest, ANarrowingDuringAPassLeavesNoStaleLine) {
  fake::console().y = 24;
  fake::DeviceScript script;
  script.length_ms = 40 * kPassMs;
  script.override_command = [](const std::string& command, char* reply,
                               UINT length) -> MCIERROR {
    if (command != kPositionQuery) return static_cast<MCIERROR>(-1);
    if (fake::NowMs() == 20 * kPassMs)
      fake::console().before_write = [] { fake::Resize(20); };
    fake::Reply(reply, length, "83456");
    return 0;
  };
  fake::UseDevice(script);
  fake::Type(100 * kPassMs, 'x');
  RunPlayer();

  for (int y = 0; y < 25; ++y) EXPECT_NE(fake::Row(y).rfind("Playing", 0), 0u);
  EXPECT_TRUE(fake::console().wrap);
}

// A window made narrower: a terminal that rewraps its lines would have put
// the rest of the old line on the rows below, and the next pass blanks
// them (two, for 41 characters in 20 columns) and no more. In one column
// nothing fits and nothing is written. Every pass leaves the cursor in
// column 1.
TEST_F(PlayerPassTest, ANarrowerWindowHasTheRowsBelowBlankedAndOneColumnNone) {
  fake::DeviceScript script;
  script.length_ms = 60 * kPassMs;
  std::vector<int> columns;
  std::vector<std::string> below;
  std::size_t writes_at_one_column = 0;
  script.override_command = [&](const std::string& command, char*,
                                UINT) -> MCIERROR {
    const std::uint64_t now = fake::NowMs();
    if (command == kModeQuery) columns.push_back(fake::console().x);
    if (command == kModeQuery && now == 21 * kPassMs)
      for (int y : {4, 5, 6}) below.push_back(fake::Row(y));
    if (command != kPositionQuery) return static_cast<MCIERROR>(-1);
    if (now == 20 * kPassMs) {
      fake::Resize(20);
      for (int y : {4, 5, 6}) fake::console().rows[y] = std::string(20, '#');
    } else if (now == 40 * kPassMs) {
      fake::Resize(1);
      writes_at_one_column = fake::console().writes.size();
    } else if (now == 50 * kPassMs) {
      EXPECT_EQ(fake::console().writes.size(), writes_at_one_column);
      fake::Resize(80);
    }
    return static_cast<MCIERROR>(-1);
  };
  fake::UseDevice(script);
  fake::Type(100 * kPassMs, 'x');
  RunPlayer();

  EXPECT_EQ(below, (std::vector<std::string>{"", "", std::string(20, '#')}));
  EXPECT_EQ(columns, std::vector<int>(columns.size(), 0));
  EXPECT_EQ(Count(fake::media().commands, kPositionQuery), 60);
  EXPECT_EQ(fake::Row(3), kCloseLine);
}

}  // namespace
