// Ctrl+C, Ctrl+Break and the console window closing, as Windows delivers
// them: the handler the program installed, called while it plays or waits
// at the prompt. The program ends the line it drew, closes the device
// without a word, and returns 0.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "player/player.h"
#include "tests/support/expected_lines.h"
#include "tests/support/fake_platform.h"

namespace {

// A piece of `length_ms`; the handler is called with `event` as the
// `at`-th `command` is sent.
void PlayAndInterrupt(DWORD event, std::uint32_t length_ms,
                      const std::string& command, int at) {
  fake::Reset(80, 25);
  fake::DeviceScript script;
  script.length_ms = length_ms;
  int sent = 0;
  script.override_command = [&](const std::string& c, char*, UINT) {
    if (c == command && ++sent == at) fake::console().control_handler(event);
    return static_cast<MCIERROR>(-1);  // as the script plays it
  };
  fake::UseDevice(script);
  EXPECT_EQ(RunPlayer(), 0);
}

class Interrupt : public ::testing::TestWithParam<DWORD> {};

TEST_P(Interrupt, WhilePlayingEndsTheStatusLineClosesAndReturns) {
  PlayAndInterrupt(GetParam(), 60000, "status PELVARO_MCI position", 5);
  const auto& commands = fake::media().commands;
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back(), "close PELVARO_MCI");
  EXPECT_EQ(fake::Count(commands, "close PELVARO_MCI"), 1);
  // The line as drawn last, ended; nothing after it.
  const std::string& bytes = fake::console().bytes;
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  EXPECT_EQ(fake::Row(3).substr(0, 8), "Playing:") << fake::Row(3);
  EXPECT_EQ(fake::Row(4), "");
  EXPECT_EQ(fake::console().y, 4);
  EXPECT_EQ(bytes.find("Done!"), std::string::npos);
  EXPECT_EQ(bytes.find(kPrompt), std::string::npos);
}

TEST_P(Interrupt, AfterTheCloseEndsTheRunBeforeThePrompt) {
  PlayAndInterrupt(GetParam(), 30, "close PELVARO_MCI", 1);
  EXPECT_EQ(fake::Row(4), "Done!");
  EXPECT_EQ(fake::Row(5), "");
  EXPECT_EQ(fake::Count(fake::media().commands, "close PELVARO_MCI"), 1);
}

INSTANTIATE_TEST_SUITE_P(Events, Interrupt,
                         ::testing::Values(CTRL_C_EVENT, CTRL_BREAK_EVENT,
                                           CTRL_CLOSE_EVENT));

}  // namespace
