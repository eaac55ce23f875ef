#include "pvl_mci/output.h"

#include <algorithm>

namespace pvl {
namespace {

// How far ahead of the clock rendering may run.
constexpr std::uint64_t kAheadFrames = 100 * kFramesPerMs;

constexpr std::uint64_t kNanosPerSecond = 1000000000u;

class SilentOutput final : public Output {
 public:
  SilentOutput() = default;
  SilentOutput(std::uint64_t heard, std::uint64_t written, Nanos now)
      : start_(now - TimeOf(heard)), written_(written) {}

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
  bool Failed(Nanos) override { return false; }

 private:
  // Whole seconds and the rest apart, so that no product leaves 64 bits
  // however long the run (nanoseconds times the rate would after 106 hours).
  std::uint64_t Elapsed(Nanos now) const {
    if (now <= start_) return 0;
    const auto ns = static_cast<std::uint64_t>((now - start_).count());
    return ns / kNanosPerSecond * kSampleRate +
           ns % kNanosPerSecond * kSampleRate / kNanosPerSecond;
  }
  // The earliest time since Start at which `frame` frames have elapsed.
  static Nanos TimeOf(std::uint64_t frame) {
    const std::uint64_t rest = frame % kSampleRate;
    return Nanos(static_cast<Nanos::rep>(
        frame / kSampleRate * kNanosPerSecond +
        (rest * kNanosPerSecond + kSampleRate - 1) / kSampleRate));
  }

  Nanos start_{0};
  std::uint64_t written_ = 0;
};

}  // namespace

std::unique_ptr<Output> MakeSilentOutput() {
  return std::make_unique<SilentOutput>();
}

std::unique_ptr<Output> MakeSilentOutputFrom(std::uint64_t heard,
                                             std::uint64_t written, Nanos now) {
  return std::make_unique<SilentOutput>(std::min(heard, written), written, now);
}

}  // namespace pvl
