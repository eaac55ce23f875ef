#include "pvl_mci/output.h"

#include <algorithm>

namespace pvl {
namespace {

// How far ahead of the clock rendering may run.
constexpr std::uint64_t kAheadFrames = 100 * kFramesPerMs;

class SilentOutput final : public Output {
 public:
  void Start(Nanos now) override {
    start_ = now;
    written_ = 0;
  }
  void Halt() override {}
  std::size_t Room(Nanos now) override {
    std::uint64_t queued = written_ - Heard(now);
    return static_cast<std::size_t>(kAheadFrames - std::min(queued, kAheadFrames));
  }
  void Write(const float*, std::size_t count, Nanos) override {
    written_ += count;
  }
  void Finish(Nanos) override {}
  std::uint64_t Heard(Nanos now) override {
    return std::min(written_, Elapsed(now));
  }
  Nanos WhenRoom(std::size_t frames, Nanos) override {
    std::uint64_t heard = written_ + frames;
    heard = heard > kAheadFrames ? heard - kAheadFrames : 0;
    return start_ + TimeOf(heard);
  }
  Nanos WhenHeard(std::uint64_t frames, Nanos) override {
    return start_ + TimeOf(frames);
  }

 private:
  std::uint64_t Elapsed(Nanos now) const {
    if (now <= start_) return 0;
    return static_cast<std::uint64_t>((now - start_).count()) * kSampleRate /
           1000000000u;
  }
  // The earliest time since Start at which `frame` frames have elapsed.
  static Nanos TimeOf(std::uint64_t frame) {
    return Nanos((frame * 1000000000u + kSampleRate - 1) / kSampleRate);
  }

  Nanos start_{0};
  std::uint64_t written_ = 0;
};

}  // namespace

std::unique_ptr<Output> MakeSilentOutput() {
  return std::make_unique<SilentOutput>();
}

}  // namespace pvl
