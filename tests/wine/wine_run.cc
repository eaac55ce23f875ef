#include "tests/wine/wine_run.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <system_error>

namespace wine {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int ShownPosition(const std::string& row) {
  static const std::regex status(
      R"(Playing: (\d\d):(\d\d)\.(\d\d) \.\.\.press a Key to stop\.)");
  std::smatch m;
  if (!std::regex_match(row, m, status)) return -1;
  return std::stoi(m[1]) * 6000 + std::stoi(m[2]) * 100 + std::stoi(m[3]);
}

std::vector<int> DrawnPositions(const std::string& transcript) {
  static const std::regex status(R"(Playing: (\d\d):(\d\d)\.(\d\d))");
  std::vector<int> positions;
  for (std::sregex_iterator it(transcript.begin(), transcript.end(), status),
       end;
       it != end; ++it) {
    positions.push_back(std::stoi((*it)[1]) * 6000 +
                        std::stoi((*it)[2]) * 100 + std::stoi((*it)[3]));
  }
  return positions;
}

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

std::filesystem::path PrefixRoot() {
  std::string root = ReadFile(MCIPLAY_PREFIX_STATE);
  while (!root.empty() && (root.back() == '\n' || root.back() == ' '))
    root.pop_back();
  return root;
}

std::vector<std::string> WineEnv(const std::filesystem::path& prefix) {
  return {
      "WINEPREFIX=" + prefix.string(),
      "WINEDEBUG=-all",
      "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d",
  };
}

RunDir::RunDir(const std::filesystem::path& root) {
  std::string pattern = (root / "run-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

RunDir::~RunDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace wine
