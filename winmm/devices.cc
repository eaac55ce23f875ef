#include "winmm/devices.h"

#include <utility>

namespace winmm {

using mci::Fail;
using mci::Ok;

void Devices::AddType(std::string_view type, OpenFunction open) {
  std::lock_guard<std::mutex> lock(mutex_);
  types_[Lower(type)] = std::move(open);
}

void Devices::RemoveType(std::string_view type) {
  std::lock_guard<std::mutex> lock(mutex_);
  types_.erase(Lower(type));
}

Result Devices::Open(const Word& element,
                     const std::optional<std::string>& type,
                     const std::optional<std::string>& alias) {
  if (IsKeyword(element, "all")) return Fail(MCIERR_CANNOT_USE_ALL);
  const std::string key = Lower(alias ? *alias : element.text);
  const auto taken = [&] {
    return Fail(alias ? MCIERR_DUPLICATE_ALIAS : MCIERR_DEVICE_OPEN);
  };
  OpenFunction open;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!type) {
      // Only named device types are known: none is chosen by file name.
      if (types_.count(Lower(element.text)))
        return Fail(MCIERR_FILENAME_REQUIRED);
      return Fail(element.text.find('.') != std::string::npos
                      ? MCIERR_EXTENSION_NOT_FOUND
                      : MCIERR_INVALID_DEVICE_NAME);
    }
    auto found = types_.find(Lower(*type));
    if (found == types_.end()) return Fail(MCIERR_DEVICE_NOT_INSTALLED);
    if (key.empty()) return Fail(MCIERR_MISSING_DEVICE_NAME);
    if (devices_.count(key)) return taken();
    open = found->second;
  }

  // Opening may take a while (it reads the file); the table is not held.
  std::unique_ptr<mci::Device> device;
  Result r = open(element.text, device);
  if (r.error != 0) return r;
  if (!device) return Fail(MCIERR_DRIVER_INTERNAL);

  std::lock_guard<std::mutex> lock(mutex_);
  if (devices_.count(key))
    return taken();  // opened meanwhile by another thread
  OpenDevice entry;
  entry.id = next_id_++;
  entry.device = std::move(device);
  entry.element = element.text;
  devices_.emplace(key, entry);
  return {0, std::to_string(entry.id)};
}

Result Devices::Find(const Word& name, DevicePtr& device,
                     std::string* element) {
  if (IsKeyword(name, "all")) return Fail(MCIERR_CANNOT_USE_ALL);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = devices_.find(Lower(name.text));
  if (it == devices_.end()) return Fail(MCIERR_INVALID_DEVICE_NAME);
  device = it->second.device;
  if (element != nullptr) *element = it->second.element;
  return Ok();
}

Result Devices::Close(const Word& name) {
  if (IsKeyword(name, "all")) {
    CloseAll();
    return Ok();
  }
  DevicePtr device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = devices_.find(Lower(name.text));
    if (it == devices_.end()) return Fail(MCIERR_INVALID_DEVICE_NAME);
    device = std::move(it->second.device);
    devices_.erase(it);
  }
  device.reset();  // closes it, outside the lock
  return Ok();
}

void Devices::CloseAll() {
  std::map<std::string, OpenDevice> devices;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    devices.swap(devices_);
  }
  // The devices close here, outside the lock.
}

bool Devices::IsOpen(const DevicePtr& device) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : devices_)
    if (entry.second.device == device) return true;
  return false;
}

Devices& TheDevices() {
  static Devices devices;
  return devices;
}

}  // namespace winmm
