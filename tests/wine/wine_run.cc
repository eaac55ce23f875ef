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

std::filesystem::path PackageFolder(const std::filesystem::path& root) {
  return root / "package" / "drive_c" / "users" / "First Last" / "Downloads" /
         MCIPLAY_PACKAGE_FOLDER;
}

std::string PackageWindowsFolder() {
  return "C:\\users\\First Last\\Downloads\\" MCIPLAY_PACKAGE_FOLDER;
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

std::string WineIn(const std::filesystem::path& prefix) {
  return "WINEPREFIX='" + prefix.string() +
         "' WINEDEBUG=-all '" MCIPLAY_WINE64 "' ";
}

std::string RegistryText(const std::filesystem::path& prefix,
                         const std::string& key, const std::string& name) {
  const std::string out = OutputOf(WineIn(prefix) + "reg query '" + key +
                                   "' /v '" + name + "' 2>/dev/null");
  const std::size_t at = out.find("REG_SZ");
  if (at == std::string::npos) return {};
  std::string data = out.substr(out.find_first_not_of(' ', at + 6));
  data.erase(data.find_last_not_of("\r\n ") + 1);
  return data;
}

void ExpectRegisteredWithoutABlank(const std::filesystem::path& prefix,
                                   const std::filesystem::path& dll) {
  const std::string value = RegistryText(prefix, kDriversKey, "pvl_mci");
  EXPECT_EQ(value.find(' '), std::string::npos) << value;
  std::string unix_path =
      OutputOf(WineIn(prefix) + "winepath -u '" + value + "' 2>/dev/null");
  unix_path.erase(unix_path.find_last_not_of("\r\n") + 1);
  std::error_code error;
  EXPECT_TRUE(!unix_path.empty() &&
              std::filesystem::equivalent(unix_path, dll, error))
      << value << " is " << unix_path;
}

std::vector<std::string> WineEnv(const std::filesystem::path& prefix) {
  return {
      "WINEPREFIX=" + prefix.string(),
      "WINEDEBUG=-all",
      "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d",
  };
}

}  // namespace wine
