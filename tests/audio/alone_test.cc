// The program heard through whole pieces, and while both cores are kept
// busy by other work. Run alone: a gap is what they look for, and the
// busy loops would slow every other test down.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <string>
#include <thread>
#include <utility>

#include "harness/reference_render.h"
#include "harness/signal_compare.h"
#include "tests/audio/listening.h"
#include "xmgen/pieces.h"

namespace audio {
namespace {

using std::chrono::milliseconds;

// A whole piece, from the recording: what the renderer makes from its first
// frame on, nothing lost, nothing added, and it ends where the piece does. The
// bundled piece on PulseAudio; on PipeWire, to keep the tests short, a piece of
// 20 s.
TEST_P(Listening, TheWholePieceIsHeardAsRendered) {
  const std::vector<std::uint8_t> piece = xmgen::WriteXm(
      GetParam() == ServerKind::kPulseAudio ? xmgen::ComposePiece()
                                            : xmgen::DensePiece(8, 20));
  const Samples reference = RenderReference(piece);
  PlayerRun run;
  ASSERT_TRUE(run.Start(piece, Env()));
  const auto length = milliseconds(reference.size() / 2 / 48);
  ASSERT_TRUE(run.WaitForClose(length + milliseconds(10000)));
  std::this_thread::sleep_for(
      milliseconds(300));  // the last frames reach the recorder
  const Comparison c = Compare(RecordingSince(run.PlayedAt()), reference, 0);
  std::printf("whole piece: %s; %s", Describe(c).c_str(), Stats().c_str());
  ASSERT_TRUE(c.aligned);
  EXPECT_GE(c.snr_db, 60.0);
  EXPECT_TRUE(c.gaps.empty()) << Describe(c);
  EXPECT_LE(std::fabs(c.length_error_ms), 20.0);
  EXPECT_TRUE(run.Leave());
}

// How many cores other work keeps busy now, from half a second of the
// system's time counts.
int BusyCores() {
  const auto idle_and_total = [] {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    long long value = 0, idle = 0, total = 0;
    stat >> cpu;
    for (int field = 0; field < 8 && stat >> value; ++field) {
      total += value;
      if (field == 3 || field == 4) idle += value;  // idle, iowait
    }
    return std::pair(idle, total);
  };
  const auto [idle0, total0] = idle_and_total();
  std::this_thread::sleep_for(milliseconds(500));
  const auto [idle1, total1] = idle_and_total();
  const double busy =
      total1 > total0 ? 1.0 - double(idle1 - idle0) / double(total1 - total0)
                      : 0.0;
  return static_cast<int>(std::lround(busy * sysconf(_SC_NPROCESSORS_ONLN)));
}

// Every core busy for the whole 20 s, with a loop for each core that other
// work leaves idle, each a program in a session of its own as a user's
// other work is: nothing is lost. The loops top the machine up rather than
// add to what already runs: with two more loops beside them, PulseAudio's
// main thread (which sends the stream's requests) was seen waiting 340 ms
// to run while runnable, and the server then let the stream run dry for up
// to a second, which no client buffer rides out.
using ListeningOnPulseAudio = Listening;
TEST_P(ListeningOnPulseAudio, NoGapWithBothCoresBusy) {
  const std::vector<std::uint8_t> piece =
      xmgen::WriteXm(xmgen::DensePiece(8, 20));
  const Samples reference = RenderReference(piece);
  std::vector<pid_t> loops;
  const int idle_cores = std::max(
      0, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)) - BusyCores());
  for (int i = 0; i < idle_cores; ++i) {
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
  const Comparison c = Compare(RecordingSince(run.PlayedAt()), reference, 0);
  std::printf("busy cores, %d of the test's own: %s; %s", idle_cores,
              Describe(c).c_str(), Stats().c_str());
  ASSERT_TRUE(c.aligned);
  EXPECT_TRUE(c.gaps.empty()) << Describe(c);
  EXPECT_GE(c.snr_db, 60.0);
  EXPECT_TRUE(run.Leave());
}

INSTANTIATE_TEST_SUITE_P(Servers, Listening, ::testing::ValuesIn(ServerKinds()),
                         ServerName);

INSTANTIATE_TEST_SUITE_P(Servers, ListeningOnPulseAudio,
                         ::testing::Values(ServerKind::kPulseAudio),
                         ServerName);

}  // namespace
}  // namespace audio
