// The program playing through a sound server of the test's own, as a user
// hears it: the null sink's monitor is recorded and compared with
// libopenmpt's own rendering of the same piece.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "harness/reference_render.h"
#include "harness/signal_compare.h"
#include "player/player.h"
#include "tests/audio/listening.h"
#include "xmgen/pieces.h"

namespace audio {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Every start of the program is heard: sound on the monitor soon after
// the play line, each time.
void ExpectStartsHeard(const std::vector<std::string>& env, int starts,
                       const MonitorRecorder& recorder) {
  const std::vector<std::uint8_t> piece =
      xmgen::WriteXm(xmgen::TimedPiece(2000));
  std::vector<double> delays;
  for (int i = 0; i < starts; ++i) {
    PlayerRun run;
    ASSERT_TRUE(run.Start(piece, env)) << "start " << i;
    const auto sound =
        recorder.WaitForSound(run.PlayedAt(), milliseconds(2500));
    // Where the recording stood: a server or recorder gone quiet shows
    // here, not in the program's run.
    EXPECT_TRUE(sound) << "start " << i << " was not heard; recorded "
                       << recorder.Frames() << " frames, the last played at "
                       << recorder.FrameAt(steady_clock::now()).value_or(0)
                       << (recorder.Lost() ? ", server lost" : "");
    if (sound) delays.push_back(Ms(*sound - run.PlayedAt()).count());
    ASSERT_TRUE(run.StopWithKey()) << "start " << i;
    ASSERT_TRUE(run.Leave()) << "start " << i;
  }
  std::sort(delays.begin(), delays.end());
  if (!delays.empty())
    std::printf(
        "heard %zu of %d; play line to sound: median %.0f ms, worst %.0f ms\n",
        delays.size(), starts, delays[delays.size() / 2], delays.back());
}

TEST_P(Listening, FiftyStartsAreAllHeard) {
  ExpectStartsHeard(Env(), 50, recorder_);
}

// The same through ALSA, where the program's own server is away.
using ListeningOnPulseAudio = Listening;
TEST_P(ListeningOnPulseAudio, StartsOnALSAAreHeardToo) {
  ExpectStartsHeard(AlsaRouteEnv(), 10, recorder_);
}

// The position line shows what is heard: a piece whose notes start every
// half second, each onset on the monitor against the line at that moment.
TEST_P(Listening, ThePositionShownIsWhatIsHeard) {
  constexpr int kNotes = 8;
  PlayerRun run;
  ASSERT_TRUE(
      run.Start(xmgen::WriteXm(xmgen::TimedPiece(kNotes * 500)), Env()));
  ASSERT_TRUE(run.WaitForClose(milliseconds(kNotes * 500 + 10000)));
  std::this_thread::sleep_for(milliseconds(200));
  const std::vector<PlayerRun::Shown> shown = run.Positions();
  // A reading at most passes of the line. With both cores busy, a pass
  // was seen held for up to 0.9 s (two players' at once, a hold of the
  // machine's), and 63 readings of 100 passes came then.
  ASSERT_GT(shown.size(), kNotes * 500 / kPassMs / 2);
  std::optional<std::size_t> from =
      recorder_.FrameAt(run.PlayedAt() - milliseconds(100));
  ASSERT_TRUE(from);
  int off = 0;
  for (int k = 0; k < kNotes; ++k) {
    const std::optional<std::size_t> onset = recorder_.FirstSound(*from, 1e-3f);
    ASSERT_TRUE(onset) << "note " << k;
    const SteadyTime heard_at = *recorder_.TimeOfFrame(*onset);
    // The line read a little late shows a little less: the least late
    // reading, carried to the onset, is what the line showed then. (The
    // line stands at 0 until the first frame is heard: only moving
    // readings carry.)
    double best = -1e9;
    for (const PlayerRun::Shown& s : shown) {
      const double apart = Ms(heard_at - s.at).count();
      if (s.ms > 0 && std::fabs(apart) < 300)
        best = std::max(best, s.ms + apart);
    }
    const double offset = best - 500.0 * k;
    std::printf("note %d: shown - heard %+.1f ms\n", k, offset);
    // Measured with both cores busy: -8.4 to +18.6 ms over 54 runs of 8
    // notes on PulseAudio (three runs had a note beyond 15 ms, two notes
    // running); -12.5 to +0.2 ms over 25 runs on PipeWire, but for one note
    // of a run, twice, 72 and 196 ms ahead, where the machine held its
    // graph or the recorder. A line a pass of the display (40 ms) off
    // still fails.
    if (std::fabs(offset) > 25.0) ++off;
    from = *onset + 300 * 48;  // past this note's 200 ms
  }
  EXPECT_LE(off, 1) << "notes shown more than 25 ms off";
  EXPECT_TRUE(run.Leave());
}

// A key closes the device, and the close drops what the stream has queued:
// the music is silent within 30 ms of the close line, not 200 ms later,
// even on a sink that plays out what it has mixed ahead, as this one does.
TEST(StopOnPulseAudio, AKeyStopsTheSoundAtOnce) {
  if (!SoundServer::Installed(ServerKind::kPulseAudio))
    GTEST_SKIP() << "no pulseaudio";
  SoundServer server(ServerKind::kPulseAudio);
  MonitorRecorder recorder;
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  ASSERT_TRUE(
      recorder.Start(server.Socket(), SoundServer::MonitorSource(), error))
      << error;
  std::vector<std::string> env = server.ClientEnv();
  env.push_back("PVL_MCI_OUTPUT=pulse");
  PlayerRun run;
  ASSERT_TRUE(run.Start(xmgen::WriteXm(xmgen::DensePiece(4, 30)), env));
  std::this_thread::sleep_for(milliseconds(1500));
  ASSERT_TRUE(run.StopWithKey());
  const SteadyTime closed = run.ClosedAt();
  std::this_thread::sleep_for(milliseconds(500));
  // The music plays up to the stop: the last sound is looked for from a
  // second before the close line (a hold of this test's reader dates the
  // line late).
  const std::size_t from = *recorder.FrameAt(closed - milliseconds(1000));
  const std::optional<std::size_t> last =
      LastSound(recorder.Samples(from), 1e-4f);
  ASSERT_TRUE(last) << "nothing heard before the close";
  const SteadyTime silent_from = *recorder.TimeOfFrame(from + *last);
  std::printf("sound ended %+.1f ms after the close line\n",
              Ms(silent_from - closed).count());
  EXPECT_LT(Ms(silent_from - closed).count(), 30.0);
  EXPECT_TRUE(run.Leave());
}

INSTANTIATE_TEST_SUITE_P(Servers, Listening, ::testing::ValuesIn(ServerKinds()),
                         ServerName);
INSTANTIATE_TEST_SUITE_P(Servers, ListeningOnPulseAudio,
                         ::testing::Values(ServerKind::kPulseAudio),
                         ServerName);

}  // namespace
}  // namespace audio
