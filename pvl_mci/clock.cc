#include "pvl_mci/clock.h"

namespace pvl {
namespace {

class Steady final : public Clock {
 public:
  Nanos Now() override {
    return std::chrono::duration_cast<Nanos>(
        std::chrono::steady_clock::now().time_since_epoch());
  }
  void WaitUntil(std::unique_lock<Mutex>& lock, CondVar& cv,
                 Nanos deadline) override {
    if (deadline == kForever) {
      cv.wait(lock);
    } else {
      cv.wait_until(
          lock,
          std::chrono::steady_clock::time_point(
              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                  deadline)));
    }
  }
};

}  // namespace

Clock& SteadyClock() {
  // Never destroyed: devices still open at exit close after the static
  // objects constructed later than the service's table are gone.
  static Steady* clock = new Steady;
  return *clock;
}

}  // namespace pvl
