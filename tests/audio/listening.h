// What the listening tests share: a fresh sound server for each test, the
// recorder on its monitor, and the environment that sends the program's
// sound there. ALSA's default device is a card that is not there
// meanwhile, so that sound on the monitor can only come from the program's
// own PulseAudio output, not from ALSA's plugin for the same server, and
// while the server is away nothing else plays.
#ifndef MCIPLAY_TESTS_AUDIO_LISTENING_H
#define MCIPLAY_TESTS_AUDIO_LISTENING_H

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "harness/monitor_recorder.h"
#include "harness/signal_compare.h"
#include "harness/sound_server.h"
#include "tests/audio/player_run.h"

namespace audio {

// Starts and recordings run against both; the other tests against
// PulseAudio.
inline std::vector<ServerKind> ServerKinds() {
  return {ServerKind::kPulseAudio, ServerKind::kPipeWire};
}
inline std::string KindName(ServerKind kind) {
  return kind == ServerKind::kPulseAudio ? "PulseAudio" : "PipeWire";
}
inline void PrintTo(ServerKind kind, std::ostream* out) {
  *out << KindName(kind);
}
// Each case named after its server.
inline std::string ServerName(
    const ::testing::TestParamInfo<ServerKind>& info) {
  return KindName(info.param);
}

class Listening : public ::testing::TestWithParam<ServerKind> {
 protected:
  Listening() : server_(GetParam()) {}

  void SetUp() override {
    if (!SoundServer::Installed(GetParam()))
      GTEST_SKIP() << KindName(GetParam()) << " is not installed";
    StartServerAndRecorder();
    ASSERT_FALSE(HasFailure());
    std::ofstream(server_.Dir() + "/alsa.conf")
        << "pcm.!default { type hw card 99 }\n";
  }

  // A failed test shows what its server said, and PipeWire's graph.
  void TearDown() override {
    if (!HasFailure()) return;
    std::printf("The server's log:\n%s\n", server_.Log().c_str());
    if (const std::string graph = server_.Graph(); !graph.empty())
      std::printf("Its graph:\n%s\n", graph.c_str());
  }

  // Starts the server (again, after a kill or a stop) and the recorder on
  // its sink; gives when the server answered.
  SteadyTime StartServerAndRecorder() {
    std::string error;
    EXPECT_TRUE(server_.Start(error)) << error;
    const SteadyTime answered = std::chrono::steady_clock::now();
    EXPECT_TRUE(
        recorder_.Start(server_.Socket(), SoundServer::MonitorSource(), error))
        << error;
    return answered;
  }

  std::vector<std::string> Env() const {
    std::vector<std::string> env = server_.ClientEnv();
    env.push_back("PVL_MCI_OUTPUT=auto");
    env.push_back("ALSA_CONFIG_PATH=" + server_.Dir() + "/alsa.conf");
    env.push_back("PVL_MCI_STATS=" + server_.Dir() + "/stats");
    return env;
  }

  // Where no server answers the program (it looks for its own at
  // `own_socket`, none by default), ALSA's default device leading to this
  // test's server instead, as on a machine whose ALSA goes through a sound
  // server of another user's or session's.
  std::vector<std::string> AlsaRouteEnv(std::string own_socket = {}) const {
    const std::string conf = server_.Dir() + "/alsa-route.conf";
    const std::string to =
        " { type pulse; server \"unix:" + server_.Socket() + "\" }\n";
    std::ofstream(conf) << "pcm.!default" << to << "ctl.!default" << to;
    if (own_socket.empty()) own_socket = server_.Dir() + "/no-server";
    return {"PULSE_SERVER=unix:" + own_socket,
            "PULSE_CLIENTCONFIG=" + server_.Dir() + "/client.conf",
            "PVL_MCI_OUTPUT=auto",
            "ALSA_CONFIG_PATH=/usr/share/alsa/alsa.conf:" + conf};
  }

  // What the devices of the run counted as they closed, one line each.
  std::string Stats() const {
    std::ifstream in(server_.Dir() + "/stats");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // How far the line moved from the first reading at or after `from` to
  // the first at or after `to`, and the time between the two, in ms. Each
  // reading is dated by its arrival: a line held up (by the program's
  // display or by this test's reader) is read with the position it shows
  // when it comes, and so keeps time.
  struct Moved {  // no reading at one end: NAN, which no check passes
    double shown = NAN;
    double elapsed = NAN;
  };
  static Moved LineMoved(const std::vector<PlayerRun::Shown>& shown,
                         SteadyTime from, SteadyTime to) {
    const auto first = [&](SteadyTime t) {
      return std::find_if(shown.begin(), shown.end(),
                          [&](const PlayerRun::Shown& s) { return s.at >= t; });
    };
    const auto a = first(from), b = first(to);
    if (a == shown.end() || b == shown.end()) return {};
    std::printf("line moved %ld ms in %.0f ms\n", b->ms - a->ms,
                Ms(b->at - a->at).count());
    return {static_cast<double>(b->ms - a->ms), Ms(b->at - a->at).count()};
  }

  // The recording from a little before `t` on.
  Samples RecordingSince(SteadyTime t) const {
    return recorder_.Samples(
        recorder_.FrameAt(t - std::chrono::milliseconds(500)).value_or(0));
  }

  SoundServer server_;
  MonitorRecorder recorder_;
};

}  // namespace audio

#endif  // MCIPLAY_TESTS_AUDIO_LISTENING_H
