// The program as built, with the real media service and module device
// (playing silently), in a pseudo-terminal: the same screens as with the
// scripted service.
#include <signal.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "harness/pty_session.h"
#include "tests/support/screen_checks.h"
#include "xmgen/pieces.h"
#include "xmgen/xm_writer.h"

namespace {

using namespace screen;
using pty::Millis;

class RealProgram : public testing::Test {
 protected:
  // Plays a piece of `length_ms` from the test's own directory.
  void Start(int length_ms) {
    ASSERT_TRUE(
        xmgen::SaveXm(xmgen::TimedPiece(length_ms), dir.File("no-sn.xm")));
    ASSERT_TRUE(session.Start(
        pty::Command{{MCIPLAY_EXE}, {"PVL_MCI_OUTPUT=null"}, dir.path()}));
    ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong))
        << Shown(session);
  }

  TempDir dir;
  pty::Session session{24, 80};
};

TEST_F(RealProgram, PlaysThePieceToItsEndInPlace) {
  Start(1500);
  ExpectCommandLines(session);
  ExpectRedrawnInPlace(session, Millis(500));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong));
  ExpectClosingScreen(session);
  EXPECT_FALSE(session.WaitExit(Millis(300)));  // waits for a key
  session.Send("x");
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

TEST_F(RealProgram, CursorKeysDoNotStopItACharacterDoes) {
  Start(30000);
  session.Send("\x1b[A\x1b[15~");
  ExpectRedrawnInPlace(session, Millis(300));
  session.Send("q");
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong));
  ExpectClosingScreen(session);
  EXPECT_FALSE(session.WaitExit(Millis(300)));
  session.Send("\r");
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

TEST_F(RealProgram, CtrlCMidPlayLeavesTheTerminalAsFound) {
  Start(30000);
  session.Send("\x03");
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

}  // namespace
