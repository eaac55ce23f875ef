// The module device on the silent output: mode and position along the
// timeline of a piece of known length, with the clock in the test's hands.
#include "pvl_mci/module_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "pvl_mci/open_module.h"
#include "tests/support/manual_clock.h"
#include "xmgen/pieces.h"

namespace {

using mci::Mode;
using std::chrono::milliseconds;

constexpr std::uint32_t kLengthMs = 1500;

class OnManualClock : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(
        pvl::ModuleDevice::Create(xmgen::WriteXm(xmgen::TimedPiece(kLengthMs)),
                                  pvl::MakeSilentOutput(), clock_, device_)
            .error,
        0u);
  }

  // Advances the clock in steps of at most 10 ms, as a device that keeps
  // up sees the time, and lets the device catch up after each.
  void Advance(int ms) {
    ASSERT_TRUE(AdvanceInSteps(clock_, *device_, ms, 10));
  }
  // Moves the clock on at once, as it does for a process that was stopped.
  void Jump(int ms) {
    clock_.Advance(milliseconds(ms));
    ASSERT_TRUE(Settle(*device_));
  }
  void Play(std::optional<std::uint32_t> from = {},
            std::optional<std::uint32_t> to = {}) {
    ASSERT_EQ(device_->Play(from, to).error, 0u);
    ASSERT_TRUE(Settle(*device_));
  }
  void Expect(Mode mode, std::uint32_t position) {
    EXPECT_EQ(mci::ModeName(device_->GetMode()), mci::ModeName(mode));
    EXPECT_EQ(device_->Position(), position);
  }

  ManualClock clock_;
  std::unique_ptr<pvl::ModuleDevice> device_;
};

TEST_F(OnManualClock, PlaysTheWholePieceThenStopsAtItsEnd) {
  EXPECT_EQ(device_->Length(), kLengthMs);
  Expect(Mode::kStopped, 0);
  Play();
  Expect(Mode::kPlaying, 0);
  Advance(1);
  Expect(Mode::kPlaying, 1);
  Advance(249);
  Expect(Mode::kPlaying, 250);
  Advance(1000);
  Expect(Mode::kPlaying, 1250);
  Advance(249);
  Expect(Mode::kPlaying, 1499);  // the last millisecond is still to be heard
  Advance(1);
  Expect(Mode::kStopped, kLengthMs);
  Advance(5000);
  Expect(Mode::kStopped, kLengthMs);
}

TEST_F(OnManualClock, AfterTheProcessWasStoppedItGoesOnWhereTheSoundRanDry) {
  // The clock leaps 10 s with nothing written meanwhile: what was queued
  // (at most a buffer) was heard, then the music waited, as it does on a
  // sound card, and goes on from there.
  Play();
  Advance(900);
  Expect(Mode::kPlaying, 900);
  Jump(10000);
  EXPECT_EQ(mci::ModeName(device_->GetMode()), "playing");
  const std::uint32_t resumed = device_->Position();
  EXPECT_GT(resumed, 900u);
  EXPECT_LE(resumed, 1100u);
  Advance(100);
  Expect(Mode::kPlaying, resumed + 100);
  Advance(static_cast<int>(kLengthMs - resumed) - 101);
  Expect(Mode::kPlaying, kLengthMs - 1);
  Advance(1);
  Expect(Mode::kStopped, kLengthMs);
}

TEST_F(OnManualClock, PauseHoldsThePositionAndResumeGoesOnFromIt) {
  Play();
  Advance(400);
  ASSERT_EQ(device_->Pause().error, 0u);
  ASSERT_TRUE(Settle(*device_));
  Expect(Mode::kPaused, 400);
  Advance(3000);
  Expect(Mode::kPaused, 400);
  ASSERT_EQ(device_->Resume().error, 0u);
  ASSERT_TRUE(Settle(*device_));
  Expect(Mode::kPlaying, 400);
  Advance(300);
  Expect(Mode::kPlaying, 700);
  Advance(799);
  Expect(Mode::kPlaying, 1499);
  Advance(1);
  Expect(Mode::kStopped, kLengthMs);
}

TEST_F(OnManualClock, StopKeepsThePositionAndPlayGoesOnFromIt) {
  Play();
  Advance(600);
  ASSERT_EQ(device_->Stop().error, 0u);
  Expect(Mode::kStopped, 600);
  // Resume only follows a pause.
  ASSERT_EQ(device_->Resume().error, 0u);
  Expect(Mode::kStopped, 600);
  Advance(1000);
  Play();
  Advance(500);
  Expect(Mode::kPlaying, 1100);
  Advance(400);
  Expect(Mode::kStopped, kLengthMs);
}

TEST_F(OnManualClock, PlayFromToEndsAtTo) {
  Play(200, 600);
  Expect(Mode::kPlaying, 200);
  Advance(399);
  Expect(Mode::kPlaying, 599);
  Advance(1);
  Expect(Mode::kStopped, 600);
}

TEST_F(OnManualClock, SeekStopsAndMoves) {
  Play();
  Advance(100);
  ASSERT_EQ(device_->Seek(1000).error, 0u);
  Expect(Mode::kStopped, 1000);
  Play();
  Advance(499);
  Expect(Mode::kPlaying, 1499);
  Advance(1);
  Expect(Mode::kStopped, kLengthMs);
  // From the end there is nothing left to play.
  ASSERT_EQ(device_->Seek(kLengthMs).error, 0u);
  Play();
  Expect(Mode::kStopped, kLengthMs);
  // Playing again after the end needs a "from".
  Play(0);
  Advance(10);
  Expect(Mode::kPlaying, 10);
}

TEST_F(OnManualClock, CloseInTheMiddleEndsTheAudioThread) {
  Play();
  Advance(300);
  device_.reset();  // joins the audio thread, waiting on a far deadline
  EXPECT_EQ(device_, nullptr);
}

TEST_F(OnManualClock, CloseWhilePaused) {
  Play();
  Advance(300);
  ASSERT_EQ(device_->Pause().error, 0u);
  device_.reset();
  EXPECT_EQ(device_, nullptr);
}

TEST(OnSteadyClock, SilentOutputKeepsRealTime) {
  std::unique_ptr<pvl::ModuleDevice> device;
  ASSERT_EQ(pvl::ModuleDevice::Create(xmgen::WriteXm(xmgen::TimedPiece(300)),
                                      pvl::MakeSilentOutput(),
                                      pvl::SteadyClock(), device)
                .error,
            0u);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(device->Play({}, {}).error, 0u);
  std::uint32_t last = 0;
  while (device->GetMode() == Mode::kPlaying) {
    std::uint32_t p = device->Position();
    EXPECT_GE(p, last);  // the position never goes back
    EXPECT_LE(p, 300u);
    last = p;
    std::this_thread::sleep_for(milliseconds(2));
    ASSERT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(20));
  }
  // The piece is heard to its end: it cannot be over before its length.
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(300));
  EXPECT_EQ(device->Position(), 300u);
}

TEST(Pieces, ExactLengthsAndAnEmptyPiece) {
  ManualClock clock;
  for (int ms : {10, 990, 2560, 3000}) {
    std::unique_ptr<pvl::ModuleDevice> device;
    ASSERT_EQ(pvl::ModuleDevice::Create(xmgen::WriteXm(xmgen::TimedPiece(ms)),
                                        pvl::MakeSilentOutput(), clock, device)
                  .error,
              0u);
    EXPECT_EQ(device->Length(), static_cast<std::uint32_t>(ms));
  }
  std::unique_ptr<pvl::ModuleDevice> device;
  ASSERT_EQ(pvl::ModuleDevice::Create(xmgen::WriteXm(xmgen::EmptyPiece()),
                                      pvl::MakeSilentOutput(), clock, device)
                .error,
            0u);
  EXPECT_EQ(device->Length(), 0u);
  ASSERT_EQ(device->Play({}, {}).error, 0u);
  ASSERT_TRUE(Settle(*device));
  EXPECT_EQ(device->GetMode(), Mode::kStopped);
  EXPECT_EQ(device->Position(), 0u);
}

TEST(Pieces, TheBundledPieceLastsAboutAMinute) {
  ManualClock clock;
  std::unique_ptr<pvl::ModuleDevice> device;
  ASSERT_EQ(pvl::ModuleDevice::Create(xmgen::WriteXm(xmgen::ComposePiece()),
                                      pvl::MakeSilentOutput(), clock, device)
                .error,
            0u);
  EXPECT_GT(device->Length(), 50000u);
  EXPECT_LT(device->Length(), 75000u);
}

TEST(Output, ChoiceOfPvlMciOutput) {
  std::unique_ptr<pvl::Output> output;
  pvl::OutputOpener reopen;
  EXPECT_EQ(pvl::MakeOutput("null", output, reopen).error, 0u);
  EXPECT_NE(output, nullptr);
  EXPECT_FALSE(reopen);  // silent for good
  mci::Result r = pvl::MakeOutput("loud", output, reopen);
  EXPECT_EQ(r.error, MCIERR_BAD_CONSTANT);
  EXPECT_EQ(r.text,
            "PVL_MCI_OUTPUT must be auto, null, device, pulse or alsa.");
  EXPECT_EQ(output, nullptr);
  // auto never fails: without a sound output it plays silently, and tries
  // again later.
  for (const char* choice : {static_cast<const char*>(nullptr), "", "auto"}) {
    EXPECT_EQ(pvl::MakeOutput(choice, output, reopen).error, 0u);
    EXPECT_TRUE(reopen);
  }
  // The others give a sound output or say why not.
  for (const char* choice : {"device", "pulse", "alsa"}) {
    SCOPED_TRACE(choice);
    r = pvl::MakeOutput(choice, output, reopen);
    if (r.error == 0) {
      EXPECT_NE(output, nullptr);
      EXPECT_TRUE(reopen);
    } else {
      EXPECT_EQ(r.error, MCIERR_HARDWARE);
      EXPECT_EQ(r.text.rfind("No sound output: ", 0), 0u) << r.text;
      EXPECT_EQ(output, nullptr);
    }
  }
}

}  // namespace
