// The sound server failing under the program: killed, or hanging; and the
// program itself stopped. The music must never fall silent without cause,
// the position must keep time, no call may wait on the server, and nothing
// of the audio libraries may reach the screen.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "harness/reference_render.h"
#include "harness/signal_compare.h"
#include "pvl_mci/clock.h"
#include "pvl_mci/module_device.h"
#include "pvl_mci/output.h"
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

// When the first frame of `piece` was heard, by the recording so far.
std::optional<SteadyTime> PieceStart(const MonitorRecorder& recorder,
                                     const Samples& piece) {
  const std::optional<long> at = Align(recorder.Samples(0), piece, 0);
  if (!at || *at < 0) return std::nullopt;
  return recorder.TimeOfFrame(static_cast<std::size_t>(*at));
}

// How far the second of music recorded from `frame` on is from where a
// run never interrupted, whose first frame was heard at `start`, would be
// then, in ms (+ ahead). The dense piece repeats every 4.8 s, so the place
// is looked for within 2 s either way.
std::optional<double> PlaceOf(const MonitorRecorder& recorder,
                              std::size_t frame, const Samples& piece,
                              SteadyTime start) {
  const std::optional<SteadyTime> at = recorder.TimeOfFrame(frame);
  const Samples heard = recorder.Samples(frame);
  constexpr long kSpan = 2 * kRate;
  if (!at || heard.size() < 2 * kRate) return std::nullopt;
  const long due = static_cast<long>(Ms(*at - start).count() * 48);
  const long from = std::max(0L, due - kSpan);
  const long to = std::min(due + kSpan, static_cast<long>(piece.size() / 2));
  if (to - from < 2 * kRate) return std::nullopt;
  const Samples around(piece.begin() + 2 * from, piece.begin() + 2 * to);
  const std::optional<long> o =
      Align(around, Samples(heard.begin(), heard.begin() + 2 * kRate), 0);
  if (!o) return std::nullopt;
  return static_cast<double>(*o - (due - from)) / 48.0;
}

// How the music came back on a new server.
struct Comeback {
  SteadyTime sound_at;
  double sound_ms = 0;  // from the server's answer to the first sound
  std::optional<double> place_ms;  // PlaceOf half a second later
  double still_ms = 0;             // the longest the position line stood still
  long still_step_ms = 0;          // how far it moved on after that
};

// Back within a second of the server's answer, at the place due (`due_ms`
// from the start's line), and the line kept moving throughout.
// Measured on PulseAudio: back 25-128 ms after the answer; placed within
// 8 ms, quiet or with both cores busy; the line still for 42-62 ms at most
// quiet (a pass of the display is 40 ms), and up to 443 ms with both cores
// busy, where the machine held the program's display (docs/testing.md).
// On PipeWire, killed: back 371-655 ms after (it takes nothing until it
// holds a graph cycle, 170 ms here); placed -8.2 to +5.0 ms.
void ExpectBackInTime(const Comeback& c, double due_ms = 0) {
  EXPECT_LE(c.sound_ms, 1000.0);
  ASSERT_TRUE(c.place_ms);
  EXPECT_NEAR(*c.place_ms, due_ms, 20);
  EXPECT_LT(c.still_ms, 500.0);
}

// Waits for the sound on the recorder, started on the new server at
// `answered`, and measures the return; the line from `since` on.
std::optional<Comeback> MeasureComeback(const PlayerRun& run,
                                        const MonitorRecorder& recorder,
                                        const Samples& piece, SteadyTime start,
                                        SteadyTime answered, SteadyTime since) {
  const auto sound = recorder.WaitForSound(answered, milliseconds(3000));
  if (!sound) {
    // Whether the recorder was getting the sink's frames, and the program
    // kept showing its position.
    const std::size_t frames = recorder.Frames();
    const auto end = recorder.TimeOfFrame(frames);
    const std::vector<PlayerRun::Shown> shown = run.Positions();
    std::printf(
        "no sound: %zu ms recorded, up to %+.0f ms from the answer; "
        "the line last showed %ld ms, %+.0f ms from the answer\n",
        frames / 48, end ? Ms(*end - answered).count() : NAN,
        shown.empty() ? -1 : shown.back().ms,
        shown.empty() ? NAN : Ms(shown.back().at - answered).count());
    return std::nullopt;
  }
  // The place is read from a second of music half a second in: the
  // recording must reach that far (it lags the sink on a busy machine).
  Wait(milliseconds(2000));
  EXPECT_TRUE(recorder.WaitForRecorded(*sound + milliseconds(1600),
                                       milliseconds(5000)));
  Comeback c;
  c.sound_at = *sound;
  c.sound_ms = Ms(*sound - answered).count();
  if (const auto at = recorder.FrameAt(*sound + milliseconds(500)))
    c.place_ms = PlaceOf(recorder, *at, piece, start);
  // A stand-still of the line is the program's but for the time this
  // test's reader was held meanwhile (up to 1.3 s measured with both cores
  // busy, while PipeWire started): the line then came late.
  const std::vector<PlayerRun::Shown> shown = run.Positions();
  double reader_held_ms = 0;
  for (std::size_t i = 1; i < shown.size(); ++i) {
    if (shown[i].at <= since) continue;
    const double held = run.ReaderHeld(shown[i - 1].at, shown[i].at).count();
    const double still = Ms(shown[i].at - shown[i - 1].at).count() - held;
    reader_held_ms = std::max(reader_held_ms, held);
    if (still > c.still_ms) {
      c.still_ms = still;
      c.still_step_ms = shown[i].ms - shown[i - 1].ms;
    }
  }
  // A step as long as the stand-still: the program's display was held,
  // not the position.
  std::printf(
      "sound back %.0f ms after the server answered; place %+.1f ms; "
      "position still for %.0f ms at most, then %+ld ms (reader held "
      "%.0f ms at most)\n",
      c.sound_ms, c.place_ms.value_or(NAN), c.still_ms, c.still_step_ms,
      reader_held_ms);
  return c;
}

using ListeningOnBoth = Listening;
TEST_P(ListeningOnBoth, AServerKilledMidPlayIsNotHeardOfAndTheMusicComesBack) {
  const std::vector<std::uint8_t> module = Continuous();
  const Samples piece = RenderReference(module);
  PlayerRun run;
  ASSERT_TRUE(run.Start(module, Env()));
  Wait(milliseconds(1500));
  const std::optional<SteadyTime> start = PieceStart(recorder_, piece);
  ASSERT_TRUE(start) << "the start was not heard";
  server_.Kill();
  const SteadyTime killed = steady_clock::now();
  Wait(milliseconds(3000));
  // Meanwhile the position keeps time, and nothing was printed. Each
  // reading is late by up to a pass of the display (40 ms) after the
  // position it shows; measured -8 to +7 ms off with both cores busy.
  const Moved moved = LineMoved(run.Positions(), killed + milliseconds(500),
                                killed + milliseconds(2500));
  EXPECT_NEAR(moved.shown, moved.elapsed, 100);
  ExpectOnlyTheProgramsLines(run.Screen());

  const SteadyTime restarted = StartServerAndRecorder();
  ASSERT_FALSE(HasFailure());
  const std::optional<Comeback> back =
      MeasureComeback(run, recorder_, piece, *start, restarted, killed);
  ASSERT_TRUE(back) << "no sound within 3 s of the new server";
  ExpectBackInTime(*back);
  ExpectOnlyTheProgramsLines(run.Screen());
  EXPECT_TRUE(run.StopWithKey());
  EXPECT_TRUE(run.Leave());
}

// No server when the program starts: it plays silently, in time, and the
// music is heard from the real-time place once a server answers.
TEST_P(Listening, AServerStartedLateIsHeardAtTheRightPlace) {
  const std::vector<std::uint8_t> module = Continuous();
  const Samples piece = RenderReference(module);
  server_.Stop();
  PlayerRun run;
  ASSERT_TRUE(run.Start(module, Env()));
  Wait(milliseconds(2500));
  const SteadyTime answered = StartServerAndRecorder();
  ASSERT_FALSE(HasFailure());
  const std::optional<Comeback> back = MeasureComeback(
      run, recorder_, piece, run.PlayedAt(), answered, run.PlayedAt());
  ASSERT_TRUE(back) << "no sound within 3 s of the server";
  ExpectBackInTime(*back);
  EXPECT_TRUE(run.StopWithKey());
  EXPECT_TRUE(run.Leave());
}

// Playing through ALSA (led to another server) when the program's own
// server comes: the music moves there, with no silence between the two,
// nothing skipped and nothing played twice.
TEST_P(Listening, TheMusicMovesFromALSAToAServerThatComes) {
  const std::vector<std::uint8_t> module = Continuous();
  const Samples piece = RenderReference(module);
  SoundServer own(GetParam());
  PlayerRun run;
  ASSERT_TRUE(run.Start(module, AlsaRouteEnv(own.Socket())));
  Wait(milliseconds(2500));
  const std::optional<SteadyTime> start = PieceStart(recorder_, piece);
  ASSERT_TRUE(start) << "nothing was heard through ALSA";
  std::string error;
  ASSERT_TRUE(own.Start(error)) << error;
  const SteadyTime answered = steady_clock::now();
  MonitorRecorder on_own;
  ASSERT_TRUE(on_own.Start(own.Socket(), SoundServer::MonitorSource(), error))
      << error;
  const std::optional<Comeback> back =
      MeasureComeback(run, on_own, piece, *start, answered, *start);
  ASSERT_TRUE(back) << "no sound within 3 s of the program's server";
  // The new stream goes on where ALSA's was at the move, and ALSA's ends
  // as the new one is heard: its server's sink plays out what it held
  // (measured: the two overlap by 6 to 37 ms, quiet or busy).
  const std::optional<std::size_t> last = LastSound(recorder_.Samples(), 1e-4f);
  ASSERT_TRUE(last);
  // Its place from the last second before its end that came whole: on a
  // busy machine ALSA's route to its server was seen to break one up.
  std::optional<double> alsa;
  for (long back_ms = 1200; !alsa && back_ms <= 2400; back_ms += 200)
    alsa = PlaceOf(recorder_, *last - back_ms * 48, piece, *start);
  ASSERT_TRUE(alsa);
  ExpectBackInTime(*back, *alsa);
  const double silence =
      Ms(back->sound_at - *recorder_.TimeOfFrame(*last)).count();
  std::printf(
      "ALSA placed %+.1f ms; from its last sound to the server's "
      "first: %+.1f ms\n",
      *alsa, silence);
  EXPECT_LE(silence, 20.0);
  EXPECT_TRUE(run.StopWithKey());
  EXPECT_TRUE(run.Leave());
}

// The program's own server hangs, or the one its ALSA device leads to
// (ALSA's pulse plugin waits on it to open, halt and close a device): the
// position line moves on all along (as the killed server's test reads it),
// and a key stops the program at once, also before the device has given
// up on the output (a second).
class AServerThatHangs : public Listening {
 protected:
  void ExpectItHoldsUpNothing(const std::vector<std::string>& env,
                              milliseconds hung_for) {
    PlayerRun run;
    ASSERT_TRUE(run.Start(Continuous(), env));
    Wait(milliseconds(1500));
    server_.Pause();
    const SteadyTime stopped = steady_clock::now();
    Wait(hung_for);
    // (The line may stand still up to 200 ms as the output stops, until
    // the device takes its time for real time's: read over seconds.)
    const Moved moved = LineMoved(run.Positions(), stopped,
                                  stopped + hung_for - milliseconds(100));
    const std::optional<Ms> key = run.StopWithKey();
    server_.Resume();
    if (hung_for > milliseconds(1000)) {
      EXPECT_NEAR(moved.shown, moved.elapsed, 100);
    }
    ASSERT_TRUE(key);
    const SteadyTime closed = run.ClosedAt();
    const SteadyTime typed =
        closed - std::chrono::duration_cast<steady_clock::duration>(*key);
    std::printf(
        "key to close line with the server stopped: %.1f ms (this test's "
        "reader held %.0f ms)\n",
        key->count(), run.ReaderHeld(typed, closed).count());
    // A call that waited on the server would take seconds; the target is
    // 15 ms, which the benchmark measures.
    EXPECT_LT(key->count(), 250.0);
    EXPECT_TRUE(run.Leave());
  }
};
TEST_P(AServerThatHangs, HoldsUpNothing) {
  ExpectItHoldsUpNothing(Env(), milliseconds(5000));
}
TEST_P(AServerThatHangs, BehindALSAHoldsUpNothing) {
  ExpectItHoldsUpNothing(AlsaRouteEnv(), milliseconds(5000));
}
TEST_P(AServerThatHangs, BehindALSAHoldsUpNoKey) {
  ExpectItHoldsUpNothing(AlsaRouteEnv(), milliseconds(400));
}

// A program that stops the music and plays it again, on ALSA whose server
// hangs meanwhile: the position keeps time from the new start (after the
// 200 ms an output that stands still is given), and the device closes at
// once, without waiting for the server to go on.
TEST_P(AServerThatHangs, BehindALSAHoldsUpNoStop) {
  std::vector<std::string> names;
  for (const std::string& e : AlsaRouteEnv()) {
    names.push_back(e.substr(0, e.find('=')));
    setenv(names.back().c_str(), e.c_str() + names.back().size() + 1, 1);
  }
  std::unique_ptr<pvl::ModuleDevice> device;
  ASSERT_EQ(pvl::ModuleDevice::Create(Continuous(), pvl::OpenAlsaOutput(),
                                      pvl::SteadyClock(), device)
                .error,
            0u);
  ASSERT_EQ(device->Play({}, {}).error, 0u);
  Wait(milliseconds(1500));
  server_.Pause();
  // Were the device's close held up, the server goes on after 3 s.
  std::thread resume([this] {
    Wait(milliseconds(3000));
    server_.Resume();
  });
  Wait(milliseconds(300));
  ASSERT_EQ(device->Stop().error, 0u);
  const std::uint32_t stopped = device->Position();
  ASSERT_EQ(device->Play(stopped, {}).error, 0u);
  Wait(milliseconds(600));
  const long moved = static_cast<long>(device->Position()) - stopped;
  const auto close = steady_clock::now();
  device.reset();
  const double close_ms = Ms(steady_clock::now() - close).count();
  resume.join();
  for (const std::string& name : names) unsetenv(name.c_str());
  std::printf("moved %ld ms in 600 ms after the stop; closed in %.1f ms\n",
              moved, close_ms);
  // 400 ms of real time at least, with room for a late render thread.
  EXPECT_GE(moved, 300);
  EXPECT_LT(close_ms, 250.0);
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

// The first 50 ms or more without sound at or after frame `from`: from
// frame `at` to the sound again at `until` (none: both 0). Without sound is
// exact zeros, what the sink plays while the stream is dry: with a
// threshold, the faintest frames of the fades at the edges counted as
// silence where the music was quiet (16 frames once).
struct Silence {
  std::size_t at = 0;
  std::size_t until = 0;
  double Ms() const { return static_cast<double>(until - at) / 48.0; }
};
Silence SilenceFrom(const Samples& rec, std::size_t from) {
  for (std::size_t quiet = from;;) {
    const std::optional<std::size_t> sound = FirstSound(rec, 0.0f, quiet);
    if (!sound) return {};
    if (*sound - quiet >= 50 * 48) return {quiet, *sound};
    quiet = *sound + 1;
  }
}

// The loudest sample of frames [from, to).
float Peak(const Samples& rec, std::size_t from, std::size_t to) {
  float peak = 0;
  for (std::size_t i = 2 * from; i < 2 * to && i < rec.size(); ++i)
    peak = std::max(peak, std::fabs(rec[i]));
  return peak;
}

TEST_P(ListeningOnBoth, AfterTheProgramWasStoppedTheMusicGoesOnWhereItWas) {
  const std::vector<std::uint8_t> piece = Continuous();
  PlayerRun run;
  ASSERT_TRUE(run.Start(piece, Env()));
  long before = 0, after = 0;
  const SteadyTime stopped = StopAndContinue(run, before, after);
  EXPECT_GT(after, before);
  EXPECT_LT(after - before, 1000) << "the 3 s stopped were skipped";
  // And it is heard again, from the frame where the sound ran dry: the
  // music is late by exactly the silence, nothing skipped, nothing played
  // twice. Measured: 0.04 ms off (the silent last frame of each fade) in 18
  // runs on PulseAudio with both cores busy, and 8 on each server since;
  // 0.1 ms leaves room for the comparison's rounding, and a skip of 5 ms
  // fails it.
  ASSERT_TRUE(recorder_.WaitForSound(steady_clock::now(), milliseconds(1000)));
  Wait(milliseconds(500));
  const std::size_t since =
      recorder_.FrameAt(run.PlayedAt() - milliseconds(500)).value_or(0);
  const Samples rec = recorder_.Samples(since);
  const Comparison c = Compare(rec, RenderReference(piece), 0);
  ASSERT_FALSE(c.gaps.empty()) << Describe(c);
  const Silence silence =
      SilenceFrom(rec, recorder_.FrameAt(stopped).value_or(since) - since);
  ASSERT_GT(silence.Ms(), 0.0);
  std::printf("stopped: silence %.2f ms, music later by %.2f ms\n",
              silence.Ms(), c.gaps[0].shift_ms);
  EXPECT_NEAR(c.gaps[0].shift_ms, silence.Ms(), 0.1) << Describe(c);
  // No click at either edge: the music fades out over its last 5 ms and in
  // over its first, so the millisecond next to the silence is at most a
  // fifth of the music's level. Measured against the 20 ms before (after):
  // 0.07-0.17 faded; 0.80 where the sound was cut hard.
  const std::size_t end = silence.until;
  EXPECT_LE(Peak(rec, silence.at - 48, silence.at),
            0.25f * Peak(rec, silence.at - 20 * 48, silence.at - 48));
  EXPECT_LE(Peak(rec, end, end + 48),
            0.25f * Peak(rec, end + 48, end + 20 * 48));
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

INSTANTIATE_TEST_SUITE_P(Servers, ListeningOnBoth,
                         ::testing::ValuesIn(ServerKinds()), ServerName);
INSTANTIATE_TEST_SUITE_P(Servers, Listening,
                         ::testing::Values(ServerKind::kPulseAudio),
                         ServerName);
INSTANTIATE_TEST_SUITE_P(Servers, AServerThatHangs,
                         ::testing::Values(ServerKind::kPulseAudio),
                         ServerName);

}  // namespace
}  // namespace audio
