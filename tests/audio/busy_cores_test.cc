// The program heard while both cores are kept busy by other work. Run
// alone: the busy loops would slow every other test down.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/audio/listening.h"
#include "tests/audio/reference_render.h"
#include "xmgen/pieces.h"

namespace audio {
namespace {

using std::chrono::milliseconds;

// A busy loop per core, each a program in a session of its own as a
// user's other work is, for the whole 20 s: nothing is lost.
TEST_P(Listening, NoGapWithBothCoresBusy) {
  const std::vector<std::uint8_t> piece = xmgen::WriteXm(xmgen::DensePiece(8, 20));
  const Samples reference = RenderReference(piece);
  std::vector<pid_t> loops;
  for (int i = 0; i < 2; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      setsid();
      volatile bool spin = true;
      while (spin) {
      }
    }
    if (pid > 0) loops.push_back(pid);
  }
  PlayerRun run;
  const bool started = run.Start(piece, Env());
  const bool closed = started && run.WaitForClose(milliseconds(35000));
  for (pid_t pid : loops) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  ASSERT_TRUE(closed);
  std::this_thread::sleep_for(milliseconds(300));
  const Comparison c = Compare(RecordingSince(run.PlayedAt()), reference, kComparedFrom);
  std::printf("two busy cores: %s\n", Describe(c).c_str());
  ASSERT_TRUE(c.aligned);
  EXPECT_TRUE(c.gaps.empty()) << Describe(c);
  EXPECT_GE(c.snr_db, 60.0);
  EXPECT_TRUE(run.Leave());
}

INSTANTIATE_TEST_SUITE_P(Servers, Listening, ::testing::Values(ServerKind::kPulseAudio),
                         [](const auto& info) { return KindName(info.param); });

}  // namespace
}  // namespace audio
