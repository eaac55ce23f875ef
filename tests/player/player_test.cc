#include "player/player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "player/mci_command.h"
#include "tests/support/expected_lines.h"
#include "tests/support/fake_platform.h"

namespace {

using fake::Count;

// Fails `failing` with "device says no"; everything else plays as usual.
fake::DeviceScript Failing(const std::string& failing) {
  fake::DeviceScript script;
  script.override_command = [failing](const std::string& command, char* reply,
                                      UINT length) -> MCIERROR {
    if (command != failing) return static_cast<MCIERROR>(-1);
    fake::Reply(reply, length, "device says no");
    return 1;
  };
  return script;
}

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(80, 25); }
};

TEST_F(PlayerTest, AFullRunWritesTheseBytesAndLeavesThisScreen) {
  fake::DeviceScript script;
  script.length_ms = 5 * kPassMs;
  fake::UseDevice(script);
  fake::Type(1000, 'x');

  EXPECT_EQ(RunPlayer(), 0);

  std::string expected =
      kOpenLine + "\r\n" + kTimeFormatLine + "\r\n" + kPlayLine + "\r\n";
  for (std::uint32_t pass = 0; pass < 5; ++pass)
    expected += StatusLineAt(pass * kPassMs) + std::string(38, ' ') + " ";
  expected += std::string(79, ' ') + " ";
  expected += kCloseLine + "\r\nDone!\r\nPress a key to exit\r\n";
  EXPECT_EQ(fake::console().bytes, expected);

  EXPECT_EQ(fake::Row(0), kOpenLine);
  EXPECT_EQ(fake::Row(1), kTimeFormatLine);
  EXPECT_EQ(fake::Row(2), kPlayLine);
  EXPECT_EQ(fake::Row(3), kCloseLine);
  EXPECT_EQ(fake::Row(4), "Done!");
  EXPECT_EQ(fake::Row(5), "Press a key to exit");
  EXPECT_EQ(fake::Row(6), "");
  EXPECT_EQ(fake::console().y, 6);
  EXPECT_EQ(fake::console().x, 0);

  const auto& c = fake::media().commands;
  ASSERT_GE(c.size(), 4u);
  EXPECT_EQ(c[0], kOpenCommand);
  EXPECT_EQ(c[1], kTimeFormatCommand);
  EXPECT_EQ(c[2], kPlayCommand);
  EXPECT_EQ(c.back(), kCloseCommand);
  EXPECT_EQ(Count(c, kModeQuery), 6);
  EXPECT_EQ(Count(c, kPositionQuery), 5);
  // The exit came with the key, not before it, once the input was quiet;
  // the key that ended the run was taken with it.
  EXPECT_EQ(fake::KeyTakenAt(), 1000u);
  EXPECT_EQ(fake::NowMs(), 1100u);
  EXPECT_TRUE(fake::console().queue.empty());
}

TEST_F(PlayerTest, ThePositionLineIsRedrawnInPlaceOnOneRow) {
  fake::DeviceScript script;
  script.length_ms = 30 * kPassMs;
  std::vector<std::vector<std::string>> screens;
  script.override_command = [&](const std::string& command, char*,
                                UINT) -> MCIERROR {
    if (command == kPositionQuery) {
      std::vector<std::string> rows;
      for (int y = 0; y < 6; ++y) rows.push_back(fake::Row(y));
      screens.push_back(rows);
    }
    return static_cast<MCIERROR>(-1);
  };
  fake::UseDevice(script);
  fake::Type(40 * kPassMs, 'x');
  RunPlayer();

  ASSERT_EQ(screens.size(), 30u);
  for (std::size_t i = 1; i < screens.size(); ++i) {
    const auto& rows = screens[i];
    EXPECT_EQ(rows[2], kPlayLine);
    // The row holds the line drawn by the pass before, and nothing else
    // on the screen has moved.
    EXPECT_EQ(rows[3], StatusLineAt((i - 1) * kPassMs)) << i;
    EXPECT_EQ(rows[4], "");
  }
  EXPECT_EQ(fake::Row(3), kCloseLine);
}

// Each pass waits the pass period on the input handle; the prompt waits on
// it for a second at a time and ends the moment the key comes, not at a
// poll.
TEST_F(PlayerTest, EachPassWaitsItsPeriodAndThePromptWakesOnlyForAKey) {
  fake::DeviceScript script;
  script.length_ms = 100 * kPassMs;
  fake::UseDevice(script);
  fake::Type(script.length_ms + 2456, 'x');
  RunPlayer();

  EXPECT_EQ(Count(fake::media().commands, kPositionQuery), 100);
  const auto& waits = fake::console().waits;
  ASSERT_GE(waits.size(), 100u);
  EXPECT_TRUE(std::all_of(waits.begin(), waits.begin() + 100,
                          [](DWORD ms) { return ms == kPassMs; }));
  // From the end of the music: woken 1 s and 2 s later, then by the key;
  // then the input is quiet for 100 ms.
  EXPECT_EQ(std::vector<DWORD>(waits.begin() + 100, waits.end()),
            (std::vector<DWORD>{1000, 1000, 1000, 100}));
  EXPECT_TRUE(fake::console().sleeps.empty());
  EXPECT_EQ(fake::KeyTakenAt(), script.length_ms + 2456u);
}

TEST_F(PlayerTest, AFailedOpenPromptsAndSendsNothingElse) {
  fake::UseDevice(Failing(kOpenCommand));
  fake::Type(100, 'x');
  EXPECT_EQ(RunPlayer(), 0);
  EXPECT_EQ(fake::console().bytes,
            std::string(kOpenCommand) +
                " ...  Error: device says no\r\nPress a key to exit\r\n");
  EXPECT_EQ(fake::media().commands, (std::vector<std::string>{kOpenCommand}));
}

TEST_F(PlayerTest, AFailedTimeFormatOrPlaySendsNoClose) {
  for (const char* failing : {kTimeFormatCommand, kPlayCommand}) {
    fake::Reset();
    fake::UseDevice(Failing(failing));
    fake::Type(100, 'x');
    EXPECT_EQ(RunPlayer(), 0);
    const auto& c = fake::media().commands;
    EXPECT_EQ(c.back(), failing);
    EXPECT_EQ(Count(c, kCloseCommand), 0);
    const std::string& out = fake::console().bytes;
    EXPECT_NE(out.find(std::string(failing) + " ...  Error: device says no\r\n"
                                              "Press a key to exit\r\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Done!"), std::string::npos);
  }
}

TEST_F(PlayerTest, AFailedCloseShowsNoDone) {
  fake::UseDevice(Failing(kCloseCommand));
  fake::Type(2000, 'x');
  EXPECT_EQ(RunPlayer(), 0);
  EXPECT_EQ(fake::Row(3),
            std::string(kCloseCommand) + " ...  Error: device says no");
  EXPECT_EQ(fake::Row(4), "Press a key to exit");
}

TEST_F(PlayerTest, AKeyReleasedBeforePlaybackSkipsThePositionLine) {
  fake::DeviceScript script;
  script.length_ms = 10000;
  fake::UseDevice(script);
  // Typed during the open command: already in the queue.
  fake::console().queue.push_back(fake::KeyDown('k'));
  fake::console().queue.push_back(fake::KeyUp('k'));
  fake::Type(500, 'x');
  EXPECT_EQ(RunPlayer(), 0);

  const auto& c = fake::media().commands;
  EXPECT_EQ(Count(c, kPositionQuery), 0);
  ASSERT_EQ(c.size(), 5u);
  EXPECT_EQ(c[3], kModeQuery);
  EXPECT_EQ(c[4], kCloseCommand);
  EXPECT_EQ(fake::console().bytes.find("Playing:"), std::string::npos);
  // The empty row was blanked, then the close line written over it.
  EXPECT_NE(fake::console().bytes.find(kPlayLine + "\r\n" +
                                       std::string(80, ' ') + kCloseLine),
            std::string::npos);
  EXPECT_EQ(fake::Row(4), "Done!");
  // The drained key did not end the final wait: the second one did.
  EXPECT_GE(fake::NowMs(), 500u);
}

TEST_F(PlayerTest, AFirstModeOtherThanPlayingEndsTheLoopAtOnce) {
  fake::DeviceScript script;
  script.length_ms = 0;
  fake::UseDevice(script);
  fake::Type(100, 'x');
  RunPlayer();
  EXPECT_EQ(Count(fake::media().commands, kPositionQuery), 0);
  EXPECT_EQ(fake::Row(3), kCloseLine);
  EXPECT_EQ(fake::Row(4), "Done!");
}

TEST_F(PlayerTest, PlayingInAnyLetterCaseKeepsTheLoopAndOtherWordsEndIt) {
  struct Case {
    const char* word;
    int passes;
  };
  for (Case c : {Case{"Playing", 10}, Case{"PLAYING", 10}, Case{"paused", 0},
                 Case{"stopped", 0}, Case{"playing ", 0}, Case{"play", 0},
                 Case{"", 0}}) {
    fake::Reset();
    fake::DeviceScript script;
    script.length_ms = 10 * kPassMs;
    script.mode_word = c.word;
    fake::UseDevice(script);
    fake::Type(20 * kPassMs, 'x');
    RunPlayer();
    EXPECT_EQ(Count(fake::media().commands, kPositionQuery), c.passes)
        << '"' << c.word << '"';
  }
}

TEST_F(PlayerTest, AReplyFillingTheBufferWithoutNulIsNotPlaying) {
  fake::DeviceScript script;
  script.override_command = [](const std::string& command, char* reply,
                               UINT length) -> MCIERROR {
    if (command != kModeQuery) return static_cast<MCIERROR>(-1);
    std::memset(reply, 'p', length);
    return 0;
  };
  fake::UseDevice(script);
  fake::Type(100, 'x');
  RunPlayer();
  EXPECT_EQ(Count(fake::media().commands, kPositionQuery), 0);
  EXPECT_EQ(fake::Row(4), "Done!");
}

TEST_F(PlayerTest, TheKeyThatStopsPlaybackDoesNotEndTheFinalWait) {
  fake::DeviceScript script;
  script.length_ms = 60000;
  fake::UseDevice(script);
  fake::Type(25 * kPassMs + 5, 's');
  fake::Type(40 * kPassMs, 'x');
  EXPECT_EQ(RunPlayer(), 0);
  EXPECT_EQ(Count(fake::media().commands, kPositionQuery), 26);
  EXPECT_EQ(fake::Row(3), kCloseLine);
  EXPECT_EQ(fake::Row(4), "Done!");
  EXPECT_EQ(fake::Row(5), "Press a key to exit");
  EXPECT_EQ(fake::KeyTakenAt(), 40 * kPassMs);
}

TEST_F(PlayerTest, AFailingModeQueryEndsPlaybackAndStillCloses) {
  int modes = 0;
  fake::DeviceScript script;
  script.length_ms = 60000;
  script.override_command = [&](const std::string& command, char* reply,
                                UINT length) -> MCIERROR {
    if (command != kModeQuery || ++modes < 4) return static_cast<MCIERROR>(-1);
    fake::Reply(reply, length, "playing");
    return 1;
  };
  fake::UseDevice(script);
  fake::Type(10 * kPassMs, 'x');
  RunPlayer();
  EXPECT_EQ(Count(fake::media().commands, kPositionQuery), 3);
  EXPECT_EQ(fake::media().commands.back(), kCloseCommand);
  EXPECT_EQ(fake::Row(4), "Done!");
}

TEST_F(PlayerTest, AFailedPositionQueryWithoutTextShowsZero) {
  std::string seen;
  fake::DeviceScript script;
  script.length_ms = 20;
  script.override_command = [&](const std::string& command, char*,
                                UINT) -> MCIERROR {
    if (command == kPositionQuery) return 1;
    if (command == kModeQuery) seen = fake::Row(3);
    return static_cast<MCIERROR>(-1);
  };
  fake::UseDevice(script);
  fake::Type(100, 'x');
  RunPlayer();
  // The mode reply "playing" left in the shared buffer is not read as text.
  EXPECT_EQ(seen, StatusLine("00:00.00"));
}

TEST_F(PlayerTest, ToAFileOnlyTheLinesAreWritten) {
  fake::console().output_is_console = false;
  fake::DeviceScript script;
  script.length_ms = 12 * kPassMs;
  fake::UseDevice(script);
  fake::Type(2 * script.length_ms, 'x');
  EXPECT_EQ(RunPlayer(), 0);
  EXPECT_EQ(fake::console().bytes, kLinesOfAWholeRun);
  // Each finished line was written out at once, the prompt before the
  // wait for a key began.
  const auto& writes = fake::console().writes;
  ASSERT_EQ(writes.size(), 6u);
  EXPECT_EQ(writes[0], kOpenLine + "\r\n");
  EXPECT_EQ(writes[5], "Press a key to exit\r\n");
  EXPECT_EQ(fake::console().write_times[5], script.length_ms);
  EXPECT_EQ(Count(fake::media().commands, kPositionQuery), 0);
  // Playback still lasted the whole piece and the wait still took a key.
  EXPECT_EQ(fake::KeyTakenAt(), 2 * script.length_ms);
}

TEST_F(PlayerTest, WithoutAConsoleForInputTheProgramEndsByItself) {
  fake::console().input_is_console = false;
  fake::DeviceScript script;
  script.length_ms = 17 * kPassMs;
  fake::UseDevice(script);
  EXPECT_EQ(RunPlayer(), 0);
  EXPECT_EQ(fake::Row(3), kCloseLine);
  EXPECT_EQ(fake::Row(4), "Done!");
  EXPECT_EQ(fake::Row(5), "Press a key to exit");
  EXPECT_EQ(fake::NowMs(), script.length_ms);
  EXPECT_EQ(fake::console().reads, 0);
}

}  // namespace
