// The program, with a scripted media service, run in a pseudo-terminal and
// watched through a terminal emulator: what the user sees, which keys stop
// it, and the terminal left as it was found on every way out.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "harness/pty_session.h"
#include "tests/support/screen_checks.h"

namespace {

using namespace screen;
using pty::Millis;

pty::Command Program(std::vector<std::string> env) {
  return pty::Command{{MCIPLAY_SCRIPTED}, std::move(env), {}};
}

// The program started by a shell line, with "$0" standing for it.
pty::Command ThroughShell(const std::string& line, std::vector<std::string> env,
                          const std::string& dir = {}) {
  return pty::Command{
      {"/bin/sh", "-c", line, MCIPLAY_SCRIPTED}, std::move(env), dir};
}

TEST(Terminal, PlaysToTheEndThenWaitsForAKey) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program({PlayMs(1500)})));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  ExpectCommandLines(session);
  ExpectRedrawnInPlace(session, Millis(500));

  ASSERT_TRUE(
      session.WaitUntil([&] { return session.FindRow(kPrompt) >= 0; }, kLong));
  // The prompt's line end has been written too.
  EXPECT_TRUE(session.WaitUntil(
      [&] {
        return session.Cursor() == pty::Position{kStatusRow + 3, 0};
      },
      kLong));
  ExpectClosingScreen(session);

  // The prompt waits for a key.
  EXPECT_FALSE(session.WaitExit(Millis(300)));
  session.Send("#");
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
  EXPECT_EQ(session.FindRow("#"), -1) << "the key was echoed";
}

// Keys that qualify: any that gives a character, control characters too.
struct Key {
  const char* name;
  const char* bytes;
};
void PrintTo(const Key& key, std::ostream* out) { *out << key.name; }

class StopKey : public testing::TestWithParam<Key> {};

TEST_P(StopKey, StopsPlaybackAndASecondKeyEndsTheProgram) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program({PlayMs(60000)})));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));

  session.Send(GetParam().bytes);
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong));
  ExpectClosingScreen(session);
  // The key that stopped the music is not also the key that ends the wait.
  EXPECT_FALSE(session.WaitExit(Millis(300)));

  session.Send(GetParam().bytes);
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, StopKey,
    testing::Values(Key{"Letter", "q"}, Key{"Capital", "Q"}, Key{"Space", " "},
                    Key{"Enter", "\r"}, Key{"Tab", "\t"},
                    Key{"Backspace", "\x7f"}, Key{"Escape", "\x1b"},
                    Key{"CtrlA", "\x01"}, Key{"NonAscii", "\xc3\xa9"}),
    [](const testing::TestParamInfo<Key>& info) {
      return std::string(info.param.name);
    });

// What the terminal sends of its own: answers to another program's
// questions, mouse reports.
const char* const kAnswers[] = {
    "\x1b]11;rgb:0/0/0\a",     "\x1b]11;rgb:0/0/0\x1b\\", "\x1bP1$r0m\x1b\\",
    "\x1bP>|xterm(379)\x1b\\", "\x1b_Gi=1;OK\x1b\\",      "\x1b[M !!",
    "\x1b[M\xff\xff\xff",      "\x1b[M \xc4\x80\xc4\x80", "\x1b[<0;10;5M",
    "\x1b[<0;10;5m",           "\x1b[32;10;5M",           "\x1b[?2004;2$y",
    "\x1b[>0;276;0c"};

TEST(Terminal, CursorKeysFunctionKeysAndTerminalAnswersDoNotStopIt) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program({PlayMs(60000)})));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  std::vector<const char*> sent = {
      "\x1b[A", "\x1b[B",  "\x1b[C",   "\x1b[D",   "\x1bOA",    "\x1b[H",
      "\x1b[F", "\x1b[1~", "\x1b[2~",  "\x1b[3~",  "\x1b[5~",   "\x1b[6~",
      "\x1bOP", "\x1bOS",  "\x1b[15~", "\x1b[24~", "\x1b[1;5C", "\x1b[1;2P"};
  sent.insert(sent.end(), std::begin(kAnswers), std::end(kAnswers));
  for (const char* bytes : sent) {
    session.Send(bytes);
    std::this_thread::sleep_for(Millis(15));
  }
  ExpectRedrawnInPlace(session, Millis(400));
  EXPECT_EQ(session.Row(kStatusRow + 1), "");

  session.Send("s");
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong));
  ExpectClosingScreen(session);
  // All the answers in one burst do not end the prompt either.
  std::string burst;
  for (const char* answer : kAnswers) burst += answer;
  session.Send(burst);
  EXPECT_FALSE(session.WaitExit(Millis(400)));
  session.Send("e");
  ExpectExitZero(session);
}

TEST(Terminal, KeyTypedDuringTheOpenStopsBeforeTheFirstPass) {
  pty::Session session(24, 80);
  ASSERT_TRUE(
      session.Start(Program({PlayMs(60000), "MCIPLAY_SCRIPT_OPEN_MS=700"})));
  ASSERT_TRUE(session.WaitForText("open no-sn.xm", kLong));
  session.Send("k");
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong));
  ExpectClosingScreen(session);  // the key was not echoed into the open line
  EXPECT_EQ(session.Transcript().find("Playing:"), std::string::npos);
  session.Send("k");
  ExpectExitZero(session);
}

TEST(Terminal, FailedOpenPromptsAndEndsOnAKey) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program({"MCIPLAY_SCRIPT_FAIL=open"})));
  ASSERT_TRUE(session.WaitForRowText(1, kPrompt, kLong));
  EXPECT_EQ(session.Row(0), kOpenFailed + "Device refused.");
  session.Send("z");
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

struct Ending {
  const char* name;
  const char* keys;  // typed, or nullptr to send `signal`
  int signal;
};

void PrintTo(const Ending& ending, std::ostream* out) { *out << ending.name; }

class EndingSignal : public testing::TestWithParam<Ending> {};

TEST_P(EndingSignal, MidPlayLeavesTheTerminalAsFoundWithExitCodeZero) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program({PlayMs(60000)})));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  EXPECT_FALSE(SameSettings(session.SettingsBefore(), session.SettingsNow()))
      << "not in raw mode while playing";
  if (GetParam().keys != nullptr) {
    session.Send(GetParam().keys);
  } else {
    session.Kill(GetParam().signal);
  }
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

INSTANTIATE_TEST_SUITE_P(Signals, EndingSignal,
                         testing::Values(Ending{"CtrlC", "\x03", 0},
                                         Ending{"SIGINT", nullptr, SIGINT},
                                         Ending{"SIGTERM", nullptr, SIGTERM},
                                         Ending{"SIGHUP", nullptr, SIGHUP},
                                         Ending{"CtrlBackslash", "\x1c", 0}),
                         [](const testing::TestParamInfo<Ending>& info) {
                           return std::string(info.param.name);
                         });

// An interactive shell with job control in the terminal, running the
// program as a user would.
class InAShell : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.Start(InteractiveShell({PlayMs(60000)})));
    ASSERT_TRUE(session.WaitForText("$", kLong));
  }

  // Waits until the position line is drawn after `text` was written.
  bool WaitForPlayingAfter(const std::string& text) {
    return session.WaitUntil(
        [&] {
          std::string seen = session.Transcript();
          std::size_t at = seen.rfind(text);
          return at != std::string::npos &&
                 seen.find("Playing: ", at) != std::string::npos;
        },
        kLong);
  }

  // A single key, without Enter, stops the music (the terminal is raw);
  // another ends the program, and the shell sees exit code 0.
  void StopEndAndCheckExitCode() {
    session.Send("q");
    ASSERT_TRUE(session.WaitForText(kCloseLine, kLong)) << Shown(session);
    ASSERT_TRUE(session.WaitForText(kPrompt, kLong));
    session.Send("x");
    ASSERT_TRUE(WaitForShellAfter(session, kPrompt)) << Shown(session);
    session.Send("echo \"exit code $?\"\r");
    EXPECT_TRUE(session.WaitForText("exit code 0", kLong)) << Shown(session);
    session.Send("exit\r");
    ExpectExitZero(session);
  }

  pty::Session session{24, 80};
};

TEST_F(InAShell, SuspendedAndResumedItTakesKeysAgain) {
  session.Send(std::string(MCIPLAY_SCRIPTED) + "\r");
  ASSERT_TRUE(session.WaitForText("Playing: ", kLong));
  session.Send("\x1a");  // Ctrl+Z
  ASSERT_TRUE(session.WaitForText("Stopped", kLong));
  ASSERT_TRUE(WaitForShellAfter(session, "Stopped")) << Shown(session);
  session.Send("fg\r");
  // (It may go on on its old row: the program keeps the row it read before
  // the stop.)
  ASSERT_TRUE(WaitForPlayingAfter("fg\r\n")) << Shown(session);
  StopEndAndCheckExitCode();
}

TEST_F(InAShell, StartedInTheBackgroundItWaitsForTheForeground) {
  session.Send(std::string(MCIPLAY_SCRIPTED) + " &\r");
  ASSERT_TRUE(session.WaitForText(kPlayLine, kLong));
  std::this_thread::sleep_for(Millis(500));
  // Stopped before its first cursor query, as a read would stop it: the
  // terminal's answer would have gone to the shell, as typed text.
  EXPECT_EQ(session.Transcript().find("Playing: "), std::string::npos);
  session.Send("echo clean\r");
  // The command reached the shell as typed, and ran.
  EXPECT_TRUE(session.WaitUntil(
      [&] {
        int typed = session.FindRow("echo clean");
        return typed >= 0 && session.Row(typed + 1) == "clean";
      },
      kLong))
      << Shown(session);
  EXPECT_EQ(session.FindRow("not found"), -1) << Shown(session);
  ASSERT_TRUE(WaitForShellAfter(session, "clean")) << Shown(session);
  session.Send("fg\r");
  ASSERT_TRUE(WaitForPlayingAfter("fg\r\n")) << Shown(session);
  StopEndAndCheckExitCode();
}

// The key that ends the prompt comes with more: the rest of a paste, in one
// write or in pieces, or a held key's repeats. None of it reaches the
// shell: no pasted command runs, and the next line typed is the shell's
// whole.
struct Burst {
  const char* name;
  std::size_t piece;  // bytes a write
  int gap_ms;         // between writes
  bool repeats;       // 'x' 15 times, else commands that leave a file each
};
void PrintTo(const Burst& burst, std::ostream* out) { *out << burst.name; }

class AtThePrompt : public InAShell,
                    public testing::WithParamInterface<Burst> {};

TEST_P(AtThePrompt, WhatComesWithTheLastKeyNeverReachesTheShell) {
  TempDir dir;
  session.Send(std::string(MCIPLAY_SCRIPTED) + "\r");
  ASSERT_TRUE(session.WaitForText("Playing: ", kLong));
  session.Send("q");
  ASSERT_TRUE(session.WaitForText(kPrompt, kLong));
  std::string burst = GetParam().repeats ? std::string(15, 'x') : "";
  for (int n = 0; !GetParam().repeats && burst.size() < 10000; ++n)
    burst += "touch " + dir.File("leaked-" + std::to_string(n)) + "\r";
  // On a fixed timetable: with both cores busy, sleeps that each ran long
  // made the burst outlast the program's drain (a second at most).
  auto next = std::chrono::steady_clock::now();
  for (std::size_t at = 0; at < burst.size(); at += GetParam().piece) {
    session.Send(burst.substr(at, GetParam().piece));
    next += Millis(GetParam().gap_ms);
    std::this_thread::sleep_until(next);
  }
  ASSERT_TRUE(WaitForShellAfter(session, kPrompt)) << Shown(session);
  std::this_thread::sleep_for(Millis(300));
  session.Send("echo finished-$((6*7))\r");
  EXPECT_TRUE(session.WaitForText("finished-42", kLong)) << Shown(session);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_EQ(session.FindRow("not found"), -1) << Shown(session);
}

INSTANTIATE_TEST_SUITE_P(
    Bursts, AtThePrompt,
    testing::Values(Burst{"PasteInSmallPieces", 64, 1, false},
                    Burst{"PasteInLargePieces", 1024, 20, false},
                    Burst{"HeldKeyRepeats", 1, 33, true}),
    [](const testing::TestParamInfo<Burst>& info) {
      return std::string(info.param.name);
    });

TEST(Terminal, OutputToAFileWhileKeysComeFromTheTerminal) {
  TempDir dir;
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(
      ThroughShell("exec \"$0\" > out.txt", {PlayMs(600)}, dir.path())));
  // No status line goes to a file; the prompt still waits for a key.
  std::this_thread::sleep_for(Millis(1500));
  ASSERT_TRUE(session.Running());
  session.Send("y");
  ExpectExitZero(session);
  EXPECT_EQ(ReadFile(dir.File("out.txt")), kLinesOfAWholeRun);
  for (const std::string& row : session.Screen()) EXPECT_EQ(row, "");
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

TEST(Terminal, InputNotATerminalPlaysToTheEndAndExits) {
  pty::Session session(24, 80);
  ASSERT_TRUE(
      session.Start(ThroughShell("exec \"$0\" < /dev/null", {PlayMs(1500)})));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  // Keys typed at the terminal do not count, and are not echoed either.
  session.Send("q");
  ExpectRedrawnInPlace(session, Millis(400));
  ExpectExitZero(session);  // no key can come, so there is no wait
  ExpectClosingScreen(session);
  EXPECT_EQ(session.FindRow("q"), -1);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

TEST(Terminal, SilentTerminalDoesNotHangTheProgram) {
  pty::Session session(24, 80);
  session.AnswerQueries(false);
  ASSERT_TRUE(session.Start(Program({PlayMs(1000)})));
  ASSERT_TRUE(session.WaitForText(kPrompt, kLong));
  EXPECT_NE(session.FindRow("Done!"), -1);
  // The cursor was never sent to the top of the screen.
  EXPECT_EQ(session.Row(0), kOpenLine);
  session.Send("x");
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

TEST(Terminal, ClosedOutputPipeDoesNotKillIt) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(
      pty::Command{{"/bin/bash", "-c",
                    "\"$0\" | exec true; echo \"exit code ${PIPESTATUS[0]}\"",
                    MCIPLAY_SCRIPTED},
                   {PlayMs(300)},
                   {}}));
  std::this_thread::sleep_for(Millis(1000));
  session.Send("w");
  ASSERT_TRUE(session.WaitForText("exit code 0", kLong));
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

}  // namespace
