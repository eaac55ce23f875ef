// The ALSA output, on ALSA's "null" device (ALSA_CONFIG_PATH points at a
// configuration made by the build): it plays nothing and takes frames as
// fast as they come, so a piece runs through in a moment, but the writes,
// the count of heard frames and the stream's start and stop are the real
// ones.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "pvl_mci/module_device.h"
#include "pvl_mci/open_module.h"
#include "xmgen/pieces.h"

namespace {

using mci::Mode;

// Waits (at most 10 s) while the device plays.
bool WaitWhilePlaying(pvl::ModuleDevice& device) {
  for (int i = 0; i < 10000; ++i) {
    if (device.GetMode() != Mode::kPlaying) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

class OnAlsaNull : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(Open(800)); }

  // The device, on a piece of `ms` milliseconds.
  void Open(std::uint32_t ms) {
    std::unique_ptr<pvl::Output> output;
    pvl::OutputOpener reopen;
    mci::Result r = pvl::MakeOutput("alsa", output, reopen);
    ASSERT_EQ(r.error, 0u) << r.text;
    ASSERT_EQ(pvl::ModuleDevice::Create(xmgen::WriteXm(xmgen::TimedPiece(ms)),
                                        std::move(output), pvl::SteadyClock(),
                                        device_)
                  .error,
              0u);
  }
  std::unique_ptr<pvl::ModuleDevice> device_;
};

TEST_F(OnAlsaNull, PlaysToTheEndThenStopsThere) {
  ASSERT_EQ(device_->Play({}, {}).error, 0u);
  ASSERT_TRUE(WaitWhilePlaying(*device_));
  EXPECT_EQ(device_->GetMode(), Mode::kStopped);
  EXPECT_EQ(device_->Position(), 800u);
  // Again, from a position to another.
  ASSERT_EQ(device_->Play(100, 300).error, 0u);
  ASSERT_TRUE(WaitWhilePlaying(*device_));
  EXPECT_EQ(device_->Position(), 300u);
}

// A run of a minute is still playing when the pause comes, however busy
// the machine; the device's own thread takes what the null device has
// room for about as fast as it is played, so its last half second is
// played to the end.
TEST_F(OnAlsaNull, PauseResumeAndCloseMidPlay) {
  ASSERT_NO_FATAL_FAILURE(Open(60000));
  ASSERT_EQ(device_->Play(200, 60000).error, 0u);
  ASSERT_EQ(device_->Pause().error, 0u);
  EXPECT_EQ(device_->GetMode(), Mode::kPaused);
  const std::uint32_t paused = device_->Position();
  EXPECT_GE(paused, 200u);
  EXPECT_LE(paused, 60000u);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(device_->Position(), paused);
  ASSERT_EQ(device_->Resume().error, 0u);
  EXPECT_EQ(device_->GetMode(), Mode::kPlaying);
  ASSERT_EQ(device_->Play(59500, 60000).error, 0u);
  ASSERT_TRUE(WaitWhilePlaying(*device_));
  EXPECT_EQ(device_->Position(), 60000u);
  ASSERT_EQ(device_->Play(0, {}).error, 0u);
  device_.reset();  // stops the stream and ends the audio thread
}

// The signals blocked on each thread of this process but the calling one,
// from /proc (SigBlk, in hexadecimal).
std::vector<std::uint64_t> OtherThreadsBlocked() {
  std::vector<std::uint64_t> masks;
  const std::string self = std::to_string(syscall(SYS_gettid));
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/self/task")) {
    if (task.path().filename() == self) continue;
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigBlk:", 0) == 0)
        masks.push_back(std::stoull(line.substr(7), nullptr, 16));
    }
  }
  return masks;
}

TEST_F(OnAlsaNull, ItsThreadsTakeNoSignals) {
  // The program's handlers put the terminal back and stop or end it: they
  // must run on the program's thread, not on one that plays meanwhile.
  ASSERT_EQ(device_->Play(0, {}).error, 0u);
  const std::vector<std::uint64_t> masks = OtherThreadsBlocked();
  ASSERT_GE(masks.size(), 1u);  // the device's render thread
  for (int sig :
       {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT, SIGWINCH}) {
    for (std::uint64_t mask : masks)
      EXPECT_NE(mask & (std::uint64_t{1} << (sig - 1)), 0u) << "signal " << sig;
  }
  // The caller's own mask is as it was.
  sigset_t now;
  pthread_sigmask(SIG_BLOCK, nullptr, &now);
  EXPECT_FALSE(sigismember(&now, SIGINT));
  EXPECT_FALSE(sigismember(&now, SIGTERM));
}

}  // namespace
