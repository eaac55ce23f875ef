// The Windows package as a user gets it: unzipped into a folder whose path
// holds spaces (C:\users\First Last\Downloads\...) of a fresh Wine prefix,
// its register.cmd run (Wine's regsvr32), and mciplay.exe played from the
// folder in a pseudo-terminal through winmm's own MCI and our pvl_mci.dll.
// These runs are silent (PVL_MCI_OUTPUT=null); the audio test plays through a
// sound server.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "harness/pty_session.h"
#include "tests/wine/wine_run.h"
#include "xmgen/pieces.h"
#include "xmgen/xm_writer.h"

namespace {

using namespace wine;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class Package : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = PrefixRoot();
    if (root_.empty() || !fs::exists(Folder()))
      GTEST_SKIP() << "no unzipped package: run the whole wine label";
    run_ = std::make_unique<TempDir>(root_);
    ASSERT_FALSE(run_->path().empty());
  }

  fs::path Folder() const { return PackageFolder(root_); }

  // mciplay.exe of the unzipped folder, run from `dir` in the prefix
  // `prefix` with the silent output.
  pty::Command Program(const fs::path& dir,
                       const std::string& prefix = "package") const {
    pty::Command command;
    command.argv = {MCIPLAY_WINE64, (Folder() / "mciplay.exe").string()};
    command.env = WineEnv(root_ / prefix);
    command.env.push_back("PVL_MCI_OUTPUT=null");
    command.dir = dir.string();
    return command;
  }

  std::string Wine() const { return WineIn(root_ / "package"); }

  std::string Registered() const {
    return RegistryText(root_ / "package", kDriversKey, "pvl_mci");
  }

  int RunScript(const std::string& script) const {
    const std::string command = Wine() + "cmd /c '" + PackageWindowsFolder() +
                                "\\" + script + "' </dev/null >/dev/null 2>&1";
    return std::system(command.c_str());
  }

  // A key after the prompt ends the program with exit code 0.
  static void ExpectPromptThenExit(pty::Session& session, int prompt_row) {
    EXPECT_EQ(session.Row(prompt_row), kPrompt);
    ExpectWaitsThenExits(session);
  }

  fs::path root_;
  std::unique_ptr<TempDir> run_;
};

TEST_F(Package, HoldsTheProgramTheDriverThePieceAndTheScripts) {
  std::set<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(Folder()))
    names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"mciplay.exe", "pvl_mci.dll",
                                          "no-sn.xm", "register.cmd",
                                          "unregister.cmd", "README.txt"}));
}

TEST_F(Package, TheScriptsRegisterAndUnregisterTheDriverFromAFolderWithSpaces) {
  const fs::path dll = Folder() / "pvl_mci.dll";
  ExpectRegisteredWithoutABlank(root_ / "package", dll);
  ASSERT_EQ(RunScript("unregister.cmd"), 0);
  EXPECT_EQ(Registered(), "");
  EXPECT_EQ(RegistryText(root_ / "package", kExtensionsKey, "xm"), "");
  ASSERT_EQ(RunScript("register.cmd"), 0);
  ExpectRegisteredWithoutABlank(root_ / "package", dll);
  EXPECT_EQ(RegistryText(root_ / "package", kExtensionsKey, "xm"), "pvl_mci");
}

TEST_F(Package, PlaysTheBundledPieceUntilAKeyIsReleased) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program(Folder())));
  ASSERT_TRUE(session.WaitForText(kPlayLine, kStartTimeout)) << session.Row(0);
  const int top = session.FindRow("open no-sn.xm");
  ASSERT_GE(top, 0);
  screen::ExpectCommandLines(session, top);

  // The position runs on in place, on the row below the play line.
  const int status_row = top + 3;
  int first = -1, later = -1;
  ASSERT_TRUE(session.WaitUntil(
      [&] { return (first = ShownHundredths(session.Row(status_row))) >= 0; },
      10s))
      << session.Row(status_row);
  ASSERT_TRUE(session.WaitUntil(
      [&] {
        return (later = ShownHundredths(session.Row(status_row))) >= first + 50;
      },
      10s))
      << session.Row(status_row);
  std::vector<int> drawn = DrawnPositions(session.Transcript());
  EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end()));
  EXPECT_EQ(session.FindRow("Playing:"), status_row);

  session.Send("x");
  ASSERT_TRUE(session.WaitForRowText(status_row + 2, kPrompt, 10s))
      << session.Row(status_row);
  EXPECT_EQ(session.Row(status_row), kCloseLine);
  EXPECT_EQ(session.Row(status_row + 1), "Done!");
  EXPECT_EQ(session.FindRow("Playing:"), -1);
  ExpectPromptThenExit(session, status_row + 2);
}

TEST_F(Package, APieceOfKnownLengthEndsByItselfAtItsLength) {
  // In the current folder, the piece takes the place of the bundled one.
  constexpr int kLengthMs = 3000;
  const std::vector<std::uint8_t> piece =
      xmgen::WriteXm(xmgen::TimedPiece(kLengthMs));
  run_->Write("no-sn.xm", piece);

  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program(run_->path())));
  ASSERT_TRUE(session.WaitForText(kPlayLine, kStartTimeout)) << session.Row(0);
  const Clock::time_point played = Clock::now();
  ASSERT_TRUE(session.WaitForText(kCloseLine, 10s));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      Clock::now() - played);
  EXPECT_NEAR(took.count(), kLengthMs, 300);

  const int top = session.FindRow("open no-sn.xm");
  ASSERT_GE(top, 0);
  ASSERT_TRUE(session.WaitForRowText(top + 5, kPrompt, 5s));
  EXPECT_EQ(session.Row(top + 3), kCloseLine);
  EXPECT_EQ(session.Row(top + 4), "Done!");
  // The last position drawn is near the end, never past it.
  std::vector<int> drawn = DrawnPositions(session.Transcript());
  ASSERT_FALSE(drawn.empty());
  EXPECT_LE(drawn.back(), kLengthMs / 10);
  EXPECT_GE(drawn.back(), kLengthMs / 10 - 30);
  ExpectPromptThenExit(session, top + 5);
}

// Runs `commands` through winmm's mciSendStringA in the package prefix, from
// `dir`; one "result reply" line per command.
std::vector<std::string> SendThroughWinmm(
    const fs::path& root, const fs::path& dir,
    const std::vector<std::string>& commands) {
  std::string line = "cd '" + dir.string() + "' && WINEPREFIX='" +
                     (root / "package").string() +
                     "' WINEDEBUG=-all PVL_MCI_OUTPUT=null '" MCIPLAY_WINE64
                     "' '" +
                     MCIPLAY_MCI_SEND "'";
  for (const std::string& c : commands) line += " '" + c + "'";
  std::vector<std::string> lines = Lines(OutputOf(line + " 2>/dev/null"));
  for (std::string& l : lines) l.erase(l.find_last_not_of("\r ") + 1);
  return lines;
}

TEST_F(Package, TheDriverAnswersTheCommandsWinmmParses) {
  if (!fs::exists(MCIPLAY_MCI_SEND))
    GTEST_SKIP() << MCIPLAY_MCI_SEND << " is missing";
  const std::vector<std::uint8_t> piece =
      xmgen::WriteXm(xmgen::TimedPiece(3000));
  run_->Write("piece.xm", piece);
  const std::vector<std::string> replies =
      SendThroughWinmm(root_, run_->path(),
                       {"open piece.xm type pvl_mci alias m",
                        "status m length",
                        "status m ready",
                        "status m time format",
                        "set m time format ms",
                        "play m from 1000 to 2000",
                        "status m mode",
                        "pause m",
                        "status m mode",
                        "status m position",
                        "resume m",
                        "status m mode",
                        "seek m to 2500",
                        "status m mode",
                        "status m position",
                        "seek m to end",
                        "status m position",
                        "seek m to start",
                        "status m position",
                        "play m from 4000",
                        "play m notify",
                        "play m from 2800 wait",
                        "status m mode",
                        "status m position",
                        "close m"});
  ASSERT_EQ(replies.size(), 25u);
  EXPECT_EQ(replies[0].substr(0, 2), "0 ");
  EXPECT_EQ(replies[1], "0 3000");
  EXPECT_EQ(replies[2], "0 true");
  EXPECT_EQ(replies[3], "0 milliseconds");
  EXPECT_EQ(replies[4], "0");
  EXPECT_EQ(replies[5], "0");
  EXPECT_EQ(replies[6], "0 playing");
  EXPECT_EQ(replies[7], "0");
  EXPECT_EQ(replies[8], "0 paused");
  const int paused_at = std::stoi(replies[9].substr(2));
  EXPECT_GE(paused_at, 1000);
  EXPECT_LE(paused_at, 2000);
  EXPECT_EQ(replies[10], "0");
  EXPECT_EQ(replies[11], "0 playing");
  EXPECT_EQ(replies[12], "0");
  EXPECT_EQ(replies[13], "0 stopped");
  EXPECT_EQ(replies[14], "0 2500");
  EXPECT_EQ(replies[16], "0 3000");
  EXPECT_EQ(replies[18], "0 0");
  EXPECT_EQ(replies[19], std::to_string(MCIERR_OUTOFRANGE));
  // Notify is taken; with no window given, nothing is posted.
  EXPECT_EQ(replies[20], "0");
  // With wait, play returns once the piece has ended.
  EXPECT_EQ(replies[21], "0");
  EXPECT_EQ(replies[22], "0 stopped");
  EXPECT_EQ(replies[23], "0 3000");
  EXPECT_EQ(replies[24], "0");
}

// A failed open names its reason on its own line (the terminal is wide
// enough for winmm's long texts), then the program goes to the prompt.
void ExpectOpenFailsWithAReason(pty::Session& session) {
  ASSERT_TRUE(session.WaitForText(kPrompt, kStartTimeout));
  const int top = session.FindRow("open no-sn.xm");
  ASSERT_GE(top, 0);
  const std::string line = session.Row(top);
  ASSERT_EQ(line.substr(0, std::string(kOpenFailed).size()), kOpenFailed)
      << line;
  EXPECT_GT(line.size(), std::string(kOpenFailed).size() + 10) << line;
  EXPECT_EQ(session.Row(top + 1), kPrompt);
  EXPECT_EQ(session.FindRow("set PELVARO_MCI"), -1);
}

TEST_F(Package, AnUnplayableFileFailsTheOpenWithAReason) {
  std::ofstream(run_->path() / "no-sn.xm") << "This is not music.\n";
  pty::Session session(24, 200);
  ASSERT_TRUE(session.Start(Program(run_->path())));
  ExpectOpenFailsWithAReason(session);
  session.Send("\r");
  EXPECT_TRUE(ExitedWithZero(session.WaitExit(15s)));
}

TEST_F(Package, NoDriverRegisteredFailsTheOpenWithAReason) {
  pty::Session session(24, 200);
  ASSERT_TRUE(session.Start(Program(Folder(), "bare")));
  ExpectOpenFailsWithAReason(session);
  session.Send("\r");
  EXPECT_TRUE(ExitedWithZero(session.WaitExit(15s)));
}

}  // namespace
