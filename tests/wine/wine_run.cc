#include "tests/wine/wine_run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <thread>

namespace wine {

bool ExitedWithZero(const std::optional<int>& status) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

void ExpectSettingsRestored(const pty::Session& session) {
  const termios& before = session.SettingsBefore();
  const termios now = session.SettingsNow();
  EXPECT_EQ(now.c_iflag, before.c_iflag);
  EXPECT_EQ(now.c_oflag, before.c_oflag);
  EXPECT_EQ(now.c_cflag, before.c_cflag);
  EXPECT_EQ(now.c_lflag, before.c_lflag);
  EXPECT_EQ(now.c_cc[VMIN], before.c_cc[VMIN]);
  EXPECT_EQ(now.c_cc[VTIME], before.c_cc[VTIME]);
}

void ExpectWaitsThenExits(pty::Session& session) {
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(session.Running()) << "the prompt did not wait for a key";
  session.Send("\r");
  EXPECT_TRUE(ExitedWithZero(session.WaitExit(15s)));
  ExpectSettingsRestored(session);
}

std::filesystem::path PrefixRoot() {
  std::string root = ReadFile(MCIPLAY_PREFIX_STATE);
  while (!root.empty() && (root.back() == '\n' || root.back() == ' '))
    root.pop_back();
  return root;
}

std::string OutputOf(const std::string& line) {
  std::string out;
  if (FILE* pipe = popen(line.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
  }
  return out;
}

std::vector<std::string> WineEnv(const std::filesystem::path& prefix) {
  return {
      "WINEPREFIX=" + prefix.string(),
      "WINEDEBUG=-all",
      "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d",
  };
}

}  // namespace wine
