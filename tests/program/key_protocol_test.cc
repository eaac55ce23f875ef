// The program, with a scripted media service, in a terminal that reports
// every key's press, repeats and release: only a release stops it, the
// protocol's flags are pushed once asked and popped on every way out.
#include <signal.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "harness/pty_session.h"
#include "tests/support/screen_checks.h"

namespace {

using namespace screen;
using pty::Millis;

constexpr int kPushed = 15;  // the flags the program asks for

// A key report: ESC [ code ; modifiers : event u (event 1 press, 2 repeat,
// 3 release; modifiers 1 + Shift 1, Alt 2, Ctrl 4).
std::string Report(int code, int modifiers, int event) {
  return "\x1b[" + std::to_string(code) + ";" + std::to_string(modifiers) +
         ":" + std::to_string(event) + "u";
}
std::string Press(int code, int modifiers = 1) {
  // A press without modifiers is sent in its shortest form.
  if (modifiers == 1) return "\x1b[" + std::to_string(code) + "u";
  return Report(code, modifiers, 1);
}
std::string Repeat(int code, int modifiers = 1) {
  return Report(code, modifiers, 2);
}
std::string Release(int code, int modifiers = 1) {
  return Report(code, modifiers, 3);
}

constexpr int kLeftShift = 57441;

pty::Command Program(int ms) {
  return pty::Command{{MCIPLAY_SCRIPTED}, {PlayMs(ms)}, {}};
}

// A terminal that speaks the protocol, the program started in it and
// playing, with its flags pushed.
class KeyReports : public testing::Test {
 protected:
  void SetUp() override {
    session.SpeakKeyProtocol(true);
    ASSERT_TRUE(session.Start(Program(60000)));
    ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
    ASSERT_EQ(session.KeyFlags(), kPushed);
    EXPECT_EQ(session.KeyFlagPushes(), 1);
  }

  // Playback goes on for `span`: the position line keeps being redrawn.
  void ExpectStillPlaying(Millis span) {
    ExpectRedrawnInPlace(session, span);
    EXPECT_EQ(session.FindRow(kPrompt), -1) << Shown(session);
  }

  // The flags are popped, as often as pushed, and the settings restored.
  void ExpectTerminalGivenBack() {
    EXPECT_EQ(session.KeyFlags(), 0);
    EXPECT_EQ(session.KeyFlagPops(), session.KeyFlagPushes());
    EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
  }

  pty::Session session{24, 80};
};

TEST_F(KeyReports, HeldKeyStopsPlaybackOnlyWhenReleased) {
  session.Send(Press('q'));
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(Millis(40));
    session.Send(Repeat('q'));
  }
  ExpectStillPlaying(Millis(400));

  session.Send(Release('q'));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong))
      << Shown(session);
  ExpectClosingScreen(session);
  // The prompt too waits for a release, not a press.
  session.Send(Press('x'));
  EXPECT_FALSE(session.WaitExit(Millis(300)));
  session.Send(Release('x'));
  ExpectExitZero(session);
  ExpectTerminalGivenBack();
}

TEST_F(KeyReports, KeysWithoutACharacterNeverStopIt) {
  // Shift alone, pressed, held and let go; then arrows, F-keys and Ctrl in
  // the forms the protocol keeps from before, with their event types.
  session.Send(Press(kLeftShift, 2) + Repeat(kLeftShift, 2) +
               Release(kLeftShift, 2));
  for (const char* key : {"\x1b[1;1:1A", "\x1b[1;1:3A", "\x1b[5~",
                          "\x1b[5;1:3~", "\x1b[P", "\x1b[1;1:3P", "\x1b[13~",
                          "\x1b[13;1:3~", "\x1b[57442;5u", "\x1b[57442;5:3u"}) {
    session.Send(key);
    std::this_thread::sleep_for(Millis(15));
  }
  ExpectStillPlaying(Millis(400));
  // A shifted letter does: its release with Shift still held.
  session.Send(Press(kLeftShift, 2) + Press('a', 2) + Release('a', 2) +
               Release(kLeftShift, 1));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong))
      << Shown(session);
  session.Send(Press(13) + Release(13));
  ExpectExitZero(session);
  ExpectTerminalGivenBack();
}

TEST_F(KeyReports, ReleaseOfAKeyPressedBeforeTheStartIsIgnored) {
  // The Enter that started the program, let go after the flags were pushed.
  session.Send(Release(13));
  ExpectStillPlaying(Millis(400));
  session.Send(Press(' ') + Release(' '));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong));
  session.Send(Press('e') + Release('e'));
  ExpectExitZero(session);
  ExpectTerminalGivenBack();
}

TEST_F(KeyReports, CtrlCEndsItWithTheFlagsPopped) {
  session.Send(Press('c', 5));
  ExpectExitZero(session);
  ExpectTerminalGivenBack();
  EXPECT_EQ(session.FindRow(kPrompt), -1) << "Ctrl+C was taken as a key";
}

TEST_F(KeyReports, SigtermMidPlayPopsTheFlags) {
  session.Kill(SIGTERM);
  ExpectExitZero(session);
  ExpectTerminalGivenBack();
}

TEST(KeyProtocol, TerminalThatDoesNotSpeakItKeepsPressAndRelease) {
  // libvterm answers the device attributes and ignores the protocol: a
  // character stops the music at once, as it always did.
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program(60000)));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  EXPECT_NE(session.Transcript().find("\x1b[?u\x1b[c"), std::string::npos)
      << "the protocol was not asked about";
  EXPECT_EQ(session.Transcript().find("\x1b[>"), std::string::npos)
      << "flags pushed on a terminal without the protocol";
  session.Send("q");
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong));
  session.Send("x");
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

TEST(KeyProtocol, SilentTerminalIsTakenForOneWithoutIt) {
  // Neither question is answered: the program goes on without the flags
  // (how long it waited is measured by hand, not here) and a plain key
  // still stops it.
  pty::Session session(24, 80);
  session.SpeakKeyProtocol(true);
  session.AnswerQueries(false);
  ASSERT_TRUE(session.Start(Program(60000)));
  ASSERT_TRUE(session.WaitForText(kPlayLine, kLong));
  EXPECT_EQ(session.KeyFlagPushes(), 0);
  session.Send("q");
  ASSERT_TRUE(session.WaitForText(kPrompt, kLong)) << Shown(session);
  session.Send("x");
  ExpectExitZero(session);
  EXPECT_EQ(session.KeyFlagPops(), 0);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

// An interactive shell in a terminal that speaks the protocol: Ctrl+Z pops
// the flags before the shell gets the terminal, and the reports that were on
// their way meanwhile do not reach the shell; fg pushes the flags again.
TEST(KeyProtocol, SuspendPopsAndResumePushesAgain) {
  pty::Session session(24, 80);
  session.SpeakKeyProtocol(true);
  ASSERT_TRUE(session.Start(InteractiveShell({PlayMs(60000)})));
  ASSERT_TRUE(session.WaitForText("$", kLong));
  session.Send(std::string(MCIPLAY_SCRIPTED) + "\r");
  ASSERT_TRUE(session.WaitForText("Playing: ", kLong));
  ASSERT_EQ(session.KeyFlags(), kPushed);

  // The keys of Ctrl+Z let go before the terminal sees the pop.
  session.SendBeforeNextPop(Release('z', 5) + Release(57442, 1));
  session.Send(Press(57442, 5) + Press('z', 5));
  ASSERT_TRUE(session.WaitForText("Stopped", kLong)) << Shown(session);
  EXPECT_EQ(session.KeyFlags(), 0);
  EXPECT_EQ(session.KeyFlagPops(), 1);
  ASSERT_TRUE(WaitForShellAfter(session, "Stopped"));
  session.Send("echo clean\r");
  EXPECT_TRUE(session.WaitUntil(
      [&] {
        int typed = session.FindRow("$ echo clean");
        return typed >= 0 && session.Row(typed + 1) == "clean";
      },
      kLong))
      << Shown(session);

  session.Send("fg\r");
  ASSERT_TRUE(
      session.WaitUntil([&] { return session.KeyFlags() == kPushed; }, kLong))
      << Shown(session);
  EXPECT_EQ(session.KeyFlagPushes(), 2);
  session.Send(Press('q') + Release('q'));
  ASSERT_TRUE(session.WaitForText(kPrompt, kLong)) << Shown(session);
  session.Send(Press('x') + Release('x'));
  ASSERT_TRUE(
      session.WaitUntil([&] { return session.KeyFlagPops() == 2; }, kLong));
  EXPECT_EQ(session.KeyFlags(), 0);
  // Typed only once the shell prompts again: the program drops input it
  // has not read when it ends.
  ASSERT_TRUE(WaitForShellAfter(session, kPrompt)) << Shown(session);
  session.Send("exit\r");
  ExpectExitZero(session);
}

// Started in the background, the program asks only once it has the
// terminal: the answers would otherwise go to the shell.
TEST(KeyProtocol, BackgroundJobAsksOnceInTheForeground) {
  pty::Session session(24, 80);
  session.SpeakKeyProtocol(true);
  ASSERT_TRUE(session.Start(InteractiveShell({PlayMs(60000)})));
  ASSERT_TRUE(session.WaitForText("$", kLong));
  session.Send(std::string(MCIPLAY_SCRIPTED) + " &\r");
  ASSERT_TRUE(session.WaitForText(kPlayLine, kLong));
  std::this_thread::sleep_for(Millis(500));
  EXPECT_EQ(session.Transcript().find("\x1b[?u"), std::string::npos);
  EXPECT_EQ(session.KeyFlagPushes(), 0);

  session.Send("fg\r");
  ASSERT_TRUE(
      session.WaitUntil([&] { return session.KeyFlags() == kPushed; }, kLong))
      << Shown(session);
  ASSERT_TRUE(session.WaitForText("Playing: ", kLong));
  session.Send(Press('q') + Release('q'));
  ASSERT_TRUE(session.WaitForText(kPrompt, kLong)) << Shown(session);
  session.Send(Press('x') + Release('x'));
  ASSERT_TRUE(
      session.WaitUntil([&] { return session.KeyFlagPops() == 1; }, kLong));
  EXPECT_EQ(session.KeyFlags(), 0);
  ASSERT_TRUE(WaitForShellAfter(session, kPrompt));
  session.Send("exit\r");
  ExpectExitZero(session);
}

}  // namespace
