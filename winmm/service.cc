// mciSendStringA and mciGetErrorStringA: the media-control string service.
// It parses each command, finds the device by its alias in the table of open
// devices (or, for open, the driver by its device type) and calls it.
#include <windows.h>
#include <mmsystem.h>

#include <chrono>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "winmm/errors.h"
#include "winmm/parse.h"
#include "winmm/service.h"

namespace winmm {

using mci::Device;
using mci::Fail;
using mci::Mode;
using mci::Ok;
using mci::Result;

namespace {

using DevicePtr = std::shared_ptr<Device>;

struct OpenDevice {
  MCIDEVICEID id = 0;
  DevicePtr device;
};

// The drivers and the open devices of the process. The table is emptied,
// and so every device closed, when the process ends.
class Service {
 public:
  ~Service() { CloseAll(); }

  void Register(std::string_view type, OpenFunction open) {
    std::lock_guard<std::mutex> lock(mutex_);
    drivers_[Lower(type)] = std::move(open);
  }

  void Unregister(std::string_view type) {
    std::lock_guard<std::mutex> lock(mutex_);
    drivers_.erase(Lower(type));
  }

  Result Execute(const Command& c);

 private:
  Result Open(const Command& c);
  Result Close(const Command& c);
  Result Play(const Command& c);
  Result Seek(const Command& c);
  Result Set(const Command& c);
  Result Status(const Command& c);
  Result Simple(const Command& c);
  Result WaitWhilePlaying(const DevicePtr& device);

  // The device named by the command; fails if it is not open.
  Result Find(const Word& name, DevicePtr& device);

  void CloseAll() {
    std::map<std::string, OpenDevice> devices;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      devices.swap(devices_);
    }
    // The devices close here, outside the lock.
  }

  std::mutex mutex_;
  std::map<std::string, OpenFunction> drivers_;
  std::map<std::string, OpenDevice> devices_;  // by alias, in lower case
  MCIDEVICEID next_id_ = 1;
};

Service& TheService() {
  static Service service;
  return service;
}

// Words after the device name, taken one keyword at a time.
class Words {
 public:
  explicit Words(const std::vector<Word>& words) : words_(words) {}
  bool Done() const { return at_ == words_.size(); }
  const Word& Next() { return words_[at_++]; }
  bool TakeValue(Word& value) {
    if (Done()) return false;
    value = Next();
    return true;
  }

 private:
  const std::vector<Word>& words_;
  std::size_t at_ = 0;
};

// A notification is posted to a window, and a console program has none.
Result NotifyError() {
  return Fail(MCIERR_UNSUPPORTED_FUNCTION,
              "Notification needs a window; this service has none to post to.");
}

// Checks the words of a command that takes only "wait".
Result OnlyWait(const Command& c) {
  for (const Word& w : c.words) {
    if (IsKeyword(w, "notify")) return NotifyError();
    if (!IsKeyword(w, "wait")) return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
  }
  return Ok();
}

Result Service::Find(const Word& name, DevicePtr& device) {
  if (!name.quoted && IsKeyword(name, "all")) return Fail(MCIERR_CANNOT_USE_ALL);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = devices_.find(Lower(name.text));
  if (it == devices_.end()) return Fail(MCIERR_INVALID_DEVICE_NAME);
  device = it->second.device;
  return Ok();
}

Result Service::Open(const Command& c) {
  Word type, alias;
  bool have_type = false, have_alias = false;
  Words words(c.words);
  while (!words.Done()) {
    const Word& w = words.Next();
    if (IsKeyword(w, "type") || IsKeyword(w, "alias")) {
      bool is_type = IsKeyword(w, "type");
      bool& have = is_type ? have_type : have_alias;
      if (have) return Fail(MCIERR_DUPLICATE_FLAGS);
      if (!words.TakeValue(is_type ? type : alias))
        return Fail(MCIERR_MISSING_STRING_ARGUMENT);
      have = true;
    } else if (IsKeyword(w, "notify")) {
      return NotifyError();
    } else if (!IsKeyword(w, "wait")) {
      return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    }
  }

  const std::string& element = c.device.text;
  if (IsKeyword(c.device, "all")) return Fail(MCIERR_CANNOT_USE_ALL);
  OpenFunction open;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!have_type) {
      // Only named device types are known: none is chosen by file name.
      if (drivers_.count(Lower(element))) return Fail(MCIERR_FILENAME_REQUIRED);
      return Fail(element.find('.') != std::string::npos
                      ? MCIERR_EXTENSION_NOT_FOUND
                      : MCIERR_INVALID_DEVICE_NAME);
    }
    auto driver = drivers_.find(Lower(type.text));
    if (driver == drivers_.end()) return Fail(MCIERR_DEVICE_NOT_INSTALLED);
    const std::string key = Lower(have_alias ? alias.text : element);
    if (key.empty()) return Fail(MCIERR_MISSING_DEVICE_NAME);
    if (devices_.count(key))
      return Fail(have_alias ? MCIERR_DUPLICATE_ALIAS : MCIERR_DEVICE_OPEN);
    open = driver->second;
  }

  // The driver may take a while (it reads the file); the table is not held.
  std::unique_ptr<Device> device;
  Result r = open(element, device);
  if (r.error != 0) return r;
  if (!device) return Fail(MCIERR_DRIVER_INTERNAL);

  std::lock_guard<std::mutex> lock(mutex_);
  const std::string key = Lower(have_alias ? alias.text : element);
  if (devices_.count(key)) {  // opened meanwhile by another thread
    return Fail(have_alias ? MCIERR_DUPLICATE_ALIAS : MCIERR_DEVICE_OPEN);
  }
  OpenDevice entry;
  entry.id = next_id_++;
  entry.device = std::move(device);
  devices_.emplace(key, entry);
  return {0, std::to_string(entry.id)};
}

Result Service::Close(const Command& c) {
  if (Result r = OnlyWait(c); r.error) return r;
  if (IsKeyword(c.device, "all")) {
    CloseAll();
    return Ok();
  }
  DevicePtr device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = devices_.find(Lower(c.device.text));
    if (it == devices_.end()) return Fail(MCIERR_INVALID_DEVICE_NAME);
    device = std::move(it->second.device);
    devices_.erase(it);
  }
  device.reset();  // closes it, outside the lock
  return Ok();
}

Result Service::WaitWhilePlaying(const DevicePtr& device) {
  while (device->GetMode() == Mode::kPlaying) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // A device closed meanwhile is no longer waited for.
    std::lock_guard<std::mutex> lock(mutex_);
    bool open = false;
    for (const auto& entry : devices_) open |= entry.second.device == device;
    if (!open) break;
  }
  return Ok();
}

Result Service::Play(const Command& c) {
  std::optional<std::uint32_t> from, to;
  bool wait = false;
  Words words(c.words);
  while (!words.Done()) {
    const Word& w = words.Next();
    if (IsKeyword(w, "from") || IsKeyword(w, "to")) {
      std::optional<std::uint32_t>& value = IsKeyword(w, "from") ? from : to;
      if (value) return Fail(MCIERR_DUPLICATE_FLAGS);
      Word number;
      if (!words.TakeValue(number)) return Fail(MCIERR_MISSING_PARAMETER);
      std::uint32_t v = 0;
      if (MCIERROR e = ParseNumber(number, v)) return Fail(e);
      value = v;
    } else if (IsKeyword(w, "wait")) {
      wait = true;
    } else if (IsKeyword(w, "notify")) {
      return NotifyError();
    } else {
      return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    }
  }
  DevicePtr device;
  if (Result r = Find(c.device, device); r.error) return r;
  if (MCIERROR e = mci::PlayRangeError(from, to, device->Length())) return Fail(e);
  Result r = device->Play(from, to);
  if (r.error == 0 && wait) return WaitWhilePlaying(device);
  return r;
}

Result Service::Seek(const Command& c) {
  std::optional<std::uint32_t> target;
  bool to_end = false;
  Words words(c.words);
  while (!words.Done()) {
    const Word& w = words.Next();
    if (IsKeyword(w, "to")) {
      if (target || to_end) return Fail(MCIERR_DUPLICATE_FLAGS);
      Word where;
      if (!words.TakeValue(where)) return Fail(MCIERR_MISSING_PARAMETER);
      if (IsKeyword(where, "start")) {
        target = 0;
      } else if (IsKeyword(where, "end")) {
        to_end = true;
      } else {
        std::uint32_t v = 0;
        if (MCIERROR e = ParseNumber(where, v)) return Fail(e);
        target = v;
      }
    } else if (IsKeyword(w, "notify")) {
      return NotifyError();
    } else if (!IsKeyword(w, "wait")) {
      return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    }
  }
  if (!target && !to_end) return Fail(MCIERR_MISSING_PARAMETER);
  DevicePtr device;
  if (Result r = Find(c.device, device); r.error) return r;
  const std::uint32_t length = device->Length();
  if (to_end) target = length;
  if (*target > length) return Fail(MCIERR_OUTOFRANGE);
  return device->Seek(*target);
}

Result Service::Set(const Command& c) {
  bool time_format = false;
  for (std::size_t i = 0; i < c.words.size(); ++i) {
    const Word& w = c.words[i];
    if (IsKeyword(w, "time")) {
      if (i + 1 >= c.words.size() || !IsKeyword(c.words[i + 1], "format"))
        return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
      if (i + 2 >= c.words.size()) return Fail(MCIERR_MISSING_PARAMETER);
      const Word& format = c.words[i + 2];
      // Milliseconds are the one time format of every device here.
      if (!IsKeyword(format, "milliseconds") && !IsKeyword(format, "ms"))
        return Fail(MCIERR_BAD_TIME_FORMAT);
      if (time_format) return Fail(MCIERR_DUPLICATE_FLAGS);
      time_format = true;
      i += 2;
    } else if (IsKeyword(w, "notify")) {
      return NotifyError();
    } else if (!IsKeyword(w, "wait")) {
      return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    }
  }
  if (!time_format) return Fail(MCIERR_MISSING_PARAMETER);
  DevicePtr device;
  return Find(c.device, device);
}

Result Service::Status(const Command& c) {
  enum class Item { kNone, kMode, kPosition, kLength, kReady, kTimeFormat };
  Item item = Item::kNone;
  for (std::size_t i = 0; i < c.words.size(); ++i) {
    const Word& w = c.words[i];
    Item found = Item::kNone;
    if (IsKeyword(w, "mode")) {
      found = Item::kMode;
    } else if (IsKeyword(w, "position")) {
      found = Item::kPosition;
    } else if (IsKeyword(w, "length")) {
      found = Item::kLength;
    } else if (IsKeyword(w, "ready")) {
      found = Item::kReady;
    } else if (IsKeyword(w, "time") && i + 1 < c.words.size() &&
               IsKeyword(c.words[i + 1], "format")) {
      found = Item::kTimeFormat;
      ++i;
    } else if (IsKeyword(w, "notify")) {
      return NotifyError();
    } else if (IsKeyword(w, "wait")) {
      continue;
    } else {
      return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    }
    if (item != Item::kNone) return Fail(MCIERR_FLAGS_NOT_COMPATIBLE);
    item = found;
  }
  if (item == Item::kNone) return Fail(MCIERR_MISSING_PARAMETER);
  DevicePtr device;
  if (Result r = Find(c.device, device); r.error) return r;
  switch (item) {
    case Item::kMode: return {0, std::string(mci::ModeName(device->GetMode()))};
    case Item::kPosition: return {0, std::to_string(device->Position())};
    case Item::kLength: return {0, std::to_string(device->Length())};
    case Item::kReady:
      return {0, device->GetMode() == Mode::kNotReady ? "false" : "true"};
    case Item::kTimeFormat: return {0, "milliseconds"};
    case Item::kNone: break;
  }
  return Fail(MCIERR_INTERNAL);
}

Result Service::Simple(const Command& c) {
  if (Result r = OnlyWait(c); r.error) return r;
  DevicePtr device;
  if (Result r = Find(c.device, device); r.error) return r;
  if (c.verb == "stop") return device->Stop();
  if (c.verb == "pause") return device->Pause();
  return device->Resume();
}

Result Service::Execute(const Command& c) {
  if (c.verb == "open") return Open(c);
  if (c.verb == "close") return Close(c);
  if (c.verb == "play") return Play(c);
  if (c.verb == "seek") return Seek(c);
  if (c.verb == "set") return Set(c);
  if (c.verb == "status") return Status(c);
  if (c.verb == "stop" || c.verb == "pause" || c.verb == "resume")
    return Simple(c);
  return Fail(MCIERR_UNRECOGNIZED_COMMAND);
}

// Copies `text` into the caller's buffer: never more than `length`
// characters, always ending with a NUL within them.
void Reply(LPSTR buffer, UINT length, std::string_view text) {
  if (buffer == nullptr || length == 0) return;
  std::size_t n = text.size() < length - 1 ? text.size() : length - 1;
  if (n > 0) std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

}  // namespace

void AddDeviceType(std::string_view type, OpenFunction open) {
  TheService().Register(type, std::move(open));
}

void RemoveDeviceType(std::string_view type) {
  TheService().Unregister(type);
}

}  // namespace winmm

extern "C" MCIERROR WINAPI mciSendStringA(LPCSTR lpstrCommand,
                                          LPSTR lpstrReturnString,
                                          UINT uReturnLength,
                                          HWND hwndCallback) {
  (void)hwndCallback;  // notifications are refused: there is no window
  winmm::Result result;
  try {
    winmm::Command command;
    MCIERROR e = lpstrCommand == nullptr
                     ? MCIERROR{MCIERR_MISSING_COMMAND_STRING}
                     : winmm::ParseCommand(lpstrCommand, command);
    result = e != 0 ? winmm::Fail(e) : winmm::TheService().Execute(command);
  } catch (const std::bad_alloc&) {
    result = winmm::Fail(MCIERR_OUT_OF_MEMORY);
  } catch (const std::exception&) {
    result = winmm::Fail(MCIERR_INTERNAL);
  }
  if (result.error != 0 && result.text.empty())
    result.text = std::string(winmm::ErrorText(result.error));
  winmm::Reply(lpstrReturnString, uReturnLength, result.text);
  return result.error;
}

extern "C" BOOL WINAPI mciGetErrorStringA(MCIERROR mcierr, LPSTR pszText,
                                          UINT cchText) {
  std::string_view text = winmm::ErrorText(mcierr);
  winmm::Reply(pszText, cchText, text);
  return text.empty() ? FALSE : TRUE;
}
