// The program in a pseudo-terminal after floods of input that never
// qualifies: a key released afterwards still stops playback and ends the
// prompt. (The 15 ms bound is checked on the scripted platform's clock and
// measured by the benchmark; here the keys just have to work.)
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "harness/pty_session.h"
#include "tests/support/screen_checks.h"

namespace {

using namespace screen;
using pty::Millis;

pty::Command Program() {
  return pty::Command{{MCIPLAY_SCRIPTED}, {PlayMs(600000)}, {}};
}

std::string Times(int count, const std::string& text) {
  std::string all;
  for (int i = 0; i < count; ++i) all += text;
  return all;
}

// Keys that must stop playback, then end the prompt, after `flood` each
// time.
void ExpectKeysStillWorkAfter(pty::Session& session, const std::string& flood,
                              const std::string& stop_key,
                              const std::string& exit_key) {
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  session.Send(flood);
  session.Send(stop_key);
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong))
      << Shown(session);
  ExpectClosingScreen(session);
  session.Send(flood);
  EXPECT_FALSE(session.WaitExit(Millis(300))) << "ended by the flood";
  session.Send(exit_key);
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

TEST(AfterAFlood, AThousandArrowKeys) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program()));
  ExpectKeysStillWorkAfter(session, Times(1000, "\x1b[A"), "q", "x");
}

// With the keyboard protocol: a minute's repeats of a held Shift.
TEST(AfterAFlood, ShiftHeldForAMinuteWithTheKeyboardProtocol) {
  pty::Session session(24, 80);
  session.SpeakKeyProtocol(true);
  ASSERT_TRUE(session.Start(Program()));
  const std::string shift_held =
      "\x1b[57441;2u" + Times(1800, "\x1b[57441;2:2u") + "\x1b[57441;1:3u";
  ExpectKeysStillWorkAfter(session, shift_held, "\x1b[113u\x1b[113;1:3u",
                           "\x1b[120u\x1b[120;1:3u");
}

// A held letter's own release stops playback after a minute of repeats.
TEST(AfterAFlood, ALetterHeldForAMinuteStopsWhenReleased) {
  pty::Session session(24, 80);
  session.SpeakKeyProtocol(true);
  ASSERT_TRUE(session.Start(Program()));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  session.Send("\x1b[104u" + Times(1800, "\x1b[104;1:2u"));
  EXPECT_FALSE(session.WaitForText(kPrompt, Millis(300)));
  session.Send("\x1b[104;1:3u");
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong))
      << Shown(session);
  session.Send("\x1b[104u" + Times(1800, "\x1b[104;1:2u") + "\x1b[104;1:3u");
  ExpectExitZero(session);
}

// The paste's first character stops playback; the rest is drained, and
// the next key ends the prompt.
TEST(AfterAFlood, APasteOfTenThousandCharacters) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program()));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  std::string paste;
  for (int i = 0; i < 10000; ++i) paste += static_cast<char>('a' + i % 26);
  session.Send(paste);
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong))
      << Shown(session);
  ExpectClosingScreen(session);
  EXPECT_FALSE(session.WaitExit(Millis(300)));
  session.Send("x");
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

}  // namespace
