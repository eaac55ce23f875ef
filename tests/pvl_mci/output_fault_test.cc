// The sound output failing in the middle of a piece, with nothing to open
// instead: the device goes on silently, with the position on the clock,
// the mode "playing" to the end of the piece, and close at once.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "pvl_mci/module_device.h"
#include "pvl_mci/output.h"
#include "tests/support/manual_clock.h"
#include "xmgen/pieces.h"

namespace {

using mci::Mode;
using std::chrono::milliseconds;

constexpr std::uint32_t kLengthMs = 1500;
constexpr std::uint64_t kFrames = std::uint64_t{kLengthMs} * pvl::kFramesPerMs;

// What happened to the failing output, kept by the test: the device owns
// and destroys the output itself.
struct FaultLog {
  std::uint64_t written = 0;
  int writes_after_failure = 0;
  bool destroyed = false;
};

// A stream that plays in time until `fail_after` frames have been written
// to it, or the clock reaches `dies_at`, whichever comes first; then it
// takes nothing more and says it has failed.
class FailingOutput final : public pvl::Output {
 public:
  FailingOutput(FaultLog& log, std::uint64_t fail_after, pvl::Nanos dies_at)
      : log_(log),
        fail_after_(fail_after),
        dies_at_(dies_at),
        inner_(pvl::MakeSilentOutput()) {}
  ~FailingOutput() override { log_.destroyed = true; }

  State Poll(pvl::Nanos now) override {
    return Failed(now) ? State::kFailed : State::kReady;
  }
  std::string Error() const override { return "failed"; }
  std::size_t Capacity() const override { return inner_->Capacity(); }
  void Start(pvl::Nanos now) override { inner_->Start(now); }
  void Halt() override { inner_->Halt(); }
  std::size_t Room(pvl::Nanos now) override {
    return Failed(now) ? 0 : inner_->Room(now);
  }
  pvl::Nanos WhenRoom(std::size_t frames, pvl::Nanos now) override {
    return inner_->WhenRoom(frames, now);
  }
  void Write(const float* frames, std::size_t count, pvl::Nanos now) override {
    if (Failed(now)) {
      ++log_.writes_after_failure;
      return;
    }
    inner_->Write(frames, count, now);
    log_.written += count;
  }
  void Finish(pvl::Nanos now) override { inner_->Finish(now); }
  pvl::Progress Heard(pvl::Nanos now) override { return inner_->Heard(now); }

 private:
  bool Failed(pvl::Nanos now) const {
    return log_.written >= fail_after_ || now >= dies_at_;
  }

  FaultLog& log_;
  const std::uint64_t fail_after_;
  const pvl::Nanos dies_at_;
  std::unique_ptr<pvl::Output> inner_;
};

struct Fault {
  const char* name;
  std::uint64_t after_frames;  // or never
  int dies_at_ms;              // after play, or never (-1)
  // The play's notification: failure when the output fails under it; an
  // output failed before the play began leaves it playing silently from
  // the start, which is no failure of the play.
  mci::Notice notice = mci::Notice::kFailure;
};
void PrintTo(const Fault& f, std::ostream* out) { *out << f.name; }

constexpr std::uint64_t kNever = ~std::uint64_t{0};

const Fault kFaults[] = {
    {"never_starts", 0, -1, mci::Notice::kSuccessful},
    {"after_one_frame", 1, -1},
    {"inside_the_third_chunk", 3 * 480 + 7, -1},
    {"after_300_ms_written", 300 * 48, -1},
    {"after_all_is_written", kFrames, -1},
    {"stream_dies_at_250_ms", kNever, 250},
    {"stream_dies_at_1001_ms", kNever, 1001},
    {"stream_dies_in_the_last_ms", kNever, 1499},
};

class OutputFault : public ::testing::TestWithParam<Fault> {
 protected:
  void SetUp() override {
    const Fault& f = GetParam();
    const pvl::Nanos dies_at = f.dies_at_ms < 0
                                   ? pvl::kForever
                                   : clock_.Now() + milliseconds(f.dies_at_ms);
    ASSERT_EQ(
        pvl::ModuleDevice::Create(
            xmgen::WriteXm(xmgen::TimedPiece(kLengthMs)),
            std::make_unique<FailingOutput>(log_, f.after_frames, dies_at),
            clock_, device_)
            .error,
        0u);
  }
  // In steps of at most 10 ms, as a device that keeps up sees the time.
  void Advance(int ms) {
    ASSERT_TRUE(AdvanceInSteps(clock_, *device_, ms, 10));
  }
  // Each command, then the device catching up before the clock moves on.
  void Do(mci::Result result) {
    ASSERT_EQ(result.error, 0u);
    ASSERT_TRUE(Settle(*device_));
  }

  FaultLog log_;
  ManualClock clock_;
  std::unique_ptr<pvl::ModuleDevice> device_;
};

TEST_P(OutputFault, PlaysOnSilentlyInTimeToTheEnd) {
  // The play's notification, posted once: nothing more at the end.
  std::mutex mutex;
  std::vector<mci::Notice> notices;
  Do(device_->Play({}, {}, [&](mci::Notice n) {
    std::lock_guard<std::mutex> lock(mutex);
    notices.push_back(n);
  }));
  for (std::uint32_t at = 0; at < kLengthMs; at += 7) {
    ASSERT_EQ(mci::ModeName(device_->GetMode()), "playing") << at;
    ASSERT_EQ(device_->Position(), at);
    ASSERT_NO_FATAL_FAILURE(Advance(7));
  }
  EXPECT_EQ(mci::ModeName(device_->GetMode()), "stopped");
  EXPECT_EQ(device_->Position(), kLengthMs);
  // Nothing more went to the output once it had failed, and the device
  // let go of it.
  EXPECT_EQ(log_.writes_after_failure, 0);
  EXPECT_LE(log_.written, kFrames);
  EXPECT_TRUE(log_.destroyed);
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(notices, std::vector<mci::Notice>{GetParam().notice});
  }
  // Again, from the start: the silent output goes on serving.
  Do(device_->Play(0, {}));
  Advance(500);
  EXPECT_EQ(device_->Position(), 500u);
}

TEST_P(OutputFault, PauseAndSeekAfterTheFailure) {
  Do(device_->Play({}, {}));
  Advance(600);
  Do(device_->Pause());
  Advance(2000);
  EXPECT_EQ(mci::ModeName(device_->GetMode()), "paused");
  EXPECT_EQ(device_->Position(), 600u);
  Do(device_->Resume());
  Advance(300);
  EXPECT_EQ(device_->Position(), 900u);
  Do(device_->Seek(1400));
  Do(device_->Play({}, {}));
  Advance(99);
  EXPECT_EQ(device_->Position(), 1499u);
  EXPECT_EQ(mci::ModeName(device_->GetMode()), "playing");
  Advance(1);
  EXPECT_EQ(mci::ModeName(device_->GetMode()), "stopped");
  EXPECT_EQ(device_->Position(), kLengthMs);
}

TEST_P(OutputFault, CloseMidPlayNeedsNoTimeToPass) {
  Do(device_->Play({}, {}));
  Advance(400);
  // The clock stands still from here: a close that waited for anything to
  // be heard would never return.
  device_.reset();
  EXPECT_TRUE(log_.destroyed);
}

INSTANTIATE_TEST_SUITE_P(Faults, OutputFault, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
