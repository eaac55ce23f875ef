// A process stopped while it plays (a job started in the background, then
// brought to the foreground; SIGSTOP and SIGCONT; the machine suspended):
// the time it stood still is not heard, wherever the stop fell in the run
// and whether or not the sound output had opened by then.
#include "pvl_mci/renderer.h"

#include <gtest/gtest.h>

#include <libopenmpt/libopenmpt.hpp>

#include <chrono>
#include <memory>
#include <string>

#include "xmgen/pieces.h"

namespace {

using pvl::Nanos;
using std::chrono::milliseconds;

// A silent output that is still opening until `ready_at`.
class OpensAt final : public pvl::Output {
 public:
  explicit OpensAt(Nanos ready_at)
      : ready_at_(ready_at), inner_(pvl::MakeSilentOutput()) {}
  State Poll(Nanos now) override {
    return now >= ready_at_ ? State::kReady : State::kOpening;
  }
  std::string Error() const override { return {}; }
  std::size_t Capacity() const override { return inner_->Capacity(); }
  void Start(Nanos now) override { inner_->Start(now); }
  void Halt() override {}
  std::size_t Room(Nanos now) override { return inner_->Room(now); }
  Nanos WhenRoom(std::size_t frames, Nanos now) override {
    return inner_->WhenRoom(frames, now);
  }
  void Write(const float* frames, std::size_t count, Nanos now) override {
    inner_->Write(frames, count, now);
  }
  void Finish(Nanos now) override { inner_->Finish(now); }
  pvl::Progress Heard(Nanos now) override { return inner_->Heard(now); }

 private:
  Nanos ready_at_;
  std::unique_ptr<pvl::Output> inner_;
};

struct Stop {
  const char* name;
  bool after_first_step;  // false: between the run's start and its first step
  bool output_opening;    // the output opens while the process stands still
};
void PrintTo(const Stop& stop, std::ostream* out) { *out << stop.name; }

class StoppedProcess : public testing::TestWithParam<Stop> {};

TEST_P(StoppedProcess, TheTimeItStoodStillIsNotHeard) {
  const Nanos t0 = std::chrono::seconds(1000);
  const Nanos ready = GetParam().output_opening ? t0 + milliseconds(50) : t0;
  pvl::Renderer renderer(std::make_unique<openmpt::module>(
                             xmgen::WriteXm(xmgen::DensePiece(4, 20))),
                         std::make_unique<OpensAt>(ready), {});
  renderer.Begin(0, 20000, t0);
  if (GetParam().after_first_step) renderer.Step(t0);

  // Stopped for 4 s; then the render thread steps as it asks to.
  Nanos now = t0 + std::chrono::seconds(4);
  auto heard_ms = [&](const pvl::Renderer::Report& r) {
    return static_cast<double>(pvl::HeardBy(r.heard, now)) / pvl::kFramesPerMs;
  };
  pvl::Renderer::Report report = renderer.Step(now);
  const double at_continue = heard_ms(report);
  // At most what was written before the stop: one buffer (200 ms).
  EXPECT_LE(at_continue, 200.0);
  const Nanos until = now + milliseconds(500);
  while (now < until) {
    now = std::min(std::max(report.wake, now + milliseconds(1)), until);
    report = renderer.Step(now);
  }
  // From there on it keeps time: half a second more, to the frame.
  EXPECT_NEAR(heard_ms(report) - at_continue, 500.0, 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Stops, StoppedProcess,
    testing::Values(Stop{"BeforeTheFirstStepWhileOpening", false, true},
                    Stop{"BeforeTheFirstStepWhenOpen", false, false},
                    Stop{"AfterTheFirstStepWhileOpening", true, true},
                    Stop{"AfterTheFirstStepWhenOpen", true, false}),
    [](const testing::TestParamInfo<Stop>& info) {
      return std::string(info.param.name);
    });

}  // namespace
