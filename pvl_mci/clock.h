// The time the device paces its silent output by. The program uses the
// steady clock; tests give the device a clock of their own that moves only
// when they say so.
#ifndef MCIPLAY_PVL_MCI_CLOCK_H
#define MCIPLAY_PVL_MCI_CLOCK_H

#include <chrono>
#include <mutex>

#include "pvl_mci/mutex.h"

namespace pvl {

using Nanos = std::chrono::nanoseconds;
constexpr Nanos kForever = Nanos::max();

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Nanos Now() = 0;
  // Called with `lock` held on the mutex that guards what `cv` signals:
  // waits until Now() reaches `deadline` (kForever: no deadline) or `cv` is
  // notified. It may return early; the caller looks again.
  virtual void WaitUntil(std::unique_lock<Mutex>& lock, CondVar& cv,
                         Nanos deadline) = 0;
};

// std::chrono::steady_clock.
Clock& SteadyClock();

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_CLOCK_H
