// The player where input or the screen pushes it hardest: floods of records
// that never qualify ahead of a key, and buffers too narrow for the status
// line.
#include "player/player.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/mci_command.h"
#include "tests/support/expected_lines.h"
#include "tests/support/fake_platform.h"

namespace {

// What comes before the key that should stop playback, and again before
// the one that should end the prompt, starting at `at`; gives the time the
// flood is over.
struct Flood {
  const char* name;
  std::uint64_t (*schedule)(std::uint64_t at);
};
void PrintTo(const Flood& flood, std::ostream* out) { *out << flood.name; }

std::uint64_t ArrowKeys(std::uint64_t at) {
  for (int i = 0; i < 1000; ++i) {
    fake::Schedule(at, fake::KeyDown(0, VK_LEFT));
    fake::Schedule(at, fake::KeyUp(0, VK_LEFT));
  }
  return at;
}

// Shift held for a minute: a press record for each repeat.
std::uint64_t HeldShift(std::uint64_t at) {
  for (int i = 0; i < 1800; ++i)
    fake::Schedule(at + 33u * i, fake::KeyDown(0, VK_SHIFT));
  fake::Schedule(at + 33u * 1800, fake::KeyUp(0, VK_SHIFT));
  return at + 33u * 1800;
}

class AfterAFlood : public ::testing::TestWithParam<Flood> {
 protected:
  void SetUp() override { fake::Reset(80, 25); }
};

// Plays a long piece with `before_stop` ahead of the key that should stop
// it and `before_exit` ahead of the one that should end the prompt (each
// given its start, giving when it is over; nullptr: nothing). Expects each
// key to have done so within 15 ms, and gives the time of the close.
std::uint64_t ExpectKeysStillWork(std::uint64_t (*before_stop)(std::uint64_t),
                                  std::uint64_t (*before_exit)(std::uint64_t)) {
  std::uint64_t closed_at = 0;
  fake::DeviceScript script;
  script.length_ms = 10u * 60 * 1000;
  script.override_command = [&](const std::string& command, char*,
                                UINT) -> MCIERROR {
    if (command == kCloseCommand) closed_at = fake::NowMs();
    return static_cast<MCIERROR>(-1);
  };
  fake::UseDevice(script);
  std::uint64_t stop_key = 0;
  if (before_stop != nullptr) {
    stop_key = before_stop(100) + 200;
    fake::Type(stop_key, 'q');
  }
  const std::uint64_t exit_key = before_exit(stop_key + 300) + 200;
  fake::Type(exit_key, 'x');

  EXPECT_EQ(RunPlayer(), 0);
  if (before_stop != nullptr) {
    EXPECT_GE(closed_at, stop_key);
    EXPECT_LE(closed_at, stop_key + 15);
  }
  EXPECT_GE(fake::KeyTakenAt(), exit_key);
  EXPECT_LE(fake::KeyTakenAt(), exit_key + 15);
  EXPECT_EQ(fake::Row(4), "Done!");
  return closed_at;
}

TEST_P(AfterAFlood, AKeyStillStopsPlaybackAndEndsThePromptWithin15Ms) {
  ExpectKeysStillWork(GetParam().schedule, GetParam().schedule);
}

// The first character of a paste stops playback by itself; the drain takes
// its other releases and leaves 10,000 presses, which must not keep the
// next key from ending the prompt.
TEST(AfterAPaste, AKeyStillEndsThePromptWithin15Ms) {
  fake::Reset(80, 25);
  auto paste_at_100 = [](std::uint64_t) -> std::uint64_t {
    for (int i = 0; i < 10000; ++i)
      fake::Type(100, static_cast<char>('a' + i % 26));
    return 2000;
  };
  const std::uint64_t closed_at = ExpectKeysStillWork(nullptr, paste_at_100);
  EXPECT_GE(closed_at, 100u);
  EXPECT_LE(closed_at, 115u);
}

INSTANTIATE_TEST_SUITE_P(Input, AfterAFlood,
                         testing::Values(Flood{"ArrowKeys", ArrowKeys},
                                         Flood{"HeldShift", HeldShift}),
                         [](const testing::TestParamInfo<Flood>& info) {
                           return std::string(info.param.name);
                         });

// The screen at every position query: the line the pass before drew.
struct Screens {
  std::vector<std::vector<std::string>> seen;
  int width_change_at_pass = -1;
  int new_width = 0;
};

void PlayAndWatch(Screens& screens, int passes) {
  fake::DeviceScript script;
  script.length_ms = kPassMs * passes;
  script.override_command = [&screens](const std::string& command, char*,
                                       UINT) -> MCIERROR {
    if (command != kPositionQuery) return static_cast<MCIERROR>(-1);
    if (static_cast<int>(screens.seen.size()) == screens.width_change_at_pass)
      fake::Resize(screens.new_width);
    std::vector<std::string> rows;
    for (int y = 0; y < fake::console().height; ++y)
      rows.push_back(fake::Row(y));
    screens.seen.push_back(rows);
    return static_cast<MCIERROR>(-1);
  };
  fake::UseDevice(script);
  fake::Type(kPassMs * passes + 500, 'x');
  RunPlayer();
}

// The line of pass `pass` (from 0), as `width` columns show it.
std::string StatusText(int pass, int width) {
  std::string text = StatusLineAt(static_cast<std::uint64_t>(pass) * kPassMs);
  text.resize(std::min<std::size_t>(text.size(), width - 1));
  text.erase(text.find_last_not_of(' ') + 1);  // as Row gives it
  return text;
}

// The row below the command lines, where the first pass draws.
int FirstBlankRow(const std::vector<std::string>& rows) {
  int row = static_cast<int>(rows.size());
  while (row > 0 && rows[row - 1].empty()) --row;
  return row;
}

TEST(StatusLine, StaysOnItsRowCutToTheWidthLessOneColumn) {
  for (int width : {20, 30, 41, 42, 80}) {
    fake::Reset(width, 40);
    Screens screens;
    PlayAndWatch(screens, 20);
    ASSERT_EQ(screens.seen.size(), 20u) << width;
    const int status = FirstBlankRow(screens.seen[0]);
    for (std::size_t pass = 1; pass < screens.seen.size(); ++pass) {
      std::vector<std::string> expected = screens.seen[0];
      expected[status] = StatusText(static_cast<int>(pass) - 1, width);
      EXPECT_EQ(screens.seen[pass], expected) << width << " pass " << pass;
    }
  }
}

TEST(StatusLine, FollowsAResizeToANarrowerBuffer) {
  fake::Reset(80, 40);
  Screens screens;
  screens.width_change_at_pass = 10;
  screens.new_width = 30;
  PlayAndWatch(screens, 20);
  ASSERT_EQ(screens.seen.size(), 20u);
  for (std::size_t pass = 11; pass < screens.seen.size(); ++pass) {
    const std::vector<std::string>& rows = screens.seen[pass];
    EXPECT_EQ(rows[3], StatusText(static_cast<int>(pass) - 1, 30)) << pass;
    EXPECT_EQ(FirstBlankRow(rows), 4) << pass;
  }
}

}  // namespace
