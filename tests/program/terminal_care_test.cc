// The program, with a scripted media service, where terminals and shells
// make it hard: narrow windows, a terminal that never answers, output to a
// pipe or a file, job control under a wrapper script, and signals that end
// it. The terminal is left as it was found every time.
#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "harness/pty_session.h"
#include "tests/support/screen_checks.h"

namespace {

using namespace screen;
using pty::Millis;

// The program started by a shell line, with "$0" standing for it.
pty::Command ThroughShell(const std::string& line, std::vector<std::string> env,
                          const std::string& dir = {}) {
  return pty::Command{
      {"/bin/sh", "-c", line, MCIPLAY_SCRIPTED}, std::move(env), dir};
}

// At 30 columns the open and time-format lines take two rows each.
constexpr int kNarrowStatusRow = 5;

TEST(NarrowTerminal, StatusLineIsCutAndStaysOnItsRow) {
  pty::Session session(24, 30);
  ASSERT_TRUE(
      session.Start(pty::Command{{MCIPLAY_SCRIPTED}, {PlayMs(60000)}, {}}));
  ASSERT_TRUE(session.WaitForRowText(kNarrowStatusRow, "Playing: ", kLong))
      << Shown(session);
  ExpectRedrawnInPlaceAt(session, kNarrowStatusRow, Millis(500));
  session.Send("q");
  // Not before the prompt: a key typed while the keyboard is drained is
  // drained with the others.
  ASSERT_TRUE(session.WaitForText(kPrompt, kLong)) << Shown(session);
  session.Send("x");
  ExpectExitZero(session);
}

// On the last row a line that wrapped scrolled the screen on every pass.
TEST(NarrowTerminal, StatusLineOnTheLastRowDoesNotScroll) {
  pty::Session session(kNarrowStatusRow + 1, 30);
  ASSERT_TRUE(
      session.Start(pty::Command{{MCIPLAY_SCRIPTED}, {PlayMs(60000)}, {}}));
  ASSERT_TRUE(session.WaitForRowText(kNarrowStatusRow, "Playing: ", kLong))
      << Shown(session);
  ExpectRedrawnInPlaceAt(session, kNarrowStatusRow, Millis(500));
  EXPECT_EQ(session.Row(0), "open no-sn.xm type pvl_mci ali");
}

TEST(NarrowTerminal, ResizedToThirtyColumnsMidPlay) {
  pty::Session session(24, 80);
  ASSERT_TRUE(
      session.Start(pty::Command{{MCIPLAY_SCRIPTED}, {PlayMs(60000)}, {}}));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  session.Resize(24, 30);
  std::this_thread::sleep_for(Millis(200));
  ExpectRedrawnInPlaceAt(session, kStatusRow, Millis(500));
}

// The layer follows its own output: without an answer it still goes back
// to column 1 with a carriage return.
TEST(SilentTerminal, StatusLineIsRedrawnInPlace) {
  pty::Session session(24, 80);
  session.AnswerQueries(false);
  ASSERT_TRUE(
      session.Start(pty::Command{{MCIPLAY_SCRIPTED}, {PlayMs(60000)}, {}}));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  ExpectRedrawnInPlace(session, Millis(500));
  session.Send("q");
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong))
      << Shown(session);
  ExpectClosingScreen(session);
  session.Send("x");
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

TEST(Pipe, ThePromptIsOutBeforeTheWaitForAKey) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(ThroughShell("\"$0\" | cat", {PlayMs(300)})));
  ASSERT_TRUE(session.WaitForText(kPrompt, kLong)) << Shown(session);
  EXPECT_TRUE(session.Running());
  session.Send("x");
  ExpectExitZero(session);
}

TEST(File, ASignalMidPlayKeepsTheFinishedLines) {
  TempDir dir;
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(
      ThroughShell("exec \"$0\" > out.txt", {PlayMs(60000)}, dir.path())));
  const std::string lines =
      kOpenLine + "\r\n" + kTimeFormatLine + "\r\n" + kPlayLine + "\r\n";
  EXPECT_TRUE(session.WaitUntil(
      [&] { return ReadFile(dir.File("out.txt")) == lines; }, kLong));
  session.Kill(SIGTERM);
  ExpectExitZero(session);
  EXPECT_EQ(ReadFile(dir.File("out.txt")), lines);
}

// Started from a script that does not exec it, Ctrl+Z stops the script and
// the program together, and the shell may take the terminal back before
// the program has given it up.
TEST(JobControl, UnderAWrapperScriptTwentyStopsAndResumes) {
  TempDir dir;
  const std::string wrapper = dir.File("wrapper.sh");
  {
    std::FILE* f = std::fopen(wrapper.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("\"$1\"\necho \"wrapper ends\"\n", f);
    std::fclose(f);
  }
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(InteractiveShell({PlayMs(600000)})));
  ASSERT_TRUE(session.WaitForText("$", kLong));
  auto seen_after = [&](std::size_t from, const std::string& text) {
    return session.WaitUntil(
        [&] {
          return session.Transcript().find(text, from) != std::string::npos;
        },
        kLong);
  };
  session.Send("stty -g\r");
  ASSERT_TRUE(seen_after(0, ":"));
  std::this_thread::sleep_for(Millis(200));
  const std::size_t start = session.Transcript().size();
  session.Send("sh " + wrapper + " " + MCIPLAY_SCRIPTED + "\r");
  ASSERT_TRUE(seen_after(start, "Playing: "));

  for (int trial = 1; trial <= 20; ++trial) {
    std::size_t from = session.Transcript().size();
    session.Send("\x1a");
    ASSERT_TRUE(seen_after(from, "Stopped"))
        << "trial " << trial << Shown(session);
    from = session.Transcript().find("Stopped", from);
    ASSERT_TRUE(seen_after(from, "$ ")) << "trial " << trial << Shown(session);
    from = session.Transcript().size();
    session.Send("fg\r");
    // Continued, in raw mode again, and redrawing in place.
    ASSERT_TRUE(seen_after(from, "Playing: "))
        << "trial " << trial << Shown(session);
    ASSERT_TRUE(session.WaitUntil(
        [&] { return (session.SettingsNow().c_lflag & (ECHO | ICANON)) == 0; },
        kLong))
        << "trial " << trial;
    const int row = session.Cursor().row;
    // Several passes: with both cores busy, a 150 ms window (under four
    // passes of 40 ms) has been seen with no new position in it.
    ExpectRedrawnInPlaceAt(session, row, Millis(400));
    if (testing::Test::HasFailure())
      FAIL() << "trial " << trial << Shown(session);
  }
  session.Send("q");
  ASSERT_TRUE(session.WaitForText(kPrompt, kLong)) << Shown(session);
  session.Send("x");
  ASSERT_TRUE(session.WaitForText("wrapper ends", kLong)) << Shown(session);
  // The shell finds the terminal as it was before the program ran.
  const std::size_t from = session.Transcript().find("wrapper ends");
  ASSERT_TRUE(seen_after(from, "$ "));
  std::string before =
      session.Transcript().substr(session.Transcript().find("stty -g\r\n") + 9);
  before = before.substr(0, before.find("\r\n"));
  session.Send("stty -g\r");
  ASSERT_TRUE(seen_after(from, before)) << Shown(session);
  session.Send("exit\r");
  ExpectExitZero(session);
}

// Started straight in the terminal, with no shell to come back to, the
// program's process group is orphaned: the system drops the stop, and the
// program, which gave the terminal back for it, takes it again.
TEST(JobControl, AStopThatNeverComesLeavesTheProgramPlaying) {
  pty::Session session(24, 80);
  ASSERT_TRUE(
      session.Start(pty::Command{{MCIPLAY_SCRIPTED}, {PlayMs(60000)}, {}}));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  session.Kill(SIGTSTP);
  std::this_thread::sleep_for(Millis(300));
  EXPECT_EQ(session.SettingsNow().c_lflag & (ECHO | ICANON), 0u);
  ExpectRedrawnInPlace(session, Millis(300));
  session.Send("q");
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong))
      << Shown(session);
  session.Send("x");
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

// Signals whose default action ends the process: the terminal is given
// back (settings restored, the keyboard protocol's flags popped), the line
// ended, and the signal's own action follows.
struct Ending {
  const char* name;
  int signal;
  bool exits_zero;  // ends with exit code 0 instead
};
void PrintTo(const Ending& ending, std::ostream* out) { *out << ending.name; }

class EndedBy : public testing::TestWithParam<Ending> {};

TEST_P(EndedBy, GivesTheTerminalBackAndEndsTheLine) {
  pty::Session session(24, 80);
  session.SpeakKeyProtocol(true);
  // The sanitizers' own handlers would report these as faults; no core.
  ASSERT_TRUE(session.Start(
      ThroughShell("ulimit -c 0; exec \"$0\"",
                   {PlayMs(60000),
                    "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:"
                    "handle_sigfpe=0:handle_sigill=0:handle_abort=0"})));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  ASSERT_EQ(session.KeyFlags(), 15);
  session.Kill(GetParam().signal);
  std::optional<int> status = session.WaitExit(kLong);
  ASSERT_TRUE(status) << Shown(session);
  if (GetParam().exits_zero) {
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  } else {
    ASSERT_TRUE(WIFSIGNALED(*status)) << "exit code " << WEXITSTATUS(*status);
    EXPECT_EQ(WTERMSIG(*status), GetParam().signal);
  }
  EXPECT_EQ(session.KeyFlags(), 0);
  EXPECT_EQ(session.KeyFlagPops(), session.KeyFlagPushes());
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
  EXPECT_EQ(session.Cursor(), (pty::Position{kStatusRow + 1, 0}));
  EXPECT_NE(ShownHundredths(session.Row(kStatusRow)), -1) << Shown(session);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, EndedBy,
    testing::Values(
        Ending{"SIGTERM", SIGTERM, true}, Ending{"SIGHUP", SIGHUP, true},
        Ending{"SIGUSR1", SIGUSR1, false}, Ending{"SIGUSR2", SIGUSR2, false},
        Ending{"SIGALRM", SIGALRM, false},
        Ending{"SIGVTALRM", SIGVTALRM, false},
        Ending{"SIGPROF", SIGPROF, false}, Ending{"SIGXCPU", SIGXCPU, false},
        Ending{"SIGXFSZ", SIGXFSZ, false}, Ending{"SIGSEGV", SIGSEGV, false},
        Ending{"SIGBUS", SIGBUS, false}, Ending{"SIGFPE", SIGFPE, false},
        Ending{"SIGILL", SIGILL, false}, Ending{"SIGABRT", SIGABRT, false}),
    [](const testing::TestParamInfo<Ending>& info) {
      return std::string(info.param.name);
    });

// Signals sent together: one handler gives the terminal back, once.
TEST(EndedBy, SignalsTogetherPopTheFlagsOnce) {
  pty::Session session(24, 80);
  session.SpeakKeyProtocol(true);
  ASSERT_TRUE(
      session.Start(pty::Command{{MCIPLAY_SCRIPTED}, {PlayMs(60000)}, {}}));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  session.Kill(SIGHUP);
  session.Kill(SIGTERM);
  session.Kill(SIGUSR1);
  ASSERT_TRUE(session.WaitExit(kLong));
  EXPECT_EQ(session.KeyFlagPushes(), 1);
  EXPECT_EQ(session.KeyFlagPops(), 1);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
  EXPECT_EQ(session.Cursor(), (pty::Position{kStatusRow + 1, 0}));
}

}  // namespace
