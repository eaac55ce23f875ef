#include "tests/support/screen_checks.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace screen {

int ShownHundredths(const std::string& row) {
  static const std::regex kStatus(
      R"(Playing: (\d\d):(\d\d)\.(\d\d) \.\.\.press a Key to stop\.)");
  std::smatch m;
  if (!std::regex_match(row, m, kStatus)) return -1;
  return std::stoi(m[1]) * 6000 + std::stoi(m[2]) * 100 + std::stoi(m[3]);
}

std::vector<int> DrawnPositions(const std::string& transcript) {
  static const std::regex kTime(R"(Playing: (\d\d):(\d\d)\.(\d\d))");
  std::vector<int> positions;
  for (std::sregex_iterator it(transcript.begin(), transcript.end(), kTime),
       end;
       it != end; ++it) {
    positions.push_back(std::stoi((*it)[1]) * 6000 + std::stoi((*it)[2]) * 100 +
                        std::stoi((*it)[3]));
  }
  return positions;
}

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
         a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

std::string Shown(const pty::Session& session) {
  std::string text = "\nscreen:\n";
  for (const std::string& row : session.Screen()) text += "|" + row + "\n";
  return text;
}

void ExpectExitZero(pty::Session& session) {
  std::optional<int> status = session.WaitExit(kLong);
  ASSERT_TRUE(status) << "still running" << Shown(session);
  ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

void ExpectCommandLines(const pty::Session& session, int top) {
  EXPECT_EQ(session.Row(top), kOpenLine);
  EXPECT_EQ(session.Row(top + 1), kTimeFormatLine);
  EXPECT_EQ(session.Row(top + 2), kPlayLine);
}

// The position a status line cut to `width` - 1 columns shows, or -1.
int ShownCutHundredths(const std::string& row, int width) {
  static const std::regex kTime(R"(Playing: (\d\d):(\d\d)\.(\d\d))");
  std::smatch m;
  if (!std::regex_search(row, m, kTime) || m.position(0) != 0) return -1;
  std::string full = m.str(0) + " ...press a Key to stop.";
  full.resize(std::min<std::size_t>(full.size(), width - 1));
  full.erase(full.find_last_not_of(' ') + 1);
  if (row != full) return -1;
  return std::stoi(m[1]) * 6000 + std::stoi(m[2]) * 100 + std::stoi(m[3]);
}

void ExpectRedrawnInPlace(pty::Session& session, pty::Millis span) {
  ExpectRedrawnInPlaceAt(session, kStatusRow, span);
}

void ExpectRedrawnInPlaceAt(pty::Session& session, int status_row,
                            pty::Millis span) {
  session.ResetDamage();
  std::vector<int> shown;
  auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) {
    std::string row = session.Row(status_row);
    int hundredths = ShownCutHundredths(row, session.cols());
    ASSERT_GE(hundredths, 0) << "status row reads \"" << row << "\"";
    if (!shown.empty()) {
      EXPECT_GE(hundredths, shown.back());
    }
    shown.push_back(hundredths);
    EXPECT_EQ(session.Cursor().row, status_row);
    std::this_thread::sleep_for(pty::Millis(40));
  }
  ASSERT_FALSE(shown.empty());
  EXPECT_GT(shown.back(), shown.front()) << "the position did not move";
  std::vector<int> damage = session.Damage();
  for (int r = 0; r < static_cast<int>(damage.size()); ++r) {
    if (r == status_row) {
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

std::string PlayMs(int ms) { return "MCIPLAY_SCRIPT_MS=" + std::to_string(ms); }

pty::Command InteractiveShell(std::vector<std::string> env) {
  env.insert(env.begin(), {"PS1=$ ", "HISTFILE=/dev/null"});
  return pty::Command{
      {"/bin/bash", "--norc", "--noprofile", "-i"}, std::move(env), {}};
}

bool WaitForShellAfter(pty::Session& session, const std::string& text) {
  return session.WaitUntil(
      [&] {
        std::string seen = session.Transcript();
        std::size_t at = seen.rfind(text);
        return at != std::string::npos &&
               seen.find("$ ", at + text.size()) != std::string::npos;
      },
      kLong);
}

}  // namespace screen
