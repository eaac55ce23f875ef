// A clock for the device that moves only when the test advances it, a wait
// for the device's audio thread to have caught up with it, and the two
// together.
#ifndef MCIPLAY_TESTS_SUPPORT_MANUAL_CLOCK_H
#define MCIPLAY_TESTS_SUPPORT_MANUAL_CLOCK_H

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "pvl_mci/clock.h"
#include "pvl_mci/module_device.h"

class ManualClock final : public pvl::Clock {
 public:
  pvl::Nanos Now() override {
    std::lock_guard<std::mutex> g(mutex_);
    return now_;
  }

  void WaitUntil(std::unique_lock<pvl::Mutex>& lock, pvl::CondVar& cv,
                 pvl::Nanos deadline) override {
    Waiter self{&cv, lock.mutex(), deadline};
    {
      std::lock_guard<std::mutex> g(mutex_);
      if (now_ >= deadline) return;
      waiters_.push_back(self);
    }
    cv.wait(lock);
    std::lock_guard<std::mutex> g(mutex_);
    auto it =
        std::find_if(waiters_.begin(), waiters_.end(), [&](const Waiter& w) {
          return w.cv == self.cv && w.deadline == self.deadline;
        });
    if (it != waiters_.end()) waiters_.erase(it);
  }

  // Moves the time on and wakes the waits whose deadline it reaches.
  void Advance(std::chrono::milliseconds by) {
    std::vector<Waiter> due;
    {
      std::lock_guard<std::mutex> g(mutex_);
      now_ += by;
      for (const Waiter& w : waiters_)
        if (w.deadline <= now_) due.push_back(w);
    }
    for (const Waiter& w : due) {
      std::lock_guard<pvl::Mutex> g(*w.mutex);
      w.cv->notify_all();
    }
  }

 private:
  struct Waiter {
    pvl::CondVar* cv;
    pvl::Mutex* mutex;
    pvl::Nanos deadline;
  };
  std::mutex mutex_;
  pvl::Nanos now_ = std::chrono::seconds(1000);
  std::vector<Waiter> waiters_;
};

// Waits (in real time, at most 10 s) until the device's audio thread has
// done all there is to do at the clock's present time.
inline bool Settle(pvl::ModuleDevice& device) {
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < give_up) {
    if (device.Settled()) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  return false;
}

// Moves the clock on by `ms` in steps of at most `step_ms`, as a device that
// keeps up sees the time, and lets the device catch up after each step;
// false when it did not.
inline bool AdvanceInSteps(ManualClock& clock, pvl::ModuleDevice& device,
                           int ms, int step_ms) {
  for (; ms > 0; ms -= step_ms) {
    clock.Advance(std::chrono::milliseconds(std::min(ms, step_ms)));
    if (!Settle(device)) return false;
  }
  return true;
}

#endif  // MCIPLAY_TESTS_SUPPORT_MANUAL_CLOCK_H
