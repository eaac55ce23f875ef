// Windows sends no signals to threads: a plain thread will do.
#include "pvl_mci/device_thread.h"

namespace pvl {

std::thread StartDeviceThread(std::function<void()> body) {
  return std::thread(std::move(body));
}

}  // namespace pvl
