// The program, with a scripted media service, run in a pseudo-terminal and
// watched through a terminal emulator: what the user sees, which keys stop
// it, and the terminal left as it was found on every way out.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/harness/pty_session.h"

namespace {

using pty::Millis;

constexpr char kOpenLine[] =
    "open no-sn.xm type pvl_mci alias PELVARO_MCI ...  ok.";
constexpr char kTimeLine[] = "set PELVARO_MCI time format ms ...  ok.";
constexpr char kPlayLine[] = "play PELVARO_MCI ...  ok.";
constexpr char kCloseLine[] = "close PELVARO_MCI ...  ok.";
constexpr char kPrompt[] = "Press a key to exit";
constexpr int kStatusRow = 3;
const Millis kLong(8000);

const std::regex kStatus(
    R"(Playing: (\d\d):(\d\d)\.(\d\d) \.\.\.press a Key to stop\.)");

// The position a status line shows, in hundredths, or -1.
int ShownHundredths(const std::string& row) {
  std::smatch m;
  if (!std::regex_match(row, m, kStatus)) return -1;
  return std::stoi(m[1]) * 6000 + std::stoi(m[2]) * 100 + std::stoi(m[3]);
}

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
         a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

std::string PlayMs(int ms) { return "MCIPLAY_SCRIPT_MS=" + std::to_string(ms); }

pty::Command Program(std::vector<std::string> env) {
  return pty::Command{{MCIPLAY_SCRIPTED}, std::move(env), {}};
}

// The program started by a shell line, with "$0" standing for it.
pty::Command ThroughShell(const std::string& line,
                          std::vector<std::string> env,
                          const std::string& dir = {}) {
  return pty::Command{{"/bin/sh", "-c", line, MCIPLAY_SCRIPTED},
                      std::move(env),
                      dir};
}

// Expects a normal end with exit code 0.
void ExpectExitZero(pty::Session& session) {
  std::optional<int> status = session.WaitExit(kLong);
  ASSERT_TRUE(status) << "still running";
  ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

void ExpectCommandLines(const pty::Session& session) {
  EXPECT_EQ(session.Row(0), kOpenLine);
  EXPECT_EQ(session.Row(1), kTimeLine);
  EXPECT_EQ(session.Row(2), kPlayLine);
}

// Watches the status row for `span`: every sample is a status line, the
// cursor stays on that row, the position never goes back and does change,
// and no other row is written to.
void ExpectRedrawnInPlace(pty::Session& session, Millis span) {
  session.ResetDamage();
  std::vector<int> shown;
  auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) {
    std::string row = session.Row(kStatusRow);
    int hundredths = ShownHundredths(row);
    ASSERT_GE(hundredths, 0) << "status row reads \"" << row << "\"";
    if (!shown.empty()) {
      EXPECT_GE(hundredths, shown.back());
    }
    shown.push_back(hundredths);
    EXPECT_EQ(session.Cursor().row, kStatusRow);
    std::this_thread::sleep_for(Millis(40));
  }
  ASSERT_FALSE(shown.empty());
  EXPECT_GT(shown.back(), shown.front()) << "the position did not move";
  std::vector<int> damage = session.Damage();
  for (int r = 0; r < static_cast<int>(damage.size()); ++r) {
    if (r == kStatusRow) {
      EXPECT_GT(damage[static_cast<std::size_t>(r)], 0);
    } else {
      EXPECT_EQ(damage[static_cast<std::size_t>(r)], 0) << "row " << r;
    }
  }
}

void ExpectClosingScreen(const pty::Session& session) {
  ExpectCommandLines(session);
  EXPECT_EQ(session.Row(kStatusRow), kCloseLine);
  EXPECT_EQ(session.Row(kStatusRow + 1), "Done!");
  EXPECT_EQ(session.Row(kStatusRow + 2), kPrompt);
  EXPECT_EQ(session.FindRow("Playing:"), -1);
}

TEST(Terminal, PlaysToTheEndThenWaitsForAKey) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program({PlayMs(1500)})));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  ExpectCommandLines(session);
  ExpectRedrawnInPlace(session, Millis(500));

  ASSERT_TRUE(session.WaitUntil(
      [&] { return session.FindRow(kPrompt) >= 0; }, kLong));
  // The prompt's line end has been written too.
  EXPECT_TRUE(session.WaitUntil(
      [&] { return session.Cursor() == pty::Position{kStatusRow + 3, 0}; },
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
    testing::Values(Key{"Letter", "q"}, Key{"Capital", "Q"},
                    Key{"Space", " "}, Key{"Enter", "\r"}, Key{"Tab", "\t"},
                    Key{"Backspace", "\x7f"}, Key{"Escape", "\x1b"},
                    Key{"CtrlA", "\x01"}, Key{"NonAscii", "\xc3\xa9"}),
    [](const testing::TestParamInfo<Key>& info) {
      return std::string(info.param.name);
    });

TEST(Terminal, CursorAndFunctionKeysDoNotStopIt) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program({PlayMs(60000)})));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow, "Playing: ", kLong));
  for (const char* key :
       {"\x1b[A", "\x1b[B", "\x1b[C", "\x1b[D", "\x1bOA", "\x1b[H", "\x1b[F",
        "\x1b[1~", "\x1b[2~", "\x1b[3~", "\x1b[5~", "\x1b[6~", "\x1bOP",
        "\x1bOS", "\x1b[15~", "\x1b[24~", "\x1b[1;5C", "\x1b[1;2P"}) {
    session.Send(key);
    std::this_thread::sleep_for(Millis(15));
  }
  ExpectRedrawnInPlace(session, Millis(400));
  EXPECT_EQ(session.Row(kStatusRow + 1), "");

  session.Send("s");
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong));
  ExpectClosingScreen(session);
  session.Send("e");
  ExpectExitZero(session);
}

TEST(Terminal, KeyTypedDuringTheOpenStopsBeforeTheFirstPass) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(
      Program({PlayMs(60000), "MCIPLAY_SCRIPT_OPEN_MS=700"})));
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
  EXPECT_EQ(session.Row(0),
            "open no-sn.xm type pvl_mci alias PELVARO_MCI ...  Error: "
            "Device refused.");
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

INSTANTIATE_TEST_SUITE_P(
    Signals, EndingSignal,
    testing::Values(Ending{"CtrlC", "\x03", 0}, Ending{"SIGINT", nullptr, SIGINT},
                    Ending{"SIGTERM", nullptr, SIGTERM},
                    Ending{"SIGHUP", nullptr, SIGHUP},
                    Ending{"CtrlBackslash", "\x1c", 0}),
    [](const testing::TestParamInfo<Ending>& info) {
      return std::string(info.param.name);
    });

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/mciplay-e2e-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

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
  EXPECT_EQ(ReadFile(dir.path() + "/out.txt"),
            std::string(kOpenLine) + "\r\n" + kTimeLine + "\r\n" + kPlayLine +
                "\r\n" + kCloseLine + "\r\nDone!\r\n" + kPrompt + "\r\n");
  for (const std::string& row : session.Screen()) EXPECT_EQ(row, "");
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

TEST(Terminal, InputNotATerminalPlaysToTheEndAndExits) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(
      ThroughShell("exec \"$0\" < /dev/null", {PlayMs(1500)})));
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
  ASSERT_TRUE(session.Start(pty::Command{
      {"/bin/bash", "-c",
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
