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
#include "pvl_mci/open_module.h"

namespace {

// What DRV_OPEN returns when it is opened without device parameters (to be
// configured, say): no device ID or instance address is this small.
constexpr DWORD_PTR kBareDriverId = 0x10000;

struct Instance {
  std::unique_ptr<mci::Device>
      device;  // from MCI_OPEN_DRIVER to MCI_CLOSE_DRIVER
};

// Notifications go to a window, and the device has nothing to say at the
// end of a piece; every system's service refuses them alike.
bool WantsNotify(DWORD flags) { return (flags & MCI_NOTIFY) != 0; }

LRESULT Open(Instance& instance, DWORD flags, const MCI_OPEN_PARMSW* parms) {
  if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  if (WantsNotify(flags)) return MCIERR_UNSUPPORTED_FUNCTION;
  if (flags & MCI_OPEN_ELEMENT_ID) return MCIERR_UNSUPPORTED_FUNCTION;
  if (!(flags & MCI_OPEN_ELEMENT) || parms->lpstrElementName == nullptr)
    return MCIERR_FILENAME_REQUIRED;
  const std::filesystem::path element(std::wstring(parms->lpstrElementName));
  return pvl::OpenModule(element, instance.device).error;
}

LRESULT Play(mci::Device& device, DWORD flags, const MCI_PLAY_PARMS* parms) {
  std::optional<std::uint32_t> from, to;
  if (flags & (MCI_FROM | MCI_TO)) {
    if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
    if (flags & MCI_FROM) from = parms->dwFrom;
    if (flags & MCI_TO) to = parms->dwTo;
  }
  if (MCIERROR e = mci::PlayRangeError(from, to, device.Length())) return e;
  const mci::Result r = device.Play(from, to);
  if (r.error == 0 && (flags & MCI_WAIT))
    mci::WaitWhilePlaying(device, [] { return true; });
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

WORD ModeResource(mci::Mode mode) {
  switch (mode) {
    case mci::Mode::kNotReady: return MCI_MODE_NOT_READY;
    case mci::Mode::kPaused: return MCI_MODE_PAUSE;
    case mci::Mode::kPlaying: return MCI_MODE_PLAY;
    case mci::Mode::kStopped: return MCI_MODE_STOP;
    case mci::Mode::kOpen: return MCI_MODE_OPEN;
    case mci::Mode::kSeeking: return MCI_MODE_SEEK;
  }
  return MCI_MODE_NOT_READY;
}

// Words come back as resources of winmm, which writes their text ("playing",
// "true", "milliseconds") into the caller's reply; numbers as they are.
LRESULT Status(mci::Device& device, DWORD flags, MCI_STATUS_PARMS* parms) {
  if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  if (!(flags & MCI_STATUS_ITEM)) return MCIERR_MISSING_PARAMETER;
  if (flags & MCI_TRACK) return MCIERR_UNSUPPORTED_FUNCTION;
  switch (parms->dwItem) {
    case MCI_STATUS_MODE: {
      const WORD mode = ModeResource(device.GetMode());
      parms->dwReturn = MAKEMCIRESOURCE(mode, mode);
      return MCI_RESOURCE_RETURNED;
    }
    case MCI_STATUS_POSITION: parms->dwReturn = device.Position(); return 0;
    case MCI_STATUS_LENGTH: parms->dwReturn = device.Length(); return 0;
    case MCI_STATUS_READY: {
      const bool ready = device.GetMode() != mci::Mode::kNotReady;
      parms->dwReturn = MAKEMCIRESOURCE(ready, ready ? MCI_TRUE : MCI_FALSE);
      return MCI_RESOURCE_RETURNED;
    }
    case MCI_STATUS_TIME_FORMAT:
      parms->dwReturn =
          MAKEMCIRESOURCE(MCI_FORMAT_MILLISECONDS, MCI_FORMAT_MILLISECONDS_S);
      return MCI_RESOURCE_RETURNED;
    default: return MCIERR_UNSUPPORTED_FUNCTION;
  }
}

// Milliseconds are the one time format of this device.
LRESULT Set(DWORD flags, const MCI_SET_PARMS* parms) {
  if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  if (flags & ~(MCI_SET_TIME_FORMAT | MCI_WAIT))
    return MCIERR_UNSUPPORTED_FUNCTION;
  if (!(flags & MCI_SET_TIME_FORMAT)) return MCIERR_MISSING_PARAMETER;
  return parms->dwTimeFormat == MCI_FORMAT_MILLISECONDS
             ? 0
             : MCIERR_BAD_TIME_FORMAT;
}

LRESULT Command(Instance& instance, UINT message, DWORD flags, LPARAM parms) {
  if (message == MCI_OPEN_DRIVER)
    return Open(instance, flags,
                reinterpret_cast<const MCI_OPEN_PARMSW*>(parms));
  if (message == MCI_CLOSE_DRIVER) {
    instance.device.reset();
    return 0;
  }
  if (!instance.device) return MCIERR_DEVICE_NOT_READY;
  if (WantsNotify(flags)) return MCIERR_UNSUPPORTED_FUNCTION;
  mci::Device& device = *instance.device;
  switch (message) {
    case MCI_PLAY:
      return Play(device, flags,
                  reinterpret_cast<const MCI_PLAY_PARMS*>(parms));
    case MCI_STOP: return device.Stop().error;
    case MCI_PAUSE: return device.Pause().error;
    case MCI_RESUME: return device.Resume().error;
    case MCI_SEEK:
      return Seek(device, flags,
                  reinterpret_cast<const MCI_SEEK_PARMS*>(parms));
    case MCI_STATUS:
      return Status(device, flags, reinterpret_cast<MCI_STATUS_PARMS*>(parms));
    case MCI_SET:
      return Set(flags, reinterpret_cast<const MCI_SET_PARMS*>(parms));
    default: return MCIERR_UNSUPPORTED_FUNCTION;
  }
}

LRESULT Dispatch(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1,
                 LPARAM p2) {
  switch (message) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE: return 1;
    case DRV_OPEN: {
      auto* open = reinterpret_cast<MCI_OPEN_DRIVER_PARMS*>(p2);
      if (open == nullptr) return static_cast<LRESULT>(kBareDriverId);
      // winmm parses every command with its core table.
      open->wCustomCommandTable = MCI_NO_COMMAND_TABLE;
      open->wType = MCI_DEVTYPE_OTHER;
      return reinterpret_cast<LRESULT>(new Instance);
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
