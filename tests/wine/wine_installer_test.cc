// The installer as a scripted install uses it: silently into
// C:\Program Files\mci play of a fresh Wine prefix, a full run of the
// installed program, then the uninstaller, after which no open finds the
// driver. An extension another driver claimed before stays theirs.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "harness/pty_session.h"
#include "tests/wine/wine_run.h"

namespace {

using namespace wine;
namespace fs = std::filesystem;

constexpr char kUninstallKey[] =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\mci play";

// `line` in `prefix`, waiting for every Wine process it started (the
// uninstaller runs on from a copy of itself); its exit code.
int RunIn(const fs::path& prefix, const std::string& line) {
  const int status = std::system(
      (WineIn(prefix) + line + " </dev/null >/dev/null 2>&1").c_str());
  const std::string wait =
      "WINEPREFIX='" + prefix.string() + "' '" MCIPLAY_WINESERVER "' -w";
  if (std::system(wait.c_str()) != 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// mciplay.exe at `exe`, from `dir`, silent, in `prefix`.
pty::Command Program(const fs::path& prefix, const fs::path& exe,
                     const fs::path& dir) {
  pty::Command command;
  command.argv = {MCIPLAY_WINE64, exe.string()};
  command.env = WineEnv(prefix);
  command.env.push_back("PVL_MCI_OUTPUT=null");
  command.dir = dir.string();
  return command;
}

TEST(Installer, InstallsSilentlyRunsAndUninstallsLeavingOthersClaims) {
  const fs::path root = PrefixRoot();
  const fs::path prefix = root / "installer";
  if (root.empty() || !fs::exists(prefix))
    GTEST_SKIP() << "no prefix: run the whole wine label";
  if (!fs::exists(MCIPLAY_INSTALLER))
    GTEST_SKIP() << MCIPLAY_INSTALLER << " is missing (NSIS not installed)";
  TempDir run(root);
  ASSERT_FALSE(run.path().empty());

  // Another driver's extension, there before.
  ASSERT_EQ(RunIn(prefix, "reg add '" + std::string(kExtensionsKey) +
                              "' /v umx /t REG_SZ /d MPEGVideo /f"),
            0);
  ASSERT_EQ(RunIn(prefix, "'" MCIPLAY_INSTALLER
                          "' /S '/D=C:\\Program Files\\mci play'"),
            0);
  const fs::path folder = prefix / "drive_c" / "Program Files" / "mci play";
  ASSERT_TRUE(fs::exists(folder / "mciplay.exe"));
  ExpectRegisteredWithoutABlank(prefix, folder / "pvl_mci.dll");
  EXPECT_EQ(RegistryText(prefix, kExtensionsKey, "xm"), "pvl_mci");
  EXPECT_EQ(RegistryText(prefix, kExtensionsKey, "umx"), "MPEGVideo");
  EXPECT_EQ(RegistryText(prefix, kUninstallKey, "UninstallString"),
            "\"C:\\Program Files\\mci play\\Uninstall.exe\"");

  {
    // From another folder: the driver finds the piece beside the program.
    pty::Session session(24, 80);
    ASSERT_TRUE(
        session.Start(Program(prefix, folder / "mciplay.exe", run.path())));
    ASSERT_TRUE(session.WaitForText(kPlayLine, kStartTimeout))
        << session.Row(0);
    const int top = session.FindRow("open no-sn.xm");
    ASSERT_GE(top, 0);
    screen::ExpectCommandLines(session, top);
    ASSERT_TRUE(session.WaitUntil(
        [&] { return ShownHundredths(session.Row(top + 3)) >= 20; }, 10s))
        << session.Row(top + 3);
    session.Send("x");
    ASSERT_TRUE(session.WaitForRowText(top + 5, kPrompt, 10s));
    EXPECT_EQ(session.Row(top + 3), kCloseLine);
    ExpectWaitsThenExits(session);
  }

  // A copy of the program, to try the open once the driver is gone.
  fs::copy_file(folder / "mciplay.exe", run.path() / "mciplay.exe");
  ASSERT_EQ(RunIn(prefix, "'C:\\Program Files\\mci play\\Uninstall.exe' /S"),
            0);
  EXPECT_FALSE(fs::exists(folder / "pvl_mci.dll"));
  EXPECT_EQ(RegistryText(prefix, kDriversKey, "pvl_mci"), "");
  EXPECT_EQ(RegistryText(prefix, kExtensionsKey, "xm"), "");
  EXPECT_EQ(RegistryText(prefix, kExtensionsKey, "umx"), "MPEGVideo");
  EXPECT_EQ(RegistryText(prefix, kUninstallKey, "UninstallString"), "");

  pty::Session session(24, 200);
  ASSERT_TRUE(
      session.Start(Program(prefix, run.path() / "mciplay.exe", run.path())));
  ASSERT_TRUE(session.WaitForText(kPrompt, kStartTimeout)) << session.Row(0);
  const int top = session.FindRow("open no-sn.xm");
  ASSERT_GE(top, 0);
  EXPECT_NE(session.Row(top).find(" Error: "), std::string::npos);
  EXPECT_NE(session.Row(top).find("not recognized"), std::string::npos)
      << session.Row(top);
  session.Send("\r");
  EXPECT_TRUE(ExitedWithZero(session.WaitExit(15s)));
}

}  // namespace
