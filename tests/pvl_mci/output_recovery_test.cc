// A sound output failing, standing still, or being a second choice, with
// new ones to open: on a clock of the test's own, the device keeps the
// position in time, opens at most one output a second, and goes on in the
// new one from the place the music has reached.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include "harness/reference_render.h"
#include "pvl_mci/module_device.h"
#include "pvl_mci/output.h"
#include "tests/support/manual_clock.h"
#include "xmgen/pieces.h"

namespace {

using pvl::Nanos;
using std::chrono::milliseconds;

// What the test says of one output, and what it saw.
struct Script {
  Nanos ready_at{0};  // opening before
  Nanos fails_at = pvl::kForever;
  Nanos stands_still_at = pvl::kForever;
  std::size_t rank = 0;
  // A stream that plays nothing before, and tells nothing until after.
  Nanos plays_from{0};
  // A stream that takes nothing until it holds this many frames (a graph
  // cycle), and meanwhile tells that nothing was heard; it plays from the
  // next cycle after.
  std::size_t takes_whole = 0;
  // Seen: when its stream started, the silence written to it first, the
  // first frames written after that, and whether the device let go of it.
  std::vector<Nanos> starts;
  std::size_t lead = 0;
  std::vector<float> first_frames;
  bool destroyed = false;
};

// Plays in time through a silent output, as the script says.
class ScriptedOutput final : public pvl::Output {
 public:
  explicit ScriptedOutput(Script& s) : s_(s), inner_(pvl::MakeSilentOutput()) {}
  ~ScriptedOutput() override { s_.destroyed = true; }
  State Poll(Nanos now) override {
    if (now >= s_.fails_at) return State::kFailed;
    return now >= s_.ready_at ? State::kReady : State::kOpening;
  }
  std::string Error() const override { return "scripted"; }
  std::size_t Rank() const override { return s_.rank; }
  std::size_t Capacity() const override { return inner_->Capacity(); }
  void Start(Nanos now) override {
    s_.starts.push_back(now);
    s_.lead = 0;
    s_.first_frames.clear();
    given_ = 0;
    inner_->Start(std::max(now, s_.plays_from));
  }
  void Halt() override {}
  std::size_t Room(Nanos now) override {
    if (Waits()) return Capacity() - std::min(Capacity(), given_);
    return Still(now) ? 0 : inner_->Room(now);
  }
  Nanos WhenRoom(std::size_t frames, Nanos now) override {
    return inner_->WhenRoom(frames, now);
  }
  void Write(const float* frames, std::size_t count, Nanos now) override {
    given_ += count;
    if (s_.takes_whole > 0 && s_.plays_from == Nanos{0} &&
        given_ >= s_.takes_whole) {
      const Nanos cycle = pvl::TimeOf(s_.takes_whole);
      s_.plays_from =
          s_.starts.back() + ((now - s_.starts.back()) / cycle + 1) * cycle;
      inner_->Start(s_.plays_from);
      inner_->Write(frames, given_ - count, now);
    }
    if (!Waits()) inner_->Write(frames, count, now);
    for (; count > 0 && s_.first_frames.empty() && frames[0] == 0.0f &&
           frames[1] == 0.0f;
         --count, frames += 2)
      ++s_.lead;
    const std::size_t keep =
        std::min<std::size_t>(2 * count, 9600 - s_.first_frames.size());
    s_.first_frames.insert(s_.first_frames.end(), frames, frames + keep);
  }
  void Finish(Nanos now) override { inner_->Finish(now); }
  pvl::Progress Heard(Nanos now) override {
    if (Waits()) return {0, now, true, 0};
    if (now <= s_.plays_from) return {0, now, false, 0};
    pvl::Progress p = inner_->Heard(now);
    if (Still(now))
      p.limit = std::min(p.limit, pvl::HeardBy(p, s_.stands_still_at));
    return p;
  }

 private:
  bool Still(Nanos now) const { return now >= s_.stands_still_at; }
  bool Waits() const { return s_.takes_whole > 0 && s_.plays_from == Nanos{0}; }
  Script& s_;
  std::size_t given_ = 0;
  std::unique_ptr<pvl::Output> inner_;
};

constexpr std::uint32_t kLengthMs = 6000;

class OutputRecovery : public ::testing::Test {
 protected:
  // The device on `first`; each reopening gets the next script of `next`
  // (and counts the kinds it was asked for).
  void Open(Script& first) {
    const Nanos t0 = clock_.Now();
    first.ready_at = t0;
    auto open = [this](std::size_t kinds) -> std::unique_ptr<pvl::Output> {
      attempts_.push_back(clock_.Now());
      kinds_.push_back(kinds);
      Script& s = next_.at(std::min(attempts_.size() - 1, next_.size() - 1));
      return std::make_unique<ScriptedOutput>(s);
    };
    ASSERT_EQ(
        pvl::ModuleDevice::Create(
            piece_, std::make_unique<ScriptedOutput>(first),
            {open, [this] { return sign_.exchange(false); }}, clock_, device_)
            .error,
        0u);
    ASSERT_EQ(device_->Play({}, {}).error, 0u);
    ASSERT_TRUE(Settle(*device_));
  }
  // Moves on in steps of 10 ms; the position keeps time all along (or,
  // where the output stood still, by the end).
  void PlayFor(int ms, bool every_step = true) {
    for (; ms > 0; ms -= 10) {
      clock_.Advance(milliseconds(10));
      ASSERT_TRUE(Settle(*device_));
      played_ += 10;
      ASSERT_EQ(mci::ModeName(device_->GetMode()), "playing");
      if (every_step || ms == 10) {
        ASSERT_EQ(device_->Position(), played_);
      }
    }
  }
  // The new output was written the piece, after a lead of silence, from
  // where real time was when that lead had played (from when the stream
  // began to be heard): the same music as played on without a break (close
  // to it: the notes are picked up anew), not silence, nor music from
  // elsewhere.
  void ExpectTheMusicFromItsStart(const Script& s) {
    ASSERT_FALSE(s.starts.empty());
    const auto at_ms = std::chrono::duration_cast<milliseconds>(
                           std::max(s.starts.front(), s.plays_from) - start_)
                           .count();
    const std::size_t from =
        (static_cast<std::size_t>(at_ms) * 48 + s.lead) * 2;
    ASSERT_EQ(s.first_frames.size(), 9600u);
    ASSERT_LE(from + 9600, reference_.size());
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < s.first_frames.size(); ++i) {
      const double r = reference_[from + i];
      signal += r * r;
      noise += (s.first_frames[i] - r) * (s.first_frames[i] - r);
    }
    EXPECT_GT(10 * std::log10(signal / noise), 20.0)
        << "from " << at_ms << " ms";
  }

  ManualClock clock_;
  const Nanos start_ = clock_.Now();
  const std::vector<std::uint8_t> piece_ =
      xmgen::WriteXm(xmgen::DensePiece(4, 6));
  const std::vector<float> reference_ = audio::RenderReference(piece_);
  std::vector<Script> next_;
  std::vector<Nanos> attempts_;
  std::vector<std::size_t> kinds_;
  std::atomic<bool> sign_{false};  // that a server may have come
  std::uint32_t played_ = 0;
  std::unique_ptr<pvl::ModuleDevice> device_;
};

TEST_F(OutputRecovery, AFailedOutputIsOpenedAgainOnceASecondAndTheMusicGoesOn) {
  Script first;
  first.fails_at = start_ + milliseconds(600);
  next_.resize(3);
  next_[0].fails_at = next_[1].fails_at = start_;  // the server is still away
  next_[2].ready_at =
      start_ + milliseconds(2700);  // back, after a while to connect
  Open(first);
  ASSERT_NO_FATAL_FAILURE(PlayFor(4000));
  EXPECT_TRUE(first.destroyed);
  ASSERT_EQ(attempts_.size(), 3u);
  for (std::size_t i = 1; i < attempts_.size(); ++i)
    EXPECT_GE(attempts_[i] - attempts_[i - 1], milliseconds(1000));
  EXPECT_EQ(kinds_, std::vector<std::size_t>(3, pvl::kAllKinds));
  ASSERT_EQ(next_[2].starts.size(), 1u);
  EXPECT_GE(next_[2].starts[0], start_ + milliseconds(2700));
  ExpectTheMusicFromItsStart(next_[2]);
}

// A sign that a server has come brings the next attempt forward, and more
// follow quickly while the server does not answer yet.
TEST_F(OutputRecovery, ASignOfAServerIsFollowedAtOnce) {
  Script first;
  first.fails_at = start_ + milliseconds(600);
  next_.resize(3);
  next_[0].fails_at = next_[1].fails_at = start_;
  Open(first);
  ASSERT_NO_FATAL_FAILURE(PlayFor(1000));
  ASSERT_EQ(attempts_.size(), 1u);
  sign_ = true;
  ASSERT_NO_FATAL_FAILURE(PlayFor(400));
  ASSERT_EQ(attempts_.size(), 3u);
  // The device looks for the sign at each of its steps, 100 ms apart at
  // most while it plays silently.
  EXPECT_LE(attempts_[1] - (start_ + milliseconds(1000)), milliseconds(110));
  EXPECT_LE(attempts_[2] - attempts_[1], milliseconds(110));
  ExpectTheMusicFromItsStart(next_[2]);
}

// After a stop of this process, the music comes in again over a few
// milliseconds, not with a click: the first frame written is silent, and
// the first 5 ms hold less than half the energy of the next 5.
TEST_F(OutputRecovery, AfterAStopTheMusicComesInWithoutAClick) {
  Script first;
  Open(first);
  ASSERT_NO_FATAL_FAILURE(PlayFor(500));
  clock_.Advance(milliseconds(2000));
  ASSERT_TRUE(Settle(*device_));
  ASSERT_EQ(first.starts.size(), 2u);
  EXPECT_GE(first.lead, 1u);
  ASSERT_GE(first.first_frames.size(), 4u * 240);
  double early = 0, later = 0;
  for (std::size_t i = 0; i < 2 * 240; ++i) {
    early += first.first_frames[i] * first.first_frames[i];
    later += first.first_frames[i + 480] * first.first_frames[i + 480];
  }
  EXPECT_LT(early, later / 2);
  device_.reset();  // while `first` is there to see it go
}

TEST_F(OutputRecovery, AnOutputThatStandsStillIsLetGoAfterASecond) {
  Script first;
  first.stands_still_at = start_ + milliseconds(500);
  next_.resize(1);
  Open(first);
  // The line waits a moment for the output, then keeps time without it.
  ASSERT_NO_FATAL_FAILURE(PlayFor(1400, false));
  EXPECT_FALSE(first.destroyed);  // still a stall, not yet a failure
  ASSERT_NO_FATAL_FAILURE(PlayFor(400));
  EXPECT_TRUE(first.destroyed);
  ASSERT_EQ(attempts_.size(), 1u);
  ASSERT_NO_FATAL_FAILURE(PlayFor(100));
  ExpectTheMusicFromItsStart(next_[0]);
}

// A server that takes a stream's frames only a whole graph cycle at a time
// (PipeWire; here 80 ms, within half the buffer) gets the music after
// silence enough to begin: in place, and the line keeps time meanwhile.
TEST_F(OutputRecovery, AServerThatTakesWholeCyclesGetsTheMusicInPlace) {
  Script first;
  first.fails_at = start_ + milliseconds(600);
  next_.resize(1);
  next_[0].takes_whole = 80 * 48;
  Open(first);
  ASSERT_NO_FATAL_FAILURE(PlayFor(2000));
  ASSERT_NE(next_[0].plays_from, Nanos{0});
  ExpectTheMusicFromItsStart(next_[0]);
}

// A second choice (ALSA, say, while the server is away) gives way to the
// first once it opens. That one's server may be held a while after its
// stream opened (here 210 and 600 ms), telling nothing meanwhile, and then
// plays the silence it was given after the hold.
class SecondChoice : public OutputRecovery,
                     public ::testing::WithParamInterface<int> {};

TEST_P(SecondChoice, GivesWayToTheFirstOnceItOpens) {
  Script first;
  first.rank = 1;
  next_.resize(2);
  next_[0].fails_at = start_;
  next_[1].ready_at = start_ + milliseconds(1300);
  if (GetParam() > 0) next_[1].plays_from = start_ + milliseconds(GetParam());
  Open(first);
  ASSERT_NO_FATAL_FAILURE(PlayFor(2500));
  // Only the first choice was tried again, and the music moved to it.
  EXPECT_EQ(kinds_, std::vector<std::size_t>(2, 1));
  EXPECT_TRUE(first.destroyed);
  ASSERT_EQ(next_[1].starts.size(), 1u);
  ExpectTheMusicFromItsStart(next_[1]);
}

INSTANTIATE_TEST_SUITE_P(OutputRecovery, SecondChoice,
                         ::testing::Values(0, 1510, 1900));

}  // namespace
