// The program under faults from outside: its output cut off or failing, and
// signals at the prompt. Each run ends with exit code 0, in bounded time, and
// the terminal as it was found.
#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/screen_checks.h"

namespace {

using namespace screen;
using pty::Millis;

// The program started by bash, with "$0" standing for it; the line echoes
// the program's exit code when it is done.
pty::Command ThroughBash(const std::string& line,
                         std::vector<std::string> env) {
  return pty::Command{
      {"/bin/bash", "-c", line, MCIPLAY_SCRIPTED}, std::move(env), {}};
}

TEST(Faults, OutputCutShortByHeadMidPlay) {
  // head takes the first 100 bytes and goes; everything after that is
  // written to a closed pipe. Keys still come from the terminal.
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(ThroughBash(
      "\"$0\" | head -c 100; echo; echo \"exit code ${PIPESTATUS[0]}\"",
      {PlayMs(800)})));
  ASSERT_TRUE(session.WaitForText("open no-sn.xm type pvl_mci alias", kLong))
      << Shown(session);
  // The music ends by itself; the prompt, which nobody can read, still
  // waits for a key.
  std::this_thread::sleep_for(Millis(1500));
  EXPECT_EQ(session.FindRow("exit code"), -1) << Shown(session);
  session.Send("x");
  ASSERT_TRUE(session.WaitForText("exit code 0", kLong)) << Shown(session);
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

TEST(Faults, WriteErrorsOnStandardOutputAreIgnored) {
  // /dev/full is a character device that fails every write: each piece of
  // text is written at once, and fails.
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(
      ThroughBash("\"$0\" > /dev/full; echo \"exit code $?\"", {PlayMs(300)})));
  std::this_thread::sleep_for(Millis(1000));
  session.Send("x");
  ASSERT_TRUE(session.WaitForText("exit code 0", kLong)) << Shown(session);
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

struct PromptSignal {
  const char* name;
  int signal;
};

class SignalAtThePrompt : public testing::TestWithParam<PromptSignal> {};

TEST_P(SignalAtThePrompt, LeavesTheTerminalAsFoundWithExitCodeZero) {
  pty::Session session(24, 80);
  ASSERT_TRUE(
      session.Start(pty::Command{{MCIPLAY_SCRIPTED}, {PlayMs(200)}, {}}));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong))
      << Shown(session);
  EXPECT_FALSE(SameSettings(session.SettingsBefore(), session.SettingsNow()))
      << "not in raw mode at the prompt";
  session.Kill(GetParam().signal);
  ExpectExitZero(session);
  EXPECT_TRUE(SameSettings(session.SettingsBefore(), session.SettingsNow()));
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalAtThePrompt,
                         testing::Values(PromptSignal{"SIGINT", SIGINT},
                                         PromptSignal{"SIGTERM", SIGTERM},
                                         PromptSignal{"SIGHUP", SIGHUP},
                                         PromptSignal{"SIGQUIT", SIGQUIT}),
                         [](const testing::TestParamInfo<PromptSignal>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
