// The device types the POSIX media-control service knows. Windows' own
// service finds its drivers in the registry; ours is told by the program
// at start which function opens the devices of each type.
#ifndef MCIPLAY_WINMM_SERVICE_H
#define MCIPLAY_WINMM_SERVICE_H

#include <functional>
#include <memory>
#include <string_view>

#include "mci/device.h"

namespace winmm {

// Opens `element` (a file name, as given in the command) and on success
// stores the device in `device`.
using OpenFunction = std::function<mci::Result(
    std::string_view element, std::unique_ptr<mci::Device>& device)>;

// Makes `type` (compared ignoring letter case) open its devices through
// `open`, replacing any function added under it before.
void AddDeviceType(std::string_view type, OpenFunction open);

// Forgets `type`; devices it opened stay open.
void RemoveDeviceType(std::string_view type);

}  // namespace winmm

#endif  // MCIPLAY_WINMM_SERVICE_H
