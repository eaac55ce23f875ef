#include "pvl_mci/device_thread.h"

#include "pvl_mci/signal_mask.h"

namespace pvl {

std::thread StartDeviceThread(std::function<void()> body) {
  NoSignalsForNewThreads no_signals;
  return std::thread(std::move(body));
}

}  // namespace pvl
