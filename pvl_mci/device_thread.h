// Starts the device's render thread. Where the system has signals, the
// thread takes none (see signal_mask.h): the program's handlers then run on
// the program's own thread.
#ifndef MCIPLAY_PVL_MCI_DEVICE_THREAD_H
#define MCIPLAY_PVL_MCI_DEVICE_THREAD_H

#include <functional>
#include <thread>

namespace pvl {

std::thread StartDeviceThread(std::function<void()> body);

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_DEVICE_THREAD_H
