// The player where input pushes it hardest: floods of records that never
// qualify ahead of a key.
#include "player/player.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "player/mci_command.h"

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
  EXPECT_GE(fake::NowMs(), exit_key);
  EXPECT_LE(fake::NowMs(), exit_key + 15);
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

INSTANTIATE_TEST_SUITE_P(
    Input, AfterAFlood,
    testing::Values(Flood{"ArrowKeys", ArrowKeys},
                    Flood{"HeldShift", HeldShift}),
    [](const testing::TestParamInfo<Flood>& info) {
      return std::string(info.param.name);
    });

}  // namespace
