// Checks of the harness itself, against the shell and stty, so that a fault
// in an end-to-end test can be told from a fault of the harness.
#include "harness/pty_session.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

namespace {

using pty::Millis;

pty::Command Shell(const std::string& script) {
  return pty::Command{{"/bin/sh", "-c", script}, {}, {}};
}

TEST(PtySession, ShowsTextAndCursorAndGivesExitStatus) {
  pty::Session session(10, 40);
  ASSERT_TRUE(session.Start(Shell("printf 'one\\r\\ntwo'; exit 3")));
  auto status = session.WaitExit(Millis(5000));
  ASSERT_TRUE(status);
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 3);
  EXPECT_EQ(session.Row(0), "one");
  EXPECT_EQ(session.Row(1), "two");
  EXPECT_EQ(session.Cursor(), (pty::Position{1, 3}));
}

TEST(PtySession, PassesEnvironmentDirectoryAndSize) {
  pty::Session session(12, 50);
  ASSERT_TRUE(session.Start(pty::Command{
      {"/bin/sh", "-c", "printf '%s %s ' \"$PROBE\" \"$PWD\"; stty size"},
      {"PROBE=yes"},
      "/"}));
  ASSERT_TRUE(session.WaitExit(Millis(5000)));
  EXPECT_EQ(session.Row(0), "yes / 12 50");
}

TEST(PtySession, AnswersCursorReportsUnlessToldNotTo) {
  // The shell asks where the cursor is and prints the answer's length.
  const std::string script =
      "stty raw -echo; printf 'abc\\033[6n'; "
      "r=$(dd bs=1 count=6 2>/dev/null); stty sane; printf '[%s]' \"${r#?}\"";
  {
    pty::Session session(5, 30);
    ASSERT_TRUE(session.Start(Shell(script)));
    ASSERT_TRUE(session.WaitExit(Millis(5000)));
    EXPECT_EQ(session.Row(0), "abc[[1;4R]");
  }
  {
    pty::Session session(5, 30);
    session.AnswerQueries(false);
    ASSERT_TRUE(session.Start(Shell(script)));
    EXPECT_FALSE(session.WaitExit(Millis(300)));
    session.Kill(SIGKILL);
    auto status = session.WaitExit(Millis(5000));
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status));
  }
}

TEST(PtySession, SpeaksTheKeyboardProtocolWhenToldTo) {
  // Push 11, ask, push 15 split over two writes, change it, pop one, ask;
  // then print the answers, which come before the attributes answer.
  const std::string script =
      "stty raw -echo; printf 'a\\033[>11u\\033[?u'; r1=$(dd bs=1 count=6 "
      "2>/dev/null); printf '\\033[>'; sleep 0.1; printf '15ub\\033[=2;3u'; "
      "printf '\\033[<u\\033[?u\\033[c'; r2=$(dd bs=1 count=6 2>/dev/null); "
      "stty sane; printf '[%s][%s]' \"${r1#?}\" \"${r2#?}\"; sleep 0.2";
  pty::Session session(5, 40);
  session.SpeakKeyProtocol(true);
  ASSERT_TRUE(session.Start(Shell(script)));
  ASSERT_TRUE(session.WaitExit(Millis(5000)));
  // None of it reached the screen; the answers are the flags then in force.
  EXPECT_EQ(session.Row(0), "ab[[?11u][[?11u]");
  EXPECT_EQ(session.KeyFlags(), 11);
  EXPECT_EQ(session.KeyFlagPushes(), 2);
  EXPECT_EQ(session.KeyFlagPops(), 1);

  // Without it, the sequences go to the emulator, which ignores them.
  pty::Session plain(5, 40);
  ASSERT_TRUE(plain.Start(Shell("printf 'a\\033[>15ub'")));
  ASSERT_TRUE(plain.WaitExit(Millis(5000)));
  EXPECT_EQ(plain.Row(0), "ab");
  EXPECT_EQ(plain.KeyFlags(), 0);
  EXPECT_EQ(plain.KeyFlagPushes(), 0);
}

TEST(PtySession, SendsKeysAndShowsSettingsChanges) {
  pty::Session session(5, 30);
  ASSERT_TRUE(session.Start(
      Shell("stty -echo; echo ready; read line; echo \"got $line\"")));
  ASSERT_TRUE(session.WaitForText("ready", Millis(5000)));
  session.Send("hello\r");
  ASSERT_TRUE(session.WaitForText("got hello", Millis(5000)));
  ASSERT_TRUE(session.WaitExit(Millis(5000)));
  EXPECT_TRUE(session.SettingsBefore().c_lflag & ECHO);
  EXPECT_FALSE(session.SettingsNow().c_lflag & ECHO);
  EXPECT_EQ(session.FindRow("got hello"), 1);
  EXPECT_EQ(session.FindRow("hello"), 1);  // not echoed on row 0
}

TEST(PtySession, CountsWritesPerRow) {
  pty::Session session(4, 20);
  ASSERT_TRUE(session.Start(Shell("printf 'a\\r\\n'; sleep 0.3; printf 'b'")));
  ASSERT_TRUE(session.WaitForText("a", Millis(5000)));
  session.ResetDamage();
  ASSERT_TRUE(session.WaitExit(Millis(5000)));
  std::vector<int> damage = session.Damage();
  EXPECT_EQ(damage[0], 0);
  EXPECT_GT(damage[1], 0);
  EXPECT_EQ(damage[2], 0);
}

}  // namespace
