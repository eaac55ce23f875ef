// The window resized while the position line plays, in columns and rows,
// down to one column or one cell and back: afterwards the line is on the
// screen once, and in the scrollback no stale copy of it is left; after a
// key, the close line is written over it. In tmux, which rewraps lines as
// the window narrows and widens, and in libvterm, which cuts them.
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "harness/pty_session.h"
#include "harness/tmux_pane.h"
#include "tests/support/screen_checks.h"

namespace {

using namespace screen;
using pty::Millis;

struct Resizes {
  const char* name;
  std::vector<std::pair<int, int>> sizes;  // columns, rows; from 80 x 25
};
void PrintTo(const Resizes& r, std::ostream* out) { *out << r.name; }

int Count(const std::vector<std::string>& rows, const std::string& start) {
  int n = 0;
  for (const std::string& row : rows) n += row.rfind(start, 0) == 0;
  return n;
}

bool Eventually(const std::function<bool()>& ready) {
  for (auto end = std::chrono::steady_clock::now() + kLong;
       std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(Millis(20)))
    if (ready()) return true;
  return ready();
}

// A terminal as the test drives it: resized, read, typed into.
struct Window {
  std::function<void(int, int)> resize;
  std::function<std::vector<std::string>()> rows;  // history and screen
  std::function<void(const std::string&)> type;
};

// Plays through the resizes, each held for a few passes, and back to
// 80 x 25; checks the line is there once after the first, where it fits
// (from 10 columns, all 25 rows), and at the end. (A window too short to
// hold the rewrapped line below its first row has the terminal move the
// cursor down the line; what is above may be the program's own echo, so
// the line's head stays there until the window is large again.)
void PlayThrough(const Window& window, const Resizes& resizes) {
  ASSERT_TRUE(Eventually([&] { return Count(window.rows(), "Playing:"); }));
  std::vector<std::pair<int, int>> sizes = resizes.sizes;
  sizes.emplace_back(80, 25);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const auto [columns, rows] = sizes[i];
    window.resize(columns, rows);
    std::this_thread::sleep_for(Millis(250));
    if (i > 0 && i + 1 < sizes.size()) continue;
    std::vector<std::string> seen;
    EXPECT_TRUE(columns < 10 || rows < 25 || Eventually([&] {
                  seen = window.rows();
                  return Count(seen, "Playing:") == 1;
                }))
        << columns << " x " << rows << ": " << testing::PrintToString(seen);
  }

  window.type("q");
  ASSERT_TRUE(Eventually([&] { return Count(window.rows(), kPrompt) == 1; }));
  const std::vector<std::string> seen = window.rows();
  EXPECT_EQ(Count(seen, "Playing:"), 0) << testing::PrintToString(seen);
  EXPECT_EQ(Count(seen, kCloseLine), 1) << testing::PrintToString(seen);
}

class Resized : public testing::TestWithParam<Resizes> {};

TEST_P(Resized, InTmuxNoStaleLineIsLeft) {
  TempDir dir;
  static int runs = 0;
  tmux::Pane pane("mciplay-test-" + std::to_string(getpid()) + "-" +
                  std::to_string(++runs));
  ASSERT_TRUE(pane.Start({MCIPLAY_SCRIPTED}, {PlayMs(60000)}, dir.path()));
  PlayThrough(
      {[&](int c, int r) { pane.Resize(c, r); }, [&] { return pane.History(); },
       [&](const std::string& text) { pane.Type(text); }},
      GetParam());
  // The lines rewrapped back whole: the close line follows the play line.
  const std::vector<std::string> rows = pane.History();
  for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
    if (rows[i] == kPlayLine) {
      EXPECT_EQ(rows[i + 1], kCloseLine);
    }
  }
}

TEST_P(Resized, InLibvtermNoStaleLineIsLeft) {
  pty::Session session(25, 80);
  ASSERT_TRUE(
      session.Start(pty::Command{{MCIPLAY_SCRIPTED}, {PlayMs(60000)}, {}}));
  PlayThrough({[&](int c, int r) { session.Resize(r, c); },
               [&] { return session.Screen(); },
               [&](const std::string& text) { session.Send(text); }},
              GetParam());
  session.Send("x");
  ExpectExitZero(session);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Resized,
    testing::Values(Resizes{"ToOneColumn", {{1, 25}}},
                    Resizes{"ToOneCell", {{1, 1}}},
                    Resizes{"SmallThenOneColumn", {{10, 5}, {1, 25}}},
                    Resizes{"ToTwentyColumns", {{20, 25}}},
                    Resizes{"ToOneRow", {{80, 1}}},
                    Resizes{"OneCellThenHalf", {{1, 1}, {40, 10}}},
                    Resizes{"ToTwoByTwo", {{2, 2}}}),
    [](const testing::TestParamInfo<Resizes>& info) {
      return std::string(info.param.name);
    });

}  // namespace
