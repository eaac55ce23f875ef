// The installable media driver: winmm's MCI calls DriverProc with the driver
// messages and, once it has parsed a command string with its core command
// table, with one command message and its parameter block. Each open device
// is an Instance; DRV_OPEN hands its address back as the driver ID, which
// winmm then passes with every message for that device.
#include <windows.h>
#include <mmddk.h>
#include <mmsystem.h>

#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "mci/device.h"
#include "pvl_mci/driver_answers_win32.h"
#include "pvl_mci/open_module.h"

#if defined(__MINGW32__)
// winmm exports these to drivers; MinGW's <mmddk.h> leaves them out.
extern "C" {
BOOL WINAPI mciDriverNotify(HANDLE callback, MCIDEVICEID id, UINT status);
UINT WINAPI mciDriverYield(MCIDEVICEID id);
}
#endif

namespace {

// What DRV_OPEN returns when it is opened without device parameters (to be
// configured, say): no device ID or instance address is this small.
constexpr DWORD_PTR kBareDriverId = 0x10000;

struct Instance {
  MCIDEVICEID id = 0;  // winmm's number for the device, for notifications
  // From MCI_OPEN_DRIVER to MCI_CLOSE_DRIVER. Shared with a play's wait,
  // which keeps it alive should the device be closed meanwhile.
  std::shared_ptr<mci::Device> device;
  std::wstring element;  // the file name as the open gave it
};

// winmm unloads a driver when its last device closes, and loads it again
// with the next open. The C++ runtime linked into this DLL does not give
// everything back at unload (its emergency exception pool, about 71 KB,
// and a thread-local slot of winpthreads), so each cycle would leak and
// a process would run out of slots after about a thousand: the DLL stays
// loaded, from its first load to the end of the process.
bool PinThisDll() {
  HMODULE self = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN |
                                GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&PinThisDll), &self) != 0;
}

WORD NotifyCode(mci::Notice notice) {
  switch (notice) {
    case mci::Notice::kSuccessful: return MCI_NOTIFY_SUCCESSFUL;
    case mci::Notice::kSuperseded: return MCI_NOTIFY_SUPERSEDED;
    case mci::Notice::kAborted: return MCI_NOTIFY_ABORTED;
    case mci::Notice::kFailure: return MCI_NOTIFY_FAILURE;
  }
  return MCI_NOTIFY_FAILURE;
}

// The notification a command asks for: MM_MCINOTIFY to the window in its
// parameter block (every block begins with it). A command that names no
// window still supersedes the one pending, and posts nothing.
mci::Notify NotifyOf(MCIDEVICEID id, DWORD flags, LPARAM parms) {
  if (!(flags & MCI_NOTIFY)) return nullptr;
  HWND window = nullptr;
  if (parms != 0)
    window = reinterpret_cast<HWND>(
        reinterpret_cast<const MCI_GENERIC_PARMS*>(parms)->dwCallback);
  return [window, id](mci::Notice notice) {
    if (window != nullptr) mciDriverNotify(window, id, NotifyCode(notice));
  };
}

LRESULT Open(Instance& instance, DWORD flags, const MCI_OPEN_PARMSW* parms) {
  if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  if (flags & MCI_OPEN_ELEMENT_ID) return MCIERR_UNSUPPORTED_FUNCTION;
  if (!(flags & MCI_OPEN_ELEMENT) || parms->lpstrElementName == nullptr)
    return MCIERR_FILENAME_REQUIRED;
  instance.element = parms->lpstrElementName;
  const std::filesystem::path element(instance.element);
  std::unique_ptr<mci::Device> device;
  const MCIERROR error = pvl::OpenModule(element, device).error;
  instance.device = std::move(device);
  return error;
}

// With wait, the play returns at the end, or when winmm's yield says the
// caller gave up (Ctrl+Break by default), leaving the music playing. The
// wait holds the device itself: a close meanwhile ends the wait, never the
// device under it.
LRESULT Play(const Instance& instance, DWORD flags, LPARAM parms) {
  std::optional<std::uint32_t> from, to;
  if (flags & (MCI_FROM | MCI_TO)) {
    if (parms == 0) return MCIERR_NULL_PARAMETER_BLOCK;
    const auto* play = reinterpret_cast<const MCI_PLAY_PARMS*>(parms);
    if (flags & MCI_FROM) from = play->dwFrom;
    if (flags & MCI_TO) to = play->dwTo;
  }
  std::shared_ptr<mci::Device> device = instance.device;
  if (MCIERROR e = mci::PlayRangeError(from, to, device->Length())) return e;
  const mci::Result r =
      device->Play(from, to, NotifyOf(instance.id, flags, parms));
  if (r.error == 0 && (flags & MCI_WAIT)) {
    const MCIDEVICEID id = instance.id;
    mci::WaitWhilePlaying(*device, [&device, id]() -> bool {
      return device.use_count() > 1 && mciDriverYield(id) == 0;
    });
  }
  return r.error;
}

LRESULT Seek(mci::Device& device, DWORD flags, const MCI_SEEK_PARMS* parms) {
  const DWORD where = flags & (MCI_SEEK_TO_START | MCI_SEEK_TO_END | MCI_TO);
  if (where == 0) return MCIERR_MISSING_PARAMETER;
  if (where != MCI_SEEK_TO_START && where != MCI_SEEK_TO_END && where != MCI_TO)
    return MCIERR_FLAGS_NOT_COMPATIBLE;
  std::uint32_t target = 0;
  if (where == MCI_SEEK_TO_END) target = device.Length();
  if (where == MCI_TO) {
    if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
    target = parms->dwTo;
    if (target > device.Length()) return MCIERR_OUTOFRANGE;
  }
  return device.Seek(target).error;
}

// Milliseconds are the one time format of this device.
LRESULT Set(DWORD flags, const MCI_SET_PARMS* parms) {
  if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  if (flags & ~(MCI_SET_TIME_FORMAT | MCI_WAIT | MCI_NOTIFY))
    return MCIERR_UNSUPPORTED_FUNCTION;
  if (!(flags & MCI_SET_TIME_FORMAT)) return MCIERR_MISSING_PARAMETER;
  return parms->dwTimeFormat == MCI_FORMAT_MILLISECONDS
             ? 0
             : MCIERR_BAD_TIME_FORMAT;
}

// What the command itself does; its notification is the caller's.
LRESULT Run(Instance& instance, UINT message, DWORD flags, LPARAM parms) {
  mci::Device& device = *instance.device;
  switch (message) {
    case MCI_PLAY: return Play(instance, flags, parms);
    case MCI_STOP: return device.Stop().error;
    case MCI_PAUSE: return device.Pause().error;
    case MCI_RESUME: return device.Resume().error;
    case MCI_SEEK:
      return Seek(device, flags,
                  reinterpret_cast<const MCI_SEEK_PARMS*>(parms));
    case MCI_STATUS:
      return pvl::Status(device, flags,
                         reinterpret_cast<MCI_STATUS_PARMS*>(parms));
    case MCI_SET:
      return Set(flags, reinterpret_cast<const MCI_SET_PARMS*>(parms));
    case MCI_GETDEVCAPS:
      return pvl::Capability(flags,
                             reinterpret_cast<MCI_GETDEVCAPS_PARMS*>(parms));
    case MCI_INFO:
      return pvl::Info(device, instance.element, flags,
                       reinterpret_cast<MCI_INFO_PARMSW*>(parms));
    default: return MCIERR_UNSUPPORTED_FUNCTION;
  }
}

// Every command takes wait and notify. A command that fails posts nothing.
// One that succeeds with notify posts "successful" once it is done: a play
// when its music ends (the device posts it), any other at once, after
// superseding what a play held; stop, seek and close have aborted that
// already.
LRESULT Command(Instance& instance, UINT message, DWORD flags, LPARAM parms) {
  mci::Notify notify = NotifyOf(instance.id, flags, parms);
  LRESULT r = 0;
  if (message == MCI_OPEN_DRIVER) {
    r = Open(instance, flags, reinterpret_cast<const MCI_OPEN_PARMSW*>(parms));
  } else if (message == MCI_CLOSE_DRIVER) {
    instance.device.reset();
  } else if (!instance.device) {
    return MCIERR_DEVICE_NOT_READY;
  } else {
    r = Run(instance, message, flags, parms);
  }
  if (LOWORD(r) != 0 || !notify || message == MCI_PLAY) return r;
  if (instance.device && message != MCI_STOP && message != MCI_SEEK) {
    mci::Notify pending = instance.device->TakeNotify();
    mci::Post(pending, mci::Notice::kSuperseded);
  }
  mci::Post(notify, mci::Notice::kSuccessful);
  return r;
}

LRESULT Dispatch(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1,
                 LPARAM p2) {
  switch (message) {
    case DRV_LOAD: return PinThisDll() ? 1 : 0;
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE: return 1;
    case DRV_OPEN: {
      auto* open = reinterpret_cast<MCI_OPEN_DRIVER_PARMS*>(p2);
      if (open == nullptr) return static_cast<LRESULT>(kBareDriverId);
      // winmm parses every command with its core table.
      open->wCustomCommandTable = MCI_NO_COMMAND_TABLE;
      open->wType = MCI_DEVTYPE_OTHER;
      auto* instance = new Instance;
      instance->id = open->wDeviceID;
      return reinterpret_cast<LRESULT>(instance);
    }
    case DRV_CLOSE:
      if (id != kBareDriverId && id != 0)
        delete reinterpret_cast<Instance*>(id);
      return 1;
    case DRV_QUERYCONFIGURE: return 0;
  }
  if (message >= DRV_MCI_FIRST && message <= DRV_MCI_LAST) {
    if (id == kBareDriverId || id == 0) return MCIERR_INVALID_DEVICE_ID;
    return Command(*reinterpret_cast<Instance*>(id), message,
                   static_cast<DWORD>(p1), p2);
  }
  return DefDriverProc(id, driver, message, p1, p2);
}

}  // namespace

// No exception leaves the driver: winmm is C.
extern "C" LRESULT CALLBACK DriverProc(DWORD_PTR id, HDRVR driver, UINT message,
                                       LPARAM p1, LPARAM p2) {
  try {
    return Dispatch(id, driver, message, p1, p2);
  } catch (const std::bad_alloc&) {
    return message == DRV_OPEN ? 0 : MCIERR_OUT_OF_MEMORY;
  } catch (const std::exception&) {
    return message == DRV_OPEN ? 0 : MCIERR_DRIVER_INTERNAL;
  }
}
