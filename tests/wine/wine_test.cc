// The Windows build of the player, run under Wine in a pseudo-terminal
// against the scripted "pvl_mci" driver, and read off the emulated screen.
//
// Wine hands the program keys only from its first console input call on, so
// a test types only once the program has shown that it got there.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness/pty_session.h"
#include "tests/wine/wine_run.h"

namespace {

using namespace wine;

class WineRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(MCIPLAY_WINDOWS_EXE))
      GTEST_SKIP() << MCIPLAY_WINDOWS_EXE << " is missing: no Windows build";
    root_ = PrefixRoot();
    ASSERT_FALSE(root_.empty()) << "no Wine prefix: run the whole wine label";
    run_ = std::make_unique<TempDir>(root_);
    dir_ = run_->path();
    ASSERT_FALSE(dir_.empty());
  }

  std::filesystem::path Log() const { return dir_ / "driver.log"; }

  // The program under Wine in the prefix `prefix` ("registered" or
  // "bare"), with a piece of `length_ms` milliseconds. `argv` replaces the
  // plain loader call when given.
  pty::Command Program(const std::string& prefix, int length_ms,
                       std::vector<std::string> argv = {}) const {
    pty::Command command;
    if (argv.empty()) argv = {MCIPLAY_WINE64, MCIPLAY_WINDOWS_EXE};
    command.argv = std::move(argv);
    command.env = WineEnv(root_ / prefix);
    command.env.push_back(screen::PlayMs(length_ms));
    // Wine's drive Z: is the root of the Unix file system.
    command.env.push_back("MCIPLAY_SCRIPT_LOG=Z:" + Log().string());
    command.dir = dir_.string();
    return command;
  }

  // The commands the driver received, with the status queries of the
  // playback loop counted instead of listed.
  struct DriverTrace {
    std::vector<std::string> commands;
    int status_queries = 0;
  };
  DriverTrace Trace() const {
    DriverTrace trace;
    for (const std::string& line : Lines(ReadFile(Log()))) {
      if (line == "status mode" || line == "status position")
        ++trace.status_queries;
      else
        trace.commands.push_back(line);
    }
    return trace;
  }

  // Starts `command` in `session` and waits until the position line moves
  // and Wine's console has the terminal in raw mode: its input thread may
  // run after the first line is drawn, and keys typed before are echoed and
  // held in the terminal's line buffer. The position line's row, or -1.
  static int StartPlaying(pty::Session& session, const pty::Command& command) {
    if (!session.Start(command) ||
        !session.WaitForText(kPlayLine, kStartTimeout))
      return -1;
    const int row = session.FindRow(kPlayLine) + 1;
    const bool moving = session.WaitUntil(
        [&] { return ShownHundredths(session.Row(row)) >= 0; }, 10s);
    const bool raw =
        moving &&
        session.WaitUntil(
            [&] { return (session.SettingsNow().c_lflag & ECHO) == 0; }, 10s);
    return raw ? row : -1;
  }

  std::filesystem::path root_;
  std::unique_ptr<TempDir> run_;
  std::filesystem::path dir_;
};

// The session shows what the console shows; rows are 0-based.
TEST_F(WineRun, KeyReleaseStopsPlaybackAndPromptWaitsForAnother) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program("registered", 60000)));
  ASSERT_TRUE(session.WaitForText(kPlayLine, kStartTimeout));
  const int top = session.FindRow("open no-sn.xm");
  ASSERT_GE(top, 0);
  screen::ExpectCommandLines(session, top);

  // The position line stays on the row below, redrawn with a later time.
  const int status_row = top + 3;
  int first = -1;
  ASSERT_TRUE(session.WaitUntil(
      [&] { return (first = ShownHundredths(session.Row(status_row))) >= 0; },
      10s))
      << session.Row(status_row);
  int later = -1;
  ASSERT_TRUE(session.WaitUntil(
      [&] {
        later = ShownHundredths(session.Row(status_row));
        return later >= first + 30;
      },
      10s))
      << session.Row(status_row);
  EXPECT_GT(DrawnPositions(session.Transcript()).size(), 2u);
  for (int row = 0; row < session.rows(); ++row) {
    if (row != status_row) {
      EXPECT_EQ(ShownHundredths(session.Row(row)), -1) << "row " << row;
    }
  }
  // Wine's console draws its buffer onto the terminal in pieces of its own,
  // so the cursor may be seen mid-way: it comes back to the status row.
  EXPECT_TRUE(
      session.WaitUntil([&] { return session.Cursor().row == status_row; }, 2s))
      << "cursor on row " << session.Cursor().row;

  session.Send("x");
  ASSERT_TRUE(session.WaitForRowText(status_row + 2, kPrompt, 10s))
      << session.Row(status_row);
  // The close line was written over the blanked status row.
  EXPECT_EQ(session.Row(status_row), kCloseLine);
  EXPECT_EQ(session.Row(status_row + 1), "Done!");
  EXPECT_EQ(session.FindRow("Playing:"), -1);

  // The release that stopped playback was drained: the prompt still waits.
  ExpectWaitsThenExits(session);

  DriverTrace trace = Trace();
  EXPECT_EQ(trace.commands,
            (std::vector<std::string>{"open no-sn.xm", "set time format 0",
                                      "play", "close"}));
  EXPECT_GT(trace.status_queries, 2);
}

// Records that never qualify (a cursor key gives a press and a release
// without a character) must not hide a later key release, however many.
TEST_F(WineRun, KeysStillWorkAfterAThousandArrowKeys) {
  // Each arrow key a write of its own, as a terminal sends a held key:
  // Wine's console reads the terminal as it fills, and a sequence cut by a
  // read while the machine is busy reaches the program as ESC, '[' and 'A'
  // typed (seen in two runs of six with both cores busy).
  const auto send_arrows = [](pty::Session& session) {
    for (int i = 0; i < 1000; ++i) session.Send("\x1b[A");
  };
  pty::Session session(24, 80);
  const int status_row = StartPlaying(session, Program("registered", 600000));
  ASSERT_GE(status_row, 0) << session.Row(0);

  send_arrows(session);
  session.Send("x");
  ASSERT_TRUE(session.WaitForRowText(status_row + 2, kPrompt, 15s))
      << session.Row(status_row);
  EXPECT_EQ(session.Row(status_row), kCloseLine);

  send_arrows(session);
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(session.Running()) << "the arrow keys ended the prompt";
  session.Send("\r");
  EXPECT_TRUE(ExitedWithZero(session.WaitExit(15s)));
  ExpectSettingsRestored(session);
}

// Ctrl+C as Windows delivers it: a control event on a thread of its own,
// while the main thread plays. Wine's console raises it from the ^C byte
// once its input thread has the terminal in raw mode.
TEST_F(WineRun, CtrlCEndsTheStatusLineClosesTheDeviceAndExitsWithZero) {
  pty::Session session(24, 80);
  const int status_row = StartPlaying(session, Program("registered", 60000));
  ASSERT_GE(status_row, 0) << session.Row(0);

  session.Send("\x03");
  EXPECT_TRUE(ExitedWithZero(session.WaitExit(15s)));
  // The status line stays, ended: the shell's prompt comes on the next row.
  EXPECT_GE(ShownHundredths(session.Row(status_row)), 0);
  EXPECT_EQ(session.Cursor().row, status_row + 1)
      << "rows from the status line on: [" << session.Row(status_row) << "] ["
      << session.Row(status_row + 1) << "] [" << session.Row(status_row + 2)
      << "]";
  EXPECT_EQ(session.FindRow("Done!"), -1);
  EXPECT_EQ(session.FindRow(kPrompt), -1);
  ExpectSettingsRestored(session);
  DriverTrace trace = Trace();
  ASSERT_FALSE(trace.commands.empty());
  EXPECT_EQ(trace.commands.back(), "close");
}

TEST_F(WineRun, MusicEndingByItselfClosesTheDevice) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program("registered", 1500)));
  ASSERT_TRUE(session.WaitForText(kPrompt, kStartTimeout));
  const int top = session.FindRow("open no-sn.xm");
  ASSERT_GE(top, 0);
  screen::ExpectCommandLines(session, top);
  EXPECT_EQ(session.Row(top + 3), kCloseLine);
  EXPECT_EQ(session.Row(top + 4), "Done!");
  EXPECT_EQ(session.Row(top + 5), kPrompt);

  // The positions drawn ran up toward the end of the piece (the last pass
  // comes one pass before the device says it stopped; a pass takes
  // milliseconds) and never past it.
  std::vector<int> drawn = DrawnPositions(session.Transcript());
  ASSERT_FALSE(drawn.empty());
  EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end()));
  EXPECT_GE(drawn.back(), 75);
  EXPECT_LE(drawn.back(), 150);

  ExpectWaitsThenExits(session);
  EXPECT_EQ(Trace().commands.back(), "close");
}

TEST_F(WineRun, OpenFailsWhenNoDriverIsRegistered) {
  // Wide enough for winmm's long reason to stay on the open line's row.
  pty::Session session(24, 200);
  ASSERT_TRUE(session.Start(Program("bare", 1000)));
  ASSERT_TRUE(session.WaitForText(kPrompt, kStartTimeout));
  const int top = session.FindRow("open no-sn.xm");
  ASSERT_GE(top, 0);
  const std::string failed = kOpenFailed;
  EXPECT_EQ(session.Row(top).substr(0, failed.size()), failed)
      << session.Row(top);
  // The service's own text for the error, not an empty reason.
  EXPECT_GT(session.Row(top).size(), failed.size() + 10) << session.Row(top);
  EXPECT_EQ(session.Row(top + 1), kPrompt);
  EXPECT_EQ(session.FindRow("set PELVARO_MCI"), -1);
  EXPECT_EQ(session.FindRow("Done!"), -1);

  ExpectWaitsThenExits(session);
  EXPECT_FALSE(std::filesystem::exists(Log())) << "a driver was loaded";
}

TEST_F(WineRun, OutputToAFileHoldsTheLinesAndNoPositions) {
  const std::filesystem::path out = dir_ / "out.txt";
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(
      Program("registered", 1000,
              {"/bin/sh", "-c", "exec \"$0\" \"$1\" >\"$2\"", MCIPLAY_WINE64,
               MCIPLAY_WINDOWS_EXE, out.string()})));

  // Nothing shows on the screen, so follow the driver until the close.
  ASSERT_TRUE(session.WaitUntil(
      [&] {
        DriverTrace trace = Trace();
        return !trace.commands.empty() && trace.commands.back() == "close";
      },
      kStartTimeout))
      << "the device was never closed";
  // A key typed before the keyboard is drained is taken away, so keep
  // typing until the program ends.
  std::optional<int> status;
  for (int tries = 0; tries < 50 && !status; ++tries) {
    session.Send("k");
    status = session.WaitExit(200ms);
  }
  EXPECT_TRUE(ExitedWithZero(status));

  EXPECT_EQ(ReadFile(out), kLinesOfAWholeRun);
}

// Imported DLL names of a Windows binary, in lower case.
std::set<std::string> ImportedDlls(const std::string& binary) {
  std::set<std::string> dlls;
  const std::string tag = "DLL Name: ";
  for (const std::string& text :
       Lines(OutputOf(std::string(MCIPLAY_OBJDUMP) + " -p '" + binary +
                      "' 2>/dev/null"))) {
    std::size_t at = text.find(tag);
    if (at == std::string::npos) continue;
    std::string name = text.substr(at + tag.size());
    while (!name.empty() &&
           std::isspace(static_cast<unsigned char>(name.back())))
      name.pop_back();
    for (char& c : name)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    dlls.insert(name);
  }
  return dlls;
}

// The DLLs every Windows has: the C runtime (msvcrt, or the universal one
// with its api sets), and those of the system the binary needs.
bool IsSystemDll(const std::string& name, const std::set<std::string>& needs) {
  static const std::set<std::string> runtime = {"msvcrt.dll", "ucrtbase.dll"};
  return needs.count(name) > 0 || runtime.count(name) > 0 ||
         name.rfind("api-ms-win-crt-", 0) == 0;
}

TEST(WindowsBuild, BinariesImportOnlySystemDlls) {
  const std::set<std::string> program = {"kernel32.dll", "winmm.dll"};
  const std::set<std::string> driver = {"kernel32.dll", "winmm.dll",
                                        "advapi32.dll"};
  const std::pair<const char*, std::set<std::string>> binaries[] = {
      {MCIPLAY_WINDOWS_EXE, program},
      {MCIPLAY_WINDOWS_DLL, program},
      {MCIPLAY_DRIVER_DLL, driver}};
  for (const auto& [binary, needs] : binaries) {
    if (!std::filesystem::exists(binary))
      GTEST_SKIP() << binary << " is missing: no Windows build";
    std::set<std::string> dlls = ImportedDlls(binary);
    EXPECT_TRUE(dlls.count("kernel32.dll")) << binary;
    EXPECT_TRUE(dlls.count("winmm.dll")) << binary;
    for (const std::string& dll : dlls) {
      EXPECT_TRUE(IsSystemDll(dll, needs)) << binary << " imports " << dll;
    }
  }
}

}  // namespace
