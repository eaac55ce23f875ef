#include <algorithm>

#include "pvl_mci/output.h"

namespace pvl {
namespace {

// As far ahead of the clock as writing may run: a sound card's buffer.
constexpr std::size_t kCapacity = 200 * kFramesPerMs;

class SilentOutput final : public Output {
 public:
  State Poll(Nanos) override { return State::kReady; }
  std::string Error() const override { return {}; }
  std::size_t Capacity() const override { return kCapacity; }

  void Start(Nanos now) override {
    start_ = now;
    written_ = 0;
  }
  void Halt() override {}
  std::size_t Room(Nanos now) override {
    const std::uint64_t queued = written_ - HeardBy(Clock(), now);
    return kCapacity -
           static_cast<std::size_t>(std::min<std::uint64_t>(queued, kCapacity));
  }
  Nanos WhenRoom(std::size_t frames, Nanos) override {
    const std::uint64_t need = written_ + std::min(frames, kCapacity);
    return WhenHeard(Clock(), need > kCapacity ? need - kCapacity : 0);
  }
  void Write(const float*, std::size_t count, Nanos now) override {
    // Everything written was heard before now: the clock stood at the last
    // frame meanwhile, and goes on from there.
    if (HeardBy(Clock(), now) == written_ && WhenHeard(Clock(), written_) < now)
      start_ = now - (WhenHeard(Clock(), written_) - start_);
    written_ += count;
  }
  void Finish(Nanos) override {}
  Progress Heard(Nanos) override { return Clock(); }

 private:
  Progress Clock() const { return {0, start_, true, written_}; }

  Nanos start_{0};
  std::uint64_t written_ = 0;
};

}  // namespace

std::unique_ptr<Output> MakeSilentOutput() {
  return std::make_unique<SilentOutput>();
}

}  // namespace pvl
