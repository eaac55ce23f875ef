// The service's table: the device types the program added, and the devices
// open in the process by their alias. Each operation holds the table's lock
// only for itself: a device type's open function and a device's close run
// outside it, so a slow open holds up no other thread.
#ifndef MCIPLAY_WINMM_DEVICES_H
#define MCIPLAY_WINMM_DEVICES_H

#include <windows.h>
#include <mmsystem.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "mci/device.h"
#include "winmm/parse.h"
#include "winmm/service.h"

namespace winmm {

using mci::Result;
using DevicePtr = std::shared_ptr<mci::Device>;

class Devices {
 public:
  ~Devices() { CloseAll(); }

  void AddType(std::string_view type, OpenFunction open);
  void RemoveType(std::string_view type);

  // Opens `element` through the device type `type` and names the device
  // `alias`, or the element itself. Replies the device's number.
  Result Open(const Word& element, const std::optional<std::string>& type,
              const std::optional<std::string>& alias);
  // The open device called `name`, and (if asked) the element it opened.
  Result Find(const Word& name, DevicePtr& device,
              std::string* element = nullptr);
  // Closes the device called `name`, or every device for "all".
  Result Close(const Word& name);
  void CloseAll();
  // False once `device` was closed.
  bool IsOpen(const DevicePtr& device);

 private:
  struct OpenDevice {
    MCIDEVICEID id = 0;
    DevicePtr device;
    std::string element;  // as the open command gave it
  };

  std::mutex mutex_;
  std::map<std::string, OpenFunction> types_;  // by name, in lower case
  std::map<std::string, OpenDevice> devices_;  // by alias, in lower case
  MCIDEVICEID next_id_ = 1;
};

// The process's table: emptied, and so every device closed, when the
// process ends.
Devices& TheDevices();

}  // namespace winmm

#endif  // MCIPLAY_WINMM_DEVICES_H
