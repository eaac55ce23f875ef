// The sound server failing under the program: killed, or hanging; and the
// program itself stopped. The music must never fall silent without cause,
// the position must keep time, no call may wait on the server, and nothing
// of the audio libraries may reach the screen.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "harness/reference_render.h"
#include "harness/signal_compare.h"
#include "tests/audio/listening.h"
#include "tests/support/expected_lines.h"
#include "xmgen/pieces.h"

namespace audio {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Sound all the time, for half a minute.
std::vector<std::uint8_t> Continuous() {
  return xmgen::WriteXm(xmgen::DensePiece(4, 30));
}

// The program's three command lines, its position line, and nothing else.
void ExpectOnlyTheProgramsLines(const std::vector<std::string>& screen) {
  ASSERT_GE(screen.size(), 4u);
  EXPECT_EQ(screen[0], kOpenLine);
  EXPECT_EQ(screen[1], kTimeFormatLine);
  EXPECT_EQ(screen[2], kPlayLine);
  EXPECT_EQ(screen[3].rfind("Playing: ", 0), 0u) << screen[3];
  for (std::size_t row = 4; row < screen.size(); ++row)
    EXPECT_EQ(screen[row], "") << "row " << row;
}

void Wait(milliseconds ms) { std::this_thread::sleep_for(ms); }

TEST_P(Listening, AServerKilledMidPlayIsNotHeardOfAndTheMusicComesBack) {
  PlayerRun run;
  ASSERT_TRUE(run.Start(Continuous(), Env()));
  Wait(milliseconds(1500));
  server_.Kill();
  const SteadyTime killed = steady_clock::now();
  Wait(milliseconds(3000));
  // Meanwhile the position keeps time, and nothing was printed.
  const std::vector<PlayerRun::Shown> shown = run.Positions();
  const long a = ShownAt(shown, killed + milliseconds(500));
  const long b = ShownAt(shown, killed + milliseconds(2500));
  EXPECT_NEAR(b - a, 2000, 100);
  ExpectOnlyTheProgramsLines(run.Screen());

  std::string error;
  ASSERT_TRUE(server_.Start(error)) << error;
  const SteadyTime restarted = steady_clock::now();
  ASSERT_TRUE(
      recorder_.Start(server_.Socket(), SoundServer::MonitorSource(), error))
      << error;
  const auto sound = recorder_.WaitForSound(restarted, milliseconds(2000));
  ASSERT_TRUE(sound) << "no sound within 2 s of the new server";
  std::printf("sound back %.0f ms after the new server\n",
              Ms(*sound - restarted).count());
  Wait(milliseconds(500));
  // The position kept time throughout, within what the change of stream
  // took.
  const long c = ShownAt(run.Positions(), steady_clock::now());
  EXPECT_NEAR(c - a,
              Ms(steady_clock::now() - (killed + milliseconds(500))).count(),
              150);
  ExpectOnlyTheProgramsLines(run.Screen());
  EXPECT_TRUE(run.StopWithKey());
  EXPECT_TRUE(run.Leave());
}

TEST_P(Listening, AServerThatHangsHoldsUpNothing) {
  PlayerRun run;
  ASSERT_TRUE(run.Start(Continuous(), Env()));
  Wait(milliseconds(1500));
  server_.Pause();
  const SteadyTime stopped = steady_clock::now();
  Wait(milliseconds(5000));
  // The position line moved on all along, and a key stops it at once.
  const std::vector<PlayerRun::Shown> shown = run.Positions();
  const long a = ShownAt(shown, stopped);
  const long b = ShownAt(shown, stopped + milliseconds(4900));
  const std::optional<Ms> key = run.StopWithKey();
  server_.Resume();
  EXPECT_NEAR(b - a, 4900, 300);
  ASSERT_TRUE(key);
  std::printf("key to close line with the server stopped: %.1f ms\n",
              key->count());
  // A call that waited on the server would take seconds; the target is
  // 15 ms, which the benchmark measures.
  EXPECT_LT(key->count(), 250.0);
  EXPECT_TRUE(run.Leave());
}

// Stopped (as by Ctrl+Z, or the machine suspended) the program goes on
// where the sound ran dry, as music through a sound card does: what was
// queued is heard, then nothing, and it is not skipped over. Gives the
// moment of the stop.
SteadyTime StopAndContinue(PlayerRun& run, long& before, long& after) {
  Wait(milliseconds(1000));
  before = run.ShownNow();
  const SteadyTime stopped = steady_clock::now();
  kill(run.Pid(), SIGSTOP);
  Wait(milliseconds(3000));
  kill(run.Pid(), SIGCONT);
  Wait(milliseconds(500));
  after = run.ShownNow();
  return stopped;
}

// How long the recording stays silent from the first 50 ms without sound
// at or after `from`.
double SilenceMs(const Samples& rec, std::size_t from) {
  for (std::size_t quiet = from;;) {
    const std::optional<std::size_t> sound = FirstSound(rec, 1e-4f, quiet);
    if (!sound) return 0;
    if (*sound - quiet >= 50 * 48)
      return static_cast<double>(*sound - quiet) / 48.0;
    quiet = *sound + 1;
  }
}

TEST_P(Listening, AfterTheProgramWasStoppedTheMusicGoesOnWhereItWas) {
  const std::vector<std::uint8_t> piece = Continuous();
  PlayerRun run;
  ASSERT_TRUE(run.Start(piece, Env()));
  long before = 0, after = 0;
  const SteadyTime stopped = StopAndContinue(run, before, after);
  EXPECT_GT(after, before);
  EXPECT_LT(after - before, 1000) << "the 3 s stopped were skipped";
  // And it is heard again, from the frame where the sound ran dry: the
  // music is late by exactly the silence, nothing skipped, nothing played
  // twice. Measured: 0.00 ms off in 5 quiet runs and 5 with both cores
  // busy; 0.1 ms leaves room for the comparison's rounding, and a skip of
  // 5 ms fails it.
  ASSERT_TRUE(recorder_.WaitForSound(steady_clock::now(), milliseconds(1000)));
  Wait(milliseconds(500));
  const std::size_t since =
      recorder_.FrameAt(run.PlayedAt() - milliseconds(500)).value_or(0);
  const Samples rec = recorder_.Samples(since);
  const Comparison c = Compare(rec, RenderReference(piece), 0);
  ASSERT_FALSE(c.gaps.empty()) << Describe(c);
  const double silence =
      SilenceMs(rec, recorder_.FrameAt(stopped).value_or(since) - since);
  EXPECT_NEAR(c.gaps[0].shift_ms, silence, 0.1) << Describe(c);
  EXPECT_TRUE(run.StopWithKey());
  EXPECT_TRUE(run.Leave());
}

// The threads of the device and of libpulse take no signals: the
// program's handlers (which give the terminal back, and stop and continue
// the program) must run on its own thread.
TEST_P(Listening, TheSoundThreadsTakeNoSignals) {
  PlayerRun run;
  ASSERT_TRUE(run.Start(Continuous(), Env()));
  Wait(milliseconds(500));
  int others = 0;
  const std::string tasks = "/proc/" + std::to_string(run.Pid()) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks)) {
    if (task.path().filename() == std::to_string(run.Pid()))
      continue;  // the program's own
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigBlk:", 0) != 0) continue;
      const std::uint64_t blocked = std::stoull(line.substr(7), nullptr, 16);
      for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT, SIGWINCH})
        EXPECT_NE(blocked & (std::uint64_t{1} << (sig - 1)), 0u)
            << "signal " << sig;
      ++others;
    }
  }
  EXPECT_GE(others, 2);  // the render thread and libpulse's
  EXPECT_TRUE(run.StopWithKey());
  EXPECT_TRUE(run.Leave());
}

TEST(SilentOutput, AfterTheProgramWasStoppedItGoesOnWhereItWas) {
  PlayerRun run;
  ASSERT_TRUE(run.Start(Continuous(), {"PVL_MCI_OUTPUT=null"}));
  long before = 0, after = 0;
  StopAndContinue(run, before, after);
  EXPECT_GT(after, before);
  EXPECT_LT(after - before, 1000) << "the 3 s stopped were skipped";
  EXPECT_TRUE(run.StopWithKey());
  EXPECT_TRUE(run.Leave());
}

INSTANTIATE_TEST_SUITE_P(Servers, Listening,
                         ::testing::Values(ServerKind::kPulseAudio),
                         ServerName);

}  // namespace
}  // namespace audio
