#include "pvl_mci/output_chain.h"

#include <string>

namespace pvl {
namespace {

class Chain final : public Output {
 public:
  explicit Chain(std::vector<OutputKind> kinds) : kinds_(std::move(kinds)) {
    Next();
  }

  State Poll(Nanos now) override {
    while (current_) {
      const State state = current_->Poll(now);
      if (state == State::kReady) ready_ = true;
      if (state != State::kFailed) return state;
      if (!error_.empty()) {
        error_ += "; ";
        reason_ += "; ";
      }
      error_ += current_->Error();
      reason_.append(kinds_[at_ - 1].name)
          .append(": ")
          .append(current_->Reason());
      hangs_ = current_->Hangs();
      current_.reset();
      if (!hangs_ && !ready_) Next();  // one that played has no successor
    }
    return State::kFailed;
  }
  bool Hangs() const override { return hangs_; }
  // Each error names its call, and so its system; without the calls, each
  // reason goes with its kind's name.
  std::string Error() const override { return error_; }
  std::string Reason() const override { return reason_; }
  std::size_t Rank() const override { return at_ - 1; }

  // Once ready, everything else is the current output's.
  std::size_t Capacity() const override { return current_->Capacity(); }
  void Start(Nanos now) override { current_->Start(now); }
  void Halt() override { current_->Halt(); }
  std::size_t Room(Nanos now) override { return current_->Room(now); }
  Nanos WhenRoom(std::size_t frames, Nanos now) override {
    return current_->WhenRoom(frames, now);
  }
  void Write(const float* frames, std::size_t count, Nanos now) override {
    current_->Write(frames, count, now);
  }
  void Trigger(Nanos now) override { current_->Trigger(now); }
  void Finish(Nanos now) override { current_->Finish(now); }
  Progress Heard(Nanos now) override { return current_->Heard(now); }
  std::uint64_t Underruns() override {
    return current_ ? current_->Underruns() : 0;
  }
  bool Grow() override { return current_ && current_->Grow(); }

 private:
  void Next() {
    if (at_ < kinds_.size()) current_ = kinds_[at_++].open();
  }

  std::vector<OutputKind> kinds_;
  std::size_t at_ = 0;
  std::unique_ptr<Output> current_;
  std::string error_;
  std::string reason_;
  bool hangs_ = false;
  bool ready_ = false;
};

}  // namespace

std::unique_ptr<Output> OpenChain(std::vector<OutputKind> kinds) {
  return std::make_unique<Chain>(std::move(kinds));
}

}  // namespace pvl
