// No sound server at all: the program plays through ALSA directly, not
// silently. ALSA's default device here is one that writes what it plays
// to a file (a configuration of the test's own), which is compared with
// libopenmpt's rendering of the piece.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "harness/reference_render.h"
#include "harness/signal_compare.h"
#include "tests/audio/player_run.h"
#include "tests/support/test_files.h"
#include "xmgen/pieces.h"

namespace audio {
namespace {

class NoServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    dir_ = temp_.path();
    std::ofstream(dir_ + "/client.conf") << "autospawn = no\n";
    std::ofstream(dir_ + "/asound.conf")
        << "pcm.!default { type file slave.pcm \"quiet\" file \"" << dir_
        << "/played.raw\" format \"raw\" }\npcm.quiet { type null }\n";
  }
  std::vector<std::string> Env(const char* output) const {
    return {"PULSE_SERVER=unix:" + dir_ + "/no-server-here",
            "PULSE_CLIENTCONFIG=" + dir_ + "/client.conf",
            "ALSA_CONFIG_PATH=" + dir_ + "/asound.conf",
            std::string("PVL_MCI_OUTPUT=") + output};
  }
  TempDir temp_;
  std::string dir_;
};

TEST_F(NoServer, ALSAPlaysThePieceAsRendered) {
  const std::vector<std::uint8_t> piece = xmgen::WriteXm(xmgen::ComposePiece());
  const Samples reference = RenderReference(piece);
  // ALSA's null device plays no faster than the clock, about as the device
  // feeds it: the whole piece, and time for a machine with both cores busy.
  const auto played_in = std::chrono::milliseconds(
      static_cast<long>(reference.size() / 2 / 48) + 20000);
  for (const char* output : {"auto", "alsa"}) {
    SCOPED_TRACE(output);
    std::filesystem::remove(dir_ + "/played.raw");
    PlayerRun run;
    ASSERT_TRUE(run.Start(piece, Env(output)));
    ASSERT_TRUE(run.WaitForClose(played_in));
    EXPECT_TRUE(run.Leave());
    const Comparison c = Compare(ReadRaw(dir_ + "/played.raw"), reference, 0);
    std::printf("through ALSA (%s): %s\n", output, Describe(c).c_str());
    ASSERT_TRUE(c.aligned);
    EXPECT_EQ(c.offset, 0);
    EXPECT_GE(c.snr_db, 60.0);
    EXPECT_TRUE(c.gaps.empty()) << Describe(c);
    EXPECT_LE(std::fabs(c.length_error_ms), 20.0);
  }
}

}  // namespace
}  // namespace audio
